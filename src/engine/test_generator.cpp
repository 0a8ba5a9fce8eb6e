#include "engine/test_generator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace engine {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kTwoPi = 2.0 * kPi;

// Chime: a 1.3 s tone then 0.25 s of silence per channel, sweeping two
// octaves up from 220 Hz, with 25 ms raised-cosine edges.
constexpr double kChimeToneSeconds = 1.3;
constexpr double kChimeGapSeconds = 0.25;
constexpr double kChimeRampSeconds = 0.025;
constexpr double kChimeStartHz = 220.0;
constexpr double kChimeSweep = 4.0; // the frequency's factor over one tone
constexpr double kChimeFundamental = 0.8;
constexpr double kChimeOctave = 0.16;
constexpr double kChimeGain = 0.55;

// Noise: 1.5 s bursts and 0.2 s pauses, 30 ms raised-cosine edges.
constexpr double kBurstSeconds = 1.5;
constexpr double kPauseSeconds = 0.2;
constexpr double kNoiseRampSeconds = 0.03;
constexpr double kWhiteGain = 0.3;
constexpr double kPinkFilterGain = 0.14;
constexpr double kPinkGain = 0.72;
constexpr double kStopFadeSeconds = 0.025;
constexpr double kButtonNoiseSeconds = 8.0;

uint64_t framesOf(double seconds, uint32_t rate)
{
    return static_cast<uint64_t>(seconds * rate);
}

// A raised-cosine edge: 0 at distance 0, 1 at distance ramp.
double edge(uint64_t distance, uint64_t ramp)
{
    return 0.5 - 0.5 * std::cos(kPi * static_cast<double>(distance) / static_cast<double>(ramp));
}

} // namespace

TestSignal chimeSignal()
{
    return {TestMode::Chime, false, true, true, 0};
}

TestSignal pinkNoiseSignal()
{
    return {TestMode::PinkNoise, false, true, true, kButtonNoiseSeconds};
}

TestGenerator::TestGenerator(uint32_t rate, const TestSignal& signal)
    : signal_(signal),
      rate_(rate > 0 ? rate : 48000),
      tone_(framesOf(kChimeToneSeconds, rate_)),
      gap_(framesOf(kChimeGapSeconds, rate_)),
      chimeRamp_(framesOf(kChimeRampSeconds, rate_)),
      length_(signal.lengthSeconds > 0 ? framesOf(signal.lengthSeconds, rate_) : 0),
      noiseRamp_(framesOf(kNoiseRampSeconds, rate_)),
      burst_(framesOf(kBurstSeconds, rate_)),
      pause_(framesOf(kPauseSeconds, rate_)),
      fadeLength_(std::max<uint64_t>(1, framesOf(kStopFadeSeconds, rate_)))
{ }

void TestGenerator::beginStop() noexcept
{
    if (fading_ || ended_)
        return;
    fading_ = true;
    fadeLeft_ = fadeLength_;
}

uint32_t TestGenerator::generate(float* out, uint32_t frames, float level) noexcept
{
    const double gain = std::clamp(static_cast<double>(level), 0.0, 1.0);
    uint32_t written = 0;
    while (written < frames && !ended_) {
        double left = 0, right = 0;
        if (signal_.mode == TestMode::Chime)
            chimeFrame(left, right);
        else
            noiseFrame(left, right);
        if (fading_) {
            const double w = edge(fadeLeft_, fadeLength_);
            left *= w;
            right *= w;
            if (--fadeLeft_ == 0)
                ended_ = true;
        }
        out[2 * written] = static_cast<float>(std::clamp(left * gain, -kOutputLimit, kOutputLimit));
        out[2 * written + 1] = static_cast<float>(std::clamp(right * gain, -kOutputLimit, kOutputLimit));
        ++written;
        ++counter_;
        if (signal_.mode == TestMode::Chime && !signal_.repeat && counter_ >= 2 * (tone_ + gap_))
            ended_ = true;
        if (signal_.mode == TestMode::PinkNoise && length_ > 0 && counter_ >= length_)
            ended_ = true;
    }
    if (ended_)
        channel_ = TestChannel::Silent;
    return written;
}

void TestGenerator::chimeFrame(double& left, double& right) noexcept
{
    const uint64_t step = tone_ + gap_;
    const uint64_t h = counter_ % (2 * step);
    const bool onLeft = h < step;
    const uint64_t p = onLeft ? h : h - step;
    if (p == 0)
        phase_ = 0;
    left = right = 0;
    if (p >= tone_) {
        channel_ = TestChannel::Silent;
        return;
    }
    channel_ = onLeft ? TestChannel::Left : TestChannel::Right;
    const double hz = kChimeStartHz * std::pow(kChimeSweep, static_cast<double>(p) / static_cast<double>(tone_));
    phase_ += kTwoPi * hz / rate_;
    if (phase_ >= kTwoPi)
        phase_ -= kTwoPi;
    double w = 1.0;
    if (p < chimeRamp_)
        w = edge(p, chimeRamp_);
    else if (tone_ - p < chimeRamp_)
        w = edge(tone_ - p, chimeRamp_);
    const double value
        = (kChimeFundamental * std::sin(phase_) + kChimeOctave * std::sin(2.0 * phase_)) * w * kChimeGain;
    (onLeft ? left : right) = value;
}

// xorshift64*: the top 24 bits of the scrambled output as a value in [-1, 1).
double TestGenerator::nextNoise() noexcept
{
    noiseState_ ^= noiseState_ >> 12;
    noiseState_ ^= noiseState_ << 25;
    noiseState_ ^= noiseState_ >> 27;
    const uint64_t out = noiseState_ * 0x2545F4914F6CDD1Dull;
    return static_cast<double>(out >> 40) * (1.0 / 8388608.0) - 1.0;
}

void TestGenerator::noiseFrame(double& left, double& right) noexcept
{
    const double a = nextNoise();
    const double b = nextNoise();
    if (signal_.pink) {
        left = pinkLeft_.process(a) * kPinkFilterGain * kPinkGain;
        right = pinkRight_.process(b) * kPinkFilterGain * kPinkGain;
    } else {
        left = a * kWhiteGain;
        right = b * kWhiteGain;
    }
    double w = 1.0;
    if (counter_ < noiseRamp_)
        w *= edge(counter_, noiseRamp_);
    if (length_ > 0 && length_ - counter_ < noiseRamp_)
        w *= edge(length_ - counter_, noiseRamp_);
    channel_ = TestChannel::Both;
    if (signal_.alternate) {
        const uint64_t step = burst_ + pause_;
        const uint64_t which = counter_ / step % 3;
        const uint64_t v = counter_ % step;
        if (v >= burst_) {
            channel_ = TestChannel::Silent;
            w = 0;
        } else {
            if (v < noiseRamp_)
                w *= edge(v, noiseRamp_);
            else if (burst_ - v < noiseRamp_)
                w *= edge(burst_ - v, noiseRamp_);
            channel_ = which == 0 ? TestChannel::Left : which == 1 ? TestChannel::Right : TestChannel::Both;
        }
    }
    left *= channel_ == TestChannel::Left || channel_ == TestChannel::Both ? w : 0.0;
    right *= channel_ == TestChannel::Right || channel_ == TestChannel::Both ? w : 0.0;
}

} // namespace engine
