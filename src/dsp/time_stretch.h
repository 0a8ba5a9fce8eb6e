#pragma once
// The time-stretch core shared by the clip speed and the voice speed: history
// rings (one per channel, plus a mid ring for stereo), an overlap crossfade
// table and the waveform-similarity search that picks where the next segment
// starts. How segments are chosen and spliced for a speed belongs to each
// owner; this core holds what both share.

#include "dsp/crossfade.h"
#include "dsp/delay_ring.h"

#include <cstdint>
#include <vector>

namespace dsp {

// The constants an owner prepares its core with.
struct TimeStretchSetup {
    int channels = 1; // 1 or 2
    double historySeconds = 1.0;
    double segmentSeconds = 0.06;
    double overlapSeconds = 0.01;
    double searchSeconds = 0.015;
};

// The clip time-stretcher: stereo, 1 s of history, 60 ms segments, 10 ms overlap, ±15 ms search.
inline constexpr TimeStretchSetup kClipStretchSetup{2, 1.0, 0.06, 0.01, 0.015};
// The voice speed processor: mono, 4 s of history, 36 ms segments, 8 ms overlap, ±12 ms search.
inline constexpr TimeStretchSetup kVoiceSpeedStretchSetup{1, 4.0, 0.036, 0.008, 0.012};

class TimeStretchCore {
public:
    // Sizes the rings and the crossfade table, derives the frame counts and the
    // two smoothing coefficients, then resets. Channels are clamped to 1..2.
    void prepare(double sampleRate, const TimeStretchSetup& setup);
    // Clears the rings; rate and gate to 1; read position, write counter and
    // crossfade to 0; the current segment counts as used up.
    void reset() noexcept;

    // Appends one frame (right is ignored for one channel).
    void write(float left, float right = 0.0f) noexcept;
    // The offset k in start..end whose candidate at b + k best continues the
    // reference at a: normalised cross-correlation over every second sample of
    // overlap() frames of the mid signal; a coarse pass in steps of 4, then a
    // fine pass ±3 around the best; the first maximum wins. Positions are
    // absolute ring positions. On silence at a it returns start limited to 0..end.
    int similaritySearch(int64_t a, int64_t b, int start, int end) const noexcept;

    int channels() const { return channels_; }
    int segment() const { return segment_; }      // S, frames
    int overlap() const { return overlap_; }      // O, frames
    int searchRadius() const { return search_; }  // R, frames
    double coeff6ms() const { return coeff6ms_; } // 1 − exp(−1/(0.006·fs))
    double coeff4ms() const { return coeff4ms_; } // 1 − exp(−1/(0.004·fs))
    const CrossfadeTable& crossfade() const { return crossfade_; }
    size_t ringLength() const { return rings_[0].length(); }
    const DelayRing<float>& ring(int channel) const { return rings_[channel]; }
    // The ring the search runs on: the mid ring for stereo, the only ring for mono.
    const DelayRing<float>& searchRing() const { return channels_ == 2 ? rings_[2] : rings_[0]; }
    int64_t writeCounter() const { return rings_[0].writeCounter(); }

    // The owner's running state, kept here so that reset() restarts all of it together.
    double rate = 1.0;
    double gate = 1.0; // the smoothed gate
    double readPosition = 0.0;
    int crossfadePosition = 0;
    int segmentRemaining = 0; // 0: used up, the next output frame starts a segment

private:
    double correlation(int64_t a, int64_t b) const noexcept;

    int channels_ = 1;
    int segment_ = 64;
    int overlap_ = 16;
    int search_ = 8;
    double coeff6ms_ = 1.0;
    double coeff4ms_ = 1.0;
    CrossfadeTable crossfade_;
    DelayRing<float> rings_[3]; // left (or mono), right, mid
    // Search scratch, sized in prepare(); the search is const but reuses it.
    mutable std::vector<float> candidates_;
    mutable std::vector<double> energies_;
    mutable std::vector<float> reference_;
    size_t phaseStride_ = 0;
};

} // namespace dsp
