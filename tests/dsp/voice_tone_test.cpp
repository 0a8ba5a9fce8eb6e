// The vocal expander and its gate tone, the mic tone's glide, and the
// card-mic voicing.

#include "dsp/card_mic.h"
#include "dsp/mic_tone.h"
#include "dsp/vocal_expander.h"
#include "signal_util.h"
#include "support/alloc_counter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace dsp {
namespace {

using testing::kFs;

TEST(VocalExpander, SettingsMapToThresholdExponentBandsAndOutput)
{
    const ExpanderRecord defaults = expanderRecordFrom(50, 120, 120, 120, -50);
    EXPECT_EQ(defaults, ExpanderRecord{}); // the template: −17, 0.95, 12, 12, 12, −5
    EXPECT_NEAR(expanderRecordFrom(25, 0, 0, 0, 0).thresholdDb, -41.5, 1e-12);
    EXPECT_NEAR(expanderRecordFrom(0, 0, 0, 0, 0).thresholdDb, -66.0, 1e-12);
    EXPECT_NEAR(expanderRecordFrom(100, 0, 0, 0, 0).exponent, 1.9, 1e-12);
    EXPECT_NEAR(expanderRecordFrom(75, 0, 0, 0, 0).exponent, 0.95 * 1.5, 1e-12);
    EXPECT_EQ(expanderRecordFrom(-20, 0, 0, 0, 0), expanderRecordFrom(0, 0, 0, 0, 0));
    const ExpanderRecord r = expanderRecordFrom(50, -35, 7, 120, -120);
    EXPECT_DOUBLE_EQ(r.loDb, -3.5);
    EXPECT_DOUBLE_EQ(r.midDb, 0.7);
    EXPECT_DOUBLE_EQ(r.outDb, -12.0);
}

TEST(VocalExpander, FirstOrderShelvesReachTheirGainsAtTheEnds)
{
    const BiquadCoeffs lo = designFirstOrderLowShelf(60.5, 4.0, kFs);
    EXPECT_NEAR(magnitudeDb(lo, 1.0, kFs), 20 * std::log10(4.0), 0.01);
    EXPECT_NEAR(magnitudeDb(lo, 20000.0, kFs), 0.0, 0.01);
    const BiquadCoeffs hi = designFirstOrderHighShelf(6310.0, 0.5, kFs);
    EXPECT_NEAR(magnitudeDb(hi, 10.0, kFs), 0.0, 0.01);
    EXPECT_NEAR(magnitudeDb(hi, 23999.0, kFs), 20 * std::log10(0.5), 0.05);
}

TEST(VocalExpander, QuietSoundIsPushedDownAndLoudSoundKeepsTheToneCurve)
{
    // Flat tone and 0 dB output so the gain is the expander's alone.
    ExpanderRecord r = expanderRecordFrom(50, 0, 0, 0, 0);
    auto levelOut = [&](double amplitude) {
        VocalExpander e;
        e.prepare(kFs);
        e.set(r);
        return testing::measuredGainDb(
                   [&](float x) {
                       float y = static_cast<float>(x * amplitude / 0.25);
                       e.process(&y, 1);
                       return y;
                   },
                   1000.0)
            - 20.0 * std::log10(amplitude / 0.25);
    };
    // Above −17 dB: untouched. 20 dB under the threshold: about 0.95 × 20 dB more down
    // (the envelope of a sine sits at 2/π of its peak, a little under it).
    EXPECT_NEAR(levelOut(0.5), 0.0, 0.1);
    const double quiet = levelOut(std::pow(10.0, -37.0 / 20.0) * kPi / 2.0);
    EXPECT_LT(quiet, -17.0);
    EXPECT_GT(quiet, -21.0);

    // With the default gate tone, a loud 652 Hz tone gets +12 (peak) − 5 (out) dB.
    VocalExpander e;
    e.prepare(kFs);
    e.set(ExpanderRecord{});
    const double g = testing::measuredGainDb(
        [&](float x) {
            float y = 2.0f * x;
            e.process(&y, 1);
            return y / 2.0f;
        },
        652.0);
    EXPECT_NEAR(g,
        12.0 - 5.0 + magnitudeDb(designFirstOrderLowShelf(60.5, 3.98107, kFs), 652.0, kFs)
            + magnitudeDb(designFirstOrderHighShelf(6310.0, 3.98107, kFs), 652.0, kFs),
        0.2);
}

TEST(MicTone, DoesNothingUntilTheFirstNonZeroTargetArrives)
{
    MicTone tone;
    tone.prepare(kFs);
    std::vector<float> x(480, 0.3f), y = x;
    tone.setTargets(0.0, 0.0, 0.0);
    tone.process(y.data(), 480);
    EXPECT_EQ(x, y);
    EXPECT_FALSE(tone.started());
    tone.setTargets(6.0, 0.0, 0.0);
    EXPECT_TRUE(tone.started());
}

TEST(MicTone, GlidesToItsTargetsAndBackToFlatWithoutSwitching)
{
    MicTone tone;
    tone.prepare(kFs);
    tone.setTargets(12.0, -6.0, 9.0);
    std::vector<float> block(480);
    // After one 32-frame chunk the low band has moved 1 − exp(−32/1440) of the way.
    tone.process(block.data(), 32);
    EXPECT_NEAR(tone.currentDb(0), 12.0 * (1.0 - std::exp(-32.0 / 1440.0)), 1e-9);
    for (int b = 0; b < 50; ++b)
        tone.process(block.data(), 480);
    EXPECT_EQ(tone.currentDb(0), 12.0); // snapped within 0.01 dB
    EXPECT_NEAR(magnitudeDb(tone.coeffs(2), 12000.0, kFs), 9.0, 0.1);

    // tone_on off: targets 0. After 10 ms the low band is still well above 0,
    // after about 200 ms it is flat, and no step larger than a chunk's share happens.
    tone.setTargets(0.0, 0.0, 0.0);
    double previous = tone.currentDb(0);
    double largestStep = 0.0;
    int chunks = 0;
    while (tone.currentDb(0) != 0.0 && chunks < 1000) {
        tone.process(block.data(), 32);
        largestStep = std::max(largestStep, previous - tone.currentDb(0));
        previous = tone.currentDb(0);
        ++chunks;
    }
    EXPECT_LT(largestStep, 12.0 * (1.0 - std::exp(-32.0 / 1440.0)) + 1e-9);
    EXPECT_GT(chunks * 32, static_cast<int>(0.03 * kFs)); // not a switch
    EXPECT_LT(chunks * 32, static_cast<int>(0.4 * kFs));  // a few hundred ms at most
    EXPECT_TRUE(tone.coeffs(0).isIdentity());
}

TEST(CardMicVoicing, ShapesTheVoiceFadesInAndStopsCleanly)
{
    CardMicVoicing v;
    v.prepare(kFs);
    v.enable(true);
    EXPECT_NEAR(testing::measuredGainDb([&](float x) { return v.process(x); }, 50.0), 5.0, 0.3);
    EXPECT_NEAR(testing::measuredGainDb([&](float x) { return v.process(x); }, 1700.0),
        -1.5 + magnitudeDb(designLowShelf(200.0, 5.0, kFs), 1700.0, kFs), 0.05);
    // Switching off crossfades: the first sample after the switch is still shaped, 10 ms later it is dry.
    v.enable(false);
    int frames = 0;
    while (v.process(0.1f) != 0.1f && frames < 48000)
        ++frames;
    EXPECT_GT(frames, 400);
    EXPECT_LE(frames, 481);
    EXPECT_FALSE(v.enabled());
}

TEST(VoiceTone, ProcessingNeverAllocates)
{
    VocalExpander e;
    e.prepare(kFs);
    MicTone t;
    t.prepare(kFs);
    CardMicVoicing c;
    c.prepare(kFs);
    std::vector<float> block(480);
    test::AllocationCounter counter;
    for (int b = 0; b < 50; ++b) {
        std::fill(block.begin(), block.end(), 0.1f);
        e.set(expanderRecordFrom(b, 10 * b, 0, -10 * b, 0));
        t.setTargets(b % 3, -b % 5, 0.5 * b);
        c.enable(b % 2);
        e.process(block.data(), 480);
        t.process(block.data(), 480);
        c.process(block.data(), 480);
    }
    EXPECT_EQ(counter.count(), 0u);
    for (float v : block)
        EXPECT_TRUE(std::isfinite(v));
}

} // namespace
} // namespace dsp
