// One-pole followers, delay rings, the generator, the clippers, the gain
// computers and the crossfade windows.

#include "dsp/crossfade.h"
#include "dsp/delay_ring.h"
#include "dsp/denormals.h"
#include "dsp/gain.h"
#include "dsp/one_pole.h"
#include "dsp/random.h"
#include "signal_util.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

namespace dsp {
namespace {

using testing::kFs;

TEST(OnePole, AStepReachesOneMinusOneOverEAfterItsTimeConstant)
{
    OnePole smoother;
    smoother.prepare(0.03, kFs);
    for (int i = 0; i < static_cast<int>(0.03 * kFs); ++i)
        smoother.process(1.0);
    EXPECT_NEAR(smoother.y, 1.0 - std::exp(-1.0), 1e-4);
    EXPECT_NEAR(decayFactor(0.03, kFs) + onePoleCoeff(0.03, kFs), 1.0, 1e-15);
}

TEST(OnePole, AttackReleaseRisesFastAndFallsSlowly)
{
    AttackRelease peak;
    peak.prepare(0.0005, 0.6, kFs);
    for (int i = 0; i < 480; ++i) // 10 ms: twenty attack constants
        peak.process(1.0);
    EXPECT_GT(peak.y, 0.999);
    for (int i = 0; i < 480; ++i)
        peak.process(0.0);
    EXPECT_NEAR(peak.y, std::exp(-0.01 / 0.6), 1e-3);
}

TEST(DelayRing, ReadsWrapAndInterpolate)
{
    DelayRing<float> ring;
    ring.prepare(7, 1); // the smallest power of two not below 7 + 1
    ASSERT_EQ(ring.length(), 8u);
    for (int i = 0; i < 21; ++i) // wraps the 8-slot ring more than twice
        ring.write(static_cast<float>(i * i));
    EXPECT_EQ(ring.delayed(0), 400.0f);
    EXPECT_EQ(ring.delayed(3), 289.0f);
    EXPECT_EQ(ring.at(18), 324.0f);
    EXPECT_DOUBLE_EQ(ring.readLinear(18.25), 0.75 * 324.0 + 0.25 * 361.0);
    EXPECT_DOUBLE_EQ(ring.delayedLinear(0.5), 0.5 * 400.0 + 0.5 * 361.0);
    // Catmull-Rom passes through the samples and reproduces a straight line.
    EXPECT_DOUBLE_EQ(ring.readCubic(17.0), 289.0);
    EXPECT_DOUBLE_EQ(interpolateCubic(1.0, 2.0, 3.0, 4.0, 0.3), 2.3);
    // Runs copied out and checked spans: across the wrap (slots 6, 7, 0, 1, 2) and within it.
    std::array<float, 5> run{};
    ring.copyOut(14, run.size(), run.data());
    EXPECT_EQ(run, (std::array<float, 5>{196.0f, 225.0f, 256.0f, 289.0f, 324.0f}));
    EXPECT_FALSE(ring.contiguous(14, 18));
    EXPECT_TRUE(ring.contiguous(16, 20));
    EXPECT_EQ(ring.data()[ring.slot(20)], 400.0f);

    ring.reset();
    EXPECT_EQ(ring.writeCounter(), 0);
    EXPECT_EQ(ring.delayed(0), 0.0f);
}

TEST(Lcg, StartsAtTheIncrementAndTwoStepsEqualTwoSingleSteps)
{
    Lcg g;
    EXPECT_EQ(g.next(), 1013904223u);
    Lcg single;
    Lcg pair;
    for (uint32_t seed : {0u, 1u, 12345u, 0xFFFFFFFFu, 0x80000000u}) {
        single.state = pair.state = seed;
        single.next();
        EXPECT_EQ(pair.next2(), single.next());
    }
    Lcg u{7};
    for (int i = 0; i < 1000; ++i) {
        const float v = u.uniform();
        ASSERT_GE(v, 0.0f);
        ASSERT_LT(v, 1.0f);
    }
}

TEST(Clip, SoftClipIsTransparentToTheKneeAndStaysBelowFullScale)
{
    EXPECT_EQ(softClip(0.97f), 0.97f);
    EXPECT_EQ(softClip(-0.5f), -0.5f);
    const float loud = softClip(10.0f);
    EXPECT_LT(loud, 1.0f);
    EXPECT_GT(loud, 0.99999f);
    EXPECT_EQ(softClip(-10.0f), -loud);
    EXPECT_LT(softClip(1e30f), 1.0f);
    // Continuous and monotonic through the knee.
    float previous = softClip(0.95f);
    for (float x = 0.95f; x < 1.2f; x += 1e-4f) {
        const float y = softClip(x);
        ASSERT_GE(y, previous);
        ASSERT_LT(y - previous, 2e-4f);
        previous = y;
    }
    EXPECT_EQ(softClip(NAN), 0.0f);
}

TEST(Clip, DriveClipHasUnitySlopeAndSaturatesAtOneOverDrive)
{
    EXPECT_NEAR(driveClip(1e-4f, 2.2f), 1e-4f, 1e-9f);
    EXPECT_NEAR(driveClip(100.0f, 1.8f), 1.0f / 1.8f, 1e-6f);
    EXPECT_FLOAT_EQ(driveClip(0.5f, 2.2f), std::tanh(1.1f) / 2.2f);
    EXPECT_EQ(driveClip(0.5f, 0.0f), 0.5f);
}

TEST(InputCompressor, PassesQuietSignalsAndCompressesAboveMinusFourDecibels)
{
    InputCompressor comp;
    comp.prepare(kFs);
    float gain = 0.0f;
    for (int i = 0; i < 48000; ++i)
        gain = comp.process(0.5f); // power 0.25, below 10^(−0.4)
    EXPECT_EQ(gain, 1.0f);
    for (int i = 0; i < 5 * 48000; ++i)
        gain = comp.process(1.0f); // power settles at 1
    EXPECT_NEAR(gain, std::pow(1.0 / std::pow(10.0, -0.4), -1.0 / 3.0), 1e-4);
}

std::vector<float> sine(double amplitude, double freq, int frames, int offset = 0)
{
    std::vector<float> s(frames);
    for (int i = 0; i < frames; ++i)
        s[i] = static_cast<float>(amplitude * std::sin(2.0 * kPi * freq * (i + offset) / kFs));
    return s;
}

TEST(LevelMatcher, LeavesSilenceUntouchedAndHoldsItsGainThroughIt)
{
    LevelMatcher m;
    m.prepare(kFs);
    std::vector<float> silence(480, 0.0f);
    std::vector<float> tiny(480, 1e-4f); // power 1e-8: below the 1e-5 floor
    for (int b = 0; b < 50; ++b) {
        auto out = tiny;
        m.process(silence.data(), out.data(), 480);
        EXPECT_EQ(out, tiny);
    }
    EXPECT_EQ(m.gainDb(), 0.0);

    // Build up some gain, then go silent. The followers take a few seconds to
    // fall below the floor; from then on the gain holds.
    for (int b = 0; b < 50; ++b) {
        auto before = sine(0.5, 200, 480, b * 480);
        auto after = sine(0.1, 200, 480, b * 480);
        m.process(before.data(), after.data(), 480);
    }
    EXPECT_GT(m.gainDb(), 0.5);
    for (int b = 0; b < 1500; ++b) {
        auto out = silence;
        m.process(silence.data(), out.data(), 480);
        EXPECT_EQ(out, silence);
    }
    const double held = m.gainDb();
    for (int b = 0; b < 500; ++b) {
        auto out = tiny;
        m.process(silence.data(), out.data(), 480);
    }
    EXPECT_EQ(m.gainDb(), held);
}

TEST(LevelMatcher, MovesAtMostSixDecibelsPerSecondAndRampsWithoutSteps)
{
    LevelMatcher m;
    m.prepare(kFs);
    double lastGain = 1.0;
    for (int b = 0; b < 100; ++b) { // one second of 10 ms blocks, the effect 20 dB too quiet
        auto before = sine(0.5, 200, 480, b * 480);
        auto after = sine(0.05, 200, 480, b * 480);
        const auto raw = after;
        const double dbBefore = m.gainDb();
        m.process(before.data(), after.data(), 480);
        EXPECT_LE(m.gainDb() - dbBefore, 480 * 6.0 / kFs + 1e-12);
        // The applied gain changes linearly within the block.
        for (int i = 0; i < 480; ++i) {
            if (std::fabs(raw[i]) < 1e-3f)
                continue;
            const double g = after[i] / raw[i];
            ASSERT_NEAR(g, lastGain + (dbToGain(m.gainDb()) - lastGain) * (i + 1) / 480.0, 1e-4);
        }
        lastGain = dbToGain(m.gainDb());
    }
    EXPECT_NEAR(m.gainDb(), 6.0, 1e-9);
    for (int b = 0; b < 200; ++b) {
        auto before = sine(0.5, 200, 480, b * 480);
        auto after = sine(0.05, 200, 480, b * 480);
        m.process(before.data(), after.data(), 480);
    }
    EXPECT_NEAR(m.gainDb(), 12.0, 1e-9); // the target is clamped at +12
}

TEST(LookAheadLimiter, NoSamplePassesTheCeilingAfterTheDelay)
{
    LookAheadLimiter lim;
    lim.prepare(kFs);
    constexpr int kBlock = 256;
    std::vector<float> input;
    std::vector<double> ceilings;
    std::vector<float> output;
    Lcg noise{99};
    for (int b = 0; b < 200; ++b) {
        auto dry = sine(0.2, 150, kBlock, b * kBlock);
        std::vector<float> wet(kBlock);
        for (int i = 0; i < kBlock; ++i) {
            // Bursts of loud noise and sudden spikes, well above the dry level.
            const bool burst = (b / 10) % 2 == 1;
            wet[i] = dry[i] * (burst ? 4.0f : 0.9f) + (burst ? noise.bipolar() * 0.5f : 0.0f);
            if (i == 100 && b % 7 == 0 && b >= 10)
                wet[i] = 3.0f;
        }
        input.insert(input.end(), wet.begin(), wet.end());
        lim.process(dry.data(), wet.data(), kBlock);
        ceilings.push_back(lim.ceiling());
        output.insert(output.end(), wet.begin(), wet.end());
    }
    for (size_t n = LookAheadLimiter::kLookAhead; n < output.size(); ++n) {
        const size_t source = n - LookAheadLimiter::kLookAhead;
        const double ceiling = ceilings[source / kBlock];
        ASSERT_LE(std::fabs(output[n]), ceiling * (1.0 + 1e-6)) << "frame " << n;
    }
    // Quiet stretches come through unchanged, just late.
    for (size_t n = 1000; n < 1100; ++n)
        EXPECT_NEAR(output[n], input[n - LookAheadLimiter::kLookAhead], 1e-6);
}

TEST(Denormals, FlushedWhileTheGuardLivesAndRestoredAfter)
{
    volatile float tiny = 1e-39f; // a denormal
    volatile float one = 1.0f;
    {
        ScopedFlushDenormals flush;
#if defined(__SSE__) || defined(_M_X64)
        EXPECT_EQ(tiny * one, 0.0f);
#endif
    }
    EXPECT_EQ(tiny * one, 1e-39f);
}

TEST(Crossfade, WindowsFollowTheirFormulas)
{
    CrossfadeTable table;
    table.prepare(480);
    ASSERT_EQ(table.size(), 480u);
    for (size_t i = 0; i < 480; i += 37) {
        const double s = std::sin((i + 0.5) * (kPi / 2) / 480);
        EXPECT_NEAR(table.rising(i), s * s, 1e-7);
        EXPECT_NEAR(table.rising(i) + table.falling(i), 1.0, 1e-7);
    }
    std::vector<float> grain(64), hann(1024);
    fillGrainWindow(grain.data(), grain.size());
    fillSqrtHann(hann.data(), hann.size());
    EXPECT_EQ(grain[0], 0.0f);
    EXPECT_NEAR(grain[32], 1.0f, 1e-7);
    EXPECT_NEAR(grain[16], 0.5f, 1e-7);
    // Square-root Hann at 50 % overlap: the squares add to one (perfect reconstruction).
    for (size_t i = 0; i < 512; i += 31)
        EXPECT_NEAR(hann[i] * hann[i] + hann[i + 512] * hann[i + 512], 1.0f, 1e-6);
}

TEST(SmoothedSwitch, GlidesAtItsStepAndStopsAtTheEnds)
{
    SmoothedSwitch s;
    s.prepare(0.04, kFs); // the 40 ms mask fade: 1920 frames
    s.setTarget(true);
    int frames = 0;
    while (!s.settled() && frames < 10000) {
        s.next();
        ++frames;
    }
    EXPECT_NEAR(frames, 1920, 1);
    EXPECT_EQ(s.value(), 1.0f);
    EXPECT_EQ(s.mix(0.2f, 0.8f), 0.8f);
    s.setTarget(false);
    EXPECT_NEAR(s.mix(0.0f, 1.0f), 1.0f - 1.0f / 1920.0f, 1e-6f);
    s.snap(false);
    EXPECT_EQ(s.mix(0.2f, 0.8f), 0.2f);
}

} // namespace
} // namespace dsp
