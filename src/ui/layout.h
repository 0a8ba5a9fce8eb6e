#pragma once
// Where the window's tabs lie on the canvas, for the window's own hit tests
// and for tests that drive the real window by clicks.

#include "ui/geometry.h"

namespace ui {

inline constexpr int kPageCount = 6;
inline constexpr float kCaptionHeight = 37.0f;

Rect pageTabRect(int page);
// Pages 1 (two tabs) and 4 (five tabs); 0 for the others.
int subTabCount(int page);
Rect subTabRect(int page, int tab);

} // namespace ui
