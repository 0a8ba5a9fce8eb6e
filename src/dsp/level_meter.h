#pragma once
// Ballistics of the output level meter that the interface draws from the
// engine's peak report: a fast 12 ms attack, a 26 dB/s release, and a peak
// hold that waits 0.9 s before it falls at 14 dB/s. Portable: the interface
// calls tick() once per window timer tick with the raw peak it took.

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace dsp {

class LevelMeter {
public:
    static constexpr double kFloorDb = -100.0;
    static constexpr double kAttackSeconds = 0.012;
    static constexpr double kReleaseDbPerSecond = 26.0;
    static constexpr double kHoldSeconds = 0.9;
    static constexpr double kHoldFallDbPerSecond = 14.0;
    static constexpr double kMaxTickSeconds = 0.1;
    static constexpr double kFirstTickSeconds = 0.016;

    // peakRaw: the engine's outputPeak as taken (|sample| × 10000); seconds:
    // time since the previous tick, clamped to 0..0.1 (ignored on the first tick).
    void tick(int32_t peakRaw, double seconds) noexcept
    {
        double dt
            = first_ ? kFirstTickSeconds : (std::isfinite(seconds) ? std::clamp(seconds, 0.0, kMaxTickSeconds) : 0.0);
        first_ = false;
        const double peak = std::max<int32_t>(peakRaw, 0) / 10000.0;
        const double level = peak > 0.00001 ? 20.0 * std::log10(peak) : kFloorDb;
        if (level > meter_)
            meter_ += (1.0 - std::exp(-dt / kAttackSeconds)) * (level - meter_);
        else
            meter_ = std::max(level, meter_ - kReleaseDbPerSecond * dt);
        if (meter_ >= hold_) {
            hold_ = meter_;
            held_ = 0.0;
        } else {
            held_ += dt;
            if (held_ > kHoldSeconds)
                hold_ = std::max(meter_, hold_ - kHoldFallDbPerSecond * dt);
        }
    }

    double meterDb() const { return meter_; }
    double holdDb() const { return hold_; }

private:
    double meter_ = kFloorDb;
    double hold_ = kFloorDb;
    double held_ = 0.0; // seconds since the hold was last raised
    bool first_ = true;
};

} // namespace dsp
