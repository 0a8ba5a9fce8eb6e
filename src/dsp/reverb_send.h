#pragma once
// The voice's way into the environment: the send level law from `amount`
// (percent), the cavern's tap compensation gain, and the send filter (the
// 20 Hz high-pass, and for "Haunted Cavern" the input compressor behind it).

#include "dsp/biquad.h"
#include "dsp/gain.h"

namespace dsp {

// The send level: 0 when `effects` is off, `amount` < 1 or the voice is not
// routed to the echo (bit 0 of `echo_on` clear); else x^0.58 on the
// convolution response and 0.855·x^0.58 on a room, x = amount/100 (clamped to 0..1).
float reverbSendLevel(bool effects, int amount, int echoOn, bool convolutionActive);
// The same law for an already gated send (clips and application audio gate by other bits).
float reverbSendLevel(int amount, bool convolutionActive);

// Compensation gain of the cavern's explicit taps: min(1.45, 0.69·x^−0.245), 1 when amount < 1.
float cavernCompensationGain(int amount);

// The filter in front of the send. For the cavern the compressor's gain
// is also handed out, because the two plates split the send by it.
class ReverbSendFilter {
public:
    // Designs the high-pass and clears the state (allocates nothing).
    void prepare(double sampleRate);
    void reset() noexcept;

    // out[i] = send · filtered voice. With `cavern` the high-passed voice is
    // also compressed. When given, `highPassed` receives the high-passed voice
    // before the compressor (the slap echo's input) and `compressorGain` the
    // per-frame compressor gain (1 without `cavern`). Non-finite voice
    // samples count as silence.
    void process(const float* voice, float* out, int frames, float send, bool cavern, float* highPassed = nullptr,
        float* compressorGain = nullptr) noexcept;

private:
    Biquad highPass_;
    InputCompressor compressor_;
};

} // namespace dsp
