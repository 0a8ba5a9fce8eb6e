// The engine's mask stage and the settings operation that chooses a mask: the
// live voice follows voice_mask while bit 0 of mask_on is set and crossfades
// every change; the stream processors follow their bits and run out their
// fade; nothing allocates once prepared.

#include "dsp/mask_signals.h"
#include "dsp/mask_table.h"
#include "engine/mask_stage.h"
#include "engine/mask_choice.h"
#include "support/alloc_counter.h"

#include <gtest/gtest.h>

#include <memory>

namespace engine {
namespace {

constexpr uint32_t kFrames = 480;

struct Rig {
    Rig()
    {
        stage.prepare(48000, kFrames);
        settings.set(&settings::Settings::mask_on, 1);
        settings.set(&settings::Settings::voice_mask, 13); // "Neutral"
    }
    // The next block of a 200 Hz tone.
    std::vector<float> toneBlock() const
    {
        std::vector<float> x(kFrames);
        for (uint32_t i = 0; i < kFrames; ++i)
            x[i] = static_cast<float>(0.4 * std::sin(2.0 * mask_test::kPi * 200.0 * (frame + i) / 48000.0));
        return x;
    }
    // That block through the live-voice step.
    std::vector<float> voiceBlock()
    {
        std::vector<float> voice = toneBlock();
        frame += kFrames;
        Block block;
        block.frames = kFrames;
        block.settings = &(snapshot = settings.snapshot());
        block.voice = voice.data();
        stage.voiceMask(block);
        return voice;
    }
    bool voicePassesUntouched()
    {
        const auto expected = toneBlock();
        return voiceBlock() == expected;
    }

    settings::Settings settings;

    settings::Snapshot snapshot; // what the last block read
    MaskStage stage;
    uint32_t frame = 0;
};

TEST(MaskChoice, ChoosingAMaskLoadsItsVoiceAndClearsPitchAndMacro)
{
    settings::Settings s;
    s.set(&settings::Settings::pitch_hz, -40);
    s.set(&settings::Settings::voice_macro, 55);
    EXPECT_TRUE(engine::chooseMask(s, 29));
    EXPECT_EQ(s.voice_mask.load(), 29);
    EXPECT_EQ(s.voice_ratio.load(), 2450);
    EXPECT_EQ(s.voice_size.load(), 60);
    EXPECT_EQ(s.pitch_hz.load(), 0);
    EXPECT_EQ(s.voice_macro.load(), 0);

    EXPECT_TRUE(engine::chooseMask(s, 500)); // clamped to the last mask
    EXPECT_EQ(s.voice_mask.load(), 41);
    EXPECT_EQ(s.voice_ratio.load(), 720);

    s.set(&settings::Settings::pitch_hz, 30);
    EXPECT_FALSE(engine::chooseMask(s, -9)); // no mask: the voice stays
    EXPECT_EQ(s.voice_mask.load(), -1);
    EXPECT_EQ(s.voice_ratio.load(), 720);
    EXPECT_EQ(s.pitch_hz.load(), 30);
}

TEST(MaskStage, TheLiveVoiceFollowsTheMaskOnlyWhileBitZeroIsSet)
{
    Rig rig;
    EXPECT_TRUE(rig.voicePassesUntouched());               // kind 0 passes untouched
    rig.settings.set(&settings::Settings::voice_mask, 15); // "Robot"
    rig.voiceBlock();
    EXPECT_EQ(rig.stage.voiceKind(), dsp::MaskKind::RingModulation);
    EXPECT_TRUE(rig.stage.voiceFading());
    for (int b = 0; b < 5; ++b)
        rig.voiceBlock();
    EXPECT_FALSE(rig.stage.voiceFading());
    EXPECT_FALSE(rig.voicePassesUntouched());

    rig.settings.set(&settings::Settings::mask_on, 6); // bit 0 clear: the voice fades back to dry
    for (int b = 0; b < 5; ++b)
        rig.voiceBlock();
    EXPECT_EQ(rig.stage.voiceKind(), dsp::MaskKind::None);
    EXPECT_TRUE(rig.voicePassesUntouched());

    rig.settings.set(&settings::Settings::mask_on, 1);
    rig.settings.set(&settings::Settings::voice_mask, -1); // no mask
    EXPECT_TRUE(rig.voicePassesUntouched());
    EXPECT_EQ(rig.stage.voiceKind(), dsp::MaskKind::None);
}

TEST(MaskStage, ChangingTheMaskCrossfadesWithoutAClick)
{
    Rig rig;
    rig.settings.set(&settings::Settings::voice_mask, 15);
    std::vector<float> out;
    for (int b = 0; b < 10; ++b) {
        auto block = rig.voiceBlock();
        out.insert(out.end(), block.begin(), block.end());
    }
    // "Robot" (ring modulation) to "Bumblebee" (an extended kind, whose
    // output stage adds 64 frames of delay): a hard switch would jump.
    rig.settings.set(&settings::Settings::voice_mask, 39);
    for (int b = 0; b < 10; ++b) {
        auto block = rig.voiceBlock();
        out.insert(out.end(), block.begin(), block.end());
    }
    const double before = mask_test::largestStep(out, 2400, 4800);
    const double across = mask_test::largestStep(out, 4800, 4800 + 1920);
    // Both voices move at most `before` per frame, the weights 1/1920 per
    // frame across a gap of at most 0.8 + 0.8.
    EXPECT_LT(across, 2.0 * before + 1.6 / 1920.0);
    EXPECT_EQ(rig.stage.voiceKind(), dsp::MaskKind::Bumblebee);
}

TEST(MaskStage, StreamProcessorsRunWhileTheirBitIsSetAndUntilFadedOut)
{
    Rig rig;
    rig.settings.set(&settings::Settings::voice_ratio, 1500);
    std::vector<float> clip(2 * kFrames, 0.2f);
    rig.settings.set(&settings::Settings::mask_on, 2); // clips only
    for (int b = 0; b < 5; ++b)
        rig.stage.streamMask(MaskStream::Clip, clip.data(), kFrames, rig.settings.snapshot(), false);
    EXPECT_EQ(rig.stage.processor(MaskStream::Clip).mix(), 1.0f);
    rig.stage.streamMask(MaskStream::Application, clip.data(), kFrames, rig.settings.snapshot(), false);
    EXPECT_TRUE(rig.stage.streamRunning(MaskStream::Clip));
    EXPECT_FALSE(rig.stage.streamRunning(MaskStream::Application));
    EXPECT_NEAR(rig.stage.processor(MaskStream::Clip).ratio(), 1.5, 1e-12);

    rig.settings.set(&settings::Settings::mask_on, 0);
    rig.stage.streamMask(MaskStream::Clip, clip.data(), kFrames, rig.settings.snapshot(), false);
    EXPECT_TRUE(rig.stage.streamRunning(MaskStream::Clip)); // still fading out
    for (int b = 0; b < 4; ++b)
        rig.stage.streamMask(MaskStream::Clip, clip.data(), kFrames, rig.settings.snapshot(), false);
    EXPECT_FALSE(rig.stage.streamRunning(MaskStream::Clip));
    std::vector<float> copy = clip;
    rig.stage.streamMask(MaskStream::Clip, clip.data(), kFrames, rig.settings.snapshot(), false);
    EXPECT_EQ(clip, copy); // the bypass only fills the rings
}

TEST(MaskStage, NothingAllocatesAfterPrepare)
{
    Rig rig;
    std::vector<float> stream(2 * kFrames, 0.1f);
    test::AllocationCounter counter;
    for (int b = 0; b < 3 * dsp::kMaskCount; ++b) {
        rig.settings.set(&settings::Settings::voice_mask, b / 3 % (dsp::kMaskCount + 1));
        rig.settings.set(&settings::Settings::mask_on, b % 8);
        rig.voiceBlock();
        rig.stage.streamMask(MaskStream::Clip, stream.data(), kFrames, rig.settings.snapshot(), b % 2 == 0);
        rig.stage.streamMask(MaskStream::Application, stream.data(), kFrames, rig.settings.snapshot(), false);
    }
    // voiceBlock() itself makes its test tone on the heap: one vector a block.
    EXPECT_EQ(counter.count(), 3u * dsp::kMaskCount);
}

} // namespace
} // namespace engine
