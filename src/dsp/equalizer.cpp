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

void Equalizer::setBandsAndLevel(const EqGains& gains, int level) noexcept
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
