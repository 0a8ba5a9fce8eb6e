#pragma once
// The glitch repeater as the stereo mask processors run it: two channels,
// after the mask, held by the same button or key as the voice's repeater.

#include "dsp/glitch_repeater.h"
#include "dsp/mask_processor.h"

namespace dsp {

class StereoGlitch final : public MaskGlitchHook {
public:
    void prepare(double sampleRate) override { repeater_.prepare(sampleRate, 2); }
    void reset() noexcept override { repeater_.reset(); }
    // The style is stored first, so a press in this call starts the current one.
    void setGlitch(bool held, int style) noexcept override
    {
        repeater_.setStyle(style);
        repeater_.setHeld(held);
    }
    void process(float* left, float* right, int frames) noexcept override { repeater_.process(left, right, frames); }

    const GlitchRepeater& repeater() const noexcept { return repeater_; }

private:
    GlitchRepeater repeater_;
};

} // namespace dsp
