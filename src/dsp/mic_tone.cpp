#include "dsp/mic_tone.h"

#include <algorithm>
#include <cmath>

namespace dsp {
namespace {

constexpr double kLowShelfHz = 200.0;
constexpr double kPeakHz = 1000.0;
constexpr double kPeakQ = 0.8;
constexpr double kHighShelfHz = 3500.0;
constexpr double kGlideSeconds = 0.03;
constexpr double kSnapDb = 0.01;
// Far beyond the ±24 dB the settings allow; keeps a bad value from blowing up the filters.
constexpr double kLimitDb = 48.0;

double sane(double db)
{
    return std::isfinite(db) ? std::clamp(db, -kLimitDb, kLimitDb) : 0.0;
}

} // namespace

void MicTone::prepare(double sampleRate)
{
    sampleRate_ = sampleRate > 0.0 ? sampleRate : 48000.0;
    reset();
}

void MicTone::reset() noexcept
{
    for (int b = 0; b < 3; ++b) {
        current_[b] = 0.0;
        filters_[b].reset();
    }
    started_ = false;
    redesign();
}

void MicTone::setTargets(double loDb, double midDb, double hiDb) noexcept
{
    target_[0] = sane(loDb);
    target_[1] = sane(midDb);
    target_[2] = sane(hiDb);
    if (!started_ && (target_[0] != 0.0 || target_[1] != 0.0 || target_[2] != 0.0)) {
        // Start from clean filters: their state may be from long ago.
        started_ = true;
        for (auto& f : filters_)
            f.reset();
    }
}

void MicTone::redesign() noexcept
{
    filters_[0].setCoeffs(designLowShelf(kLowShelfHz, current_[0], sampleRate_));
    filters_[1].setCoeffs(designPeaking(kPeakHz, kPeakQ, current_[1], sampleRate_));
    filters_[2].setCoeffs(designHighShelf(kHighShelfHz, current_[2], sampleRate_));
}

void MicTone::process(float* samples, int frames) noexcept
{
    if (!started_)
        return;
    for (int at = 0; at < frames; at += kChunk) {
        const int n = std::min(kChunk, frames - at);
        if (current_[0] != target_[0] || current_[1] != target_[1] || current_[2] != target_[2]) {
            const double step = 1.0 - std::exp(-n / (kGlideSeconds * sampleRate_));
            for (int b = 0; b < 3; ++b) {
                current_[b] += (target_[b] - current_[b]) * step;
                if (std::fabs(target_[b] - current_[b]) < kSnapDb)
                    current_[b] = target_[b];
            }
            redesign();
        }
        for (int i = at; i < at + n; ++i) {
            double y = std::isfinite(samples[i]) ? samples[i] : 0.0;
            for (auto& f : filters_)
                y = f.process(y);
            samples[i] = static_cast<float>(y);
        }
    }
}

} // namespace dsp
