#include "dsp/mask_shifter.h"

#include <algorithm>
#include <cmath>

namespace dsp {

namespace {
// A reader needs y(−1) .. y(2) around its position and the newest frame is at
// written − 1, so a read position may come no closer than this to the writer.
constexpr double kReadMargin = 3.0;
} // namespace

void ResamplingShifter::prepare(double sampleRate)
{
    const double fs = sampleRate > 0.0 ? sampleRate : 48000.0;
    grain_ = static_cast<int>(0.05 * fs + 1e-6);
    crossfade_ = static_cast<int>(0.01 * fs + 1e-6);
    search_ = static_cast<int>(0.012 * fs + 1e-6);
    fade_.prepare(static_cast<size_t>(crossfade_));
    const auto needed = static_cast<size_t>((grain_ + crossfade_) * 1.5 + search_ * 2 + crossfade_ + 16);
    for (auto& ring : rings_)
        ring.prepare(needed);
    clear();
}

void ResamplingShifter::clear() noexcept
{
    for (auto& ring : rings_)
        ring.reset();
    restart(1.0);
}

double ResamplingShifter::nominalLag(double ratio) const noexcept
{
    return (grain_ + crossfade_) * std::max(ratio - 1.0, 0.0) + search_ + crossfade_ + 4;
}

void ResamplingShifter::restart(double ratio) noexcept
{
    read_ = static_cast<double>(written()) - nominalLag(ratio);
    played_ = 0;
    fadePosition_ = -1;
}

void ResamplingShifter::write(float left, float right) noexcept
{
    rings_[0].write(left);
    rings_[1].write(right);
    rings_[2].write((left + right) * 0.5f);
}

void ResamplingShifter::startGrain(double ratio) noexcept
{
    oldRead_ = read_;
    oldIncrement_ = ratio;
    const auto nominal = static_cast<int64_t>(std::floor(static_cast<double>(written()) - nominalLag(ratio)));
    const auto reference = static_cast<int64_t>(std::floor(read_));
    read_ = static_cast<double>(nominal + searchOffset(reference, nominal)) + (read_ - std::floor(read_));
    played_ = 0;
    fadePosition_ = 0;
}

void ResamplingShifter::process(float& left, float& right, double ratio) noexcept
{
    write(left, right);
    const double newest = static_cast<double>(written()) - kReadMargin;
    // A grain also ends early when a sudden ratio change would carry it into
    // the writer (it was placed for the ratio it started with).
    if (played_ >= grain_ || read_ > newest)
        startGrain(ratio);
    if (read_ > newest) // still too close after the search: fall back to the nominal start
        read_ = static_cast<double>(written()) - nominalLag(ratio);

    double l = rings_[0].readCubic(read_);
    double r = rings_[1].readCubic(read_);
    if (fadePosition_ >= 0) {
        const double oldPosition = std::min(oldRead_, newest);
        const double w = fade_.rising(static_cast<size_t>(fadePosition_));
        l = l * w + rings_[0].readCubic(oldPosition) * (1.0 - w);
        r = r * w + rings_[1].readCubic(oldPosition) * (1.0 - w);
        oldRead_ += oldIncrement_;
        if (++fadePosition_ >= crossfade_)
            fadePosition_ = -1;
    }
    read_ += ratio;
    ++played_;
    left = static_cast<float>(l);
    right = static_cast<float>(r);
}

double ResamplingShifter::correlation(int64_t reference, int64_t candidate, int step) const noexcept
{
    const DelayRing<float>& mid = rings_[2];
    double cross = 0.0;
    double energy = 0.0;
    for (int i = 0; i < crossfade_; i += step) {
        const double c = mid.at(candidate + i);
        cross += static_cast<double>(mid.at(reference + i)) * c;
        energy += c * c;
    }
    return cross / std::sqrt(energy + 1e-12);
}

int ResamplingShifter::searchOffset(int64_t reference, int64_t nominal) const noexcept
{
    double refEnergy = 0.0;
    for (int i = 0; i < crossfade_; i += 2) {
        const double v = rings_[2].at(reference + i);
        refEnergy += v * v;
    }
    if (refEnergy < crossfade_ * 1e-10)
        return 0;

    int best = -search_;
    double bestScore = correlation(reference, nominal + best, 2);
    for (int k = -search_ + 4; k <= search_; k += 4) {
        const double score = correlation(reference, nominal + k, 2);
        if (score > bestScore) {
            bestScore = score;
            best = k;
        }
    }
    const int from = std::max(-search_, best - 3);
    const int to = std::min(search_, best + 3);
    int fine = from;
    double fineScore = correlation(reference, nominal + from, 1);
    for (int k = from + 1; k <= to; ++k) {
        const double score = correlation(reference, nominal + k, 1);
        if (score > fineScore) {
            fineScore = score;
            fine = k;
        }
    }
    return fine;
}

} // namespace dsp
