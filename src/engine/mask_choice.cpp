#include "engine/mask_choice.h"

#include "dsp/mask_table.h"

#include <algorithm>

namespace engine {

bool chooseMask(settings::Settings& settings, int index)
{
    index = std::clamp(index, -1, dsp::kMaskCount - 1);
    const dsp::MaskRow* row = dsp::findMask(index);
    // One transaction: an engine block sees the new mask with its own voice.
    settings::Settings::Transaction transaction(settings);
    if (row) {
        settings.set(&settings::Settings::voice_ratio, row->ratio);
        settings.set(&settings::Settings::voice_size, row->size);
        settings.set(&settings::Settings::pitch_hz, 0);
        settings.set(&settings::Settings::voice_macro, 0);
    }
    settings.set(&settings::Settings::voice_mask, index);
    return row != nullptr;
}

} // namespace engine
