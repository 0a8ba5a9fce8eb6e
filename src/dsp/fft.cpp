#include "dsp/fft.h"

#include "dsp/biquad.h"

#include <cmath>
#include <utility>

namespace dsp {

bool FftPlan::prepare(size_t n)
{
    n_ = 0;
    log2n_ = 0;
    twiddles_.clear();
    bitReverse_.clear();
    if (n == 0 || n > kMaxSize || (n & (n - 1)) != 0)
        return false;
    int bits = 0;
    while ((size_t(1) << bits) < n)
        ++bits;
    twiddles_.resize(n); // n/2 complex values
    for (size_t k = 0; k < n / 2; ++k) {
        const double angle = -2.0 * kPi * static_cast<double>(k) / static_cast<double>(n);
        twiddles_[2 * k] = static_cast<float>(std::cos(angle));
        twiddles_[2 * k + 1] = static_cast<float>(std::sin(angle));
    }
    bitReverse_.resize(n);
    for (size_t i = 0; i < n; ++i) {
        uint32_t r = 0;
        for (int b = 0; b < bits; ++b)
            r |= static_cast<uint32_t>((i >> b) & 1u) << (bits - 1 - b);
        bitReverse_[i] = r;
    }
    n_ = n;
    log2n_ = bits;
    return true;
}

void FftPlan::forward(std::complex<float>* data) const noexcept
{
    // std::complex<float> is layout-compatible with float[2].
    transform<false>(reinterpret_cast<float*>(data));
}

void FftPlan::inverse(std::complex<float>* data) const noexcept
{
    transform<true>(reinterpret_cast<float*>(data));
}

// The butterflies are written on separate real and imaginary floats: a
// std::complex multiply would check for infinities and NaNs on every product.
template <bool Inverse> void FftPlan::transform(float* d) const noexcept
{
    const size_t n = n_;
    if (n < 2)
        return;
    for (size_t i = 0; i < n; ++i) {
        const size_t j = bitReverse_[i];
        if (i < j) {
            std::swap(d[2 * i], d[2 * j]);
            std::swap(d[2 * i + 1], d[2 * j + 1]);
        }
    }
    if (n == 2) {
        const float r = d[0] - d[2], i = d[1] - d[3];
        d[0] += d[2];
        d[1] += d[3];
        d[2] = r;
        d[3] = i;
        return;
    }

    // Spans 2 and 4 have the twiddles 1 and ∓i: done together, without multiplies.
    for (size_t s = 0; s < n; s += 4) {
        float* p = d + 2 * s;
        const float r0 = p[0] + p[2], i0 = p[1] + p[3];
        const float r1 = p[0] - p[2], i1 = p[1] - p[3];
        const float r2 = p[4] + p[6], i2 = p[5] + p[7];
        const float r3 = p[4] - p[6], i3 = p[5] - p[7];
        // Forward: (r3 + i·i3)·(−i) = i3 − i·r3; inverse: (r3 + i·i3)·i = −i3 + i·r3.
        const float tr = Inverse ? -i3 : i3;
        const float ti = Inverse ? r3 : -r3;
        p[0] = r0 + r2;
        p[1] = i0 + i2;
        p[4] = r0 - r2;
        p[5] = i0 - i2;
        p[2] = r1 + tr;
        p[3] = i1 + ti;
        p[6] = r1 - tr;
        p[7] = i1 - ti;
    }

    const float* tw = twiddles_.data();
    for (size_t span = 8; span <= n; span <<= 1) {
        const size_t half = span / 2;
        const size_t stride = 2 * (n / span); // floats between successive twiddles of this span
        for (size_t start = 0; start < n; start += span) {
            float* a = d + 2 * start;
            float* b = a + 2 * half;
            const float* w = tw;
            for (size_t j = 0; j < 2 * half; j += 2, w += stride) {
                const float wr = w[0];
                const float wi = Inverse ? -w[1] : w[1];
                const float br = b[j] * wr - b[j + 1] * wi;
                const float bi = b[j] * wi + b[j + 1] * wr;
                const float ar = a[j], ai = a[j + 1];
                a[j] = ar + br;
                a[j + 1] = ai + bi;
                b[j] = ar - br;
                b[j + 1] = ai - bi;
            }
        }
    }
}

bool RealFft::prepare(size_t n)
{
    n_ = 0;
    if (n < 2 || n > FftPlan::kMaxSize || (n & (n - 1)) != 0 || !half_.prepare(n / 2))
        return false;
    work_.assign(n / 2, {});
    twiddles_.resize(n);
    for (size_t k = 0; k < n / 2; ++k) {
        const double angle = -2.0 * kPi * static_cast<double>(k) / static_cast<double>(n);
        twiddles_[2 * k] = static_cast<float>(std::cos(angle));
        twiddles_[2 * k + 1] = static_cast<float>(std::sin(angle));
    }
    n_ = n;
    return true;
}

// Even samples go in as real parts, odd ones as imaginary parts; after the
// half-size transform Z, the spectra of the two halves separate as
// E[k] = (Z[k] + Z*[m−k])/2 and O[k] = −i·(Z[k] − Z*[m−k])/2, and X[k] = E[k] + W^k·O[k].
void RealFft::forward(const float* input, std::complex<float>* bins) noexcept
{
    const size_t m = n_ / 2;
    if (m == 0)
        return;
    float* z = reinterpret_cast<float*>(work_.data());
    for (size_t i = 0; i < 2 * m; ++i)
        z[i] = input[i];
    half_.forward(work_.data());

    float* x = reinterpret_cast<float*>(bins);
    const float z0r = z[0], z0i = z[1];
    x[0] = z0r + z0i;
    x[1] = 0.0f;
    x[2 * m] = z0r - z0i;
    x[2 * m + 1] = 0.0f;
    const float* w = twiddles_.data();
    for (size_t k = 1; k < m; ++k) {
        const float zr = z[2 * k], zi = z[2 * k + 1];
        const float cr = z[2 * (m - k)], ci = -z[2 * (m - k) + 1]; // Z*[m−k]
        const float er = 0.5f * (zr + cr), ei = 0.5f * (zi + ci);
        const float orr = 0.5f * (zi - ci), oi = -0.5f * (zr - cr);
        const float wr = w[2 * k], wi = w[2 * k + 1];
        x[2 * k] = er + wr * orr - wi * oi;
        x[2 * k + 1] = ei + wr * oi + wi * orr;
    }
}

// The reverse split: 2E[k] = X[k] + X*[m−k], 2O[k] = (X[k] − X*[m−k])·W^−k,
// Z[k] = 2E[k] + i·2O[k]; the unscaled half-size inverse of Z then gives N·x.
void RealFft::inverse(const std::complex<float>* bins, float* output) noexcept
{
    const size_t m = n_ / 2;
    if (m == 0)
        return;
    const float* x = reinterpret_cast<const float*>(bins);
    float* z = reinterpret_cast<float*>(work_.data());
    z[0] = x[0] + x[2 * m];
    z[1] = x[0] - x[2 * m];
    const float* w = twiddles_.data();
    for (size_t k = 1; k < m; ++k) {
        const float xr = x[2 * k], xi = x[2 * k + 1];
        const float cr = x[2 * (m - k)], ci = -x[2 * (m - k) + 1]; // X*[m−k]
        const float er = xr + cr, ei = xi + ci;
        const float dr = xr - cr, di = xi - ci;
        const float wr = w[2 * k], wi = -w[2 * k + 1]; // W^−k
        const float orr = dr * wr - di * wi, oi = dr * wi + di * wr;
        z[2 * k] = er - oi;
        z[2 * k + 1] = ei + orr;
    }
    half_.inverse(work_.data());
    for (size_t i = 0; i < 2 * m; ++i)
        output[i] = z[i];
}

} // namespace dsp
