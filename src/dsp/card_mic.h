#pragma once
// The fixed card-mic voicing ("Card Mic Tone curve (Vantor Zephra voicing)"):
// a low shelf lifting the body of the voice and a gentle cut in the upper
// mids. Switching it on or off crossfades over 10 ms rather than stepping.

#include "dsp/biquad.h"
#include "dsp/crossfade.h"

namespace dsp {

class CardMicVoicing {
public:
    // The voicing the engine uses: 200 Hz shelf +5 dB (slope 1), 1700 Hz peak −1.5 dB, Q 1.
    void prepare(double sampleRate) { prepare(sampleRate, 5.0, 200.0, -1.5, 1700.0, 1.0); }
    void prepare(double sampleRate, double shelfDb, double shelfHz, double peakDb, double peakHz, double q);
    void reset() noexcept;
    void enable(bool on) noexcept;
    bool enabled() const { return fade_.target() > 0.5f; }
    // One sample: single-precision in and out, double filter state.
    float process(float x) noexcept
    {
        if (fade_.settled() && fade_.value() == 0.0f)
            return x;
        const float y = peak_.process(shelf_.process(x));
        return fade_.mix(x, y);
    }
    void process(float* samples, int frames) noexcept
    {
        for (int i = 0; i < frames; ++i)
            samples[i] = process(samples[i]);
    }

private:
    Biquad shelf_;
    Biquad peak_;
    SmoothedSwitch fade_;
};

} // namespace dsp
