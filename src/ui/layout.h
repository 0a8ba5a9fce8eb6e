#pragma once
// Where the window's parts lie on the canvas, for the window's own hit tests
// and for tests that drive the real window by clicks.

#include "ui/geometry.h"

namespace ui {

inline constexpr int kPageCount = 6;
inline constexpr float kCaptionHeight = 37.0f;

Rect pageTabRect(int page);
// Pages 1 (two tabs) and 4 (five tabs); 0 for the others.
int subTabCount(int page);
Rect subTabRect(int page, int tab);

// The nine tools of the caption band, left to right.
enum class CaptionTool { PreviousSetup, Setups, NextSetup, Tone, Soundboard, Help, Reset, Minimise, Close };
inline constexpr int kCaptionToolCount = 9;
Rect captionToolRect(CaptionTool tool);
// The tool under p, or -1.
int captionToolAt(Point p);

// The page's heading line (pages without sub-tabs) and where its content starts.
Rect headingRect();
inline constexpr float kContentTop = 120.0f;
inline constexpr float kContentBottom = 512.0f;
// The status band at the bottom: the toast on the left, the mic meter on the right.
Rect footerRect();
Rect meterRect();
Rect resizeGripRect();

} // namespace ui
