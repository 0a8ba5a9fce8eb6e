#include "dsp/reverb_send.h"

#include <algorithm>
#include <cmath>

namespace dsp {

namespace {
constexpr double kSendExponent = 0.58;
constexpr double kRoomSendScale = 0.855;
} // namespace

float reverbSendLevel(int amount, bool convolutionActive)
{
    if (amount < 1)
        return 0.0f;
    const double x = std::min(amount, 100) / 100.0;
    const double s = std::pow(x, kSendExponent);
    return static_cast<float>(convolutionActive ? s : kRoomSendScale * s);
}

float reverbSendLevel(bool effects, int amount, int echoOn, bool convolutionActive)
{
    if (!effects || (echoOn & 1) == 0)
        return 0.0f;
    return reverbSendLevel(amount, convolutionActive);
}

float cavernCompensationGain(int amount)
{
    if (amount < 1)
        return 1.0f;
    const double x = std::min(amount, 100) / 100.0;
    return static_cast<float>(std::min(1.45, 0.69 * std::pow(x, -0.245)));
}

void ReverbSendFilter::prepare(double sampleRate)
{
    highPass_.setCoeffs(designReverbSendHighPass(sampleRate));
    compressor_.prepare(sampleRate);
    reset();
}

void ReverbSendFilter::reset() noexcept
{
    highPass_.reset();
    compressor_.reset();
}

void ReverbSendFilter::process(const float* voice, float* out, int frames, float send, bool cavern, float* highPassed,
    float* compressorGain) noexcept
{
    for (int i = 0; i < frames; ++i) {
        float x = highPass_.process(std::isfinite(voice[i]) ? voice[i] : 0.0f);
        if (highPassed != nullptr)
            highPassed[i] = x;
        float g = 1.0f;
        if (cavern) {
            g = compressor_.process(x);
            x *= g;
        }
        if (compressorGain != nullptr)
            compressorGain[i] = g;
        out[i] = send * x;
    }
}

} // namespace dsp
