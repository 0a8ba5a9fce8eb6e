// The resampling shifter and the stereo mask processor: pitch by ratio, grain
// splices, the ratio and mask settings, every mask on speech, the on/off fade,
// and no allocation once prepared.

#include "dsp/gain.h"
#include "dsp/mask_processor.h"
#include "dsp/mask_table.h"
#include "mask_signals.h"
#include "support/alloc_counter.h"

#include <gtest/gtest.h>

namespace dsp {
namespace {

using mask_test::kFs;

// Counts what reaches the glitch step.
class CountingGlitch : public MaskGlitchHook {
public:
    void prepare(double) override { prepared = true; }
    void reset() noexcept override { ++resets; }
    void setGlitch(bool h, int s) noexcept override
    {
        held = h;
        style = s;
    }
    void process(float*, float*, int frames) noexcept override { processed += frames; }

    bool prepared = false;
    int resets = 0;
    bool held = false;
    int style = -1;
    long processed = 0;
};

TEST(ResamplingShifter, SilenceGivesASearchOffsetOfZero)
{
    ResamplingShifter shifter;
    shifter.prepare(kFs);
    EXPECT_EQ(shifter.grain(), 2400);
    EXPECT_EQ(shifter.crossfade(), 480);
    EXPECT_EQ(shifter.search(), 576);
    EXPECT_GE(shifter.ringLength(), 5968u);
    for (int i = 0; i < 8000; ++i)
        shifter.write(0.0f, 0.0f);
    EXPECT_EQ(shifter.searchOffset(4000, 3000), 0);
}

TEST(ResamplingShifter, MovesAToneByTheRatioWithoutDropoutsAtGrainBoundaries)
{
    for (double ratio : {0.5, 0.8, 1.25, 2.0}) {
        ResamplingShifter shifter;
        shifter.prepare(kFs);
        shifter.restart(ratio);
        const auto in = mask_test::tone(400, 0.4, 48000);
        std::vector<float> out(in.size());
        for (size_t i = 0; i < in.size(); ++i) {
            float l = in[i];
            float r = in[i];
            shifter.process(l, r, ratio);
            out[i] = l;
        }
        const size_t from = 9600;
        const double f = mask_test::peakFrequency(out.data() + from, 12000, 400 * ratio, 0.03);
        EXPECT_NEAR(f / (400 * ratio), 1.0, 0.005) << ratio;

        // RMS over whole output periods, every 120 frames across many grains.
        const auto period = static_cast<size_t>(kFs / (400 * ratio));
        const size_t window = period * ((480 + period - 1) / period);
        double low = 1e9;
        double high = 0.0;
        for (size_t at = from; at + window <= out.size(); at += 120) {
            const double level = mask_test::rms(out.data() + at, window);
            low = std::min(low, level);
            high = std::max(high, level);
        }
        EXPECT_LT(20.0 * std::log10(high / low), 1.0) << ratio;
    }
}

TEST(MaskProcessor, RatioOneBypassesTheShifterAfterItsFadeOut)
{
    EXPECT_EQ(MaskProcessor::requestedRatio(0, 1000), 1.0);
    EXPECT_NEAR(MaskProcessor::requestedRatio(150, 2450), 3.675, 1e-12);

    MaskProcessor p;
    p.prepare(kFs);
    p.setPitchAndMask(150, kMasks[29].ratio, 29);
    EXPECT_EQ(p.ratio(), 2.5);
    p.setPitchAndMask(0, 1000, 13); // "Neutral": no kind
    EXPECT_EQ(p.ratio(), 1.0);

    auto l = mask_test::tone(300, 0.3, 9600);
    auto r = l;
    p.setPitchAndMask(0, 1300, 13);
    p.process(l.data(), r.data(), 4800, true);
    EXPECT_GT(p.shifterFade(), 0.99f);
    p.setPitchAndMask(0, 1000, 13);
    p.process(l.data() + 4800, r.data() + 4800, 2400, true);
    EXPECT_EQ(p.shifterFade(), 0.0f);
    auto tail = mask_test::tone(300, 0.3, 2400);
    auto copy = tail;
    auto right = tail;
    p.process(tail.data(), right.data(), 2400, true);
    EXPECT_EQ(tail, copy);
    EXPECT_EQ(right, copy);
}

TEST(MaskProcessor, NoMaskStillRunsTheShifterAndTheGlitchStep)
{
    MaskProcessor p;
    auto hook = std::make_unique<CountingGlitch>();
    CountingGlitch* glitch = hook.get();
    p.installGlitch(std::move(hook));
    p.prepare(kFs);
    EXPECT_TRUE(glitch->prepared);
    for (int mask : {42, 99, -1}) {
        p.setPitchAndMask(0, 1500, mask);
        EXPECT_EQ(p.maskIndex(), -1);
        p.setGlitch(true, 20);
        EXPECT_TRUE(glitch->held);
        EXPECT_EQ(glitch->style, 12);
        const long before = glitch->processed;
        auto l = mask_test::tone(300, 0.3, 1000);
        auto r = l;
        p.process(l.data(), r.data(), 1000, true);
        EXPECT_EQ(glitch->processed - before, 1000);
        EXPECT_EQ(p.channel(0).kind(), MaskKind::None);
        EXPECT_GT(p.shifterFade(), 0.0f);
    }
    const int resets = glitch->resets;
    p.reset();
    EXPECT_EQ(glitch->resets, resets + 1);
    EXPECT_EQ(p.mix(), 0.0f);
}

TEST(MaskProcessor, EveryMaskOnSpeechStaysFiniteBoundedAndLevelMatched)
{
    const auto& speech = mask_test::speech();
    if (speech.empty())
        GTEST_SKIP() << "espeak-ng is not installed: no speech to test the masks on";
    const double inputLevel = mask_test::rms(speech.data(), speech.size());
    std::vector<float> l(speech.size());
    std::vector<float> r(speech.size());
    for (int mask = 0; mask < kMaskCount; ++mask) {
        MaskProcessor p;
        p.prepare(kFs);
        p.setPitchAndMask(0, kMasks[static_cast<size_t>(mask)].ratio, mask);
        l = speech;
        r = speech;
        for (size_t at = 0; at < l.size(); at += 480)
            p.process(l.data() + at, r.data() + at, static_cast<int>(std::min<size_t>(480, l.size() - at)), true);
        bool finite = true;
        float peak = 0.0f; // before the output's soft clip, which no mask may lean on
        for (size_t i = 0; i < l.size(); ++i) {
            for (float* v : {&l[i], &r[i]}) {
                finite = finite && std::isfinite(*v);
                peak = std::max(peak, std::fabs(*v));
                *v = softClip(*v);
            }
        }
        const int name = mask;
        EXPECT_TRUE(finite) << name;
        EXPECT_LT(peak, 1.0f) << name << ": the speech peaks at 0.5";
        const double level = 20.0 * std::log10(mask_test::rms(l.data(), l.size()) / inputLevel);
        EXPECT_LT(std::fabs(level), 12.0) << name << " " << level << " dB";
    }
}

TEST(MaskProcessor, SwitchingOnAndOffFadesWithoutAClick)
{
    // "Robot" at ratio 1 on a 200 Hz tone: the wet signal is the tone times a
    // 75 Hz carrier, far from the dry one, so a jump would show at once.
    const int mask = 15;
    const size_t n = 48000;
    auto run = [&](auto onAt) {
        MaskProcessor p;
        p.prepare(kFs);
        p.setPitchAndMask(0, 1000, mask);
        auto l = mask_test::tone(200, 0.5, n);
        auto r = l;
        for (size_t at = 0; at < n; at += 480)
            p.process(l.data() + at, r.data() + at, 480, onAt(at));
        return l;
    };
    const auto dry = run([](size_t) { return false; });
    const auto wet = run([](size_t) { return true; });
    const auto switched = run([](size_t at) { return at >= 9600 && at < 28800; });
    // During a fade out = dry + (wet − dry)·m with m moving 1/1920 per frame,
    // so a step is at most the larger of the two signals' own steps plus
    // |wet − dry|/1920.
    double gap = 0.0;
    for (size_t i = 0; i < n; ++i)
        gap = std::max(gap, static_cast<double>(std::fabs(wet[i] - dry[i])));
    const double bound = std::max(mask_test::largestStep(dry, 4800, n), mask_test::largestStep(wet, 4800, n))
        + gap / 1920.0 + 1e-4;
    EXPECT_LT(mask_test::largestStep(switched, 9600, 9600 + 1920), bound);
    EXPECT_LT(mask_test::largestStep(switched, 28800, 28800 + 1920), bound);
    // The fades do reach both ends.
    EXPECT_EQ(switched[20000], wet[20000]);
    EXPECT_EQ(switched[40000], dry[40000]);
}

TEST(MaskProcessor, NothingAllocatesAfterPrepareAcrossMaskChanges)
{
    MaskProcessor p;
    p.prepare(kFs);
    auto l = mask_test::tone(220, 0.3, 480);
    auto r = l;
    std::vector<float> interleaved(960, 0.1f);
    test::AllocationCounter counter;
    for (int block = 0; block < 2 * kMaskCount + 4; ++block) {
        const int mask = block % (kMaskCount + 2);
        p.setPitchAndMask(block % 3 == 0 ? 0 : 60, kMasks[static_cast<size_t>(mask % kMaskCount)].ratio, mask);
        p.process(l.data(), r.data(), 480, block % 5 != 4);
        p.processInterleaved(interleaved.data(), 480, true);
        p.feedBypass(l.data(), r.data(), 480);
    }
    EXPECT_EQ(counter.count(), 0u);
}

} // namespace
} // namespace dsp
