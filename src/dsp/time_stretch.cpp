#include "dsp/time_stretch.h"

#include "dsp/one_pole.h"

#include <algorithm>
#include <cmath>

namespace dsp {

namespace {
// Truncated to whole frames; the small allowance keeps 0.036 s at 48 kHz at
// 1728 frames, where the binary product comes out at 1727.9999...
int wholeFrames(double sampleRate, double seconds)
{
    return static_cast<int>(sampleRate * std::clamp(seconds, 0.0, 1.0) + 1e-6);
}
} // namespace

void TimeStretchCore::prepare(double sampleRate, const TimeStretchSetup& setup)
{
    const double fs = sampleRate > 0.0 ? sampleRate : 48000.0;
    channels_ = std::clamp(setup.channels, 1, 2);
    segment_ = std::max(64, wholeFrames(fs, setup.segmentSeconds));
    overlap_ = std::max(16, wholeFrames(fs, setup.overlapSeconds));
    search_ = std::max(8, wholeFrames(fs, setup.searchSeconds));
    coeff6ms_ = onePoleCoeff(0.006, fs);
    coeff4ms_ = onePoleCoeff(0.004, fs);
    crossfade_.prepare(static_cast<size_t>(overlap_));

    const auto history = static_cast<size_t>(fs * std::clamp(setup.historySeconds, 0.0, 60.0));
    const size_t needed = static_cast<size_t>(segment_ + overlap_ + search_) * 8 + history + 64;
    const int ringCount = channels_ == 2 ? 3 : 1;
    for (int c = 0; c < 3; ++c)
        rings_[c].prepare(c < ringCount ? needed : 1);
    reset();
}

void TimeStretchCore::reset() noexcept
{
    for (auto& ring : rings_)
        ring.reset();
    rate = 1.0;
    gate = 1.0;
    readPosition = 0.0;
    crossfadePosition = 0;
    segmentRemaining = 0;
}

void TimeStretchCore::write(float left, float right) noexcept
{
    rings_[0].write(left);
    if (channels_ == 2) {
        rings_[1].write(right);
        rings_[2].write((left + right) * 0.5f);
    }
}

int TimeStretchCore::similaritySearch(int64_t a, int64_t b, int start, int end) const noexcept
{
    const DelayRing<float>& ring = searchRing();
    double refEnergy = 0.0;
    for (int i = 0; i < overlap_; i += 2) {
        const double r = ring.at(a + i);
        refEnergy += r * r;
    }
    if (refEnergy < overlap_ * 1e-10 || end < start)
        return std::min(std::max(start, 0), end);

    int best = start;
    double bestScore = correlation(a, b + start);
    for (int k = start + 4; k <= end; k += 4) {
        const double score = correlation(a, b + k);
        if (score > bestScore) {
            bestScore = score;
            best = k;
        }
    }
    const int from = std::max(start, best - 3);
    const int to = std::min(best + 3, end);
    int fine = from;
    double fineScore = correlation(a, b + from);
    for (int k = from + 1; k <= to; ++k) {
        const double score = correlation(a, b + k);
        if (score > fineScore) {
            fineScore = score;
            fine = k;
        }
    }
    return fine;
}

// Σ ref·cand / √(Σ cand² + 1e-12) over every second sample of the overlap.
double TimeStretchCore::correlation(int64_t a, int64_t b) const noexcept
{
    const DelayRing<float>& ring = searchRing();
    double cross = 0.0;
    double energy = 0.0;
    for (int i = 0; i < overlap_; i += 2) {
        const double c = ring.at(b + i);
        cross += static_cast<double>(ring.at(a + i)) * c;
        energy += c * c;
    }
    return cross / std::sqrt(energy + 1e-12);
}

} // namespace dsp
