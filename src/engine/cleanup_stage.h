#pragma once
// The engine's side of noise isolation, the gate, the mic tone and the
// card-mic voicing: owns the processors, reads the settings record once per
// block, re-derives parameters only when isolationRevision or toneRevision
// moves, follows the microphone gain, and hears of key presses and clicks.
// Its block methods match the block-cycle hooks that call them (steps 4, 5
// and 9) and, like them, never allocate or lock. Engine thread only.

#include "dsp/card_mic.h"
#include "dsp/mic_tone.h"
#include "dsp/noise_isolation.h"
#include "dsp/vocal_expander.h"
#include "engine/block_steps.h"

#include <cstdint>
#include <vector>

namespace engine {

class CleanupStage {
public:
    // Allocates the suppressor's buffers and the scratch for maxFrames.
    void prepare(double sampleRate, uint32_t maxFrames);
    // Clears every processor and forgets what was seen.
    void reset() noexcept;

    // Step 4, called only while isolate is set: the vocal expander in mode 4,
    // else the spectral suppressor; each is reset when it becomes active.
    void isolation(Block& block) noexcept;
    // Step 5, called every block: re-targets the tone when toneRevision moves.
    void micTone(Block& block) noexcept;
    // Step 9, called while card_mic is set and raw clear.
    void cardMicVoicing(Block& block) noexcept;
    // Input activity (a key press or click) since the previous packet; the
    // engine reports it in pass 1 only.
    void inputActivity() noexcept { activityPending_ = true; }

    // For tests and displays.
    const dsp::NoiseSuppressor& suppressor() const { return suppressor_; }
    const dsp::VocalExpander& expander() const { return expander_; }
    const dsp::MicTone& tone() const { return tone_; }
    const dsp::CardMicVoicing& cardMic() const { return cardMic_; }

private:
    enum class Path { None, Spectral, Vocal };

    void followMicGain(float micGain) noexcept;
    void reloadIsolation(const settings::Snapshot& s) noexcept;
    void runPath(Path path, float* samples, int frames) noexcept;
    // Runs `from` on a copy of the voice and `to` in place, then crossfades
    // from the first to the second across the block.
    void crossfadePaths(Path from, Path to, float* voice, int frames) noexcept;

    double sampleRate_ = 48000.0;
    dsp::NoiseSuppressor suppressor_;
    dsp::VocalExpander expander_;
    dsp::MicTone tone_;
    dsp::CardMicVoicing cardMic_;
    std::vector<float> scratch_; // the dry voice while a path fades out

    Path path_ = Path::None;     // what ran in the previous block
    bool ranThisBlock_ = false;  // isolation() was called in this block
    uint32_t isolationSeen_ = 0; // isolationRevision last applied
    uint32_t toneSeen_ = 0;      // toneRevision last applied
    bool isolationLoaded_ = false;
    bool toneLoaded_ = false;
    float micGainSeen_ = 0.0f; // 0: none yet
    bool activityPending_ = false;
    uint64_t blocks_ = 0;       // counted in micTone(), which runs every block
    uint64_t cardMicBlock_ = 0; // the block the voicing last ran in, plus one
};

} // namespace engine
