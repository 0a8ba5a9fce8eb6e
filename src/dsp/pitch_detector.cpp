#include "dsp/pitch_detector.h"

#include <algorithm>
#include <cmath>

namespace dsp {

namespace {
// Lags reach at most kMaxLag and the head spans kWindow − kMaxLag frames, so
// head index + lag never passes the window's end: a circular correlation of
// the window's own length has nothing to wrap.
constexpr int kFftSize = PitchDetector::kWindow;
constexpr int kSpan = PitchDetector::kWindow - PitchDetector::kMaxLag; // frames summed per lag
// The first dip of the normalised difference below this is the period (YIN's
// absolute threshold); without one, the deepest dip in range counts if it is
// below kAcceptDip.
constexpr double kFirstDip = 0.15;
constexpr double kAcceptDip = 0.3;
// Quieter windows (mean square) carry no pitch worth following.
constexpr double kSilence = 1e-8;
// Dips are looked for from this frequency down, well above the voice range,
// so that a whistle shows its own period instead of a multiple of it.
constexpr double kHighestSeen = 1200.0;
} // namespace

void PitchDetector::prepare(double sampleRate, double minHz, double maxHz)
{
    fs_ = sampleRate > 0.0 ? sampleRate : 48000.0;
    const double lo = std::clamp(minHz, 1.0, fs_ / 4.0);
    const double hi = std::clamp(maxHz, lo, fs_ / 4.0);
    maxPeriod_ = std::clamp(static_cast<int>(fs_ / lo), 2, kMaxLag - 1);
    minPeriod_ = std::clamp(static_cast<int>(std::ceil(fs_ / hi)), 2, maxPeriod_);
    fft_.prepare(kFftSize);
    padded_.assign(kFftSize, 0.0f);
    whole_.assign(fft_.bins(), {});
    head_.assign(fft_.bins(), {});
    correlation_.assign(kFftSize, 0.0f);
    energy_.assign(kWindow + 1, 0.0);
    normalised_.assign(kMaxLag + 1, 1.0);
}

PitchEstimate PitchDetector::analyse(const float* window) noexcept
{
    // Prefix sums of squares give every lag's energy terms in O(1).
    energy_[0] = 0.0;
    for (int i = 0; i < kWindow; ++i)
        energy_[i + 1] = energy_[i] + static_cast<double>(window[i]) * window[i];
    if (!(energy_[kWindow] > kSilence * kWindow))
        return {};

    // r(τ) = Σ_{j<span} x[j]·x[j+τ] as the correlation of the head with the whole window.
    std::copy(window, window + kWindow, padded_.begin());
    fft_.forward(padded_.data(), whole_.data());
    std::fill(padded_.begin() + kSpan, padded_.end(), 0.0f);
    fft_.forward(padded_.data(), head_.data());
    for (size_t k = 0; k < whole_.size(); ++k)
        whole_[k] *= std::conj(head_[k]);
    fft_.inverse(whole_.data(), correlation_.data());
    const double scale = 1.0 / kFftSize;

    // d(τ) = Σ (x[j] − x[j+τ])², then d'(τ) = d(τ)·τ / Σ_{k≤τ} d(k).
    const double head = energy_[kSpan];
    double running = 0.0;
    normalised_[0] = 1.0;
    for (int lag = 1; lag <= kMaxLag; ++lag) {
        const double shifted = energy_[lag + kSpan] - energy_[lag];
        const double d = std::max(0.0, head + shifted - 2.0 * correlation_[lag] * scale);
        running += d;
        normalised_[lag] = running > 0.0 ? d * lag / running : 1.0;
    }

    const int lowest = std::max(2, std::min(minPeriod_, static_cast<int>(fs_ / kHighestSeen)));
    int period = 0;
    for (int lag = lowest; lag < kMaxLag; ++lag) {
        if (normalised_[lag] < kFirstDip) {
            while (lag + 1 < kMaxLag && normalised_[lag + 1] < normalised_[lag])
                ++lag;
            period = lag;
            break;
        }
    }
    if (period == 0) {
        // No clear dip anywhere: the deepest proper minimum, if deep enough.
        double best = kAcceptDip;
        for (int lag = lowest; lag < kMaxLag; ++lag) {
            const double v = normalised_[lag];
            if (v < best && v <= normalised_[lag - 1] && v <= normalised_[lag + 1]) {
                best = v;
                period = lag;
            }
        }
        if (period == 0)
            return {};
    }
    // The clearest periodicity lies outside the voice range: a whistle or a growl.
    if (period < minPeriod_ || period > maxPeriod_)
        return {};

    // A parabola through the dip and its neighbours places the period between frames.
    const double a = normalised_[period - 1];
    const double b = normalised_[period];
    const double c = normalised_[period + 1];
    const double curve = a - 2.0 * b + c;
    const double shift = curve > 0.0 ? std::clamp(0.5 * (a - c) / curve, -0.5, 0.5) : 0.0;
    const double exact = period + shift;

    PitchEstimate estimate;
    estimate.period = exact;
    estimate.hz = fs_ / exact;
    estimate.confidence = std::clamp(1.0 - b, 0.0, 1.0);
    return estimate;
}

} // namespace dsp
