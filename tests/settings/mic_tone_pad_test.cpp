// The mic tone window's pad, band sliders, rebase rule and resets.

#include "settings/fields.h"
#include "settings/mic_tone_pad.h"

#include <gtest/gtest.h>

namespace settings {
namespace {

struct Bands {
    int32_t lo, mid, hi;
    bool operator==(const Bands&) const = default;
};
Bands bands(const Settings& s)
{
    return {s.tone_lo.load(), s.tone_mid.load(), s.tone_hi.load()};
}
Bands bases(const Settings& s)
{
    return {s.tone_base_lo.load(), s.tone_base_mid.load(), s.tone_base_hi.load()};
}

TEST(MicTonePad, OffsetsRoundHalfAwayFromZero)
{
    EXPECT_EQ(tonePadOffset(0), 0);
    EXPECT_EQ(tonePadOffset(100), 240);
    EXPECT_EQ(tonePadOffset(-100), -240);
    EXPECT_EQ(tonePadOffset(1), 2);   // 2.4
    EXPECT_EQ(tonePadOffset(-3), -7); // −7.2
    EXPECT_EQ(tonePadOffset(21), 50); // 50.4
}

TEST(MicTonePad, DraggingMovesTheBandsAroundTheirBases)
{
    Settings s;
    s.set(&settings::Settings::tone_base_lo, 30);
    s.set(&settings::Settings::tone_base_mid, -20);
    s.set(&settings::Settings::tone_base_hi, 230);
    const uint32_t before = s.toneRevision.load();
    toneMovePad(s, 50, 50);
    EXPECT_EQ(s.tone_pad_x.load(), 50);
    EXPECT_EQ(s.tone_pad_y.load(), 50);
    EXPECT_EQ(bands(s), (Bands{30 - 120, -20 + 120, 240})); // hi clamps at +24 dB
    EXPECT_EQ(s.toneRevision.load(), before + 1);

    // Beyond the pad the position clamps to the edge.
    toneMovePad(s, -400, -1000);
    EXPECT_EQ(s.tone_pad_x.load(), -100);
    EXPECT_EQ(s.tone_pad_y.load(), -100);
    EXPECT_EQ(bands(s), (Bands{240, -240, -10}));

    toneResetPad(s); // double-click
    EXPECT_EQ(s.tone_pad_x.load(), 0);
    EXPECT_EQ(s.tone_pad_y.load(), 0);
    EXPECT_EQ(bands(s), bases(s));
}

TEST(MicTonePad, MovingASliderAwayFromThePadRebases)
{
    Settings s;
    toneMovePad(s, 25, 0); // lo −60, hi +60
    ASSERT_EQ(bands(s), (Bands{-60, 0, 60}));

    // A slider moved to the value the pad already gives: nothing to rebase.
    toneSetBand(s, ToneBand::Mid, 0);
    EXPECT_EQ(s.tone_pad_x.load(), 25);

    toneSetBand(s, ToneBand::Mid, 55);
    EXPECT_EQ(bases(s), (Bands{-60, 55, 60}));
    EXPECT_EQ(s.tone_pad_x.load(), 0);
    EXPECT_EQ(s.tone_pad_y.load(), 0);

    toneSetBand(s, ToneBand::Hi, 999); // clamped
    EXPECT_EQ(s.tone_hi.load(), 240);
    EXPECT_EQ(s.tone_base_hi.load(), 240);
    toneSetBand(s, ToneBand::Hi, 0); // double-click
    EXPECT_EQ(bases(s), (Bands{-60, 55, 0}));
}

TEST(MicTonePad, GateSlidersAndResetAllMoveTheirCounters)
{
    Settings s;
    const uint32_t iso = s.isolationRevision.load();
    gateSet(s, GateControl::Out, 500);
    EXPECT_EQ(s.gate_out.load(), 120);
    gateSet(s, GateControl::VocalLevel, 25);
    EXPECT_EQ(s.isolationRevision.load(), iso + 2);
    gateResetToDefault(s, GateControl::Out);
    EXPECT_EQ(s.gate_out.load(), -50);

    s.set(&settings::Settings::tone_on, 0);
    toneMovePad(s, -100, 100);
    toneSetBand(s, ToneBand::Lo, 100);
    const uint32_t tone = s.toneRevision.load();
    toneResetAll(s);
    EXPECT_EQ(s.tone_on.load(), 1);
    EXPECT_EQ(bands(s), (Bands{0, 0, 0}));
    EXPECT_EQ(bases(s), (Bands{0, 0, 0}));
    EXPECT_EQ(s.tone_pad_x.load(), 0);
    EXPECT_EQ(s.vocal_level.load(), 50);
    EXPECT_EQ(s.gate_lo.load(), 120);
    EXPECT_GT(s.toneRevision.load(), tone);
    EXPECT_GT(s.isolationRevision.load(), iso + 3);
}

} // namespace
} // namespace settings
