#include "ui/window_placement.h"

#include <algorithm>
#include <cmath>

namespace ui {

int effectiveDpi(int monitorDpi, int screenDpi) noexcept
{
    if (monitorDpi >= 48)
        return monitorDpi;
    return screenDpi >= 48 ? screenDpi : 96;
}

float windowScale(const WorkArea& area, int dpi, int zoomPercent) noexcept
{
    const double byHeight = (area.height - 8) / static_cast<double>(kCanvasHeight);
    const double byWidth = (area.width - 8) / static_cast<double>(kCanvasWidth);
    const double byDpi = dpi / 96.0 * zoomPercent / 100.0;
    const double scale = std::min({byHeight, byWidth, byDpi});
    return static_cast<float>(std::clamp(scale, static_cast<double>(kMinScale), static_cast<double>(kMaxScale)));
}

WindowSize windowSize(float scale) noexcept
{
    return {static_cast<int>(std::lround(kCanvasWidth * scale)), static_cast<int>(std::lround(kCanvasHeight * scale))};
}

namespace {

int placeOnAxis(int start, int length, int size, bool remember, int saved) noexcept
{
    int at = remember && saved != kCentred ? saved : start + (length - size) / 2;
    // The far edge first, so the near edge wins when the window is larger.
    at = std::min(at, start + length - size);
    return std::max(at, start);
}

} // namespace

WindowPosition windowPosition(
    const WorkArea& area, WindowSize size, bool remember, int savedX, int savedY) noexcept
{
    return {placeOnAxis(area.left, area.width, size.width, remember, savedX),
        placeOnAxis(area.top, area.height, size.height, remember, savedY)};
}

void ScaleSpring::advance(double seconds) noexcept
{
    double left = std::min(seconds, 0.050);
    while (left > 0.0) {
        const float step = static_cast<float>(std::min(left, 0.004));
        velocity_ += ((target_ - shown_) * 1024.0f - velocity_ * 64.0f) * step;
        shown_ += velocity_ * step;
        left -= step;
    }
}

bool ScaleSpring::settled() const noexcept
{
    return std::fabs(target_ - shown_) * kCanvasWidth < 0.3f && std::fabs(velocity_) * kCanvasWidth < 15.0f;
}

} // namespace ui
