#include "dsp/voice_signals.h"
#include "engine/voice_stage.h"
#include "support/alloc_counter.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace voicetest;

// Steps 6 and 7 as the block cycle calls them.
struct Rig {
    settings::Settings settings;
    settings::Snapshot snapshot; // what the last block read
    engine::VoiceStage stage;
    dsp::VoiceMaskValues mask{};

    Rig() { stage.prepare(kFs, 2048); }

    void cycle(float* voice, uint32_t frames)
    {
        engine::Block block;
        block.frames = frames;
        block.settings = &(snapshot = settings.snapshot());
        block.voice = voice;
        const bool masked = (settings.mask_on.load() & 1) != 0;
        stage.voiceSpeed(block, masked ? settings.voice_speed.load() : 100, settings.voice_keep_pitch.load() != 0);
        if (masked)
            stage.voiceChanger(block, mask);
    }
    // Runs y through in blocks of `frames`; calls after(blockStart) after each block.
    template <typename After> void run(std::vector<float>& y, uint32_t frames, After after)
    {
        for (size_t i = 0; i < y.size(); i += frames) {
            const auto n = static_cast<uint32_t>(std::min<size_t>(frames, y.size() - i));
            cycle(y.data() + i, n);
            after(i);
        }
    }
    void run(std::vector<float>& y, uint32_t frames = 480)
    {
        run(y, frames, [](size_t) {});
    }
};

TEST(VoiceStage, NeutralSettingsLeaveTheVoiceUntouchedAndTheReportsAtZero)
{
    Rig rig;
    const std::vector<float> voice = synthVoice(steadyVoice(120.0), 1.0);
    std::vector<float> y = voice;
    rig.run(y);
    EXPECT_EQ(y, voice);
    EXPECT_FALSE(rig.stage.changerRunning());
    EXPECT_EQ(rig.stage.detectedPitchHz(), 0);
    EXPECT_EQ(rig.stage.targetPitchHz(), 0);
    EXPECT_EQ(rig.stage.speedLatencyMs(), 0);
}

TEST(VoiceStage, AChangeStartsTheChangerWhichRunsOn48000FramesAfterNeutralThenStops)
{
    Rig rig;
    std::vector<float> voice = synthVoice(steadyVoice(120.0), 5.0);
    const std::vector<float> original = voice;
    rig.settings.set(&settings::Settings::pitch_hz, 30);

    std::vector<float> first(voice.begin(), voice.begin() + 96000);
    rig.run(first);
    EXPECT_TRUE(rig.stage.changerRunning());
    EXPECT_NEAR(rig.stage.detectedPitchHz(), 120, 1);
    EXPECT_NEAR(rig.stage.targetPitchHz(), 150, 1);

    // Back to neutral: the tail keeps running for 48000 frames, then a 10 ms fade.
    rig.settings.set(&settings::Settings::pitch_hz, 0);
    std::vector<float> rest(voice.begin() + 96000, voice.end());
    size_t stoppedAt = 0;
    rig.run(rest, 480, [&](size_t i) {
        if (stoppedAt == 0 && !rig.stage.changerRunning())
            stoppedAt = i + 480;
    });
    EXPECT_GE(stoppedAt, 48000u);
    EXPECT_LE(stoppedAt, 48000u + 480u + 480u);
    EXPECT_EQ(rig.stage.detectedPitchHz(), 0);
    EXPECT_EQ(rig.stage.targetPitchHz(), 0);
    // Stopped, the voice is neither changed nor delayed.
    EXPECT_TRUE(std::equal(rest.begin() + static_cast<std::ptrdiff_t>(stoppedAt), rest.end(),
        original.begin() + 96000 + static_cast<std::ptrdiff_t>(stoppedAt)));

    // Starting again starts afresh: no pitch is known before the first analysis.
    rig.settings.set(&settings::Settings::voice_size, 120);
    std::vector<float> again(voice.begin(), voice.begin() + 480);
    rig.run(again);
    EXPECT_TRUE(rig.stage.changerRunning());
    EXPECT_FALSE(rig.stage.changer().hasDetected());
}

TEST(VoiceStage, ClearingMaskBit0FadesTheChangerOutAndZeroesTheReports)
{
    Rig rig;
    std::vector<float> voice = synthVoice(steadyVoice(150.0), 2.0);
    rig.settings.set(&settings::Settings::voice_ratio, 1300);
    std::vector<float> first(voice.begin(), voice.begin() + 48000);
    rig.run(first);
    ASSERT_TRUE(rig.stage.changerRunning());
    EXPECT_NEAR(rig.stage.targetPitchHz(), 195, 1);

    rig.settings.set(&settings::Settings::mask_on, 0);
    std::vector<float> second(voice.begin() + 48000, voice.begin() + 48960);
    const std::vector<float> dry = second;
    rig.run(second);
    EXPECT_FALSE(rig.stage.changerRunning());
    EXPECT_EQ(rig.stage.detectedPitchHz(), 0);
    EXPECT_EQ(rig.stage.targetPitchHz(), 0);
    // Faded within the first block; the second passes as it came.
    EXPECT_TRUE(std::equal(second.begin() + 480, second.end(), dry.begin() + 480));
}

TEST(VoiceStage, TheSpeedRunsInChunksPublishesItsDelayAndCatchesUp)
{
    Rig rig;
    std::vector<float> voice = synthVoice(steadyVoice(110.0), 6.0);
    for (size_t i = 0; i < voice.size(); ++i)
        if (i % 24000 >= 16000)
            voice[i] = 0.0f; // pauses for the catch-up to end in
    rig.settings.set(&settings::Settings::voice_speed, 50);
    rig.settings.set(&settings::Settings::voice_keep_pitch, 1);
    std::vector<float> slow(voice.begin(), voice.begin() + 48000);
    rig.run(slow, 2000); // blocks larger than one chunk
    EXPECT_NEAR(rig.stage.speedLatencyMs(), 520, 40);

    rig.settings.set(&settings::Settings::voice_speed, 100);
    std::vector<float> rest(voice.begin() + 48000, voice.end());
    rig.run(rest, 2000);
    EXPECT_FALSE(rig.stage.speed().active());
    EXPECT_EQ(rig.stage.speedLatencyMs(), 0);

    // With bit 0 clear the speed runs at 100: nothing starts.
    rig.settings.set(&settings::Settings::voice_speed, 200);
    rig.settings.set(&settings::Settings::mask_on, 0);
    std::vector<float> y = voice;
    rig.run(y, 1500);
    EXPECT_EQ(y, voice);
}

TEST(VoiceStage, NeverAllocatesWhileBothRun)
{
    Rig rig;
    rig.settings.set(&settings::Settings::voice_speed, 70);
    rig.settings.set(&settings::Settings::pitch_hz, -40);
    rig.settings.set(&settings::Settings::voice_size, 130);
    rig.mask = {1.0, 0.6, 0.3, 0.15};
    std::vector<float> voice = synthVoice(steadyVoice(140.0, 30.0), 2.0);
    test::AllocationCounter counter;
    rig.run(voice, 441);
    rig.settings.set(&settings::Settings::mask_on, 0);
    rig.run(voice, 441);
    EXPECT_EQ(counter.count(), 0u);
}

} // namespace
