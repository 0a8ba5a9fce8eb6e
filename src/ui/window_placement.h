#pragma once
// Where the main window goes and how large it is: the scale from the
// monitor's DPI, the zoom setting and the work area; the position rules; and
// the spring the shown scale follows when the zoom changes.

#include "ui/geometry.h"

namespace ui {

inline constexpr float kMinScale = 0.7f;
inline constexpr float kMaxScale = 2.5f;
// A saved window coordinate that means "centre on this axis".
inline constexpr int kCentred = -99999;

struct WorkArea {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// The monitor's DPI as reported, or 0 when the query is missing or failed.
// A DPI below 48 falls back to the screen's (screenDpi), and below 48 again
// to 96.
int effectiveDpi(int monitorDpi, int screenDpi) noexcept;

// min((H − 8) / 560, (W − 8) / 860, dpi / 96 × zoom / 100), clamped to
// 0.7 … 2.5.
float windowScale(const WorkArea& area, int dpi, int zoomPercent) noexcept;

struct WindowSize {
    int width = 0;
    int height = 0;
};
WindowSize windowSize(float scale) noexcept;

struct WindowPosition {
    int x = 0;
    int y = 0;
    bool operator==(const WindowPosition&) const = default;
};

// The saved corner when remembering is on and it is not kCentred, else
// centred on that axis; then pulled inside the work area, the left and top
// edges winning when the window is larger than the area.
WindowPosition windowPosition(
    const WorkArea& area, WindowSize size, bool remember, int savedX, int savedY) noexcept;

// The shown scale follows the target as a damped spring, integrated in steps
// of at most 4 ms over at most 50 ms per advance.
class ScaleSpring {
public:
    explicit ScaleSpring(float scale = 1.0f) noexcept : shown_(scale), target_(scale) {}

    void setTarget(float target) noexcept { target_ = target; }
    // Jumps to the target (no animation).
    void snap() noexcept
    {
        shown_ = target_;
        velocity_ = 0.0f;
    }
    void advance(double seconds) noexcept;
    bool settled() const noexcept;
    float shown() const noexcept { return shown_; }
    float target() const noexcept { return target_; }

private:
    float shown_;
    float target_;
    float velocity_ = 0.0f;
};

} // namespace ui
