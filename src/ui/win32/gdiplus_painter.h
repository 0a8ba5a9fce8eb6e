#pragma once
// The interface's painter on GDI+: logical units through a world transform
// of (scale, scale), anti-aliased shapes, ClearType text in the faces the
// user's font settings make.

#include "ui/painter.h"

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Gdiplus {
class Graphics;
} // namespace Gdiplus

namespace settings {
struct Settings;
}

namespace ui::win32 {

// Starts GDI+ for the life of the object (the process, in the program).
class GdiPlusSession {
public:
    GdiPlusSession();
    ~GdiPlusSession();
    GdiPlusSession(const GdiPlusSession&) = delete;
    GdiPlusSession& operator=(const GdiPlusSession&) = delete;
    bool started() const { return token_ != 0; }

private:
    ULONG_PTR token_ = 0;
};

// One GDI face per text role, made from the face, size and bold settings at
// the pixel size of the scale (height −size × scale) and weight 700 when
// bold, else 400; headings and the active tab are always bold, small text
// is smaller. GDI substitutes a face the system lacks.
class InterfaceFonts {
public:
    InterfaceFonts();
    ~InterfaceFonts();
    InterfaceFonts(const InterfaceFonts&) = delete;
    InterfaceFonts& operator=(const InterfaceFonts&) = delete;

    // Remakes the faces when the settings name others than the current ones.
    void update(const std::wstring& face, int size, bool bold);
    void update(const settings::Settings& settings);
    // A GDI font of the body face at pixel height −size × scale, for native controls.
    HFONT bodyFont(float scale);
    // The role's face made at its pixel size for scale, kept until the
    // scale or the settings change.
    HFONT pixelFont(TextRole role, float scale);

private:
    int emOf(TextRole role) const;
    bool boldOf(TextRole role) const;
    void dropGdiFonts();

    std::wstring face_;
    int size_ = 0;
    bool bold_ = false;
    std::array<HFONT, 6> gdiFonts_{};
    float gdiFontsScale_ = 0.0f;
};

// Draws on a device context; logical units map to pixels by scale.
class GdiPlusPainter final : public Painter {
public:
    GdiPlusPainter(HDC dc, float scale, InterfaceFonts& fonts);
    // Drawing limited to a rectangle in pixels (the invalid region) through
    // the device context's own clip, restored when the painter goes. GDI+
    // under wine turns a clip of its own into a GDI region at every call,
    // which a partial repaint of a few shapes pays for several times over.
    GdiPlusPainter(HDC dc, float scale, InterfaceFonts& fonts, const RECT& clip);
    ~GdiPlusPainter() override;

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

    // Limits all drawing to a rectangle in pixels (the invalid region).
    void clipPixels(const RECT& pixels);

private:
    // savedDc: the state clipDc saved, restored at the end (0: none).
    GdiPlusPainter(HDC dc, int savedDc, float scale, InterfaceFonts& fonts);

    // Whether anything of bounds (logical units) can show through the clip:
    // drawing that cannot is skipped before it reaches GDI+, which otherwise
    // works through every clipped-away shape and glyph.
    bool visible(const Rect& bounds) const { return bounds.intersects(clipBounds_.back()); }
    // For drawing with GDI on the graphics' device context: r in whole
    // pixels, and the clips GDI+ keeps to itself, in pixels (none when the
    // device context's own clip is the painter's).
    class GdiScope;
    RECT pixelBox(const Rect& r) const;
    std::optional<RECT> pushedClip() const;
    void selectFont(HDC dc, HFONT font);

    // Made before the graphics, which take up the device context's clip.
    HDC dc_;
    int savedDc_ = 0;
    std::unique_ptr<Gdiplus::Graphics> graphics_;
    InterfaceFonts& fonts_;
    float scale_;
    std::vector<unsigned> clipStates_;
    std::vector<Rect> clipBounds_; // the clip's bounds, innermost last; never empty
    bool graphicsClip_ = false; // clipPixels clipped the graphics, not the device context
    HFONT selectedFont_ = nullptr;
    HGDIOBJ originalFont_ = nullptr; // put back when the painter goes
};

// A logical rectangle from a pixel one, grown to whole units.
Rect logicalFromPixels(const RECT& pixels, float scale);
// The pixel rectangle that covers a logical one (one pixel of margin for anti-aliasing).
RECT pixelsFromLogical(const Rect& logical, float scale);

// Paints the window's whole client area off screen and copies it in one
// step, so nothing flickers (straight onto dc when no buffer can be made).
void paintBuffered(HWND hwnd, HDC dc, float scale, InterfaceFonts& fonts, const std::function<void(Painter&)>& draw);

} // namespace ui::win32
