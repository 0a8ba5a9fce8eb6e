#pragma once
// The mic tone window's XY pad as the window lays it out: where a press or a
// drag lands on the pad's −100..100 axes.

#include "settings/settings.h"

#include <cstdint>

namespace ui {

// The pad in the window's logical coordinates: centre, half-width, half-height.
inline constexpr double kTonePadCentreX = 104.0;
inline constexpr double kTonePadCentreY = 150.0;
inline constexpr double kTonePadHalfWidth = 68.0;
inline constexpr double kTonePadHalfHeight = 60.0;

struct PadPosition {
    int32_t x = 0; // −100 (left) .. 100 (right)
    int32_t y = 0; // −100 (bottom) .. 100 (top)
    bool operator==(const PadPosition&) const = default;
};

// The pad position of window point (x, y), rounded, clamped to the pad's edge.
PadPosition tonePadAt(double x, double y) noexcept;

// Press or drag at window point (x, y): moves the pad there.
void toneDragPad(settings::Settings& s, double x, double y);

} // namespace ui
