#include "engine/mask_choice.h"

#include "dsp/mask_table.h"

#include <algorithm>

namespace engine {

bool chooseMask(settings::Settings& settings, int index)
{
    index = std::clamp(index, -1, dsp::kMaskCount - 1);
    const dsp::MaskRow* row = dsp::findMask(index);
    if (row) {
        settings.voice_ratio.store(row->ratio, std::memory_order_relaxed);
        settings.voice_size.store(row->size, std::memory_order_relaxed);
        settings.pitch_hz.store(0, std::memory_order_relaxed);
        settings.voice_macro.store(0, std::memory_order_relaxed);
    }
    // The index goes last: an engine block that sees the new mask also sees its voice.
    settings.voice_mask.store(index, std::memory_order_release);
    return row != nullptr;
}

} // namespace engine
