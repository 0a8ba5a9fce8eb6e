#include "dsp/fft.h"

#include "dsp/biquad.h"

#include <cmath>
#include <utility>

// OVIX_FFT_SCALAR forces the portable path (the tests build it that way too).
#if (defined(__SSE2__) || defined(_M_X64)) && !defined(OVIX_FFT_SCALAR)
#include <emmintrin.h>
#define OVIX_FFT_SSE2 1
#endif

namespace dsp {

bool FftPlan::prepare(size_t n)
{
    n_ = 0;
    log2n_ = 0;
    twiddles_.clear();
    spanTwiddles_.clear();
    bitReverse_.clear();
    swaps_.clear();
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
    for (size_t span = 8; span <= n; span <<= 1) {
        for (size_t j = 0; j < span / 2; ++j) {
            spanTwiddles_.push_back(twiddles_[2 * j * (n / span)]);
            spanTwiddles_.push_back(twiddles_[2 * j * (n / span) + 1]);
        }
    }
    bitReverse_.resize(n);
    for (size_t i = 0; i < n; ++i) {
        uint32_t r = 0;
        for (int b = 0; b < bits; ++b)
            r |= static_cast<uint32_t>((i >> b) & 1u) << (bits - 1 - b);
        bitReverse_[i] = r;
        if (i < r) {
            swaps_.push_back(static_cast<uint32_t>(i));
            swaps_.push_back(r);
        }
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

// The butterflies are written on separate real and imaginary floats (or SSE
// lanes): a std::complex multiply checks for infinities and NaNs on every product.
template <bool Inverse> void FftPlan::transform(float* d) const noexcept
{
    const size_t n = n_;
    if (n < 2)
        return;
    auto* c = reinterpret_cast<std::complex<float>*>(d);
    for (size_t s = 0; s < swaps_.size(); s += 2)
        std::swap(c[swaps_[s]], c[swaps_[s + 1]]);
    if (n == 2) {
        const float r = d[0] - d[2], i = d[1] - d[3];
        d[0] += d[2];
        d[1] += d[3];
        d[2] = r;
        d[3] = i;
        return;
    }

    // Spans 2 and 4 have the twiddles 1 and ∓i: done together, without multiplies.
#ifdef OVIX_FFT_SSE2
    // Forward t = (i3, −r3), inverse t = (−i3, r3): the mask negates that lane.
    const __m128 rotate
        = _mm_castsi128_ps(Inverse ? _mm_set_epi32(0, INT32_MIN, 0, 0) : _mm_set_epi32(INT32_MIN, 0, 0, 0));
    for (size_t s = 0; s < n; s += 4) {
        float* p = d + 2 * s;
        const __m128 p0 = _mm_loadu_ps(p);
        const __m128 p1 = _mm_loadu_ps(p + 4);
        const __m128 even = _mm_shuffle_ps(p0, p1, _MM_SHUFFLE(1, 0, 1, 0)); // x0, x2
        const __m128 odd = _mm_shuffle_ps(p0, p1, _MM_SHUFFLE(3, 2, 3, 2));  // x1, x3
        const __m128 sum = _mm_add_ps(even, odd);                            // (r0, i0), (r2, i2)
        const __m128 diff = _mm_sub_ps(even, odd);                           // (r1, i1), (r3, i3)
        const __m128 low = _mm_movelh_ps(sum, diff);                         // (r0, i0), (r1, i1)
        const __m128 high = _mm_movehl_ps(diff, sum);                        // (r2, i2), (r3, i3)
        const __m128 t = _mm_xor_ps(_mm_shuffle_ps(high, high, _MM_SHUFFLE(2, 3, 1, 0)), rotate);
        _mm_storeu_ps(p, _mm_add_ps(low, t));
        _mm_storeu_ps(p + 4, _mm_sub_ps(low, t));
    }
#else
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
#endif

    for (size_t span = 8; span <= n; span <<= 1) {
        const size_t half = span / 2;
        const float* tw = spanTwiddles_.data() + (span - 8);
        for (size_t start = 0; start < n; start += span) {
            float* a = d + 2 * start;
            float* b = a + 2 * half;
#ifdef OVIX_FFT_SSE2
            // Two butterflies at a time on interleaved (re, im) pairs.
            const __m128 flip = _mm_castsi128_ps(
                Inverse ? _mm_set_epi32(INT32_MIN, 0, INT32_MIN, 0) : _mm_set_epi32(0, INT32_MIN, 0, INT32_MIN));
            for (size_t j = 0; j < 2 * half; j += 4) {
                const __m128 w = _mm_loadu_ps(tw + j);
                const __m128 wr = _mm_shuffle_ps(w, w, _MM_SHUFFLE(2, 2, 0, 0));
                // (−wi, wi) forward; (wi, −wi) inverse, which conjugates the twiddle.
                const __m128 wi = _mm_xor_ps(_mm_shuffle_ps(w, w, _MM_SHUFFLE(3, 3, 1, 1)), flip);
                const __m128 bv = _mm_loadu_ps(b + j);
                const __m128 swapped = _mm_shuffle_ps(bv, bv, _MM_SHUFFLE(2, 3, 0, 1));
                const __m128 t = _mm_add_ps(_mm_mul_ps(bv, wr), _mm_mul_ps(swapped, wi));
                const __m128 av = _mm_loadu_ps(a + j);
                _mm_storeu_ps(a + j, _mm_add_ps(av, t));
                _mm_storeu_ps(b + j, _mm_sub_ps(av, t));
            }
#else
            for (size_t j = 0; j < 2 * half; j += 2) {
                const float wr = tw[j];
                const float wi = Inverse ? -tw[j + 1] : tw[j + 1];
                const float br = b[j] * wr - b[j + 1] * wi;
                const float bi = b[j] * wi + b[j + 1] * wr;
                const float ar = a[j], ai = a[j + 1];
                a[j] = ar + br;
                a[j + 1] = ai + bi;
                b[j] = ar - br;
                b[j + 1] = ai - bi;
            }
#endif
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
