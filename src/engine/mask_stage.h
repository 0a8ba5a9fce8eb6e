#pragma once
// The voice masks in the block cycle: the mono mask channel engine on the live
// voice, and the two stereo mask processors (sound clips, application audio).
// Engine thread only; settings are read from the record once per block.
//
// The live voice: call voiceMask() every block, right after the voice changer
// (the voiceChangerAndMask step). While bit 0 of mask_on is set and the chosen
// mask has a kind, the voice runs through that kind; otherwise it passes. A
// change of kind, including switching the mask or bit 0 on and off, is a
// 40 ms crossfade between the old and the new engine, so nothing clicks; a
// change of parameters for the same kind keeps the engine's state.
//
// The stereo streams: call streamMask() every block with the stream's
// interleaved buffer. With its bit of mask_on set (bit 1 clips, bit 2
// application audio) the processor runs; when the bit clears it runs on until
// its 40 ms fade-out has ended and then only keeps its shifter's rings filled.

#include "dsp/mask_channel.h"
#include "dsp/mask_processor.h"
#include "engine/block_steps.h"

#include <cstdint>
#include <vector>

namespace engine {

enum class MaskStream { Clip = 0, Application = 1 };

class MaskStage {
public:
    // Allocates every engine, ring and scratch buffer (maxFrames per call).
    void prepare(double sampleRate, uint32_t maxFrames);
    // Everything back to a pass-through voice and stopped stream processors.
    void reset() noexcept;

    // The mono mask on block.voice.
    void voiceMask(Block& block) noexcept;
    // One stereo stream's mask on `frames2` (interleaved, `frames` frames).
    // glitchHeld: the glitch button or hotkey is down.
    void streamMask(MaskStream stream, float* frames2, uint32_t frames, const settings::Snapshot& settings,
        bool glitchHeld) noexcept;

    // The kind the live voice is running (the incoming one during a crossfade).
    dsp::MaskKind voiceKind() const { return engines_[active_].kind(); }
    bool voiceFading() const { return fadePosition_ >= 0; }
    bool streamRunning(MaskStream stream) const { return streams_[static_cast<int>(stream)].running; }
    dsp::MaskProcessor& processor(MaskStream stream) { return streams_[static_cast<int>(stream)].processor; }

private:
    void runVoice(float* samples, int frames) noexcept;

    struct Stream {
        dsp::MaskProcessor processor;
        bool running = false;
    };

    double sampleRate_ = 48000.0;
    int maxFrames_ = 0;
    dsp::MaskChannel engines_[2];
    int active_ = 0;
    int fadeLength_ = 1920;  // 40 ms
    int fadePosition_ = -1;  // frames into the crossfade from the other engine; −1: none
    std::vector<float> outgoing_;
    Stream streams_[2];
};

} // namespace engine
