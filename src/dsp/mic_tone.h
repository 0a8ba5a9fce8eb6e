#pragma once
// The user's three-band mic tone ("Mic Tone & Vocal Lift"): a 200 Hz low
// shelf, a 1 kHz peak (Q 0.8) and a 3.5 kHz high shelf. New targets are
// glided towards with a 30 ms time constant in chunks of at most 32 frames,
// redesigning the filters before each chunk, so moving a slider or switching
// the tone off never clicks. Mono, in place, no allocation.

#include "dsp/biquad.h"

namespace dsp {

class MicTone {
public:
    static constexpr int kChunk = 32;

    void prepare(double sampleRate);
    // Back to idle: flat, filters cleared, waiting for a non-zero target.
    void reset() noexcept;
    // Targets in dB (all 0 when the tone is switched off).
    void setTargets(double loDb, double midDb, double hiDb) noexcept;
    void process(float* samples, int frames) noexcept;

    // Whether processing has started (the first non-zero target arrived).
    bool started() const { return started_; }
    double currentDb(int band) const { return current_[band]; }
    const BiquadCoeffs& coeffs(int band) const { return filters_[band].coeffs; }

private:
    void redesign() noexcept;

    double sampleRate_ = 48000.0;
    double target_[3] = {0.0, 0.0, 0.0};
    double current_[3] = {0.0, 0.0, 0.0};
    Biquad filters_[3];
    bool started_ = false;
};

} // namespace dsp
