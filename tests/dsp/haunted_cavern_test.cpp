// The send law and send filter, and the procedural cavern's slap echo,
// plates and dry-voice duck.

#include "dsp/denormals.h"
#include "dsp/haunted_cavern.h"
#include "dsp/random.h"
#include "dsp/reverb_send.h"
#include "support/alloc_counter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace dsp {
namespace {

constexpr double kFs = 48000.0;

TEST(ReverbSend, LevelFollowsAmountAndIsGatedByEffectsAndRouting)
{
    EXPECT_EQ(reverbSendLevel(true, 0, 1, false), 0.0f);
    EXPECT_EQ(reverbSendLevel(true, 0, 1, true), 0.0f);
    EXPECT_FLOAT_EQ(reverbSendLevel(true, 100, 1, false), 0.855f);
    EXPECT_FLOAT_EQ(reverbSendLevel(true, 100, 7, true), 1.0f);
    EXPECT_FLOAT_EQ(reverbSendLevel(true, 9, 1, false), static_cast<float>(0.855 * std::pow(0.09, 0.58)));
    EXPECT_FLOAT_EQ(reverbSendLevel(true, 9, 1, true), static_cast<float>(std::pow(0.09, 0.58)));
    EXPECT_EQ(reverbSendLevel(false, 50, 1, false), 0.0f);
    EXPECT_EQ(reverbSendLevel(true, 50, 6, false), 0.0f);       // the voice's bit is clear
    EXPECT_FLOAT_EQ(reverbSendLevel(true, 250, 1, true), 1.0f); // clamped
    EXPECT_EQ(reverbSendLevel(true, -5, 1, true), 0.0f);
}

TEST(ReverbSend, CavernCompensationGain)
{
    EXPECT_EQ(cavernCompensationGain(0), 1.0f);
    EXPECT_FLOAT_EQ(cavernCompensationGain(100), 0.69f);
    EXPECT_FLOAT_EQ(cavernCompensationGain(1), 1.45f);
    EXPECT_FLOAT_EQ(cavernCompensationGain(50), static_cast<float>(0.69 * std::pow(0.5, -0.245)));
}

TEST(ReverbSend, FilterRemovesDcAndCompressesOnlyLoudCavernSends)
{
    ReverbSendFilter filter;
    filter.prepare(kFs);
    std::vector<float> dc(48000, 0.5f), out(48000), hp(48000), gain(48000);
    filter.process(dc.data(), out.data(), 48000, 0.5f, false, hp.data(), gain.data());
    EXPECT_LT(std::fabs(out.back()), 1e-3f);
    EXPECT_FLOAT_EQ(out[0], 0.5f * hp[0]);
    EXPECT_EQ(*std::min_element(gain.begin(), gain.end()), 1.0f);

    // A loud sine (power above −4 dB) is compressed on the cavern, a quiet one is not.
    std::vector<float> loud(48000), quiet(48000);
    for (size_t i = 0; i < loud.size(); ++i) {
        loud[i] = static_cast<float>(1.5 * std::sin(2.0 * 3.14159265 * 440.0 * double(i) / kFs));
        quiet[i] = loud[i] * 0.1f;
    }
    filter.reset();
    filter.process(loud.data(), out.data(), 48000, 1.0f, true, nullptr, gain.data());
    EXPECT_LT(gain.back(), 0.9f);
    filter.reset();
    filter.process(quiet.data(), out.data(), 48000, 1.0f, true, nullptr, gain.data());
    EXPECT_EQ(gain.back(), 1.0f);
    // A NaN in the voice does not poison the filter.
    loud[10] = NAN;
    filter.process(loud.data(), out.data(), 48000, 1.0f, true);
    EXPECT_TRUE(std::isfinite(out.back()));
}

TEST(SlapEcho, DelayAndSendFollowAmount)
{
    EXPECT_EQ(SlapEcho::delayFrames(0, kFs), 23362);
    EXPECT_EQ(SlapEcho::delayFrames(20, kFs), 23362);
    EXPECT_EQ(SlapEcho::delayFrames(100, kFs), static_cast<int>(std::lround((0.4867 - 0.0134) * kFs)));
    EXPECT_EQ(SlapEcho::delayFrames(60, 1e6), SlapEcho::kRingFrames - 1); // limited to the ring
    EXPECT_FLOAT_EQ(SlapEcho::sendLevel(100), 0.0765f);
    EXPECT_FLOAT_EQ(SlapEcho::sendLevel(10), static_cast<float>(1.77 * std::pow(0.1, 1.4)));
    EXPECT_EQ(SlapEcho::sendLevel(0), 0.0f);
}

TEST(SlapEcho, IsOneDarkenedRepeatWithTheRightSideInvertedAtAFifth)
{
    SlapEcho slap;
    slap.prepare(kFs);
    const int frames = 3 * 24000;
    std::vector<float> in(frames, 0.0f), left(frames, 0.0f), right(frames, 0.0f);
    in[100] = 1.0f;
    for (int at = 0; at < frames; at += 480)
        slap.process(in.data() + at, left.data() + at, right.data() + at, 480, 50);
    const int delay = SlapEcho::delayFrames(50, kFs);
    for (int i = 0; i < 100 + delay; ++i)
        ASSERT_EQ(left[i], 0.0f) << i;
    double early = 0.0, late = 0.0;
    for (int i = 100 + delay; i < 100 + delay + 2400; ++i)
        early += std::fabs(left[i]);
    for (int i = 100 + 2 * delay - 100; i < frames; ++i)
        late += std::fabs(left[i]);
    EXPECT_GT(early, 0.01);
    EXPECT_LT(late, early * 1e-6); // no second repeat
    for (int i = 0; i < frames; ++i)
        ASSERT_NEAR(right[i], -0.2f * left[i], 1e-7f);
}

TEST(HauntedCavern, PlatesStayStableAndRingOut)
{
    ScopedFlushDenormals flush;
    HauntedCavern cavern;
    cavern.prepare(kFs);
    Lcg noise{4};
    std::vector<float> hp(480), gain(480), left(480), right(480);
    double driven = 0.0, last = 0.0, peak = 0.0;
    const int noiseBlocks = 1000, silentBlocks = 4000; // 10 s loud, 40 s quiet
    for (int b = 0; b < noiseBlocks + silentBlocks; ++b) {
        for (int i = 0; i < 480; ++i) {
            hp[i] = b < noiseBlocks ? noise.bipolar() : 0.0f;
            gain[i] = 0.6f + 0.4f * float(i % 2); // both plates driven
        }
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        cavern.process(hp.data(), gain.data(), b < noiseBlocks ? 0.8f : 0.0f, 60, left.data(), right.data(), 480);
        for (int i = 0; i < 480; ++i) {
            ASSERT_TRUE(std::isfinite(left[i]) && std::isfinite(right[i]));
            peak = std::max(peak, double(std::fabs(left[i])));
            const double e = double(left[i]) * left[i];
            if (b >= noiseBlocks - 100 && b < noiseBlocks)
                driven += e;
            if (b >= noiseBlocks + silentBlocks - 100)
                last += e;
        }
    }
    EXPECT_GT(driven, 0.0);
    EXPECT_LT(peak, 10.0);
    // Plates of 15 and 17 s fall by well over 60 dB in 40 s.
    EXPECT_LT(last, driven * 1e-6);
}

TEST(HauntedCavern, ClosedSendAddsNothingNew)
{
    HauntedCavern cavern;
    cavern.prepare(kFs);
    std::vector<float> hp(480, 0.5f), gain(480, 1.0f), left(480, 0.0f), right(480, 0.0f);
    for (int b = 0; b < 100; ++b)
        cavern.process(hp.data(), gain.data(), 0.0f, 80, left.data(), right.data(), 480);
    EXPECT_EQ(*std::max_element(left.begin(), left.end()), 0.0f);
    EXPECT_EQ(*std::min_element(right.begin(), right.end()), 0.0f);
}

TEST(HauntedCavern, DryDuckGrowsWithAmountAndLevel)
{
    CavernDryDuck duck;
    duck.prepare(kFs);
    std::vector<float> loud(480), silence(480, 0.0f);
    for (int i = 0; i < 480; ++i)
        loud[i] = (i % 2 == 0 ? 0.5f : -0.5f);
    EXPECT_EQ(duck.process(loud.data(), 480, 10), 0.0f);
    EXPECT_FLOAT_EQ(duck.process(loud.data(), 480, 100), 6.0f);
    EXPECT_NEAR(duck.process(loud.data(), 480, 55), 3.0f, 1e-5f);
    // After a second of silence the level has fallen far below −45 dBFS.
    float after = 1.0f;
    for (int b = 0; b < 200; ++b)
        after = duck.process(silence.data(), 480, 100);
    EXPECT_EQ(after, 0.0f);
}

TEST(HauntedCavern, ProcessingDoesNotAllocate)
{
    HauntedCavern cavern;
    cavern.prepare(kFs);
    ReverbSendFilter send;
    send.prepare(kFs);
    std::vector<float> voice(480, 0.3f), out(480), hp(480), gain(480), left(480), right(480);
    test::AllocationCounter counter;
    for (int b = 0; b < 50; ++b) {
        send.process(voice.data(), out.data(), 480, 0.5f, true, hp.data(), gain.data());
        cavern.process(hp.data(), gain.data(), 0.5f, 40, left.data(), right.data(), 480);
        cavern.dryDuckDb(voice.data(), 480, 40);
    }
    cavern.reset();
    EXPECT_EQ(counter.count(), 0u);
}

} // namespace
} // namespace dsp
