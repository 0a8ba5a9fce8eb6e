#pragma once
// The engine's side of the glitch repeater: one mono repeater on the voice
// (block-cycle step 8). It reads glitch_style every block (a new style takes
// effect at the next press), holds the repeater while the engine says the
// glitch is active (bit 0 of mask_on and the glitch button or key), and
// resets it when the mask path switches on, so a press never reaches back
// into voice from before the path was on. The repeater records every block,
// held or not. Engine thread only; never allocates after prepare().

#include "dsp/glitch_repeater.h"
#include "engine/block_steps.h"

#include <cstdint>

namespace engine {

class GlitchStage {
public:
    void prepare(double sampleRate, uint32_t maxFrames);
    void reset() noexcept;

    // Step 8, every block.
    void glitch(Block& block, bool active) noexcept;

    // What the interface shows as "Glitching Now!": held, in its tail or still fading out.
    bool glitching() const noexcept { return repeater_.active(); }
    const dsp::GlitchRepeater& repeater() const noexcept { return repeater_; }

private:
    dsp::GlitchRepeater repeater_;
    bool maskWasOn_ = false;
};

} // namespace engine
