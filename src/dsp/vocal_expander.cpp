#include "dsp/vocal_expander.h"

#include "dsp/gain.h"
#include "dsp/one_pole.h"

#include <algorithm>
#include <cmath>

namespace dsp {
namespace {

constexpr double kLowShelfHz = 60.5;
constexpr double kPeakHz = 652.0;
constexpr double kPeakQ = 0.17;
constexpr double kHighShelfHz = 6310.0;
constexpr double kThresholdFloorDb = -66.0;

} // namespace

ExpanderRecord expanderRecordFrom(int32_t vocalLevel, int32_t gateLo, int32_t gateMid, int32_t gateHi, int32_t gateOut)
{
    ExpanderRecord r;
    const double v = std::clamp(vocalLevel, 0, 100);
    r.thresholdDb = v < 50.0 ? v * 49.0 / 50.0 - 66.0 : -17.0;
    r.exponent = v <= 50.0 ? 0.95 : 0.95 * (1.0 + (v - 50.0) / 50.0);
    r.loDb = gateLo / 10.0;
    r.midDb = gateMid / 10.0;
    r.hiDb = gateHi / 10.0;
    r.outDb = gateOut / 10.0;
    return r;
}

BiquadCoeffs designFirstOrderLowShelf(double freq, double gain, double sampleRate)
{
    const double k = std::tan(kPi * std::clamp(freq, 1.0, 0.49 * sampleRate) / sampleRate);
    BiquadCoeffs c;
    c.b0 = (gain * k + 1.0) / (k + 1.0);
    c.b1 = (gain * k - 1.0) / (k + 1.0);
    c.a1 = (k - 1.0) / (k + 1.0);
    return c;
}

BiquadCoeffs designFirstOrderHighShelf(double freq, double gain, double sampleRate)
{
    const double u = std::tan(kPi * std::clamp(freq, 1.0, 0.49 * sampleRate) / sampleRate);
    BiquadCoeffs c;
    c.b0 = (u + gain) / (u + 1.0);
    c.b1 = (u - gain) / (u + 1.0);
    c.a1 = (u - 1.0) / (u + 1.0);
    return c;
}

void VocalExpander::prepare(double sampleRate)
{
    sampleRate_ = sampleRate > 0.0 ? sampleRate : 48000.0;
    envCoeff_ = onePoleCoeff(0.0015, sampleRate_);
    riseCoeff_ = onePoleCoeff(0.001, sampleRate_);
    fallCoeff_ = onePoleCoeff(0.06, sampleRate_);
    set(record_);
    reset();
}

void VocalExpander::reset() noexcept
{
    envelope_ = 0.0;
    gain_ = 1.0;
    lowShelf_.reset();
    peak_.reset();
    highShelf_.reset();
}

void VocalExpander::set(const ExpanderRecord& record) noexcept
{
    record_ = record;
    threshold_ = dbToGain(std::max(kThresholdFloorDb, record.thresholdDb));
    outGain_ = dbToGain(record.outDb);
    lowShelf_.setCoeffs(designFirstOrderLowShelf(kLowShelfHz, dbToGain(record.loDb), sampleRate_));
    peak_.setCoeffs(designPeaking(kPeakHz, kPeakQ, record.midDb, sampleRate_));
    highShelf_.setCoeffs(designFirstOrderHighShelf(kHighShelfHz, dbToGain(record.hiDb), sampleRate_));
}

void VocalExpander::shiftLevel(double db) noexcept
{
    if (std::isfinite(db))
        envelope_ *= dbToGain(db);
}

void VocalExpander::process(float* samples, int frames) noexcept
{
    if (!record_.on)
        return;
    for (int i = 0; i < frames; ++i) {
        const double x = std::isfinite(samples[i]) ? samples[i] : 0.0;
        envelope_ += (std::fabs(x) - envelope_) * envCoeff_;
        const double target
            = envelope_ < threshold_ ? std::pow(std::max(1e-9, envelope_) / threshold_, record_.exponent) : 1.0;
        gain_ += (target - gain_) * (target > gain_ ? riseCoeff_ : fallCoeff_);
        double y = lowShelf_.process(gain_ * x);
        y = peak_.process(y);
        y = highShelf_.process(y);
        samples[i] = static_cast<float>(outGain_ * y);
    }
}

} // namespace dsp
