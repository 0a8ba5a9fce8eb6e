#pragma once
// The automatic bass boost: a 100 Hz low shelf of slope 1 whose gain is half
// the microphone's make-up gain in dB, so a quiet microphone turned up keeps
// its body. It lifts only, never cuts. The engine keeps three of them.

#include "dsp/biquad.h"

namespace dsp {

// dB of boost for the `mic_level` setting (percent, 100 = unity): half of the
// level law's gain in dB (levelGain) when that is positive, else 0.
double bassBoostForMicLevel(int micLevel);

class BassBoost {
public:
    static constexpr double kShelfHz = 100.0;
    static constexpr double kMaxBoostDb = 24.0; // requests beyond are clamped

    // Stores the rate, clears the state and returns the filter to its initial
    // identity; the stored boost is kept, and the next setBoost() designs it.
    void prepare(double sampleRate);
    // Redesigns the shelf for a boost in dB (0 = identity). A repeat of the
    // stored value does nothing, unless the filter is still the initial
    // identity. Rising from exactly 0 clears the state first, so the shelf
    // starts from silence rather than from stale state.
    void setBoost(double db) noexcept;
    void process(float& left, float& right) noexcept { filter_.process(left, right); }

    double boost() const { return boostDb_; }
    const BiquadCoeffs& coeffs() const { return filter_.coeffs[0]; }

private:
    double sampleRate_ = 48000.0;
    double boostDb_ = 0.0;
    bool initialIdentity_ = true;
    StereoBiquad filter_;
};

} // namespace dsp
