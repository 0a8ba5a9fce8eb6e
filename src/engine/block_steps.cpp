#include "engine/block_steps.h"

#include <algorithm>

namespace engine {

void BlockSteps::environment(Block& block) noexcept
{
    std::fill_n(block.wetCable, block.frames, 0.0f);
    std::fill_n(block.wetMonitor, block.frames, 0.0f);
}

void BlockSteps::voiceOutput(Block& block) noexcept
{
    for (uint32_t i = 0; i < block.frames; ++i) {
        const float c = block.voice[i] + block.wetCable[i];
        const float m = block.voice[i] + block.wetMonitor[i];
        block.cable[2 * i] = c;
        block.cable[2 * i + 1] = c;
        block.monitor[2 * i] = m;
        block.monitor[2 * i + 1] = m;
    }
}

} // namespace engine
