#pragma once
// The clip time-stretcher: plays a stereo clip faster or slower. With pitch
// kept it splices 60 ms segments of the input, each started where the
// waveform best continues the previous one and joined by a 10 ms crossfade;
// without, it resamples (the pitch follows the speed). Every call delivers
// exactly the frames asked for; the owner first writes as many input frames
// as inputNeeded() reports.

#include "dsp/time_stretch.h"

#include <cstdint>

namespace dsp {

class ClipStretcher {
public:
    static constexpr double kMinSpeed = 0.25;
    static constexpr double kMaxSpeed = 4.0;

    void prepare(double sampleRate);
    // Starts clean: history cleared, the next frame starts a new segment.
    void reset() noexcept;
    // Speed as a ratio (1 = as recorded), clamped to 0.25..4.
    void setSpeed(double ratio, bool keepPitch) noexcept;

    // Input frames still to be written before process(n) can deliver n frames.
    uint32_t inputNeeded(uint32_t n) const noexcept;
    void write(const float* left, const float* right, uint32_t n) noexcept;
    // Exactly n output frames; reads past the written input come out silent.
    void process(float* left, float* right, uint32_t n) noexcept;

    double speed() const { return speed_; }
    bool keepsPitch() const { return keepPitch_; }

private:
    void startSegment() noexcept;
    // The furthest input position the next n output frames read, plus one.
    int64_t readEnd(uint32_t n) const noexcept;

    TimeStretchCore core_;
    double speed_ = 1.0;
    bool keepPitch_ = true;
    double nominal_ = 0.0; // where the next segment should start in the input
    int64_t segmentStart_ = 0;
    int64_t continuation_ = 0; // where the previous segment would have gone on
    bool crossfade_ = false;   // the current segment fades in over the continuation
};

} // namespace dsp
