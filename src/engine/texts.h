#pragma once
// The texts the interface shows for the effects: names of the rooms, masks,
// glitch styles and isolation modes, the mask list's headings, and the status
// lines made from the effects' numbers. The effects themselves hold numbers
// only; these tables run in the same order as theirs (row, kind, style, mode).

#include "dsp/glitch_repeater.h"
#include "dsp/mask_table.h"
#include "dsp/room.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace engine {

// Rooms, by preset.
extern const std::array<const char*, dsp::kRoomCount> kRoomNames;
// "Decay: %.2f s   Room: %.0f dB" of a room's decay time and gain.
std::string roomDisplayText(const dsp::RoomParams& params);

// The convolution response: the status line shows the prefix and then
// convolutionStatusText(); the room list shows kConvolutionRoomText for row 8
// while the response is in use.
inline constexpr const char* kConvolutionStatusPrefix = "Convolution IR: ";
inline constexpr const char* kConvolutionRoomText = "Convolution IR: Haunted Cavern";
// "haunted_cavern_ir.wav Loaded" or "Procedural Ovix Core".
const char* convolutionStatusText(bool loaded);

// Masks, by row; the list shows rows 0..17 under the first group.
extern const std::array<const char*, dsp::kMaskCount> kMaskNames;
inline constexpr const char* kMaskListHeading = "Voice Changer & 42 Masks (18 Zephra + 24 Extended)";
inline constexpr const char* kZephraMaskGroup = "Zephra Masks (18):";

// Glitch styles, by style: the name, the hint on the button and the status while active.
struct GlitchStyleText {
    const char* name;
    const char* hint;
    const char* status;
};
extern const std::array<GlitchStyleText, dsp::kGlitchStyleCount> kGlitchStyleTexts;

// The isolation mode's name for the stored mode (read as the effect reads it).
const char* isolationModeName(int32_t stored) noexcept;

// The interface line "Gate %d   Out %+.1f dB   Tone Lo %+.1f  Mid %+.1f  Hi %+.1f"
// for vocal_level and the gate values in tenths of a dB; returns what snprintf returns.
int formatGateLine(
    char* out, size_t size, int32_t vocalLevel, int32_t gateLo, int32_t gateMid, int32_t gateHi, int32_t gateOut);

} // namespace engine
