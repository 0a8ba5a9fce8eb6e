#pragma once
// All audio runs at one rate: the streams the program opens, the effects, the
// mix and every stored sound.

#include <cstdint>

namespace platform {

inline constexpr uint32_t kSampleRate = 48000;

} // namespace platform
