#include "dsp/biquad.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace dsp {

namespace {

struct Angle {
    double w0 = 0.0;
    double cosW = 1.0;
    double sinW = 0.0;
};

Angle angleFor(double freq, double sampleRate)
{
    const double fs = sampleRate > 0.0 ? sampleRate : 48000.0;
    // Keep w0 strictly inside (0, π): at 0 or Nyquist the designs divide by zero.
    const double f = std::isfinite(freq) ? std::clamp(freq, 1e-3, fs * 0.4999) : 1000.0;
    Angle a;
    a.w0 = 2.0 * kPi * f / fs;
    a.cosW = std::cos(a.w0);
    a.sinW = std::sin(a.w0);
    return a;
}

double safeQ(double q)
{
    return std::isfinite(q) ? std::max(q, 1e-3) : kButterworthQ;
}

BiquadCoeffs normalise(double b0, double b1, double b2, double a0, double a1, double a2)
{
    return {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

BiquadCoeffs peakingFromAlpha(const Angle& w, double alpha, double gainDb)
{
    const double a = std::pow(10.0, gainDb / 40.0);
    return normalise(1.0 + alpha * a, -2.0 * w.cosW, 1.0 - alpha * a, 1.0 + alpha / a, -2.0 * w.cosW, 1.0 - alpha / a);
}

} // namespace

BiquadCoeffs designLowPass(double freq, double q, double sampleRate)
{
    const Angle w = angleFor(freq, sampleRate);
    const double alpha = w.sinW / (2.0 * safeQ(q));
    const double k = 1.0 - w.cosW;
    return normalise(k / 2.0, k, k / 2.0, 1.0 + alpha, -2.0 * w.cosW, 1.0 - alpha);
}

BiquadCoeffs designHighPass(double freq, double q, double sampleRate)
{
    const Angle w = angleFor(freq, sampleRate);
    const double alpha = w.sinW / (2.0 * safeQ(q));
    const double k = 1.0 + w.cosW;
    return normalise(k / 2.0, -k, k / 2.0, 1.0 + alpha, -2.0 * w.cosW, 1.0 - alpha);
}

BiquadCoeffs designPeaking(double freq, double q, double gainDb, double sampleRate)
{
    if (gainDb == 0.0 || !std::isfinite(gainDb))
        return {};
    const Angle w = angleFor(freq, sampleRate);
    return peakingFromAlpha(w, w.sinW / (2.0 * safeQ(q)), gainDb);
}

BiquadCoeffs designPeakingBandwidth(double freq, double octaves, double gainDb, double sampleRate)
{
    if (gainDb == 0.0 || !std::isfinite(gainDb))
        return {};
    const Angle w = angleFor(freq, sampleRate);
    const double bw = std::isfinite(octaves) ? std::max(octaves, 1e-3) : 1.0;
    const double alpha = w.sinW * std::sinh(std::log(2.0) / 2.0 * bw * w.w0 / w.sinW);
    return peakingFromAlpha(w, alpha, gainDb);
}

BiquadCoeffs designLowShelf(double freq, double gainDb, double sampleRate)
{
    if (gainDb == 0.0 || !std::isfinite(gainDb))
        return {};
    const Angle w = angleFor(freq, sampleRate);
    const double a = std::pow(10.0, gainDb / 40.0);
    const double t = a + 1.0;
    const double u = (a - 1.0) * w.cosW;
    const double r = w.sinW * std::sqrt(2.0) * std::sqrt(a); // 2·√A·alpha at slope 1
    return normalise(a * (t - u + r), 2.0 * a * ((a - 1.0) - t * w.cosW), a * (t - u - r), t + u + r,
        -2.0 * ((a - 1.0) + t * w.cosW), t + u - r);
}

BiquadCoeffs designHighShelf(double freq, double gainDb, double sampleRate)
{
    if (gainDb == 0.0 || !std::isfinite(gainDb))
        return {};
    const Angle w = angleFor(freq, sampleRate);
    const double a = std::pow(10.0, gainDb / 40.0);
    const double t = a + 1.0;
    const double u = (a - 1.0) * w.cosW;
    const double r = w.sinW * std::sqrt(2.0) * std::sqrt(a);
    return normalise(a * (t + u + r), -2.0 * a * ((a - 1.0) + t * w.cosW), a * (t + u - r), t - u + r,
        2.0 * ((a - 1.0) - t * w.cosW), t - u - r);
}

double magnitudeDb(const BiquadCoeffs& c, double freq, double sampleRate)
{
    const double w = 2.0 * kPi * freq / sampleRate;
    const std::complex<double> z1 = std::polar(1.0, -w);
    const std::complex<double> z2 = z1 * z1;
    const std::complex<double> h = (c.b0 + c.b1 * z1 + c.b2 * z2) / (1.0 + c.a1 * z1 + c.a2 * z2);
    return 20.0 * std::log10(std::max(std::abs(h), 1e-300));
}

BiquadCoeffs designReverbSendHighPass(double sampleRate)
{
    return designHighPass(20.0, kButterworthQ, sampleRate);
}

BiquadCoeffs designSlapShelf(double sampleRate)
{
    return designLowShelf(500.0, 5.5, sampleRate);
}

double slapLowPassDecay(double sampleRate)
{
    return std::exp(-2.0 * kPi * 3500.0 / sampleRate);
}

} // namespace dsp
