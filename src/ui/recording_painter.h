#pragma once
// A painter that keeps what was drawn instead of drawing it: for tests that
// assert what a page shows, and for looking at pages without the real window
// (it writes the drawing as SVG). Text is measured by a simple fixed rule, so
// that layouts come out the same on every machine.

#include "ui/painter.h"

#include <string>
#include <vector>

namespace ui {

class RecordingPainter final : public Painter {
public:
    enum class Op { FillRect, FillRoundRect, FrameRoundRect, FillEllipse, FrameEllipse, Line, Polygon, Polyline, Text };
    struct Call {
        Op op = Op::FillRect;
        Rect rect;
        Colour colour = 0;
        float width = 0.0f; // lines and frames; the radius for round rectangles
        std::vector<Point> points;
        std::wstring text;
        TextRole role = TextRole::Body;
        Align align = Align::Left;
        Rect clip; // the clip in force; empty when none
    };

    void fillRect(const Rect& r, Colour c) override;
    void fillRoundRect(const Rect& r, float radius, Colour c) override;
    void frameRoundRect(const Rect& r, float radius, Colour c, float width) override;
    void fillEllipse(const Rect& r, Colour c) override;
    void frameEllipse(const Rect& r, Colour c, float width) override;
    void line(Point a, Point b, Colour c, float width) override;
    void fillPolygon(std::span<const Point> points, Colour c) override;
    void polyline(std::span<const Point> points, Colour c, float width) override;
    void text(const Rect& r, std::wstring_view text, TextRole role, Colour c, Align align) override;
    Point measureText(std::wstring_view text, TextRole role) override;
    void pushClip(const Rect& r) override;
    void popClip() override;

    // Character width and line height of a role, in logical units.
    static float charWidth(TextRole role);
    static float lineHeight(TextRole role);

    std::vector<Call> calls;
    // Texts that did not fit their rectangle (the real painter would cut them).
    std::vector<std::wstring> overflows;
    // The first text call whose text equals t, or nullptr.
    const Call* findText(std::wstring_view t) const;
    // The drawing as an SVG document of a canvas of that size (the main window's by default).
    std::string svg(Point canvas = {kCanvasWidth, kCanvasHeight}) const;

private:
    void add(Call call);
    std::vector<Rect> clips_;
};

} // namespace ui
