// The time-stretch core: its constants for both owners, and the similarity search.

#include "dsp/one_pole.h"
#include "dsp/random.h"
#include "dsp/time_stretch.h"

#include <gtest/gtest.h>

#include <cmath>

namespace dsp {
namespace {

TEST(TimeStretchCore, PreparesEachOwnersConstants)
{
    TimeStretchCore clip;
    clip.prepare(48000, kClipStretchSetup);
    EXPECT_EQ(clip.channels(), 2);
    EXPECT_EQ(clip.segment(), 2880);
    EXPECT_EQ(clip.overlap(), 480);
    EXPECT_EQ(clip.searchRadius(), 720);
    EXPECT_EQ(clip.ringLength(), 131072u); // ≥ (2880 + 480 + 720)·8 + 48000 + 64
    EXPECT_EQ(clip.crossfade().size(), 480u);
    EXPECT_DOUBLE_EQ(clip.coeff6ms(), onePoleCoeff(0.006, 48000));
    EXPECT_DOUBLE_EQ(clip.coeff4ms(), onePoleCoeff(0.004, 48000));

    TimeStretchCore voice;
    voice.prepare(48000, kVoiceSpeedStretchSetup);
    EXPECT_EQ(voice.channels(), 1);
    EXPECT_EQ(voice.segment(), 1728);
    EXPECT_EQ(voice.overlap(), 384);
    EXPECT_EQ(voice.searchRadius(), 576);
    EXPECT_EQ(voice.ringLength(), 262144u); // ≥ (1728 + 384 + 576)·8 + 192000 + 64

    TimeStretchCore tiny;
    tiny.prepare(8000, {5, 0.0, 0.001, 0.0, 0.0}); // floors and channel clamp
    EXPECT_EQ(tiny.channels(), 2);
    EXPECT_EQ(tiny.segment(), 64);
    EXPECT_EQ(tiny.overlap(), 16);
    EXPECT_EQ(tiny.searchRadius(), 8);
}

TEST(TimeStretchCore, ResetRestartsEverything)
{
    TimeStretchCore core;
    core.prepare(48000, kClipStretchSetup);
    for (int i = 0; i < 1000; ++i)
        core.write(0.5f, -0.25f);
    EXPECT_FLOAT_EQ(core.searchRing().delayed(0), 0.125f);
    core.rate = 1.5;
    core.gate = 0.2;
    core.readPosition = 17.5;
    core.crossfadePosition = 9;
    core.segmentRemaining = 100;
    core.reset();
    EXPECT_EQ(core.writeCounter(), 0);
    EXPECT_EQ(core.ring(0).delayed(0), 0.0f);
    EXPECT_EQ(core.rate, 1.0);
    EXPECT_EQ(core.gate, 1.0);
    EXPECT_EQ(core.readPosition, 0.0);
    EXPECT_EQ(core.crossfadePosition, 0);
    EXPECT_EQ(core.segmentRemaining, 0);
}

TEST(TimeStretchCore, SearchOnSilenceReturnsItsStartWithinRange)
{
    TimeStretchCore core;
    core.prepare(48000, kVoiceSpeedStretchSetup);
    for (int i = 0; i < 20000; ++i)
        core.write(i % 2 ? 1e-7f : -1e-7f); // energy far below the floor
    EXPECT_EQ(core.similaritySearch(10000, 9000, -576, 576), 0);
    EXPECT_EQ(core.similaritySearch(10000, 9000, 12, 576), 12);
    EXPECT_EQ(core.similaritySearch(10000, 9000, 12, 5), 5);
}

// Band-limited noise: smooth enough for the coarse pass, with no period that
// could give a second match.
void writeVoiceLikeNoise(TimeStretchCore& core, int frames, bool stereo)
{
    Lcg g{2024};
    double y1 = 0.0, y2 = 0.0;
    const double c = onePoleCoeff(1.0 / (2.0 * 3.14159265 * 600.0), 48000);
    for (int i = 0; i < frames; ++i) {
        y1 += c * (g.bipolar() - y1);
        y2 += c * (y1 - y2);
        const auto v = static_cast<float>(y2);
        core.write(stereo ? v * 1.2f : v, stereo ? v * 0.8f : 0.0f);
    }
}

TEST(TimeStretchCore, SearchFindsAKnownShift)
{
    for (const TimeStretchSetup& setup : {kVoiceSpeedStretchSetup, kClipStretchSetup}) {
        TimeStretchCore core;
        core.prepare(48000, setup);
        writeVoiceLikeNoise(core, 40000, setup.channels == 2);
        const int r = core.searchRadius();
        for (int shift : {-413, -37, 0, 5, 37, 230, r - 1}) {
            const int64_t a = 20000;
            // The candidate that continues the reference sits at b + shift = a.
            EXPECT_EQ(core.similaritySearch(a, a - shift, -r, r), shift) << "shift " << shift;
        }
    }
}

} // namespace
} // namespace dsp
