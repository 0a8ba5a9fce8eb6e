#pragma once
// Iterative radix-2 decimation-in-time FFT on single-precision complex data,
// and a real-input transform of size N built on the complex one of size N/2
// (the spectral engines use N = 1024). Plans allocate in prepare() only;
// transforms never allocate. Transforms are unscaled: inverse(forward(x)) = N·x.

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace dsp {

class FftPlan {
public:
    static constexpr size_t kMaxSize = size_t(1) << 24;

    // Builds the twiddles and the bit-reversal table; false (and an empty plan)
    // unless n is a power of two in 1..kMaxSize.
    bool prepare(size_t n);
    size_t size() const { return n_; }
    int log2Size() const { return log2n_; }

    // X[k] = Σ x[n]·e^(−2πi·nk/N), in place.
    void forward(std::complex<float>* data) const noexcept;
    // x[n] = Σ X[k]·e^(+2πi·nk/N), in place; divide by N to undo forward().
    void inverse(std::complex<float>* data) const noexcept;

private:
    template <bool Inverse> void transform(float* data) const noexcept;

    size_t n_ = 0;
    int log2n_ = 0;
    // cos(−2πk/N) + i·sin(−2πk/N) for k < N/2, as interleaved float pairs.
    std::vector<float> twiddles_;
    // The same twiddles laid out per span (8, 16, ... N): span s uses
    // twiddles_[j·N/s] for j < s/2, stored consecutively so that the
    // butterflies read them in order. Span s starts at float offset s − 8.
    std::vector<float> spanTwiddles_;
    std::vector<uint32_t> bitReverse_;
    // The pairs (i, bitReverse_[i]) with i < bitReverse_[i], flattened: the
    // reordering walks them without an unpredictable branch per index.
    std::vector<uint32_t> swaps_;
};

class RealFft {
public:
    // n is a power of two, 2..FftPlan::kMaxSize; false otherwise.
    bool prepare(size_t n);
    size_t size() const { return n_; }
    size_t bins() const { return n_ / 2 + 1; }

    // n real samples to n/2 + 1 bins (bins 0 and n/2 have zero imaginary parts).
    void forward(const float* input, std::complex<float>* bins) noexcept;
    // n/2 + 1 bins to n real samples, unscaled (divide by n to undo forward()).
    // The imaginary parts of bins 0 and n/2 are ignored.
    void inverse(const std::complex<float>* bins, float* output) noexcept;

private:
    size_t n_ = 0;
    FftPlan half_;
    std::vector<std::complex<float>> work_;
    std::vector<float> twiddles_; // e^(−2πik/N) for k < N/2, interleaved
};

} // namespace dsp
