#pragma once
// The interface's palette and grid. Colours are the program's theme colours
// (0x00BBGGRR); everything is laid out on an 8-unit step with 16-unit margins.

#include "ui/geometry.h"

namespace ui::theme {

inline constexpr Colour kCanvas = 0xFFFFFF;
inline constexpr Colour kPanel = 0xDADADA;     // caption band, tracks, idle fills
inline constexpr Colour kTrack = 0xC8C8C8;     // borders, off switches
inline constexpr Colour kAccent = 0xC97301;    // on, selected, focus; white text on it reads at 4.9:1
inline constexpr Colour kAccentHot = 0xFF7200; // hover of accented parts (no text on it)
inline constexpr Colour kText = 0x1E1E1E;
inline constexpr Colour kTextDim = 0x5A5A5A;  // units, hints: 6.9:1 on white, 4.9:1 on the panel grey
inline constexpr Colour kDisabled = 0x8D8D8D; // disabled parts (with a changed shape, not colour alone)
inline constexpr Colour kBorder = 0x646464;
inline constexpr Colour kWhite = 0xFFFFFF;
inline constexpr Colour kHover = 0xEEEEEE; // a light wash under the pointer
inline constexpr Colour kTipBack = 0xE1FFFF;
inline constexpr Colour kTipText = 0x1E1E1E;
inline constexpr Colour kTipFrame = 0x7C7C7C;
inline constexpr Colour kRunning = 0x3E8818;
inline constexpr Colour kConnecting = 0x006CC2;
inline constexpr Colour kDanger = 0x2020C0; // the close button's hover (red)

inline constexpr float kGrid = 8.0f;
inline constexpr float kMargin = 16.0f;
inline constexpr float kRowHeight = 24.0f; // list rows, drop-down rows, buttons
inline constexpr float kTipMaxWidth = 320.0f;

// Blends a toward b by t (0..1), per channel.
constexpr Colour mix(Colour a, Colour b, float t) noexcept
{
    Colour out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const float ca = static_cast<float>((a >> shift) & 0xFF);
        const float cb = static_cast<float>((b >> shift) & 0xFF);
        out |= static_cast<Colour>(ca + (cb - ca) * t + 0.5f) << shift;
    }
    return out;
}

} // namespace ui::theme
