#include "dsp/gain.h"

#include <algorithm>

namespace dsp {

namespace {
constexpr double kCompressorThreshold = 0.39810717055349725;    // 10^(−4/10): −4 dB of power
constexpr double kCompressorExponent = (1.0 / 3.0 - 1.0) / 2.0; // ratio 3, applied to power
constexpr double kMatcherFloor = 1e-5;
constexpr double kMatcherRange = 12.0; // dB
constexpr double kMatcherSpeed = 6.0;  // dB per second
} // namespace

void InputCompressor::prepare(double sampleRate)
{
    power_.prepare(0.2, sampleRate);
    power_.reset();
}

float InputCompressor::process(float x) noexcept
{
    const double p = power_.process(x);
    if (p <= kCompressorThreshold)
        return 1.0f;
    return static_cast<float>(std::pow(p / kCompressorThreshold, kCompressorExponent));
}

void LevelMatcher::prepare(double sampleRate)
{
    sampleRate_ = sampleRate > 0.0 ? sampleRate : 48000.0;
    before_.prepare(1.0, sampleRate_);
    after_.prepare(1.0, sampleRate_);
    reset();
}

void LevelMatcher::reset() noexcept
{
    before_.reset();
    after_.reset();
    gainDb_ = 0.0;
    gain_ = 1.0;
}

void LevelMatcher::process(const float* before, float* after, int frames) noexcept
{
    if (frames <= 0)
        return;
    for (int i = 0; i < frames; ++i) {
        before_.process(before[i]);
        after_.process(after[i]);
    }
    double target = gainDb_;
    if (before_.p > kMatcherFloor && after_.p > kMatcherFloor)
        target = std::clamp(10.0 * std::log10(before_.p / after_.p), -kMatcherRange, kMatcherRange);
    const double maxStep = frames * kMatcherSpeed / sampleRate_;
    gainDb_ += std::clamp(target - gainDb_, -maxStep, maxStep);

    const double from = gain_;
    const double to = dbToGain(gainDb_);
    const double slope = (to - from) / frames;
    for (int i = 0; i < frames; ++i)
        after[i] = static_cast<float>(after[i] * (from + slope * (i + 1)));
    gain_ = to;
}

void LookAheadLimiter::prepare(double sampleRate)
{
    peak_.prepare(0.0005, 0.6, sampleRate);
    down_ = onePoleCoeff(0.0003, sampleRate);
    up_ = onePoleCoeff(0.08, sampleRate);
    reset();
}

void LookAheadLimiter::reset() noexcept
{
    peak_.reset();
    gain_ = 1.0;
    ceiling_ = 1e-6;
    delay_.fill(0.0f);
    needed_.fill(1.0);
    position_ = 0;
}

void LookAheadLimiter::process(const float* dry, float* wet, int frames) noexcept
{
    if (frames <= 0)
        return;
    double highest = 0.0;
    for (int i = 0; i < frames; ++i)
        highest = std::max(highest, peak_.process(std::fabs(dry[i])));
    ceiling_ = 1.12 * highest + 1e-6;

    for (int i = 0; i < frames; ++i) {
        const float x = wet[i];
        const double ax = std::fabs(x);
        const double target = ax > ceiling_ ? ceiling_ / ax : 1.0;
        gain_ += (target < gain_ ? down_ : up_) * (target - gain_);
        if (target < gain_)
            gain_ = 0.5 * (gain_ + target);

        const float out = delay_[position_];
        // The smoothed gain may not have come all the way down by the time a
        // peak leaves the delay (or may already be rising again); the peak's
        // own target caps it so that no sample passes the ceiling.
        const double applied = std::min(gain_, needed_[position_]);
        delay_[position_] = x;
        needed_[position_] = target;
        position_ = (position_ + 1) % kLookAhead;
        wet[i] = static_cast<float>(out * applied);
    }
}

} // namespace dsp
