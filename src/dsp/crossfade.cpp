#include "dsp/crossfade.h"

#include "dsp/biquad.h"

#include <algorithm>
#include <cmath>

namespace dsp {

void fillRisingCrossfade(float* table, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        const double s = std::sin((static_cast<double>(i) + 0.5) * (kPi / 2.0) / static_cast<double>(n));
        table[i] = static_cast<float>(s * s);
    }
}

void fillGrainWindow(float* table, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        const double s = std::sin(kPi * static_cast<double>(i) / static_cast<double>(n));
        table[i] = static_cast<float>(s * s);
    }
}

void fillSqrtHann(float* table, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        const double c = std::cos(2.0 * kPi * static_cast<double>(i) / static_cast<double>(n));
        table[i] = static_cast<float>(std::sqrt(std::fmax(0.0, 0.5 - 0.5 * c)));
    }
}

void CrossfadeTable::prepare(size_t n)
{
    table_.assign(n, 0.0f);
    fillRisingCrossfade(table_.data(), n);
}

void SmoothedSwitch::prepare(double seconds, double sampleRate)
{
    const double frames = seconds * sampleRate;
    step_ = frames > 1.0 ? static_cast<float>(1.0 / frames) : 1.0f;
}

} // namespace dsp
