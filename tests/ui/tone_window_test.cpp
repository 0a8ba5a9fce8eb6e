// The mic tone window by clicks at its controls' places: the pad, the band
// sliders with their rebase rule, the vocal lift sliders and "Reset All".

#include "platform/text.h"
#include "settings/fields.h"
#include "ui/recording_painter.h"
#include "ui/tone_window.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

using settings::Settings;
using ui::Point;
using ui::Rect;
using ui::TonePart;

Point centre(const Rect& r)
{
    return {r.x + r.w / 2, r.y + r.h / 2};
}
// The two ends of a slider's track row.
Point leftEnd(TonePart part)
{
    const Rect r = ui::tonePartRect(part);
    return {r.x, r.y + 32};
}
Point rightEnd(TonePart part)
{
    const Rect r = ui::tonePartRect(part);
    return {r.right() - 1, r.y + 32};
}

struct ToneWindowTest : ::testing::Test {
    Settings s;
    ui::ToneWindow window{s};

    void click(Point p)
    {
        window.pointerMove(p);
        window.pointerDown(p);
        window.pointerUp(p);
    }
    void doubleClick(Point p)
    {
        click(p);
        window.doubleClick(p);
        window.pointerUp(p);
    }
    ui::RecordingPainter paint()
    {
        ui::RecordingPainter painter;
        window.paint(painter);
        return painter;
    }
};

TEST_F(ToneWindowTest, PadDragAndDoubleClickMoveTheBandsAroundTheirBases)
{
    s.set(&Settings::tone_base_lo, 30);
    const uint32_t revision = s.toneRevision.load();
    // Press at the centre, drag to the top right corner and beyond it.
    window.pointerMove({104, 150});
    window.pointerDown({104, 150});
    window.pointerMove({138, 120});
    EXPECT_EQ(s.tone_pad_x.load(), 50);
    EXPECT_EQ(s.tone_pad_y.load(), 50);
    window.pointerMove({400, 10});
    window.pointerUp({400, 10});
    EXPECT_EQ(s.tone_pad_x.load(), 100);
    EXPECT_EQ(s.tone_pad_y.load(), 100);
    EXPECT_EQ(s.tone_lo.load(), 30 - 240);
    EXPECT_EQ(s.tone_mid.load(), 240);
    EXPECT_EQ(s.tone_hi.load(), 240);
    EXPECT_GT(s.toneRevision.load(), revision);
    // A move after the release drags nothing.
    window.pointerMove({104, 150});
    EXPECT_EQ(s.tone_pad_x.load(), 100);

    doubleClick({60, 200});
    EXPECT_EQ(s.tone_pad_x.load(), 0);
    EXPECT_EQ(s.tone_pad_y.load(), 0);
    EXPECT_EQ(s.tone_lo.load(), 30);
    EXPECT_EQ(s.tone_mid.load(), 0);
    EXPECT_EQ(s.tone_hi.load(), 0);
    EXPECT_EQ(s.tone_base_lo.load(), 30);
}

TEST_F(ToneWindowTest, SlidersMapTheirEndsDefaultsAndRebase)
{
    // A band slider at its ends, then the rebase: the bases take the bands
    // and the pad returns to the centre.
    click({130, 120}); // the pad at x 38, y 50
    ASSERT_EQ(s.tone_pad_x.load(), 38);
    click(leftEnd(TonePart::BandMid));
    EXPECT_EQ(s.tone_mid.load(), -240);
    EXPECT_EQ(s.tone_pad_x.load(), 0);
    EXPECT_EQ(s.tone_pad_y.load(), 0);
    EXPECT_EQ(s.tone_base_lo.load(), -91);
    EXPECT_EQ(s.tone_base_mid.load(), -240);
    EXPECT_EQ(s.tone_base_hi.load(), 91);
    click(rightEnd(TonePart::BandHi));
    EXPECT_EQ(s.tone_hi.load(), 240);
    EXPECT_EQ(s.tone_base_hi.load(), 240);
    doubleClick(centre(ui::tonePartRect(TonePart::BandLo)));
    EXPECT_EQ(s.tone_lo.load(), 0);
    EXPECT_EQ(s.tone_base_lo.load(), 0);

    // The vocal lift: each slider's ends and its default by double-click.
    struct Case {
        TonePart part;
        settings::IntField Settings::*field;
        int32_t low, high;
        const char* key;
    };
    const Case cases[] = {
        {TonePart::VocalLevel, &Settings::vocal_level, 0, 100, "vocal_level"},
        {TonePart::GateOut, &Settings::gate_out, -120, 120, "gate_out"},
        {TonePart::GateLo, &Settings::gate_lo, -120, 120, "gate_lo"},
        {TonePart::GateMid, &Settings::gate_mid, -120, 120, "gate_mid"},
        {TonePart::GateHi, &Settings::gate_hi, -120, 120, "gate_hi"},
    };
    for (const Case& c : cases) {
        const uint32_t revision = s.isolationRevision.load();
        click(leftEnd(c.part));
        EXPECT_EQ((s.*c.field).load(), c.low) << c.key;
        click(rightEnd(c.part));
        EXPECT_EQ((s.*c.field).load(), c.high) << c.key;
        EXPECT_GT(s.isolationRevision.load(), revision) << c.key;
        doubleClick(leftEnd(c.part));
        EXPECT_EQ((s.*c.field).load(), settings::findField(c.key)->defaultValue) << c.key;
    }
}

// "Reset All" and the switch; the drawing shows the values and the
// expander's line and cuts no text. With OVIX_UI_SVG_DIR set, the window is
// written there as SVG to look at.
TEST_F(ToneWindowTest, ResetAllRestoresTheToneAndTheVocalLift)
{
    click(centre(ui::tonePartRect(TonePart::On)));
    EXPECT_EQ(s.tone_on.load(), 0);
    click({60, 100});
    click(rightEnd(TonePart::BandMid));
    click(leftEnd(TonePart::VocalLevel));
    click(rightEnd(TonePart::GateOut));
    click(leftEnd(TonePart::GateLo));

    auto painter = paint();
    EXPECT_TRUE(painter.overflows.empty()) << platform::utf8FromWide(painter.overflows.front());
    EXPECT_NE(painter.findText(L"Gate 0   Out +12.0 dB   Tone Lo -12.0  Mid +12.0  Hi +12.0"), nullptr);
    EXPECT_NE(painter.findText(L"+24.0 dB"), nullptr);
    if (const char* dir = std::getenv("OVIX_UI_SVG_DIR"))
        std::ofstream(std::string(dir) + "/tone_window.svg")
            << painter.svg({ui::kToneWindowWidth, ui::kToneWindowHeight});

    const uint32_t tone = s.toneRevision.load(), isolation = s.isolationRevision.load();
    // Once the hover has faded and the window is drawn, a tick asks for nothing.
    window.pointerLeave();
    for (int i = 0; i < 100; ++i)
        window.tick(0.016);
    paint();
    EXPECT_FALSE(window.tick(0.016));
    click(centre(ui::tonePartRect(TonePart::ResetAll)));
    EXPECT_TRUE(window.tick(0.016));
    EXPECT_EQ(s.tone_on.load(), 1);
    for (auto f : {&Settings::tone_pad_x, &Settings::tone_pad_y, &Settings::tone_base_lo, &Settings::tone_base_mid,
             &Settings::tone_base_hi, &Settings::tone_lo, &Settings::tone_mid, &Settings::tone_hi})
        EXPECT_EQ((s.*f).load(), 0);
    for (const char* key : {"vocal_level", "gate_lo", "gate_mid", "gate_hi", "gate_out"})
        EXPECT_EQ(settings::findField(key)->intSlot(s)->load(), settings::findField(key)->defaultValue) << key;
    EXPECT_GT(s.toneRevision.load(), tone);
    EXPECT_GT(s.isolationRevision.load(), isolation);

    // A rest of half a second on a control shows its tip, only while hints are on.
    const Point onSwitch = centre(ui::tonePartRect(TonePart::On));
    const wchar_t* tip = L"Custom mic tone and vocal lift on or off";
    window.pointerMove({onSwitch.x, onSwitch.y + 1});
    for (int i = 0; i < 28; ++i)
        window.tick(0.016);
    EXPECT_EQ(paint().findText(tip), nullptr);
    for (int i = 0; i < 4; ++i)
        window.tick(0.016);
    EXPECT_NE(paint().findText(tip), nullptr);
    s.set(&Settings::UiHints, 0);
    EXPECT_TRUE(window.tick(0.016));
    EXPECT_EQ(paint().findText(tip), nullptr);

    EXPECT_FALSE(window.closeRequested());
    window.key(ui::Key::Escape, {});
    EXPECT_TRUE(window.closeRequested());
}

} // namespace
