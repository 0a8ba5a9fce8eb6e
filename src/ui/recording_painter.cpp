#include "ui/recording_painter.h"

#include <cstdio>

namespace ui {

float RecordingPainter::charWidth(TextRole role)
{
    switch (role) {
    case TextRole::Small:
        return 5.5f;
    case TextRole::Heading:
    case TextRole::Title:
        return 7.5f;
    case TextRole::TabActive:
        return 7.0f;
    default:
        return 6.5f;
    }
}

float RecordingPainter::lineHeight(TextRole role)
{
    switch (role) {
    case TextRole::Small:
        return 13.0f;
    case TextRole::Heading:
    case TextRole::Title:
        return 17.0f;
    default:
        return 15.0f;
    }
}

namespace {
RecordingPainter::Call make(RecordingPainter::Op op, const Rect& r, Colour c, float width = 0.0f)
{
    RecordingPainter::Call call;
    call.op = op;
    call.rect = r;
    call.colour = c;
    call.width = width;
    return call;
}
} // namespace

void RecordingPainter::add(Call call)
{
    call.clip = clips_.empty() ? Rect{} : clips_.back();
    calls.push_back(std::move(call));
}

void RecordingPainter::fillRect(const Rect& r, Colour c)
{
    add(make(Op::FillRect, r, c));
}
void RecordingPainter::fillRoundRect(const Rect& r, float radius, Colour c)
{
    add(make(Op::FillRoundRect, r, c, radius));
}
void RecordingPainter::frameRoundRect(const Rect& r, float radius, Colour c, float width)
{
    Call call = make(Op::FrameRoundRect, r, c, width);
    call.points = {{radius, 0}};
    add(std::move(call));
}
void RecordingPainter::fillEllipse(const Rect& r, Colour c)
{
    add(make(Op::FillEllipse, r, c));
}
void RecordingPainter::frameEllipse(const Rect& r, Colour c, float width)
{
    add(make(Op::FrameEllipse, r, c, width));
}
void RecordingPainter::line(Point a, Point b, Colour c, float width)
{
    Call call = make(Op::Line, {}, c, width);
    call.points = {a, b};
    add(std::move(call));
}
void RecordingPainter::fillPolygon(std::span<const Point> points, Colour c)
{
    Call call = make(Op::Polygon, {}, c);
    call.points.assign(points.begin(), points.end());
    add(std::move(call));
}
void RecordingPainter::polyline(std::span<const Point> points, Colour c, float width)
{
    Call call = make(Op::Polyline, {}, c, width);
    call.points.assign(points.begin(), points.end());
    add(std::move(call));
}

void RecordingPainter::text(const Rect& r, std::wstring_view text, TextRole role, Colour c, Align align)
{
    Call call = make(Op::Text, r, c);
    call.text = std::wstring(text);
    call.role = role;
    call.align = align;
    const Point size = measureText(text, role);
    if (size.x > r.w + 0.01f || size.y > r.h + 0.01f)
        overflows.push_back(call.text);
    add(std::move(call));
}

Point RecordingPainter::measureText(std::wstring_view text, TextRole role)
{
    return {charWidth(role) * static_cast<float>(text.size()), lineHeight(role)};
}

void RecordingPainter::pushClip(const Rect& r)
{
    if (clips_.empty()) {
        clips_.push_back(r);
        return;
    }
    const Rect& o = clips_.back();
    const float l = std::max(r.x, o.x), t = std::max(r.y, o.y);
    clips_.push_back({l, t, std::max(0.0f, std::min(r.right(), o.right()) - l),
        std::max(0.0f, std::min(r.bottom(), o.bottom()) - t)});
}

void RecordingPainter::popClip()
{
    if (!clips_.empty())
        clips_.pop_back();
}

const RecordingPainter::Call* RecordingPainter::findText(std::wstring_view t) const
{
    for (const auto& call : calls)
        if (call.op == Op::Text && call.text == t)
            return &call;
    return nullptr;
}

namespace {

std::string colour(Colour c)
{
    char out[8];
    std::snprintf(out, sizeof out, "#%02x%02x%02x", c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
    return out;
}

std::string number(float v)
{
    char out[32];
    std::snprintf(out, sizeof out, "%.2f", v);
    return out;
}

std::string escaped(const std::wstring& text)
{
    std::string out;
    for (wchar_t ch : text) {
        const auto c = static_cast<uint32_t>(ch);
        if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '&')
            out += "&amp;";
        else if (c == '"')
            out += "&quot;";
        else if (c < 0x80)
            out += static_cast<char>(c);
        else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string pointList(const std::vector<Point>& points)
{
    std::string out;
    for (const auto& p : points)
        out += number(p.x) + "," + number(p.y) + " ";
    return out;
}

} // namespace

std::string RecordingPainter::svg(Point canvas) const
{
    std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(canvas.x) + "\" height=\""
        + number(canvas.y) + "\">\n";
    int clipId = 0;
    for (const auto& c : calls) {
        std::string clip;
        if (!c.clip.empty()) {
            out += "<clipPath id=\"c" + std::to_string(++clipId) + "\"><rect x=\"" + number(c.clip.x) + "\" y=\""
                + number(c.clip.y) + "\" width=\"" + number(c.clip.w) + "\" height=\"" + number(c.clip.h)
                + "\"/></clipPath>\n";
            clip = " clip-path=\"url(#c" + std::to_string(clipId) + ")\"";
        }
        const std::string box = "x=\"" + number(c.rect.x) + "\" y=\"" + number(c.rect.y) + "\" width=\""
            + number(c.rect.w) + "\" height=\"" + number(c.rect.h) + "\"";
        const std::string ellipse = "cx=\"" + number(c.rect.x + c.rect.w / 2) + "\" cy=\""
            + number(c.rect.y + c.rect.h / 2) + "\" rx=\"" + number(c.rect.w / 2) + "\" ry=\"" + number(c.rect.h / 2)
            + "\"";
        switch (c.op) {
        case Op::FillRect:
            out += "<rect " + box + " fill=\"" + colour(c.colour) + "\"" + clip + "/>\n";
            break;
        case Op::FillRoundRect:
            out += "<rect " + box + " rx=\"" + number(c.width) + "\" fill=\"" + colour(c.colour) + "\"" + clip + "/>\n";
            break;
        case Op::FrameRoundRect:
            out += "<rect " + box + " rx=\"" + number(c.points[0].x) + "\" fill=\"none\" stroke=\"" + colour(c.colour)
                + "\" stroke-width=\"" + number(c.width) + "\"" + clip + "/>\n";
            break;
        case Op::FillEllipse:
            out += "<ellipse " + ellipse + " fill=\"" + colour(c.colour) + "\"" + clip + "/>\n";
            break;
        case Op::FrameEllipse:
            out += "<ellipse " + ellipse + " fill=\"none\" stroke=\"" + colour(c.colour) + "\" stroke-width=\""
                + number(c.width) + "\"" + clip + "/>\n";
            break;
        case Op::Line:
        case Op::Polyline:
            out += "<polyline points=\"" + pointList(c.points) + "\" fill=\"none\" stroke=\"" + colour(c.colour)
                + "\" stroke-width=\"" + number(c.width) + "\"" + clip + "/>\n";
            break;
        case Op::Polygon:
            out += "<polygon points=\"" + pointList(c.points) + "\" fill=\"" + colour(c.colour) + "\"" + clip + "/>\n";
            break;
        case Op::Text: {
            const float size = lineHeight(c.role) * 0.8f;
            const char* anchor = c.align == Align::Left ? "start" : c.align == Align::Centre ? "middle" : "end";
            const float x = c.align == Align::Left ? c.rect.x
                : c.align == Align::Centre         ? c.rect.x + c.rect.w / 2
                                                   : c.rect.right();
            const bool bold = c.role == TextRole::Heading || c.role == TextRole::TabActive || c.role == TextRole::Title;
            out += "<text x=\"" + number(x) + "\" y=\"" + number(c.rect.y + c.rect.h / 2 + size * 0.35f)
                + "\" font-family=\"DejaVu Sans\" font-size=\"" + number(size) + "\" text-anchor=\"" + anchor
                + "\" fill=\"" + colour(c.colour) + "\"" + (bold ? " font-weight=\"bold\"" : "") + clip + ">"
                + escaped(c.text) + "</text>\n";
            break;
        }
        }
    }
    return out + "</svg>\n";
}

} // namespace ui
