#pragma once
// Gain computers and clippers: dB conversions, the input compressor, the level
// matcher, the relative look-ahead limiter, the 0.97 soft clip and the drive
// clip. All are prepared for a sample rate and run without allocating.

#include "dsp/one_pole.h"

#include <array>
#include <cmath>
#include <cstdint>

namespace dsp {

// The level law of mic_level, clip_level and app_gain (percent, 100 = unity):
// (level/100)^1.301, 0 at or below 0.
inline double levelGain(int32_t level)
{
    return level <= 0 ? 0.0 : std::pow(level / 100.0, 1.301);
}

// Amplitude gain of dB: 10^(dB/20).
inline double dbToGain(double db)
{
    return std::pow(10.0, db / 20.0);
}
// Power gain of dB: 10^(dB/10).
inline double dbToPower(double db)
{
    return std::pow(10.0, db / 10.0);
}
// 20·log10(max(g, floor)); the caller states the floor (1e-6 for displays).
inline double gainToDb(double g, double floor)
{
    return 20.0 * std::log10(std::fmax(g, floor));
}

// The knee of the output soft clip and the width of its tanh region.
inline constexpr float kSoftClipKnee = 0.97f;
inline constexpr double kSoftClipSpan = 0.029999971;

// |x| ≤ 0.97 passes; above, sign(x)·(0.97 + 0.03·tanh((|x| − 0.97)/0.03)).
// The result stays strictly inside ±1: in float the tanh tail would round to 1.0,
// so it is held at the largest float below 1.
inline float softClip(float x) noexcept
{
    const float ax = std::fabs(x);
    if (!(ax > kSoftClipKnee))
        return x == x ? x : 0.0f; // NaN becomes silence rather than travelling on
    constexpr float kBelowOne = 0.99999994f;
    const double y = kSoftClipKnee + kSoftClipSpan * std::tanh((ax - kSoftClipKnee) / kSoftClipSpan);
    const float clipped = std::fmin(static_cast<float>(y), kBelowOne);
    return x < 0.0f ? -clipped : clipped;
}

// tanh(d·x)/d: unity slope near zero, saturating at ±1/d. A drive ≤ 0 passes x.
inline float driveClip(float x, float drive) noexcept
{
    if (!(drive > 0.0f))
        return x;
    return std::tanh(drive * x) / drive;
}

// Input compressor before the reverb send: a 0.2 s power follower against a
// −4 dB power threshold, ratio 3. process() returns the gain for this sample.
class InputCompressor {
public:
    void prepare(double sampleRate);
    void reset() noexcept { power_.reset(); }
    float process(float x) noexcept;

private:
    PowerFollower power_;
};

// Level matcher: holds the processed signal at the loudness of the unprocessed
// one (one-second power followers, ±12 dB, at most 6 dB per second, ramped
// linearly across each block). Silence on either side holds the current gain.
class LevelMatcher {
public:
    void prepare(double sampleRate);
    // Gain back to 0 dB, followers cleared.
    void reset() noexcept;
    // Measures `before` and `after`, then scales `after` in place.
    void process(const float* before, float* after, int frames) noexcept;
    double gainDb() const { return gainDb_; }

private:
    double sampleRate_ = 48000.0;
    PowerFollower before_;
    PowerFollower after_;
    double gainDb_ = 0.0;
    double gain_ = 1.0; // linear gain at the end of the last block
};

// Relative look-ahead limiter: the ceiling is 1.12 × the block's highest peak
// envelope of the unprocessed input (+1e-6), so an effect may reshape the voice
// but not make it louder than that. The processed signal comes out 64 frames
// late with a gain that starts falling before a peak arrives.
class LookAheadLimiter {
public:
    static constexpr int kLookAhead = 64;

    void prepare(double sampleRate);
    void reset() noexcept;
    // `dry` is the unprocessed input, `wet` the processed one (limited in place, delayed 64 frames).
    void process(const float* dry, float* wet, int frames) noexcept;
    // The ceiling of the last block.
    double ceiling() const { return ceiling_; }

private:
    AttackRelease peak_;
    double down_ = 1.0; // coefficient towards a lower target (0.0003 s)
    double up_ = 1.0;   // coefficient towards a higher target (0.08 s)
    double gain_ = 1.0;
    double ceiling_ = 1e-6;
    std::array<float, kLookAhead> delay_{};
    // The gain each delayed sample needs to stay under its own block's ceiling.
    std::array<double, kLookAhead> needed_{};
    int position_ = 0;
};

} // namespace dsp
