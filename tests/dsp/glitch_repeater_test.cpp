// The glitch repeater: the press and release ramps, tails counted from the
// press, the latched style, what each style does to a known signal, and every
// style on real speech without a click, a NaN or a lasting change.

#include "dsp/glitch_repeater.h"

#include "../support/alloc_counter.h"
#include "voice_signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace dsp {
namespace {

constexpr double kFs = 48000.0;
constexpr int kRamp = 288; // 6 ms

std::vector<float> tone(double hz, size_t n, double amplitude = 0.3)
{
    std::vector<float> y(n);
    for (size_t i = 0; i < n; ++i)
        y[i] = static_cast<float>(amplitude * std::sin(voicetest::kTau * hz * static_cast<double>(i) / kFs));
    return y;
}

// Runs a mono repeater over x; held over [press, release) (frames).
std::vector<float> run(GlitchRepeater& g, std::vector<float> x, size_t press, size_t release)
{
    for (size_t i = 0; i < x.size(); ++i) {
        g.setHeld(i >= press && i < release);
        g.process(&x[i], nullptr, 1);
    }
    return x;
}

GlitchRepeater mono(int style)
{
    GlitchRepeater g;
    g.prepare(kFs, 1);
    g.setStyle(style);
    return g;
}

double rms(const std::vector<float>& y, size_t from, size_t to)
{
    double sum = 0.0;
    for (size_t i = from; i < to; ++i)
        sum += static_cast<double>(y[i]) * y[i];
    return std::sqrt(sum / static_cast<double>(to - from));
}

double peak(const std::vector<float>& y, size_t from, size_t to)
{
    double p = 0.0;
    for (size_t i = from; i < to; ++i)
        p = std::max(p, static_cast<double>(std::fabs(y[i])));
    return p;
}

double maxStep(const std::vector<float>& y, size_t from, size_t to)
{
    double s = 0.0;
    for (size_t i = std::max<size_t>(from, 1); i < to; ++i)
        s = std::max(s, static_cast<double>(std::fabs(y[i] - y[i - 1])));
    return s;
}

// How far the largest sample-to-sample step while the output changes over
// at `at` (the ramp, and a little either side) exceeds every step of the
// output just before and just after it and of the dry voice around it: a
// click is a step that neither the voice nor the effect makes on its own.
double clickStep(const std::vector<float>& y, const std::vector<float>& dry, size_t at)
{
    const size_t from = at - 48, to = at + kRamp + 48;
    const double around = std::max({maxStep(y, from - 480, from), maxStep(y, to, to + 480),
        maxStep(dry, from - 480, to + 480)});
    return maxStep(y, from, to) - around;
}

// Frequency from the rising zero crossings of y[from, to).
double crossingHz(const std::vector<float>& y, size_t from, size_t to)
{
    int crossings = 0;
    size_t first = 0, last = 0;
    for (size_t i = from + 1; i < to; ++i) {
        if (y[i - 1] < 0.0f && y[i] >= 0.0f) {
            if (crossings == 0)
                first = i;
            last = i;
            ++crossings;
        }
    }
    return crossings < 2 ? 0.0 : (crossings - 1) * kFs / static_cast<double>(last - first);
}

TEST(GlitchRepeater, HoldingCutSilencesAfterTheRampAndReleaseFadesBackWithin6ms)
{
    GlitchRepeater g = mono(kGlitchCut);
    const auto x = tone(220.0, 96000);
    const size_t press = 24000, release = 24000 + 30000; // held 0.625 s
    const auto y = run(g, x, press, release);
    EXPECT_EQ(peak(y, 0, press), peak(x, 0, press));
    EXPECT_LT(maxStep(y, press - 10, press + 400), 0.02);
    EXPECT_EQ(peak(y, press + kRamp, release), 0.0);
    for (size_t i = release + kRamp; i < y.size(); ++i)
        ASSERT_EQ(y[i], x[i]) << i;
}

TEST(GlitchRepeater, ATapShorterThanItsTailStillCutsFor300ms)
{
    GlitchRepeater g = mono(kGlitchCut);
    const auto x = tone(220.0, 72000);
    const size_t press = 12000;
    const auto y = run(g, x, press, press + 2400); // a 50 ms tap
    EXPECT_EQ(peak(y, press + kRamp, press + 14400), 0.0);
    EXPECT_GT(peak(y, press + 14400 + kRamp, press + 14400 + 2 * kRamp), 0.25);
    for (size_t i = press + 14400 + kRamp; i < y.size(); ++i)
        ASSERT_EQ(y[i], x[i]) << i;
}

TEST(GlitchRepeater, BeepOnSilenceBeepsAtTheLowestLevelAndOnSpeechLouder)
{
    GlitchRepeater g = mono(kGlitchBeep);
    const auto y = run(g, std::vector<float>(48000, 0.0f), 12000, 36000);
    EXPECT_NEAR(peak(y, 12000 + kRamp, 36000), 0.05, 1e-3);
    EXPECT_NEAR(crossingHz(y, 12000 + kRamp, 36000), 1000.0, 2.0);

    GlitchRepeater loud = mono(kGlitchBeep);
    const auto z = run(loud, tone(220.0, 48000, 0.8), 24000, 36000);
    EXPECT_NEAR(peak(z, 24000 + kRamp, 36000), 0.3, 1e-3); // 0.8 × a loud envelope, at most 0.3
}

TEST(GlitchRepeater, TheStyleIsLatchedAtThePressAndClamped)
{
    GlitchRepeater g = mono(kGlitchCut);
    std::vector<float> x = tone(220.0, 48000);
    for (size_t i = 0; i < x.size(); ++i) {
        g.setHeld(i >= 12000 && i < 24000);
        if (i == 14000)
            g.setStyle(kGlitchBeep); // while held: the cut goes on
        g.process(&x[i], nullptr, 1);
    }
    EXPECT_EQ(g.runningStyle(), kGlitchCut);
    EXPECT_EQ(peak(x, 12000 + kRamp, 24000), 0.0);
    g.setHeld(true);
    EXPECT_EQ(g.runningStyle(), kGlitchBeep);

    g.setStyle(20);
    EXPECT_EQ(g.style(), 12);
    g.setStyle(-3);
    EXPECT_EQ(g.style(), 0);
}

TEST(GlitchRepeater, TailsAreCountedFromThePressAndShortCapturesHaveNone)
{
    const int64_t expected[kGlitchStyleCount]
        = {1, 14400, 14400, 14400, 38400, 14400, 43200, 33600, 38400 * 20 / 39, 24000 * 100 / 55, 72000, 14400, 14400};
    for (int style = 0; style < kGlitchStyleCount; ++style) {
        GlitchRepeater g = mono(style);
        std::vector<float> x = tone(220.0, 60000);
        g.process(x.data(), nullptr, 60000);
        g.setHeld(true);
        EXPECT_EQ(g.tailFrames(), expected[style]) << "style " << style;

        // Pressed four frames after a reset: nothing to capture.
        GlitchRepeater fresh = mono(style);
        std::vector<float> y = tone(220.0, 24000);
        fresh.process(y.data(), nullptr, 4);
        fresh.setHeld(true);
        const bool needsCapture = style == kGlitchCrush || style == kGlitchChipmunk || style == kGlitchDeep;
        if (needsCapture) {
            EXPECT_EQ(fresh.tailFrames(), 1) << style;
        }
        fresh.process(y.data() + 4, nullptr, 24000 - 4);
        for (float v : y)
            ASSERT_TRUE(std::isfinite(v));
        if (needsCapture || style == kGlitchScratch || style == kGlitchGlitch) {
            EXPECT_LT(peak(y, 4 + kRamp, 24000), 1e-6) << style;
        }
    }
}

TEST(GlitchRepeater, TapeStopSlowsToAHaltAndChipmunkAndDeepShiftThePitch)
{
    // A steady 400 Hz tone: the read speed shows as the output frequency.
    const auto x = tone(400.0, 120000);
    const size_t press = 60000;
    GlitchRepeater tape = mono(kGlitchTapeStop);
    const auto t = run(tape, x, press, press + 60000);
    EXPECT_NEAR(crossingHz(t, press + 480, press + 2400), 400.0 * (1.0 - 1440.0 / 38400.0), 15.0);
    EXPECT_NEAR(crossingHz(t, press + 19200, press + 21120), 400.0 * 0.475, 15.0); // half way: d ≈ 0.5
    EXPECT_EQ(peak(t, press + 38400, press + 60000), 0.0);                         // stopped; silent until release

    GlitchRepeater chip = mono(kGlitchChipmunk);
    const auto c = run(chip, x, press, press + 24000);
    // 1.3x at the press, speeding up by 1.3·a/T: about 1.38x over the first 40 ms.
    EXPECT_NEAR(crossingHz(c, press + 480, press + 1920), 400.0 * 1.3 * (1.0 + 1200.0 / (38400.0 * 20 / 39)), 10.0);
    // Tapped: where its tail ends, the sped-up tone fades out over 5 ms before
    // the dry one ramps back in, so no step there outgrows the fast tone's own
    // just before; cut off, it would drop from wherever it was.
    const size_t end = press + 38400 * 20 / 39;
    GlitchRepeater tap = mono(kGlitchChipmunk);
    const auto tapped = run(tap, x, press, press + 4800);
    EXPECT_LT(maxStep(tapped, end - 960, end + 960), 1.1 * maxStep(tapped, end - 2000, end - 960));

    GlitchRepeater deep = mono(kGlitchDeep);
    const auto d = run(deep, x, press, press + 48000);
    EXPECT_NEAR(crossingHz(d, press + 480, press + 9600), 400.0 * 0.55, 5.0);
    // Its last 40 % fade: at 80 % of the tail the level is a half.
    const size_t tail = 24000 * 100 / 55;
    EXPECT_NEAR(peak(d, press + tail * 8 / 10 - 600, press + tail * 8 / 10 + 600), 0.3 * 0.5, 0.02);
}

TEST(GlitchRepeater, EchoCutsTheVoiceAndRepeatsTheLast300msEvery300ms)
{
    // A 100 ms burst ending 50 ms before the press; silence after it.
    std::vector<float> x(96000, 0.0f);
    const size_t press = 24000;
    const auto burst = tone(300.0, 4800, 0.5);
    std::copy(burst.begin(), burst.end(), x.begin() + press - 7200);
    GlitchRepeater g = mono(kGlitchEcho);
    const auto y = run(g, x, press, press + 4800);
    // The burst sits 150..50 ms before the press: its echoes come 300 ms on, and each
    // pass is 0.55 × a low-passed copy of the last.
    const double first = peak(y, press + 14400 - 7200, press + 14400 - 2400);
    const double second = peak(y, press + 28800 - 7200, press + 28800 - 2400);
    EXPECT_NEAR(first, 0.8 * 0.5, 0.05);
    EXPECT_NEAR(second / first, 0.55, 0.05);
    EXPECT_LT(peak(y, press + kRamp, press + 14400 - 7300), 1e-3); // the voice itself is cut
}

TEST(GlitchRepeater, RepeatLoopsTheWordAndANewWordTakesOver)
{
    // A word (a 200 Hz burst) then quiet; held from 0.5 s.
    std::vector<float> x(144000, 0.0f);
    const auto word = tone(200.0, 9600, 0.4);
    std::copy(word.begin(), word.end(), x.begin() + 14400);
    const size_t press = 24000;
    // A second word (600 Hz) while held.
    const auto second = tone(600.0, 19200, 0.4);
    std::copy(second.begin(), second.end(), x.begin() + 72000);
    GlitchRepeater g = mono(kGlitchRepeat);
    std::vector<float> y = x;
    g.process(y.data(), nullptr, static_cast<int>(press));
    g.setHeld(true);
    // The loop runs from the first word's onset (3 ms early) to the press, minus the seam fade.
    EXPECT_NEAR(static_cast<double>(g.captureFrames()), 24000.0 - 14400.0 + 144.0, 24.0);
    const auto period = static_cast<size_t>(g.captureFrames() - 240);
    g.process(y.data() + press, nullptr, 140000 - static_cast<int>(press));
    g.setHeld(false);
    g.process(y.data() + 140000, nullptr, static_cast<int>(y.size()) - 140000);
    for (size_t i = press + 1000; i < press + 2000; ++i)
        ASSERT_NEAR(y[i + period], y[i], 1e-6) << i;
    EXPECT_NEAR(crossingHz(y, press + 1000, press + 5000), 200.0, 5.0);
    // The old loop runs on unchanged until 0.16 s after the new word shows
    // in the level measure (within a millisecond of its start).
    size_t takeover = 72000;
    while (takeover < 72000 + 20000 && std::fabs(y[takeover] - y[takeover - period]) < 1e-6f)
        ++takeover;
    EXPECT_GE(takeover, 72000u + 7680u);
    EXPECT_LE(takeover, 72000u + 7680u + 48u);
    // 0.16 s after the second word starts its loop takes over.
    EXPECT_NEAR(crossingHz(y, 72000 + 12000, 72000 + 20000), 600.0, 10.0);
    EXPECT_NEAR(crossingHz(y, 110000, 120000), 600.0, 10.0);
    EXPECT_LT(maxStep(y, 72000 + 7000, 72000 + 9000), 0.1);
}

TEST(GlitchRepeater, ReversePlaysTheLastStretchBackwardsOnEachChannel)
{
    // Two different steady tones: no onset in the last second, so the stretch ends now.
    const auto l = tone(300.0, 96000, 0.3);
    const auto r = tone(450.0, 96000, 0.2);
    std::vector<float> yl = l, yr = r;
    GlitchRepeater g;
    g.prepare(kFs, 2);
    g.setStyle(kGlitchReverse);
    const size_t press = 72000;
    g.process(yl.data(), yr.data(), static_cast<int>(press));
    g.setHeld(true);
    g.process(yl.data() + press, yr.data() + press, 24000);
    for (size_t k = kRamp; k < 24000; ++k) {
        ASSERT_NEAR(yl[press + k], l[press - 1 - k], 1e-6) << k;
        ASSERT_NEAR(yr[press + k], r[press - 1 - k], 1e-6) << k;
    }
}

TEST(GlitchRepeater, StutterLoopsShortenAndGlitchKeepsTheVoiceAudible)
{
    const auto x = tone(250.0, 96000, 0.3);
    GlitchRepeater stutter = mono(kGlitchStutter);
    const auto s = run(stutter, x, 48000, 96000);
    // Passes of 5760 frames, two of 2880, then 1440 from then on.
    const size_t late = 48000 + 2 * 5760 + 2 * 2880 + 2000;
    for (size_t i = late; i < late + 1000; ++i)
        ASSERT_NEAR(s[i + 1440], s[i], 1e-6) << i;

    GlitchRepeater glitch = mono(kGlitchGlitch);
    const auto y = run(glitch, x, 48000, 96000);
    EXPECT_GT(rms(y, 52000, 96000), 0.5 * rms(x, 52000, 96000));
    EXPECT_LT(peak(y, 48000, 96000), 0.31 * 2);
}

// Every style, pressed in a word, in a pause and at a word's end, held for
// 0.7 s or tapped for 0.1 s (shorter than any tail), mono and stereo: the
// output stays finite, clicks neither at the press nor at the release nor at
// the end of the tail, and from the later of the release and the end of the
// tail (plus the ramp) it is the dry voice again, sample for sample; only
// Echo's line rings on, and it has died away three seconds later.
TEST(GlitchRepeater, EveryStyleOnSpeechIsCleanAndReturnsToTheDryVoice)
{
    std::vector<float> speech = voicetest::speechOrSyllables(
        "Hold the button and the words come back around again and again", 5.0);
    speech.resize(static_cast<size_t>(9 * kFs), 0.0f);
    const double scale = 0.5 / peak(speech, 0, speech.size());
    for (float& v : speech)
        v = static_cast<float>(v * scale);
    // The right channel: the same voice a little later and quieter.
    std::vector<float> right(speech.size(), 0.0f);
    for (size_t i = 37; i < right.size(); ++i)
        right[i] = 0.8f * speech[i - 37];
    const double loudness = rms(speech, 0, static_cast<size_t>(5 * kFs));
    constexpr size_t kBlock = 480;

    for (int style = 0; style < kGlitchStyleCount; ++style) {
        for (const size_t press : {62400u, 124800u, 158400u}) {
            for (const size_t hold : {33600u, 4800u}) {
                for (const int channels : {1, 2}) {
                    SCOPED_TRACE(::testing::Message() << "style " << style << " pressed at "
                                                      << press << " for " << hold << ", " << channels << " channel(s)");
                    GlitchRepeater g;
                    g.prepare(kFs, channels);
                    g.setStyle(style);
                    std::vector<float> yl = speech, yr = right;
                    const size_t release = press + hold;
                    int64_t tail = 0;
                    for (size_t i = 0; i < yl.size(); i += kBlock) {
                        g.setHeld(i >= press && i < release);
                        if (i == press)
                            tail = g.tailFrames();
                        g.process(&yl[i], channels == 2 ? &yr[i] : nullptr, static_cast<int>(kBlock));
                    }
                    const size_t back = std::max(release, press + static_cast<size_t>(tail));
                    for (int ch = 0; ch < channels; ++ch) {
                        const std::vector<float>& y = ch == 0 ? yl : yr;
                        const std::vector<float>& dry = ch == 0 ? speech : right;
                        for (float v : y)
                            ASSERT_TRUE(std::isfinite(v));
                        // (Speech peaks at 0.5; without the ramp nine styles step up to 0.17 beyond.)
                        for (const size_t at : {press, release, back})
                            EXPECT_LT(clickStep(y, dry, at), 0.03) << "at " << at;
                        if (style == kGlitchEcho) {
                            // The line rings on after the tail, 0.55 per pass.
                            const size_t settled = back + static_cast<size_t>(3 * kFs);
                            std::vector<float> diff(y.size() - settled);
                            for (size_t i = settled; i < y.size(); ++i)
                                diff[i - settled] = y[i] - dry[i];
                            EXPECT_LT(rms(diff, 0, diff.size()), 0.01 * loudness);
                        } else {
                            for (size_t i = back + kRamp; i < y.size(); ++i)
                                ASSERT_EQ(y[i], dry[i]) << i;
                        }
                    }
                }
            }
        }
    }
}

TEST(GlitchRepeater, ProcessingAndPressingNeverAllocate)
{
    GlitchRepeater g;
    g.prepare(kFs, 2);
    auto l = tone(200.0, 48000), r = tone(300.0, 48000);
    test::AllocationCounter counter;
    for (int style = 0; style < kGlitchStyleCount; ++style) {
        g.setStyle(style);
        g.setHeld(true);
        g.process(l.data(), r.data(), 24000);
        g.setHeld(false);
        g.process(l.data() + 24000, r.data() + 24000, 24000);
    }
    g.reset();
    EXPECT_EQ(counter.count(), 0u);
}

} // namespace
} // namespace dsp
