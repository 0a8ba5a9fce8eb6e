#include "ui/layout.h"

namespace ui {
namespace {

constexpr float kMargin = 16.0f;
constexpr float kGap = 8.0f;
constexpr float kWidth = kCanvasWidth - 2 * kMargin;

// Tools as the caption band lays them out (edges in logical units).
constexpr Rect kCaptionTools[kCaptionToolCount] = {
    edges(222, 8, 244, 30),
    edges(246, 8, 434, 30),
    edges(436, 8, 458, 30),
    edges(466, 8, 538, 30),
    edges(544, 8, 672, 30),
    edges(720, 8, 758, 30),
    edges(758, 8, 774, 30),
    edges(792, 8, 818, 30),
    edges(822, 8, 848, 30),
};

} // namespace

// Six tabs across the canvas between the margins, each as wide as its label
// needs, so that every label keeps the tab size of text.
Rect pageTabRect(int page)
{
    constexpr float gap = kGap / 2;
    constexpr float widths[kPageCount] = {108, 124, 138, 132, 134, 172};
    static_assert(widths[0] + widths[1] + widths[2] + widths[3] + widths[4] + widths[5] + (kPageCount - 1) * gap
        == kWidth);
    if (page < 0 || page >= kPageCount)
        return {};
    float x = kMargin;
    for (int i = 0; i < page; ++i)
        x += widths[i] + gap;
    return {x, 44.0f, widths[page], 28.0f};
}

int subTabCount(int page)
{
    return page == 1 ? 2 : page == 4 ? 5 : 0;
}

Rect subTabRect(int page, int tab)
{
    const int count = subTabCount(page);
    if (count == 0 || tab < 0 || tab >= count)
        return {};
    const float w = (kWidth - static_cast<float>(count - 1) * kGap) / static_cast<float>(count);
    return {kMargin + static_cast<float>(tab) * (w + kGap), 80.0f, w, 28.0f};
}

Rect captionToolRect(CaptionTool tool)
{
    return kCaptionTools[static_cast<int>(tool)];
}

int captionToolAt(Point p)
{
    for (int i = 0; i < kCaptionToolCount; ++i)
        if (kCaptionTools[i].contains(p))
            return i;
    return -1;
}

Rect headingRect()
{
    return {kMargin, 80.0f, kWidth, 28.0f};
}
Rect footerRect()
{
    return {kMargin, 520.0f, kWidth, 24.0f};
}
Rect meterRect()
{
    return {kCanvasWidth - kMargin - 232.0f, 520.0f, 232.0f, 24.0f};
}
Rect resizeGripRect()
{
    return {kCanvasWidth - 14.0f, kCanvasHeight - 14.0f, 12.0f, 12.0f};
}

} // namespace ui
