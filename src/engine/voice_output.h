#pragma once
// The voice on its way out (block steps 10, 12 and 14): the microphone drive
// and the voice's bass shelf; then the dry voice, at the gain the cavern's
// duck glides, plus the environment's wet pairs, saturated by the drive,
// through the voice-to-monitor and voice-to-cable equalizers, the Ambit
// width and the soft clipper into the two outputs; and the voice pan. Engine
// thread only; allocates only in prepare().

#include "dsp/bass_boost.h"
#include "dsp/equalizer.h"
#include "engine/block_steps.h"
#include "engine/mix.h"

#include <cstdint>
#include <vector>

namespace engine {

class VoiceOutput {
public:
    void prepare(double sampleRate, uint32_t maxFrames);
    void setBands(const settings::EqGains& gains, int level) noexcept;
    void setBassBoost(double db) noexcept { bass_.setBoost(db); }

    // Step 10: drive make-up and the bass shelf, in place on the voice.
    void driveAndBass(Block& block) noexcept;
    // Step 12, one chunk: dry voice plus the wet pairs into block.monitor and
    // block.cable. dryTarget is what the dry gain glides to.
    void process(Block& block, float dryTarget, const float* monWetL, const float* monWetR, const float* cabWetL,
        const float* cabWetR) noexcept;
    // Step 14: the balance pan on the cable and/or the monitor voice.
    void pan(Block& block) noexcept;

    const MicDrive& drive() const { return drive_; }
    float dryGain() const { return dryGain_; }

private:
    MicDrive drive_;
    dsp::BassBoost bass_;
    float dryGain_ = 1.0f;
    dsp::Equalizer eqMonitor_, eqCable_;
    std::vector<float> monL_, monR_, cabL_, cabR_; // the output pairs before the equalizers
};

} // namespace engine
