#include "engine/glitch_stage.h"

namespace engine {

void GlitchStage::prepare(double sampleRate, uint32_t /*maxFrames*/)
{
    repeater_.prepare(sampleRate, 1);
    maskWasOn_ = false;
}

void GlitchStage::reset() noexcept
{
    repeater_.reset();
    maskWasOn_ = false;
}

void GlitchStage::glitch(Block& block, bool active) noexcept
{
    if (block.settings != nullptr) {
        const bool masked = (block.settings->mask_on & 1) != 0;
        if (masked && !maskWasOn_)
            repeater_.reset();
        maskWasOn_ = masked;
        repeater_.setStyle(block.settings->glitch_style);
    }
    repeater_.setHeld(active);
    repeater_.process(block.voice, nullptr, static_cast<int>(block.frames));
}

} // namespace engine
