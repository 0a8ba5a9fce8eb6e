// The level meter's ballistics: attack, release, hold and its dt clamps.

#include "dsp/level_meter.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr int32_t kFullScale = 10000; // outputPeak of a sample at 1.0: 0 dB

TEST(LevelMeter, RisesWithA12MsAttackAndTheFirstTickCountsAs16Ms)
{
    dsp::LevelMeter m;
    m.tick(kFullScale, 5.0); // first tick: dt is 0.016 whatever was passed
    EXPECT_NEAR(m.meterDb(), -100.0 + (1.0 - std::exp(-0.016 / 0.012)) * 100.0, 1e-9);
    const double before = m.meterDb();
    m.tick(kFullScale, 0.012);
    EXPECT_NEAR(m.meterDb(), before + (1.0 - std::exp(-1.0)) * (0.0 - before), 1e-9);
}

TEST(LevelMeter, FallsAt26DbPerSecondAndNeverBelowTheLevel)
{
    dsp::LevelMeter m;
    for (int i = 0; i < 100; ++i)
        m.tick(kFullScale, 0.016);
    EXPECT_NEAR(m.meterDb(), 0.0, 1e-6);
    m.tick(1000, 0.1); // −20 dB
    EXPECT_NEAR(m.meterDb(), -2.6, 1e-6);
    for (int i = 0; i < 20; ++i)
        m.tick(1000, 0.1);
    EXPECT_NEAR(m.meterDb(), -20.0, 1e-9);
    m.tick(0, 0.1); // silence reads as −100 dB
    EXPECT_NEAR(m.meterDb(), -22.6, 1e-6);
}

TEST(LevelMeter, HoldsItsPeakFor09SecondsThenFallsAt14DbPerSecond)
{
    dsp::LevelMeter m;
    for (int i = 0; i < 100; ++i)
        m.tick(kFullScale, 0.016);
    for (int i = 0; i < 9; ++i) {
        m.tick(0, 0.1);
        EXPECT_NEAR(m.holdDb(), 0.0, 1e-6) << "tick " << i;
    }
    m.tick(0, 0.1); // 1.0 s held: now falling
    EXPECT_NEAR(m.holdDb(), -1.4, 1e-6);
    m.tick(0, 0.1);
    EXPECT_NEAR(m.holdDb(), -2.8, 1e-6);
    EXPECT_GE(m.holdDb(), m.meterDb());
}

TEST(LevelMeter, ALongOrBrokenTickCountsAsAtMostATenthOfASecond)
{
    dsp::LevelMeter a, b;
    for (dsp::LevelMeter* m : {&a, &b}) {
        for (int i = 0; i < 100; ++i)
            m->tick(kFullScale, 0.016);
    }
    a.tick(0, 3.0);
    b.tick(0, 0.1);
    EXPECT_DOUBLE_EQ(a.meterDb(), b.meterDb());
    a.tick(0, -1.0);
    a.tick(0, std::nan(""));
    EXPECT_DOUBLE_EQ(a.meterDb(), b.meterDb());
}

} // namespace
