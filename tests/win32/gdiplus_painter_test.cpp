// The GDI+ painter against the real GDI+ (wine's): what a page asks for
// lands on the right pixels at the window's scale, text shows and measures
// in logical units, and clips hold.

#include "ui/win32/gdiplus_painter.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <cstdint>

namespace {

constexpr ui::Colour kWhite = 0xFFFFFF;
constexpr ui::Colour kBlue = 0xC97301; // 0x00BBGGRR

// A 32-bit memory surface of w × h pixels, white at the start.
class Surface {
public:
    Surface(int w, int h) : w_(w), h_(h)
    {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
        old_ = SelectObject(dc_, bitmap_);
        for (int i = 0; i < w * h; ++i)
            bits_[i] = 0xFFFFFF;
    }
    ~Surface()
    {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    HDC dc() const { return dc_; }
    // As a colour of the interface (0x00BBGGRR); the surface holds 0x00RRGGBB.
    ui::Colour at(int x, int y) const
    {
        GdiFlush();
        const uint32_t p = bits_[y * w_ + x] & 0xFFFFFF;
        return ((p & 0xFF) << 16) | (p & 0xFF00) | (p >> 16);
    }
    int countNot(ui::Colour c, RECT r) const
    {
        int n = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                n += at(x, y) != c;
        return n;
    }

private:
    int w_, h_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    uint32_t* bits_ = nullptr;
};

class GdiPlusPainterTest : public ::testing::Test {
protected:
    ui::win32::GdiPlusSession session;
    ui::win32::InterfaceFonts fonts;
    void SetUp() override
    {
        ASSERT_TRUE(session.started());
        fonts.update(L"Tahoma", 12, false);
    }
};

TEST_F(GdiPlusPainterTest, LogicalRectanglesLandOnPixelsTimesTheScale)
{
    Surface surface(200, 200);
    {
        ui::win32::GdiPlusPainter painter(surface.dc(), 1.5f, fonts);
        painter.fillRect({10, 20, 40, 30}, kBlue); // pixels 15..75 × 30..75
        painter.fillRoundRect({80, 80, 40, 40}, 8, kBlue);
    }
    EXPECT_EQ(surface.at(15, 30), kBlue);
    EXPECT_EQ(surface.at(74, 74), kBlue);
    EXPECT_EQ(surface.at(14, 30), kWhite);
    EXPECT_EQ(surface.at(75, 50), kWhite);
    EXPECT_EQ(surface.at(50, 76), kWhite);
    // A rounded rectangle fills its middle and leaves its corners.
    EXPECT_EQ(surface.at(150, 150), kBlue);
    EXPECT_EQ(surface.at(120, 120), kWhite);
}

TEST_F(GdiPlusPainterTest, ShapesLinesAndPolygonsDrawInsideTheirBounds)
{
    Surface surface(120, 120);
    {
        ui::win32::GdiPlusPainter painter(surface.dc(), 1.0f, fonts);
        painter.fillEllipse({10, 10, 40, 40}, kBlue);
        painter.frameRoundRect({60, 10, 40, 40}, 4, kBlue, 2);
        const std::array<ui::Point, 3> triangle{{{10, 110}, {50, 110}, {30, 70}}};
        painter.fillPolygon(triangle, kBlue);
        painter.line({60, 80}, {110, 80}, kBlue, 2);
    }
    EXPECT_EQ(surface.at(30, 30), kBlue);
    EXPECT_EQ(surface.at(11, 11), kWhite); // outside the ellipse's curve
    EXPECT_EQ(surface.at(80, 30), kWhite); // a frame leaves its middle
    EXPECT_NE(surface.at(61, 30), kWhite);
    EXPECT_EQ(surface.at(30, 100), kBlue);
    EXPECT_NE(surface.at(85, 80), kWhite);
    EXPECT_EQ(surface.at(85, 90), kWhite);
}

TEST_F(GdiPlusPainterTest, TextShowsStaysInsideItsRectangleAndMeasuresInLogicalUnits)
{
    Surface surface(400, 100);
    ui::Point one, two, scaled;
    {
        ui::win32::GdiPlusPainter painter(surface.dc(), 1.0f, fonts);
        painter.text({10, 10, 300, 30}, L"Vantor Ovix Settings", ui::TextRole::Body, 0x1E1E1E, ui::Align::Left);
        // Text longer than its rectangle is cut at the rectangle.
        painter.text(
            {10, 50, 40, 30}, L"A long label that does not fit", ui::TextRole::Body, 0x1E1E1E, ui::Align::Left);
        one = painter.measureText(L"Audio", ui::TextRole::Body);
        two = painter.measureText(L"Audio Audio", ui::TextRole::Body);
    }
    {
        ui::win32::GdiPlusPainter painter(surface.dc(), 2.0f, fonts);
        scaled = painter.measureText(L"Audio", ui::TextRole::Body);
    }
    EXPECT_GT(surface.countNot(kWhite, {10, 10, 310, 40}), 40);
    EXPECT_EQ(surface.countNot(kWhite, {51, 45, 400, 85}), 0);
    EXPECT_GT(one.x, 15.0f);
    EXPECT_LT(one.x, 60.0f);
    EXPECT_GT(two.x, one.x * 1.8f);
    EXPECT_NEAR(scaled.x, one.x, one.x * 0.15f); // logical units whatever the scale
    EXPECT_GT(one.y, 10.0f);
}

TEST_F(GdiPlusPainterTest, AFaceTheSystemLacksStillDrawsTextInAStandIn)
{
    fonts.update(L"Ovix Face That Is Nowhere", 12, true);
    Surface surface(300, 50);
    {
        ui::win32::GdiPlusPainter painter(surface.dc(), 1.0f, fonts);
        painter.text(
            {0, 0, 300, 50}, L"Restored default Ovix Settings", ui::TextRole::Heading, 0x1E1E1E, ui::Align::Centre);
    }
    EXPECT_GT(surface.countNot(kWhite, {0, 0, 300, 50}), 40);
}

TEST_F(GdiPlusPainterTest, ClipsNestAndPopAndThePixelClipHolds)
{
    Surface surface(100, 100);
    {
        ui::win32::GdiPlusPainter painter(surface.dc(), 1.0f, fonts);
        painter.clipPixels({0, 0, 80, 100});
        painter.pushClip({0, 0, 50, 100});
        painter.pushClip({20, 0, 60, 100});
        painter.fillRect({0, 0, 100, 10}, kBlue); // only 20..50
        painter.popClip();
        painter.fillRect({0, 20, 100, 10}, kBlue); // 0..50
        painter.popClip();
        painter.fillRect({0, 40, 100, 10}, kBlue); // 0..80, the pixel clip
    }
    EXPECT_EQ(surface.at(19, 5), kWhite);
    EXPECT_EQ(surface.at(20, 5), kBlue);
    EXPECT_EQ(surface.at(50, 5), kWhite);
    EXPECT_EQ(surface.at(0, 25), kBlue);
    EXPECT_EQ(surface.at(50, 25), kWhite);
    EXPECT_EQ(surface.at(79, 45), kBlue);
    EXPECT_EQ(surface.at(80, 45), kWhite);
}

TEST_F(GdiPlusPainterTest, APainterClippedThroughTheDeviceContextLeavesItsClipAsItWas)
{
    Surface surface(100, 100);
    {
        ui::win32::GdiPlusPainter painter(surface.dc(), 1.0f, fonts, RECT{10, 0, 40, 100});
        painter.fillRect({0, 0, 100, 10}, kBlue); // only 10..40
    }
    {
        ui::win32::GdiPlusPainter painter(surface.dc(), 1.0f, fonts);
        painter.fillRect({0, 20, 100, 10}, kBlue); // the whole row again
    }
    EXPECT_EQ(surface.at(9, 5), kWhite);
    EXPECT_EQ(surface.at(10, 5), kBlue);
    EXPECT_EQ(surface.at(39, 5), kBlue);
    EXPECT_EQ(surface.at(40, 5), kWhite);
    EXPECT_EQ(surface.at(0, 25), kBlue);
    EXPECT_EQ(surface.at(99, 25), kBlue);
}

TEST(PixelRectangles, InvalidPixelsCoverTheirLogicalRectangleAndBack)
{
    const ui::Rect logical = ui::win32::logicalFromPixels({15, 15, 31, 46}, 1.5f);
    EXPECT_EQ(logical, ui::edges(10, 10, 21, 31));
    const RECT pixels = ui::win32::pixelsFromLogical({10, 10, 11, 21}, 1.5f);
    EXPECT_LE(pixels.left, 15);
    EXPECT_LE(pixels.top, 15);
    EXPECT_GE(pixels.right, 32);
    EXPECT_GE(pixels.bottom, 47);
}

} // namespace
