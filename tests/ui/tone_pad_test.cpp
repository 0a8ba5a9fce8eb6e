// The mic tone pad's layout: window points to pad positions.

#include "settings/fields.h"
#include "ui/tone_pad.h"

#include <gtest/gtest.h>

#include <cmath>

namespace ui {
namespace {

TEST(TonePad, WindowPointsMapOntoThePadAndClampAtItsEdge)
{
    EXPECT_EQ(tonePadAt(104.0, 150.0), (PadPosition{0, 0}));
    // 34 right of centre and 30 above it: half of each half-size.
    EXPECT_EQ(tonePadAt(138.0, 120.0), (PadPosition{50, 50}));
    EXPECT_EQ(tonePadAt(104.0 + 68.0 * 0.25, 150.0 + 60.0), (PadPosition{25, -100}));
    EXPECT_EQ(tonePadAt(-500.0, 1000.0), (PadPosition{-100, -100}));
    EXPECT_EQ(tonePadAt(NAN, 150.0), (PadPosition{0, 0}));

    settings::Settings s;
    toneDragPad(s, 138.0, 120.0);
    EXPECT_EQ(s.tone_pad_x.load(), 50);
    EXPECT_EQ(s.tone_pad_y.load(), 50);
}

} // namespace
} // namespace ui
