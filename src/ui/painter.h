#pragma once
// What the interface draws with. Pages draw in logical units; the window's
// painter maps them to pixels (GDI+ with a world transform on Windows), and
// the recording painter keeps the calls for tests.

#include "ui/geometry.h"

#include <span>
#include <string_view>

namespace ui {

// The one type scale of the interface. The window makes the faces from the
// user's font settings; the roles keep their proportions at every size.
enum class TextRole {
    Body,    // labels, values, list rows
    Small,   // units, hints, tooltips
    Heading, // section headings (bold)
    Tab,     // page tabs; the active one is drawn bold
    TabActive,
    Title,   // the caption's title
};

enum class Align { Left, Centre, Right };

class Painter {
public:
    virtual ~Painter() = default;

    virtual void fillRect(const Rect& r, Colour c) = 0;
    // radius 0 draws square corners.
    virtual void fillRoundRect(const Rect& r, float radius, Colour c) = 0;
    virtual void frameRoundRect(const Rect& r, float radius, Colour c, float width) = 0;
    virtual void fillEllipse(const Rect& r, Colour c) = 0;
    virtual void frameEllipse(const Rect& r, Colour c, float width) = 0;
    virtual void line(Point a, Point b, Colour c, float width) = 0;
    // A closed, filled polygon (icons, arrows).
    virtual void fillPolygon(std::span<const Point> points, Colour c) = 0;
    // An open polyline (curves, waveforms).
    virtual void polyline(std::span<const Point> points, Colour c, float width) = 0;

    // Text inside r on one line, vertically centred, never spilling out of r.
    virtual void text(const Rect& r, std::wstring_view text, TextRole role, Colour c, Align align) = 0;
    // Width and height of one line of text in logical units.
    virtual Point measureText(std::wstring_view text, TextRole role) = 0;

    // Clipping nests: the drawing is limited to the intersection of the
    // rectangles pushed and not yet popped.
    virtual void pushClip(const Rect& r) = 0;
    virtual void popClip() = 0;
};

} // namespace ui
