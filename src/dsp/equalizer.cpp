#include "dsp/equalizer.h"

#include <algorithm>
#include <cmath>

namespace dsp {

BiquadCoeffs designEqBand(double centre, int gainDb, double sampleRate)
{
    if (gainDb == 0)
        return {};
    return designPeakingBandwidth(centre, 1.0, gainDb, sampleRate);
}

void Equalizer::prepare(double sampleRate)
{
    sampleRate_ = sampleRate > 0.0 ? sampleRate : 48000.0;
    for (auto& band : state_)
        band[0] = band[1] = {};
    design(false);
    ambitRing_.fill(0.0f);
    ambitIndex_ = 0;
    ambitMid_ = 0.0f;
    ambitSide_ = 0.0f;
    ambitMidDecay_ = static_cast<float>(std::exp(-2.0 * kPi * 1400.0 / sampleRate_));
    ambitSideDecay_ = static_cast<float>(std::exp(-2.0 * kPi * 200.0 / sampleRate_));
}

void Equalizer::setBandsAndLevel(const std::array<int, kEqBands>& gains, int level) noexcept
{
    for (int b = 0; b < kEqBands; ++b)
        gains_[b] = std::clamp(gains[b], -kEqMaxGainDb, kEqMaxGainDb);
    level_ = std::clamp(level, 0, kEqMaxLevel);
    design(true);
}

void Equalizer::design(bool glide) noexcept
{
    for (int b = 0; b < kEqBands; ++b)
        coeffs_[b][0] = coeffs_[b][1] = designEqBand(kEqCentres[b], gains_[b], sampleRate_);
    outputGain_ = static_cast<float>(std::pow(10.0, -level_ / 20.0));
    // A level step of up to 24 dB applied at once would click; the glide is 10 ms.
    const int frames = static_cast<int>(0.01 * sampleRate_);
    if (glide && gain_ != outputGain_ && frames > 1) {
        glideLeft_ = frames;
        glideStep_ = (outputGain_ - gain_) / static_cast<float>(frames);
    } else {
        gain_ = outputGain_;
        glideLeft_ = 0;
    }
}

void Equalizer::process(float* left, float* right, int frames) noexcept
{
    // Frame by frame, each frame waits for the whole cascade of seven
    // recurrences. Here band b works on frame t − b while band b + 1 works on
    // frame t − b − 1, so the seven run side by side; every band still sees
    // its frames in order, so the arithmetic is unchanged. Both channels share
    // their coefficients, so each band's two steps go side by side too.
    constexpr int kRun = 64;
    std::array<std::array<double, 2>, kRun> x;
    std::array<std::array<double, 2>, kEqBands> s1, s2;
    for (int b = 0; b < kEqBands; ++b) {
        s1[b] = {state_[b][0].s1, state_[b][1].s1};
        s2[b] = {state_[b][0].s2, state_[b][1].s2};
    }
    const auto step = [&](int b, size_t f) {
        const BiquadCoeffs& c = coeffs_[b][0];
        for (size_t ch = 0; ch < 2; ++ch) {
            const double in = x[f][ch];
            const double y = c.b0 * in + s1[b][ch];
            s1[b][ch] = c.b1 * in - c.a1 * y + s2[b][ch];
            s2[b][ch] = c.b2 * in - c.a2 * y;
            x[f][ch] = y;
        }
    };
    for (int done = 0; done < frames; done += kRun) {
        const int n = std::min(kRun, frames - done);
        for (int i = 0; i < n; ++i)
            x[static_cast<size_t>(i)] = {left[done + i], right[done + i]};
        for (int t = 0; t < n + kEqBands - 1; ++t) {
            // Every band has a frame in the middle of the run; at its ends only some.
            if (t >= kEqBands - 1 && t < n) {
                for (int b = 0; b < kEqBands; ++b)
                    step(b, static_cast<size_t>(t - b));
            } else {
                for (int b = std::max(0, t - n + 1); b <= std::min(kEqBands - 1, t); ++b)
                    step(b, static_cast<size_t>(t - b));
            }
        }
        for (int i = 0; i < n; ++i) {
            if (glideLeft_ > 0) {
                gain_ = --glideLeft_ == 0 ? outputGain_ : gain_ + glideStep_;
            }
            left[done + i] = static_cast<float>(x[static_cast<size_t>(i)][0]) * gain_;
            right[done + i] = static_cast<float>(x[static_cast<size_t>(i)][1]) * gain_;
        }
    }
    for (int b = 0; b < kEqBands; ++b) {
        state_[b][0] = {s1[b][0], s2[b][0]};
        state_[b][1] = {s1[b][1], s2[b][1]};
    }
}

void Equalizer::processAmbit(float& left, float& right) noexcept
{
    const float mid = (left + right) * 0.5f;
    const float side = (left - right) * 0.5f;
    const float delayedMid = ambitRing_[ambitIndex_]; // written 12 frames ago
    ambitRing_[ambitIndex_] = mid;
    ambitIndex_ = ambitIndex_ + 1 == kAmbitDelay ? 0 : ambitIndex_ + 1;
    ambitMid_ += (delayedMid - ambitMid_) * (1.0f - ambitMidDecay_);
    ambitSide_ += (side - ambitSide_) * (1.0f - ambitSideDecay_);
    const float widened = side + 0.8f * (side - ambitSide_);
    const float centre = mid + 0.35f * ambitMid_;
    left = 0.89f * (centre + widened);
    right = 0.89f * (centre - widened);
}

} // namespace dsp
