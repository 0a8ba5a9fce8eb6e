#pragma once
// Crossfade windows and the smoothed switch. Tables are built in prepare()
// (allocation allowed there) and only read while processing.

#include <cstddef>
#include <vector>

namespace dsp {

// Rising half of an equal-power crossfade: w[i] = sin²((i + 0.5)·(π/2)/N); the falling side is 1 − w[i].
void fillRisingCrossfade(float* table, size_t n);
// Full-period grain window: w[i] = sin²(π·i/N).
void fillGrainWindow(float* table, size_t n);
// Square-root Hann analysis window: √(0.5 − 0.5·cos(2π·i/N)).
void fillSqrtHann(float* table, size_t n);

// A rising crossfade table of N entries.
class CrossfadeTable {
public:
    void prepare(size_t n);
    size_t size() const { return table_.size(); }
    float rising(size_t i) const noexcept { return table_[i]; }
    float falling(size_t i) const noexcept { return 1.0f - table_[i]; }
    const float* data() const { return table_.data(); }

private:
    std::vector<float> table_;
};

// A weight moving towards 0 or 1 by a fixed step per frame, used to crossfade
// two signals: out = a + (b − a)·w. Starting and stopping an effect through it
// cannot click.
class SmoothedSwitch {
public:
    // The step is 1/(seconds·fs) per frame.
    void prepare(double seconds, double sampleRate);
    // Jumps to 0 or 1 at once (on reset, or to start in a known position).
    void snap(bool on) noexcept { value_ = target_ = on ? 1.0f : 0.0f; }
    void setTarget(bool on) noexcept { target_ = on ? 1.0f : 0.0f; }
    // Moves one frame towards the target and returns the new weight.
    float next() noexcept
    {
        if (value_ < target_)
            value_ = value_ + step_ >= target_ ? target_ : value_ + step_;
        else if (value_ > target_)
            value_ = value_ - step_ <= target_ ? target_ : value_ - step_;
        return value_;
    }
    // Mixes one frame: a at weight 0, b at weight 1.
    float mix(float a, float b) noexcept { return a + (b - a) * next(); }
    float value() const { return value_; }
    float target() const { return target_; }
    bool settled() const { return value_ == target_; }

private:
    float value_ = 0.0f;
    float target_ = 0.0f;
    float step_ = 1.0f;
};

} // namespace dsp
