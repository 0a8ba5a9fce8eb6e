#include "ui/win32/gdiplus_painter.h"

#include "settings/settings.h"

// GDI+ needs the COM property types declared first.
#include <objidl.h>

#include <gdiplus.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace ui::win32 {

namespace {

Gdiplus::Color colourOf(Colour c)
{
    return Gdiplus::Color(
        255, static_cast<BYTE>(c & 0xFF), static_cast<BYTE>((c >> 8) & 0xFF), static_cast<BYTE>((c >> 16) & 0xFF));
}

Gdiplus::RectF rectOf(const Rect& r)
{
    return Gdiplus::RectF(r.x, r.y, r.w, r.h);
}

// A rounded rectangle's outline; a radius of 0 gives square corners.
void roundRectPath(Gdiplus::GraphicsPath& path, const Rect& r, float radius)
{
    const float d = std::min({radius * 2.0f, r.w, r.h});
    if (d <= 0.0f) {
        path.AddRectangle(rectOf(r));
        return;
    }
    path.AddArc(r.x, r.y, d, d, 180.0f, 90.0f);
    path.AddArc(r.right() - d, r.y, d, d, 270.0f, 90.0f);
    path.AddArc(r.right() - d, r.bottom() - d, d, d, 0.0f, 90.0f);
    path.AddArc(r.x, r.bottom() - d, d, d, 90.0f, 90.0f);
    path.CloseFigure();
}

std::vector<Gdiplus::PointF> pointsOf(std::span<const Point> points)
{
    std::vector<Gdiplus::PointF> out;
    out.reserve(points.size());
    for (const Point& p : points)
        out.emplace_back(p.x, p.y);
    return out;
}

// Height −em: the em, not the cell, is em units tall; weight 700 or 400.
LOGFONTW logFont(const std::wstring& face, int em, bool bold)
{
    LOGFONTW lf{};
    lf.lfHeight = -em;
    lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    lf.lfQuality = CLEARTYPE_QUALITY;
    lf.lfCharSet = DEFAULT_CHARSET;
    face.copy(lf.lfFaceName, std::min<size_t>(face.size(), LF_FACESIZE - 1));
    return lf;
}

// The box around points, grown by half a stroke (and a unit for anti-aliasing).
Rect boundsOf(std::span<const Point> points, float width)
{
    float left = points.front().x, right = left, top = points.front().y, bottom = top;
    for (const Point& p : points) {
        left = std::min(left, p.x);
        right = std::max(right, p.x);
        top = std::min(top, p.y);
        bottom = std::max(bottom, p.y);
    }
    const float grow = width / 2.0f + 1.0f;
    return edges(left - grow, top - grow, right + grow, bottom + grow);
}
Rect boundsOf(std::initializer_list<Point> points, float width)
{
    return boundsOf(std::span<const Point>(points.begin(), points.size()), width);
}

} // namespace

GdiPlusSession::GdiPlusSession()
{
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&token_, &input, nullptr) != Gdiplus::Ok)
        token_ = 0;
}

GdiPlusSession::~GdiPlusSession()
{
    if (token_)
        Gdiplus::GdiplusShutdown(token_);
}

InterfaceFonts::InterfaceFonts() = default;

InterfaceFonts::~InterfaceFonts()
{
    dropGdiFonts();
}

void InterfaceFonts::update(const settings::Settings& settings)
{
    update(settings.font().empty() ? std::wstring(L"Tahoma") : settings.font(), settings.font_size.load(),
        settings.font_bold.load() != 0);
}

void InterfaceFonts::update(const std::wstring& face, int size, bool bold)
{
    if (size_ && face == face_ && size == size_ && bold == bold_)
        return;
    face_ = face;
    size_ = size;
    bold_ = bold;
    dropGdiFonts();
}

int InterfaceFonts::emOf(TextRole role) const
{
    switch (role) {
    case TextRole::Small:
        return std::max(size_ - 2, 9);
    case TextRole::Heading:
        return size_ + 1;
    case TextRole::Title:
        return size_ + 3;
    default:
        return size_;
    }
}

bool InterfaceFonts::boldOf(TextRole role) const
{
    return bold_ || role == TextRole::Heading || role == TextRole::TabActive;
}

void InterfaceFonts::dropGdiFonts()
{
    for (HFONT& f : gdiFonts_) {
        if (f)
            DeleteObject(f);
        f = nullptr;
    }
}

HFONT InterfaceFonts::pixelFont(TextRole role, float scale)
{
    if (gdiFontsScale_ != scale) {
        dropGdiFonts();
        gdiFontsScale_ = scale;
    }
    HFONT& f = gdiFonts_[static_cast<size_t>(role)];
    if (!f && !face_.empty()) {
        const LOGFONTW lf = logFont(face_, static_cast<int>(std::lround(emOf(role) * scale)), boldOf(role));
        f = CreateFontIndirectW(&lf);
    }
    return f;
}

HFONT InterfaceFonts::bodyFont(float scale)
{
    return pixelFont(TextRole::Body, scale);
}

namespace {
int clipDc(HDC dc, const RECT& clip)
{
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, clip.left, clip.top, clip.right, clip.bottom);
    return saved;
}
} // namespace

GdiPlusPainter::GdiPlusPainter(HDC dc, float scale, InterfaceFonts& fonts, const RECT& clip)
    : GdiPlusPainter(dc, clipDc(dc, clip), scale, fonts)
{
    clipBounds_.assign(1, logicalFromPixels(clip, scale));
}

GdiPlusPainter::GdiPlusPainter(HDC dc, float scale, InterfaceFonts& fonts) : GdiPlusPainter(dc, 0, scale, fonts) { }

GdiPlusPainter::GdiPlusPainter(HDC dc, int savedDc, float scale, InterfaceFonts& fonts)
    : dc_(dc), savedDc_(savedDc), graphics_(std::make_unique<Gdiplus::Graphics>(dc)), fonts_(fonts), scale_(scale)
{
    // Unclipped: as far as coordinates go.
    clipBounds_.push_back({-1e6f, -1e6f, 2e6f, 2e6f});
    graphics_->SetPageUnit(Gdiplus::UnitPixel);
    graphics_->ScaleTransform(scale, scale);
    graphics_->SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    graphics_->SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    graphics_->SetTextRenderingHint(Gdiplus::TextRenderingHintClearTypeGridFit);
}

GdiPlusPainter::~GdiPlusPainter()
{
    graphics_.reset();
    if (originalFont_)
        SelectObject(dc_, originalFont_);
    if (savedDc_)
        RestoreDC(dc_, savedDc_);
}

void GdiPlusPainter::clipPixels(const RECT& pixels)
{
    // The clip region is kept in device pixels, whatever the transform.
    Gdiplus::Region region(
        Gdiplus::Rect(pixels.left, pixels.top, pixels.right - pixels.left, pixels.bottom - pixels.top));
    Gdiplus::Matrix identity;
    Gdiplus::Matrix current;
    graphics_->GetTransform(&current);
    graphics_->SetTransform(&identity);
    graphics_->SetClip(&region);
    graphics_->SetTransform(&current);
    clipBounds_.assign(1, logicalFromPixels(pixels, scale_));
    graphicsClip_ = true;
}

// The graphics' device context for drawing with GDI, with the pushed clips
// (which GDI+ keeps to itself) applied for the scope and put back after it
// as a region rather than through SaveDC: restoring a saved state selects
// its font again, and under wine every font selection costs a lookup of
// the X resources.
class GdiPlusPainter::GdiScope {
public:
    GdiScope(Gdiplus::Graphics& graphics, const std::optional<RECT>& clip) : graphics_(graphics), dc_(graphics.GetHDC())
    {
        if (!dc_ || !clip)
            return;
        clipped_ = true;
        saved_ = CreateRectRgn(0, 0, 0, 0);
        if (saved_ && GetClipRgn(dc_, saved_) != 1) {
            DeleteObject(saved_);
            saved_ = nullptr; // there was no clip: none is put back
        }
        IntersectClipRect(dc_, clip->left, clip->top, clip->right, clip->bottom);
    }
    ~GdiScope()
    {
        if (!dc_)
            return;
        if (clipped_)
            SelectClipRgn(dc_, saved_);
        if (saved_)
            DeleteObject(saved_);
        graphics_.ReleaseHDC(dc_);
    }
    GdiScope(const GdiScope&) = delete;
    GdiScope& operator=(const GdiScope&) = delete;
    HDC dc() const { return dc_; }

private:
    Gdiplus::Graphics& graphics_;
    HDC dc_;
    bool clipped_ = false;
    HRGN saved_ = nullptr;
};

void GdiPlusPainter::fillRect(const Rect& r, Colour c)
{
    if (!visible(r))
        return;
    // Square fills are whole pixels (edges on the grid stay sharp) and go
    // straight to GDI: through GDI+ under wine every fill, however small,
    // pays for a region made from the device context's clip.
    const GdiScope gdi(*graphics_, pushedClip());
    if (!gdi.dc())
        return;
    const RECT box = pixelBox(r);
    SetDCBrushColor(gdi.dc(), c & 0xFFFFFF);
    FillRect(gdi.dc(), &box, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

RECT GdiPlusPainter::pixelBox(const Rect& r) const
{
    return {static_cast<LONG>(std::lround(r.x * scale_)), static_cast<LONG>(std::lround(r.y * scale_)),
        static_cast<LONG>(std::lround(r.right() * scale_)), static_cast<LONG>(std::lround(r.bottom() * scale_))};
}

std::optional<RECT> GdiPlusPainter::pushedClip() const
{
    // The painter's own clip is already the device context's, unless
    // clipPixels put it on the graphics.
    if (clipBounds_.size() < 2 && !graphicsClip_)
        return std::nullopt;
    const Rect& clip = clipBounds_.back();
    return RECT{static_cast<LONG>(std::floor(clip.x * scale_)), static_cast<LONG>(std::floor(clip.y * scale_)),
        static_cast<LONG>(std::ceil(clip.right() * scale_)), static_cast<LONG>(std::ceil(clip.bottom() * scale_))};
}

void GdiPlusPainter::selectFont(HDC dc, HFONT font)
{
    // Kept selected from one text to the next (see GdiScope).
    if (font == selectedFont_)
        return;
    HGDIOBJ old = SelectObject(dc, font);
    if (!originalFont_)
        originalFont_ = old;
    selectedFont_ = font;
}

void GdiPlusPainter::fillRoundRect(const Rect& r, float radius, Colour c)
{
    if (!visible(r))
        return;
    if (radius <= 0.0f) {
        fillRect(r, c);
        return;
    }
    Gdiplus::GraphicsPath path;
    roundRectPath(path, r, radius);
    Gdiplus::SolidBrush brush(colourOf(c));
    graphics_->FillPath(&brush, &path);
}

void GdiPlusPainter::frameRoundRect(const Rect& r, float radius, Colour c, float width)
{
    if (!visible(r))
        return;
    // The stroke lies inside r, as a fill of r would.
    const Rect inner = r.inset(width / 2.0f, width / 2.0f);
    Gdiplus::GraphicsPath path;
    roundRectPath(path, inner, std::max(0.0f, radius - width / 2.0f));
    Gdiplus::Pen pen(colourOf(c), width);
    graphics_->DrawPath(&pen, &path);
}

void GdiPlusPainter::fillEllipse(const Rect& r, Colour c)
{
    if (!visible(r))
        return;
    Gdiplus::SolidBrush brush(colourOf(c));
    graphics_->FillEllipse(&brush, rectOf(r));
}

void GdiPlusPainter::frameEllipse(const Rect& r, Colour c, float width)
{
    if (!visible(r))
        return;
    Gdiplus::Pen pen(colourOf(c), width);
    graphics_->DrawEllipse(&pen, rectOf(r.inset(width / 2.0f, width / 2.0f)));
}

void GdiPlusPainter::line(Point a, Point b, Colour c, float width)
{
    if (!visible(boundsOf({a, b}, width)))
        return;
    Gdiplus::Pen pen(colourOf(c), width);
    graphics_->DrawLine(&pen, a.x, a.y, b.x, b.y);
}

void GdiPlusPainter::fillPolygon(std::span<const Point> points, Colour c)
{
    if (points.size() < 3 || !visible(boundsOf(points, 0.0f)))
        return;
    const auto pts = pointsOf(points);
    Gdiplus::SolidBrush brush(colourOf(c));
    graphics_->FillPolygon(&brush, pts.data(), static_cast<INT>(pts.size()));
}

void GdiPlusPainter::polyline(std::span<const Point> points, Colour c, float width)
{
    if (points.size() < 2 || !visible(boundsOf(points, width)))
        return;
    const auto pts = pointsOf(points);
    Gdiplus::Pen pen(colourOf(c), width);
    pen.SetLineJoin(Gdiplus::LineJoinRound);
    graphics_->DrawLines(&pen, pts.data(), static_cast<INT>(pts.size()));
}

void GdiPlusPainter::text(const Rect& r, std::wstring_view text, TextRole role, Colour c, Align align)
{
    if (!visible(r) || text.empty() || r.empty())
        return;
    // Drawn by GDI in a face made at the pixel size: GDI+ under wine makes
    // and drops a transformed face at every call, which costs most of a
    // small repaint and lets no glyph cache help.
    HFONT font = fonts_.pixelFont(role, scale_);
    if (!font)
        return;
    const GdiScope gdi(*graphics_, pushedClip());
    HDC dc = gdi.dc();
    if (!dc)
        return;
    selectFont(dc, font);
    SetTextColor(dc, c & 0xFFFFFF);
    SetBkMode(dc, TRANSPARENT);
    RECT box = pixelBox(r);
    const UINT alignment = align == Align::Left ? DT_LEFT : align == Align::Centre ? DT_CENTER : DT_RIGHT;
    // The box clips: text never spills out of r.
    DrawTextW(dc, text.data(), static_cast<int>(text.size()), &box,
        alignment | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
}

Point GdiPlusPainter::measureText(std::wstring_view text, TextRole role)
{
    HFONT font = fonts_.pixelFont(role, scale_);
    if (!font)
        return {};
    const GdiScope gdi(*graphics_, std::nullopt);
    HDC dc = gdi.dc();
    if (!dc)
        return {};
    selectFont(dc, font);
    SIZE size{};
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    if (!text.empty())
        GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &size);
    return {static_cast<float>(size.cx) / scale_, static_cast<float>(metrics.tmHeight) / scale_};
}

void GdiPlusPainter::pushClip(const Rect& r)
{
    clipStates_.push_back(graphics_->Save());
    graphics_->IntersectClip(rectOf(r));
    const Rect& outer = clipBounds_.back();
    const float left = std::max(outer.x, r.x), top = std::max(outer.y, r.y);
    clipBounds_.push_back(edges(left, top, std::max(left, std::min(outer.right(), r.right())),
        std::max(top, std::min(outer.bottom(), r.bottom()))));
}

void GdiPlusPainter::popClip()
{
    if (clipStates_.empty())
        return;
    graphics_->Restore(clipStates_.back());
    clipStates_.pop_back();
    clipBounds_.pop_back();
}

Rect logicalFromPixels(const RECT& pixels, float scale)
{
    const float left = std::floor(static_cast<float>(pixels.left) / scale);
    const float top = std::floor(static_cast<float>(pixels.top) / scale);
    const float right = std::ceil(static_cast<float>(pixels.right) / scale);
    const float bottom = std::ceil(static_cast<float>(pixels.bottom) / scale);
    return edges(left, top, right, bottom);
}

RECT pixelsFromLogical(const Rect& logical, float scale)
{
    return {static_cast<LONG>(std::floor(logical.x * scale)) - 1, static_cast<LONG>(std::floor(logical.y * scale)) - 1,
        static_cast<LONG>(std::ceil(logical.right() * scale)) + 1,
        static_cast<LONG>(std::ceil(logical.bottom() * scale)) + 1};
}

void paintBuffered(HWND hwnd, HDC dc, float scale, InterfaceFonts& fonts, const std::function<void(Painter&)>& draw)
{
    RECT client{};
    GetClientRect(hwnd, &client);
    HDC back = CreateCompatibleDC(dc);
    HBITMAP bitmap = back ? CreateCompatibleBitmap(dc, client.right, client.bottom) : nullptr;
    HDC target = bitmap ? back : dc;
    HGDIOBJ old = bitmap ? SelectObject(back, bitmap) : nullptr;
    {
        GdiPlusPainter painter(target, scale, fonts);
        draw(painter);
    }
    if (bitmap) {
        BitBlt(dc, 0, 0, client.right, client.bottom, back, 0, 0, SRCCOPY);
        SelectObject(back, old);
        DeleteObject(bitmap);
    }
    if (back)
        DeleteDC(back);
}

} // namespace ui::win32
