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
    // Search scratch for spans up to ±search (the owners' own): the
    // candidates split by phase, their running energies, the reference.
    phaseStride_ = static_cast<size_t>(2 * search_ + overlap_) / 2 + 1;
    candidates_.assign(2 * phaseStride_, 0.0f);
    energies_.assign(2 * (phaseStride_ + 1), 0.0);
    reference_.assign(static_cast<size_t>(overlap_ + 1) / 2, 0.0f);

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

    // Within the owners' own search span, score from unmasked copies of the
    // reference and of the candidates' every-second samples (even and odd
    // phase) with running energies; the scores are those of correlation().
    const auto span = static_cast<size_t>(end - start) + static_cast<size_t>(overlap_);
    const bool copied = span <= candidates_.size();
    const int half = (overlap_ + 1) / 2;
    if (copied) {
        for (int j = 0; j < half; ++j)
            reference_[static_cast<size_t>(j)] = ring.at(a + 2 * j);
        const int64_t from = b + start;
        for (size_t m = 0; m < span; ++m)
            candidates_[(m & 1) * phaseStride_ + (m >> 1)] = ring.at(from + static_cast<int64_t>(m));
        for (size_t phase = 0; phase < 2; ++phase) {
            double sum = 0.0;
            const float* c = &candidates_[phase * phaseStride_];
            double* e = &energies_[phase * (phaseStride_ + 1)];
            e[0] = 0.0;
            for (size_t m = 0; m < phaseStride_; ++m) {
                sum += static_cast<double>(c[m]) * c[m];
                e[m + 1] = sum;
            }
        }
    }
    const auto score = [&](int k) {
        if (!copied)
            return correlation(a, b + k);
        const auto offset = static_cast<size_t>(k - start);
        const size_t phase = offset & 1;
        const size_t first = offset >> 1;
        const float* c = &candidates_[phase * phaseStride_ + first];
        const double* e = &energies_[phase * (phaseStride_ + 1)];
        // Four partial sums keep the multiply-adds independent.
        double p0 = 0.0, p1 = 0.0, p2 = 0.0, p3 = 0.0;
        int j = 0;
        for (; j + 4 <= half; j += 4) {
            p0 += static_cast<double>(reference_[static_cast<size_t>(j)]) * c[j];
            p1 += static_cast<double>(reference_[static_cast<size_t>(j + 1)]) * c[j + 1];
            p2 += static_cast<double>(reference_[static_cast<size_t>(j + 2)]) * c[j + 2];
            p3 += static_cast<double>(reference_[static_cast<size_t>(j + 3)]) * c[j + 3];
        }
        for (; j < half; ++j)
            p0 += static_cast<double>(reference_[static_cast<size_t>(j)]) * c[j];
        const double energy = std::max(0.0, e[first + static_cast<size_t>(half)] - e[first]);
        return (p0 + p1 + p2 + p3) / std::sqrt(energy + 1e-12);
    };

    int best = start;
    double bestScore = score(start);
    for (int k = start + 4; k <= end; k += 4) {
        const double value = score(k);
        if (value > bestScore) {
            bestScore = value;
            best = k;
        }
    }
    const int from = std::max(start, best - 3);
    const int to = std::min(best + 3, end);
    int fine = from;
    double fineScore = score(from);
    for (int k = from + 1; k <= to; ++k) {
        const double value = score(k);
        if (value > fineScore) {
            fineScore = value;
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
