// The FFT against a direct DFT in double precision, round trips, and the
// real-input transform against the complex one.

#include "dsp/biquad.h"
#include "dsp/fft.h"
#include "dsp/random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

namespace dsp {
namespace {

// The suite runs twice: against the library's FFT, and built with the
// portable butterflies that machines without SSE2 use.
#ifdef OVIX_FFT_SCALAR
#define FFT_SUITE FftScalar
#define REAL_FFT_SUITE RealFftScalar
#else
#define FFT_SUITE Fft
#define REAL_FFT_SUITE RealFft
#endif

std::vector<std::complex<double>> directDft(const std::vector<std::complex<float>>& x)
{
    const size_t n = x.size();
    // Exact twiddles by index modulo n keep the reference itself accurate.
    std::vector<std::complex<double>> w(n);
    for (size_t k = 0; k < n; ++k)
        w[k] = std::polar(1.0, -2.0 * kPi * static_cast<double>(k) / static_cast<double>(n));
    std::vector<std::complex<double>> out(n);
    for (size_t k = 0; k < n; ++k) {
        std::complex<double> sum;
        for (size_t i = 0; i < n; ++i)
            sum += std::complex<double>(x[i]) * w[(i * k) % n];
        out[k] = sum;
    }
    return out;
}

template <typename A, typename B> double relativeError(const std::vector<A>& got, const std::vector<B>& want)
{
    double err = 0.0, norm = 0.0;
    for (size_t i = 0; i < want.size(); ++i) {
        err += std::norm(std::complex<double>(got[i]) - std::complex<double>(want[i]));
        norm += std::norm(std::complex<double>(want[i]));
    }
    return std::sqrt(err / norm);
}

std::vector<std::complex<float>> noise(size_t n, uint32_t seed)
{
    Lcg g{seed};
    std::vector<std::complex<float>> x(n);
    for (auto& v : x)
        v = {g.bipolar(), g.bipolar()};
    return x;
}

TEST(FFT_SUITE, MatchesTheDirectTransformForEveryPowerOfTwoFrom16To8192)
{
    for (size_t n = 16; n <= 8192; n *= 2) {
        SCOPED_TRACE(n);
        FftPlan plan;
        ASSERT_TRUE(plan.prepare(n));
        auto x = noise(n, static_cast<uint32_t>(n));
        const auto want = directDft(x);
        plan.forward(x.data());
        EXPECT_LT(relativeError(x, want), 1e-5);
    }
}

TEST(FFT_SUITE, InverseOfForwardRestoresTheInputTimesN)
{
    for (size_t n : {2u, 4u, 8u, 64u, 1024u, 8192u}) {
        SCOPED_TRACE(n);
        FftPlan plan;
        ASSERT_TRUE(plan.prepare(n));
        const auto original = noise(n, 7);
        auto x = original;
        plan.forward(x.data());
        plan.inverse(x.data());
        for (auto& v : x)
            v /= static_cast<float>(n);
        EXPECT_LT(relativeError(x, original), 1e-6);
    }
}

TEST(FFT_SUITE, APureToneLandsInItsBin)
{
    FftPlan plan;
    ASSERT_TRUE(plan.prepare(1024));
    std::vector<std::complex<float>> x(1024);
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = std::polar(1.0f, static_cast<float>(2.0 * kPi * 37.0 * static_cast<double>(i) / 1024.0));
    plan.forward(x.data());
    for (size_t k = 0; k < x.size(); ++k)
        EXPECT_NEAR(std::abs(x[k]), k == 37 ? 1024.0f : 0.0f, 5e-3f) << k;
}

TEST(FFT_SUITE, PlansRefuseSizesThatAreNotPowersOfTwo)
{
    FftPlan plan;
    EXPECT_FALSE(plan.prepare(0));
    EXPECT_FALSE(plan.prepare(1000));
    EXPECT_EQ(plan.size(), 0u);
    EXPECT_TRUE(plan.prepare(512));
    EXPECT_EQ(plan.log2Size(), 9);
    RealFft real;
    EXPECT_FALSE(real.prepare(1));
    EXPECT_FALSE(real.prepare(96));
}

TEST(REAL_FFT_SUITE, MatchesTheComplexTransformOfARealSignalAndRoundTrips)
{
    for (size_t n : {2u, 4u, 16u, 1024u, 8192u}) {
        SCOPED_TRACE(n);
        RealFft real;
        ASSERT_TRUE(real.prepare(n));
        ASSERT_EQ(real.bins(), n / 2 + 1);
        Lcg g{static_cast<uint32_t>(n)};
        std::vector<float> input(n);
        std::vector<std::complex<float>> asComplex(n);
        for (size_t i = 0; i < n; ++i)
            asComplex[i] = input[i] = g.bipolar();
        auto want = directDft(asComplex);
        want.resize(n / 2 + 1);

        std::vector<std::complex<float>> bins(n / 2 + 1);
        real.forward(input.data(), bins.data());
        EXPECT_LT(relativeError(bins, want), 1e-5);
        EXPECT_EQ(bins[0].imag(), 0.0f);
        EXPECT_EQ(bins[n / 2].imag(), 0.0f);

        std::vector<float> back(n);
        real.inverse(bins.data(), back.data());
        double err = 0.0, norm = 0.0;
        for (size_t i = 0; i < n; ++i) {
            err += std::pow(back[i] / static_cast<double>(n) - input[i], 2.0);
            norm += std::pow(input[i], 2.0);
        }
        EXPECT_LT(std::sqrt(err / norm), 1e-6);
    }
}

} // namespace
} // namespace dsp
