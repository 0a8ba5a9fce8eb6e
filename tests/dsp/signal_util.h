#pragma once
// Test signals and measurements shared by the DSP suites. Everything is made
// here, deterministically; nothing is read from disk.

#include "dsp/biquad.h"

#include <cmath>
#include <complex>
#include <cstddef>
#include <functional>
#include <vector>

namespace dsp::testing {

inline constexpr double kFs = 48000.0;

// Amplitude of the component at freq in y[from, from + count): the windowed
// DFT bin at exactly freq, exact when the span holds whole periods.
inline double amplitudeAt(const std::vector<float>& y, size_t from, size_t count, double freq)
{
    std::complex<double> sum;
    for (size_t i = 0; i < count; ++i)
        sum += static_cast<double>(y[from + i]) * std::polar(1.0, -2.0 * kPi * freq * static_cast<double>(i) / kFs);
    return 2.0 * std::abs(sum) / static_cast<double>(count);
}

// Runs one second of settling and one second of measurement of a sine at freq
// through `filter` and returns its gain in dB (integer freq: whole periods).
inline double measuredGainDb(const std::function<float(float)>& filter, double freq)
{
    const size_t n = static_cast<size_t>(kFs);
    std::vector<float> out(2 * n);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = filter(static_cast<float>(0.25 * std::sin(2.0 * kPi * freq * static_cast<double>(i) / kFs)));
    return 20.0 * std::log10(amplitudeAt(out, n, n, freq) / 0.25);
}

} // namespace dsp::testing
