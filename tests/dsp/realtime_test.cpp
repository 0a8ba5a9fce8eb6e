// After prepare(), no block of any primitive or of the equalizer allocates.

#include "dsp/bass_boost.h"
#include "dsp/biquad.h"
#include "dsp/crossfade.h"
#include "dsp/delay_ring.h"
#include "dsp/denormals.h"
#include "dsp/equalizer.h"
#include "dsp/fft.h"
#include "dsp/gain.h"
#include "dsp/random.h"
#include "dsp/time_stretch.h"
#include "support/alloc_counter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <vector>

namespace dsp {
namespace {

TEST(AllocationCounter, CountsAllocationsAndFreesOnlyWhileArmedUnpausedAndOnlyThisThread)
{
    size_t counted = 0, freed = 0;
    auto made = std::make_unique<int>(1);
    {
        test::AllocationCounter counter;
        auto p = std::make_unique<int>(3);
        std::vector<float> v(100);
        made.reset();
        counted = counter.count();
        freed = counter.frees();
        {
            test::AllocationCounter::Pause pause;
            auto unseen = std::make_unique<int>(4);
        }
        EXPECT_EQ(counter.count(), counted);
        EXPECT_EQ(counter.frees(), freed);
    }
    EXPECT_EQ(counted, 2u);
    EXPECT_EQ(freed, 1u);
    test::AllocationCounter outer;
    auto before = std::make_unique<double>(1.0);
    {
        test::AllocationCounter inner;
        EXPECT_EQ(inner.count(), 0u);
    }
    EXPECT_EQ(outer.count(), 1u);
}

TEST(Realtime, NoBlockAllocatesAfterPrepare)
{
    constexpr int kFrames = 480;
    Equalizer eq;
    eq.prepare(48000);
    BassBoost boost;
    boost.prepare(48000);
    LevelMatcher matcher;
    matcher.prepare(48000);
    LookAheadLimiter limiter;
    limiter.prepare(48000);
    InputCompressor compressor;
    compressor.prepare(48000);
    DelayRing<float> ring;
    ring.prepare(4096);
    FftPlan plan;
    plan.prepare(1024);
    RealFft real;
    real.prepare(1024);
    TimeStretchCore stretch;
    stretch.prepare(48000, kClipStretchSetup);
    SmoothedSwitch fade;
    fade.prepare(0.04, 48000);
    Biquad hp;
    hp.setCoeffs(designReverbSendHighPass(48000));
    std::vector<float> dry(kFrames), wet(kFrames), frame(1024);
    std::vector<std::complex<float>> spectrum(1024), bins(513);
    Lcg g{5};

    test::AllocationCounter counter;
    ScopedFlushDenormals flush;
    for (int block = 0; block < 100; ++block) {
        // Settings changes arrive between blocks, as the engine applies them.
        eq.setBandsAndLevel({block % 25 - 12, 8, -3, 0, 4, -block % 13, 12}, block % 25);
        boost.setBoost(bassBoostForMicLevel(100 + block));
        fade.setTarget(block % 2 == 0);
        for (int i = 0; i < kFrames; ++i) {
            dry[i] = g.bipolar() * 0.3f;
            wet[i] = softClip(driveClip(dry[i] * 3.0f, 1.8f)) * compressor.process(dry[i]);
            float l = dry[i], r = wet[i];
            eq.process(l, r);
            boost.process(l, r);
            eq.processAmbit(l, r);
            ring.write(hp.process(fade.mix(l, r)));
            stretch.write(l, r);
        }
        matcher.process(dry.data(), wet.data(), kFrames);
        limiter.process(dry.data(), wet.data(), kFrames);
        for (size_t i = 0; i < spectrum.size(); ++i)
            spectrum[i]
                = {static_cast<float>(ring.readCubic(static_cast<double>(ring.writeCounter()) - 600.5 + i)), 0.0f};
        plan.forward(spectrum.data());
        plan.inverse(spectrum.data());
        real.forward(frame.data(), bins.data());
        real.inverse(bins.data(), frame.data());
        const int64_t now = stretch.writeCounter();
        stretch.similaritySearch(now - 2000, now - 3000, -720, 720);
    }
    EXPECT_EQ(counter.count(), 0u);
}

} // namespace
} // namespace dsp
