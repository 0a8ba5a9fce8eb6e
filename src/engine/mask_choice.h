#pragma once
// Choosing a voice mask in the interface (interface thread only): the mask
// table lives with the effects, which the settings record stands below.

#include "settings/settings.h"

namespace engine {

// Stores the mask index in voice_mask, clamped to −1..41 (−1: no mask). A
// mask row also loads its ratio and size into voice_ratio and voice_size and
// sets pitch_hz and voice_macro to 0, so the mask starts from its own voice;
// choosing no mask leaves the voice settings as they are. Returns whether a
// row was loaded.
bool chooseMask(settings::Settings& settings, int index);

} // namespace engine
