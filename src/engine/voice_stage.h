#pragma once
// The engine's side of the voice speed and the voice changer: owns both
// processors, reads their settings once per block, starts and stops them, and
// keeps the speed latency and the two pitches for the engine report.
// Its block methods match the block-cycle hooks that call them (step 6 and the
// changer half of step 7) and, like them, never allocate or lock. Engine
// thread only.
//
// The voice changer runs only while bit 0 of mask_on is set and its settings
// are not neutral (offset 0, size 100, ratio 1000, macro off); it is reset each
// time it starts, runs on for 48000 frames after the settings turn neutral so
// that its tail is not cut, and then stops. Starting and stopping crossfade
// over 10 ms between its (2600-frame late) output and the dry voice. While it
// is stopped the voice is not delayed and both pitch reports are 0.

#include "dsp/crossfade.h"
#include "dsp/voice_changer.h"
#include "dsp/voice_speed.h"
#include "engine/block_steps.h"

#include <cstdint>
#include <vector>

namespace engine {

class VoiceStage {
public:
    static constexpr uint32_t kRunOnFrames = 48000;

    // Prepares both processors and the scratch for maxFrames per block.
    void prepare(double sampleRate, uint32_t maxFrames);
    // Both processors idle and cleared; the reports back to 0.
    void reset() noexcept;

    // Step 6, every block: speedPercent is voice_speed while bit 0 of mask_on
    // is set, else 100. Runs in chunks of at most 1024 frames and updates the
    // speed latency. A changer left running when bit 0 has cleared (so step 7
    // is no longer called) fades out here, right where it would have run.
    void voiceSpeed(Block& block, int speedPercent, bool keepPitch) noexcept;
    // Step 7's voice changer, called while bit 0 of mask_on is set, with the
    // selected mask's four values (macro 0, exponents 1 and 0, attenuation 0
    // with no mask).
    void voiceChanger(Block& block, const dsp::VoiceMaskValues& mask) noexcept;

    bool changerRunning() const { return running_; }
    const dsp::VoiceChanger& changer() const { return changer_; }
    const dsp::VoiceSpeed& speed() const { return speed_; }

    // For the engine report: the voice speed's buffered delay in ms, and the
    // detected and target pitch in Hz, rounded (both 0 while the changer is off).
    int32_t speedLatencyMs() const noexcept { return speedLatencyMs_; }
    int32_t detectedPitchHz() const noexcept { return detectedPitchHz_; }
    int32_t targetPitchHz() const noexcept { return targetPitchHz_; }

private:
    void runChanger(float* voice, uint32_t frames, bool stopWanted) noexcept;
    void publishPitch() noexcept;

    dsp::VoiceSpeed speed_;
    dsp::VoiceChanger changer_;
    dsp::SmoothedSwitch fade_; // 0: dry voice, 1: changer output
    std::vector<float> dry_;

    bool running_ = false;
    bool stopping_ = false;      // fading out towards the dry voice
    uint64_t neutralFrames_ = 0; // frames run since the settings turned neutral
    int32_t speedLatencyMs_ = 0;
    int32_t detectedPitchHz_ = 0;
    int32_t targetPitchHz_ = 0;
};

} // namespace engine
