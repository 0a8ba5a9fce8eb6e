#pragma once
// Points and rectangles of the window's logical canvas (860 × 560 units at
// every scale), and its colours as the platform stores them (0x00BBGGRR).

#include <algorithm>
#include <cstdint>

namespace ui {

inline constexpr float kCanvasWidth = 860.0f;
inline constexpr float kCanvasHeight = 560.0f;

using Colour = uint32_t; // 0x00BBGGRR

struct Point {
    float x = 0.0f;
    float y = 0.0f;
    bool operator==(const Point&) const = default;
};

struct Rect {
    float x = 0.0f;
    float y = 0.0f;
    float w = 0.0f;
    float h = 0.0f;

    float right() const noexcept { return x + w; }
    float bottom() const noexcept { return y + h; }
    bool empty() const noexcept { return w <= 0.0f || h <= 0.0f; }
    // Half-open: a point on the right or bottom edge is outside.
    bool contains(Point p) const noexcept { return p.x >= x && p.x < right() && p.y >= y && p.y < bottom(); }
    bool intersects(const Rect& o) const noexcept
    {
        return x < o.right() && o.x < right() && y < o.bottom() && o.y < bottom();
    }
    Rect inset(float dx, float dy) const noexcept { return {x + dx, y + dy, w - 2 * dx, h - 2 * dy}; }
    // The smallest rectangle holding both; an empty one adds nothing.
    Rect unite(const Rect& o) const noexcept
    {
        if (empty())
            return o;
        if (o.empty())
            return *this;
        const float l = std::min(x, o.x), t = std::min(y, o.y);
        return {l, t, std::max(right(), o.right()) - l, std::max(bottom(), o.bottom()) - t};
    }
    bool operator==(const Rect&) const = default;
};

// A rectangle given by its edges, as the layout tables write them.
constexpr Rect edges(float left, float top, float right, float bottom) noexcept
{
    return {left, top, right - left, bottom - top};
}

} // namespace ui
