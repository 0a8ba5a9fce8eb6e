// The main window's size and place on a monitor, and the zoom spring.

#include "ui/window_placement.h"

#include <gtest/gtest.h>

namespace ui {
namespace {

TEST(WindowPlacement, ScaleIsTheSmallestOfDpiZoomAndWorkAreaWithinItsClamps)
{
    const WorkArea fullHd{0, 0, 1920, 1040};
    EXPECT_FLOAT_EQ(windowScale(fullHd, 96, 100), 1.0f);
    EXPECT_FLOAT_EQ(windowScale(fullHd, 144, 100), 1.5f);
    // 250 % zoom on a small work area is held to what fits: (768 − 8) / 560.
    EXPECT_FLOAT_EQ(windowScale({0, 0, 1366, 768}, 96, 250), 760.0f / 560.0f);
    // Nothing fits a tiny area, yet the scale never drops below 0.7; nor
    // grows past 2.5 on a huge, dense monitor.
    EXPECT_FLOAT_EQ(windowScale({0, 0, 400, 300}, 96, 100), kMinScale);
    EXPECT_FLOAT_EQ(windowScale({0, 0, 7680, 4320}, 288, 250), kMaxScale);

    EXPECT_EQ(effectiveDpi(144, 96), 144);
    EXPECT_EQ(effectiveDpi(0, 120), 120); // the monitor query failed
    EXPECT_EQ(effectiveDpi(30, 20), 96);

    EXPECT_EQ(windowSize(1.5f).width, 1290);
    EXPECT_EQ(windowSize(0.7f).height, 392);
}

TEST(WindowPlacement, SavedCornerIsUsedCentredOrPulledBackInside)
{
    const WorkArea area{100, 50, 1600, 900};
    const WindowSize size{860, 560};
    EXPECT_EQ(windowPosition(area, size, true, 300, 200), (WindowPosition{300, 200}));
    // −99999 centres on its axis only; with remembering off both centre.
    EXPECT_EQ(windowPosition(area, size, true, kCentred, 200), (WindowPosition{470, 200}));
    EXPECT_EQ(windowPosition(area, size, false, 300, 200), (WindowPosition{470, 220}));
    // Off-screen corners come back inside the area.
    EXPECT_EQ(windowPosition(area, size, true, 5000, -3000), (WindowPosition{840, 50}));
    // Larger than the area: the left and top edges win.
    EXPECT_EQ(windowPosition(area, {2000, 1000}, true, 400, 400), (WindowPosition{100, 50}));
}

TEST(WindowPlacement, ZoomSpringSettlesOnItsTargetAndCapsEachAdvance)
{
    ScaleSpring spring(1.0f);
    spring.setTarget(1.5f);
    EXPECT_FALSE(spring.settled());
    // A long stall advances at most 50 ms: far from settled.
    spring.advance(5.0);
    EXPECT_LT(spring.shown(), 1.45f);
    int ticks = 0;
    while (!spring.settled() && ticks < 1000) {
        spring.advance(0.016);
        ++ticks;
    }
    EXPECT_LT(ticks, 100);
    EXPECT_NEAR(spring.shown(), 1.5f, 0.3f / 860.0f);
}

} // namespace
} // namespace ui
