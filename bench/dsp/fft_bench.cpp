// Our radix-2 FFT next to FFTW (estimate-mode plans, the cost a program pays
// without a planning phase) and KissFFT, single precision, complex and real
// input, at the sizes the spectral engines and the long analyses use.
// Figures are ours / theirs: below 1 means ours is faster.

#include "bench_main.h"

#include "dsp/fft.h"
#include "dsp/random.h"

#include <benchmark/benchmark.h>

#include <complex>
#include <string>
#include <vector>

#ifdef OVIX_BENCH_FFTW
#include <fftw3.h>
#endif
#ifdef OVIX_BENCH_KISSFFT
#include <kissfft/kiss_fft.h>
#include <kissfft/kiss_fftr.h>
#endif

namespace {

std::vector<std::complex<float>> complexNoise(size_t n)
{
    dsp::Lcg g{1};
    std::vector<std::complex<float>> x(n);
    for (auto& v : x)
        v = {g.bipolar(), g.bipolar()};
    return x;
}

std::vector<float> realNoise(size_t n)
{
    dsp::Lcg g{2};
    std::vector<float> x(n);
    for (auto& v : x)
        v = g.bipolar();
    return x;
}

// Each iteration transforms a fresh copy of the same input, for every library alike.
void BM_OvixComplex(benchmark::State& state)
{
    const auto n = static_cast<size_t>(state.range(0));
    dsp::FftPlan plan;
    plan.prepare(n);
    const auto input = complexNoise(n);
    auto data = input;
    for (auto _ : state) {
        std::copy(input.begin(), input.end(), data.begin());
        plan.forward(data.data());
        benchmark::DoNotOptimize(data.data());
    }
}
BENCHMARK(BM_OvixComplex)->Arg(1024)->Arg(8192);

void BM_OvixReal(benchmark::State& state)
{
    const auto n = static_cast<size_t>(state.range(0));
    dsp::RealFft plan;
    plan.prepare(n);
    const auto input = realNoise(n);
    std::vector<std::complex<float>> bins(n / 2 + 1);
    for (auto _ : state) {
        plan.forward(input.data(), bins.data());
        benchmark::DoNotOptimize(bins.data());
    }
}
BENCHMARK(BM_OvixReal)->Arg(1024)->Arg(8192);

#ifdef OVIX_BENCH_FFTW
void BM_FftwComplex(benchmark::State& state)
{
    const auto n = static_cast<int>(state.range(0));
    const auto input = complexNoise(static_cast<size_t>(n));
    auto* data = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * static_cast<size_t>(n)));
    fftwf_plan plan = fftwf_plan_dft_1d(n, data, data, FFTW_FORWARD, FFTW_ESTIMATE);
    for (auto _ : state) {
        std::copy(input.begin(), input.end(), reinterpret_cast<std::complex<float>*>(data));
        fftwf_execute(plan);
        benchmark::DoNotOptimize(data);
    }
    fftwf_destroy_plan(plan);
    fftwf_free(data);
}
BENCHMARK(BM_FftwComplex)->Arg(1024)->Arg(8192);

void BM_FftwReal(benchmark::State& state)
{
    const auto n = static_cast<int>(state.range(0));
    const auto input = realNoise(static_cast<size_t>(n));
    auto* in = static_cast<float*>(fftwf_malloc(sizeof(float) * static_cast<size_t>(n)));
    auto* out = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * static_cast<size_t>(n / 2 + 1)));
    std::copy(input.begin(), input.end(), in);
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE);
    for (auto _ : state) {
        fftwf_execute(plan);
        benchmark::DoNotOptimize(out);
    }
    fftwf_destroy_plan(plan);
    fftwf_free(in);
    fftwf_free(out);
}
BENCHMARK(BM_FftwReal)->Arg(1024)->Arg(8192);
#endif

#ifdef OVIX_BENCH_KISSFFT
void BM_KissComplex(benchmark::State& state)
{
    const auto n = static_cast<int>(state.range(0));
    const auto input = complexNoise(static_cast<size_t>(n));
    std::vector<kiss_fft_cpx> in(static_cast<size_t>(n)), out(static_cast<size_t>(n));
    kiss_fft_cfg cfg = kiss_fft_alloc(n, 0, nullptr, nullptr);
    for (auto _ : state) {
        std::copy(input.begin(), input.end(), reinterpret_cast<std::complex<float>*>(in.data()));
        kiss_fft(cfg, in.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    kiss_fft_free(cfg);
}
BENCHMARK(BM_KissComplex)->Arg(1024)->Arg(8192);

void BM_KissReal(benchmark::State& state)
{
    const auto n = static_cast<int>(state.range(0));
    const auto input = realNoise(static_cast<size_t>(n));
    std::vector<kiss_fft_cpx> out(static_cast<size_t>(n / 2 + 1));
    kiss_fftr_cfg cfg = kiss_fftr_alloc(n, 0, nullptr, nullptr);
    for (auto _ : state) {
        kiss_fftr(cfg, input.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    kiss_fftr_free(cfg);
}
BENCHMARK(BM_KissReal)->Arg(1024)->Arg(8192);
#endif

// ours / theirs for one kind ("Complex" or "Real") and size.
bool ratio(const bench::Results& r, const std::string& kind, const std::string& other, int n, double& value)
{
    const std::string ours = "BM_Ovix" + kind + "/" + std::to_string(n);
    const std::string theirs = "BM_" + other + kind + "/" + std::to_string(n);
    if (!r.count(ours) || !r.count(theirs))
        return false;
    value = r.at(ours) / r.at(theirs);
    return true;
}

#define OVIX_FFT_FIGURE(var, name, kind, other, n)                                                                     \
    OVIX_FIGURE(var, name, [](const bench::Results& r, double& v) { return ratio(r, kind, other, n, v); })

OVIX_FFT_FIGURE(f1, "fft1024_vs_fftw", "Complex", "Fftw", 1024);
OVIX_FFT_FIGURE(f2, "fft8192_vs_fftw", "Complex", "Fftw", 8192);
OVIX_FFT_FIGURE(f3, "fft1024_vs_kissfft", "Complex", "Kiss", 1024);
OVIX_FFT_FIGURE(f4, "fft8192_vs_kissfft", "Complex", "Kiss", 8192);
OVIX_FFT_FIGURE(f5, "rfft1024_vs_fftw", "Real", "Fftw", 1024);
OVIX_FFT_FIGURE(f6, "rfft8192_vs_fftw", "Real", "Fftw", 8192);
OVIX_FFT_FIGURE(f7, "rfft1024_vs_kissfft", "Real", "Kiss", 1024);
OVIX_FFT_FIGURE(f8, "rfft8192_vs_kissfft", "Real", "Kiss", 8192);

} // namespace
