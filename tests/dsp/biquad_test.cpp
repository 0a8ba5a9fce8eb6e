// Cookbook designs against the cookbook's own formulas, and the identity rule.

#include "dsp/biquad.h"
#include "signal_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <string>

namespace dsp {
namespace {

using testing::kFs;

// The un-normalised cookbook coefficients, written out independently of the code under test.
struct Raw {
    double b0, b1, b2, a0, a1, a2;
};

double rawMagnitudeDb(const Raw& r, double freq)
{
    const std::complex<double> z1 = std::polar(1.0, -2.0 * kPi * freq / kFs);
    const std::complex<double> z2 = z1 * z1;
    return 20.0 * std::log10(std::abs((r.b0 + r.b1 * z1 + r.b2 * z2) / (r.a0 + r.a1 * z1 + r.a2 * z2)));
}

Raw rawPass(double f, double alpha, bool high)
{
    const double w0 = 2.0 * kPi * f / kFs;
    const double c = std::cos(w0);
    if (high)
        return {(1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + alpha, -2 * c, 1 - alpha};
    return {(1 - c) / 2, 1 - c, (1 - c) / 2, 1 + alpha, -2 * c, 1 - alpha};
}

Raw rawPeak(double f, double alpha, double db)
{
    const double w0 = 2.0 * kPi * f / kFs;
    const double a = std::pow(10.0, db / 40.0);
    return {1 + alpha * a, -2 * std::cos(w0), 1 - alpha * a, 1 + alpha / a, -2 * std::cos(w0), 1 - alpha / a};
}

Raw rawShelf(double f, double db, bool high)
{
    const double w0 = 2.0 * kPi * f / kFs;
    const double a = std::pow(10.0, db / 40.0);
    const double c = std::cos(w0);
    const double r = std::sin(w0) * std::sqrt(2.0) * std::sqrt(a);
    if (high)
        return {a * ((a + 1) + (a - 1) * c + r), -2 * a * ((a - 1) + (a + 1) * c), a * ((a + 1) + (a - 1) * c - r),
            (a + 1) - (a - 1) * c + r, 2 * ((a - 1) - (a + 1) * c), (a + 1) - (a - 1) * c - r};
    return {a * ((a + 1) - (a - 1) * c + r), 2 * a * ((a - 1) - (a + 1) * c), a * ((a + 1) - (a - 1) * c - r),
        (a + 1) + (a - 1) * c + r, -2 * ((a - 1) + (a + 1) * c), (a + 1) + (a - 1) * c - r};
}

double alphaQ(double f, double q)
{
    return std::sin(2.0 * kPi * f / kFs) / (2.0 * q);
}

double alphaBandwidth(double f, double octaves)
{
    const double w0 = 2.0 * kPi * f / kFs;
    return std::sin(w0) * std::sinh(std::log(2.0) / 2.0 * octaves * w0 / std::sin(w0));
}

struct DesignCase {
    std::string name;
    BiquadCoeffs designed;
    Raw reference;
};

// The response of the running filter (a sine through processBiquad) and the
// normalised coefficients both match the cookbook formula.
void expectMatches(const DesignCase& c)
{
    SCOPED_TRACE(c.name);
    const Raw& r = c.reference;
    EXPECT_NEAR(c.designed.b0, r.b0 / r.a0, 1e-12);
    EXPECT_NEAR(c.designed.b1, r.b1 / r.a0, 1e-12);
    EXPECT_NEAR(c.designed.b2, r.b2 / r.a0, 1e-12);
    EXPECT_NEAR(c.designed.a1, r.a1 / r.a0, 1e-12);
    EXPECT_NEAR(c.designed.a2, r.a2 / r.a0, 1e-12);
    for (double f : {40.0, 125.0, 1000.0, 3000.0, 9000.0, 17000.0}) {
        Biquad filter;
        filter.setCoeffs(c.designed);
        const double measured = testing::measuredGainDb([&](float x) { return filter.process(x); }, f);
        EXPECT_NEAR(measured, rawMagnitudeDb(r, f), 0.01) << "at " << f << " Hz";
        EXPECT_NEAR(magnitudeDb(c.designed, f, kFs), rawMagnitudeDb(r, f), 1e-9) << "at " << f << " Hz";
    }
}

TEST(BiquadDesign, EveryCookbookFormMatchesTheFormulaWithinOneHundredthOfADecibel)
{
    const DesignCase cases[] = {
        {"low-pass 2700 Hz Q 0.7072", designLowPass(2700, kQ07072, kFs),
            rawPass(2700, std::sin(2 * kPi * 2700 / kFs) / 1.414, false)},
        {"high-pass 500 Hz Q 0.7072", designHighPass(500, kQ07072, kFs),
            rawPass(500, std::sin(2 * kPi * 500 / kFs) / 1.414, true)},
        {"Butterworth high-pass 20 Hz", designReverbSendHighPass(kFs),
            rawPass(20, std::sin(2 * kPi * 20 / kFs) / std::sqrt(2.0), true)},
        {"low-pass 800 Hz Q 0.9", designLowPass(800, 0.9, kFs), rawPass(800, alphaQ(800, 0.9), false)},
        {"peak 1300 Hz Q 3 +12 dB", designPeaking(1300, 3, 12, kFs), rawPeak(1300, alphaQ(1300, 3), 12)},
        {"peak 350 Hz Q 1 -7 dB", designPeaking(350, 1, -7, kFs), rawPeak(350, alphaQ(350, 1), -7)},
        {"peak 1 octave 8 kHz +8 dB", designPeakingBandwidth(8000, 1, 8, kFs),
            rawPeak(8000, alphaBandwidth(8000, 1), 8)},
        {"peak 1 octave 125 Hz -12 dB", designPeakingBandwidth(125, 1, -12, kFs),
            rawPeak(125, alphaBandwidth(125, 1), -12)},
        {"low shelf 160 Hz +4 dB", designLowShelf(160, 4, kFs), rawShelf(160, 4, false)},
        {"slap low shelf 500 Hz +5.5 dB", designSlapShelf(kFs), rawShelf(500, 5.5, false)},
        {"low shelf 100 Hz -6 dB", designLowShelf(100, -6, kFs), rawShelf(100, -6, false)},
        {"high shelf 3 kHz +6 dB", designHighShelf(3000, 6, kFs), rawShelf(3000, 6, true)},
        {"high shelf 6 kHz -9 dB", designHighShelf(6000, -9, kFs), rawShelf(6000, -9, true)},
    };
    for (const auto& c : cases)
        expectMatches(c);
}

TEST(BiquadDesign, ZeroDecibelPeaksAndShelvesAreTheExactIdentity)
{
    const BiquadCoeffs identity;
    EXPECT_EQ(designPeaking(1000, 1, 0, kFs), identity);
    EXPECT_EQ(designPeakingBandwidth(125, 1, 0, kFs), identity);
    EXPECT_EQ(designLowShelf(100, 0, kFs), identity);
    EXPECT_EQ(designHighShelf(3000, 0, kFs), identity);
    EXPECT_TRUE(identity.isIdentity());

    Biquad filter;
    filter.setCoeffs(designPeaking(1000, 1, 0.0, kFs));
    for (float x : {0.3f, -0.77f, 1e-30f, 0.999f})
        EXPECT_EQ(filter.process(x), x);
}

TEST(BiquadDesign, OutOfRangeRequestsStillGiveStableFilters)
{
    const BiquadCoeffs designs[] = {designLowPass(0, 0.7, kFs), designLowPass(30000, 0.7, kFs),
        designHighPass(1000, 0, kFs), designPeaking(-5, -1, 6, kFs), designPeakingBandwidth(1000, 0, 6, kFs),
        designLowShelf(1e9, 12, kFs), designLowPass(NAN, NAN, kFs)};
    for (const auto& c : designs) {
        // Poles inside the unit circle: |a2| < 1 and |a1| < 1 + a2.
        EXPECT_LT(std::fabs(c.a2), 1.0);
        EXPECT_LT(std::fabs(c.a1), 1.0 + c.a2);
        EXPECT_TRUE(std::isfinite(c.b0 + c.b1 + c.b2));
    }
}

TEST(BiquadProcess, StereoChannelsKeepSeparateStateAndRetuningKeepsIt)
{
    StereoBiquad stereo;
    stereo.setCoeffs(designLowPass(1000, kButterworthQ, kFs));
    Biquad mono;
    mono.setCoeffs(stereo.coeffs[0]);
    for (int i = 0; i < 100; ++i) {
        float l = i == 0 ? 1.0f : 0.0f;
        float r = 0.0f;
        stereo.process(l, r);
        EXPECT_EQ(r, 0.0f);
        EXPECT_EQ(l, mono.process(i == 0 ? 1.0f : 0.0f));
    }
    const BiquadState before = stereo.state[0];
    stereo.setCoeffs(designLowPass(2000, kButterworthQ, kFs));
    EXPECT_EQ(stereo.state[0].s1, before.s1);
    EXPECT_EQ(stereo.state[0].s2, before.s2);
}

} // namespace
} // namespace dsp
