#pragma once
// One-pole smoothers given by time constants. A coefficient c = 1 − exp(−1/(τ·fs))
// moves y towards x by that fraction per sample; its complement, the decay factor
// k = exp(−1/(τ·fs)), is written y = (1 − k)·x + k·y. State is double so that
// long time constants (seconds) do not stall on float rounding.

#include <cmath>

namespace dsp {

// c = 1 − exp(−1/(τ·fs)); τ in seconds. A non-positive τ gives 1 (follow at once).
inline double onePoleCoeff(double tau, double sampleRate)
{
    if (!(tau > 0.0) || !(sampleRate > 0.0))
        return 1.0;
    return 1.0 - std::exp(-1.0 / (tau * sampleRate));
}

// k = exp(−1/(τ·fs)), the complement of onePoleCoeff.
inline double decayFactor(double tau, double sampleRate)
{
    return 1.0 - onePoleCoeff(tau, sampleRate);
}

// y ← y + c·(x − y).
struct OnePole {
    double y = 0.0;
    double c = 1.0;

    void prepare(double tau, double sampleRate) { c = onePoleCoeff(tau, sampleRate); }
    void reset(double value = 0.0) noexcept { y = value; }
    double process(double x) noexcept { return y += c * (x - y); }
};

// An attack/release follower: the attack coefficient while the input is above
// y, the release coefficient otherwise. Fed |x| it is a peak follower.
struct AttackRelease {
    double y = 0.0;
    double attack = 1.0;
    double release = 1.0;

    void prepare(double attackTau, double releaseTau, double sampleRate)
    {
        attack = onePoleCoeff(attackTau, sampleRate);
        release = onePoleCoeff(releaseTau, sampleRate);
    }
    void reset(double value = 0.0) noexcept { y = value; }
    double process(double x) noexcept { return y += (x > y ? attack : release) * (x - y); }
};

// A power follower: p ← (1 − k)·x² + k·p.
struct PowerFollower {
    double p = 0.0;
    double k = 0.0;

    void prepare(double tau, double sampleRate) { k = decayFactor(tau, sampleRate); }
    void reset() noexcept { p = 0.0; }
    double process(double x) noexcept { return p = (1.0 - k) * x * x + k * p; }
};

} // namespace dsp
