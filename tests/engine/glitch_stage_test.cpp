// The glitch key and the glitch stage: the key-code rule on the key state
// service, the engine's poll with its armed rule, and the stage holding the
// repeater on the voice of a running engine.

#include "engine/glitch_stage.h"

#include "dsp/stereo_glitch.h"
#include "engine/mask_stage.h"

#include "../support/alloc_counter.h"
#include "engine_rig.h"
#include "platform/key_state.h"
#include "platform/sim/sim_keys.h"
#include "settings/setup_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string_view>
#include <vector>

namespace engine {
namespace {

constexpr uint16_t kF5 = 116;
constexpr double kFs = 48000.0;

TEST(KeyCode, HeldWhenTheKeyAndEveryModifierItNamesAreDown)
{
    platform::sim::SimKeys keys;
    const uint32_t ctrlF5 = kF5 | platform::kKeyControl;
    EXPECT_FALSE(platform::keyCodeHeld(keys, ctrlF5));
    keys.press(kF5);
    EXPECT_TRUE(platform::keyCodeHeld(keys, kF5));
    EXPECT_FALSE(platform::keyCodeHeld(keys, ctrlF5)); // F5 alone does not hold Ctrl+F5
    keys.press(platform::kVkControl);
    EXPECT_TRUE(platform::keyCodeHeld(keys, ctrlF5));
    keys.press(platform::kVkShift); // other keys held as well do not matter
    EXPECT_TRUE(platform::keyCodeHeld(keys, ctrlF5));
    EXPECT_FALSE(platform::keyCodeHeld(keys, ctrlF5 | platform::kKeyAlt));
    keys.press(platform::kVkAlt);
    EXPECT_TRUE(platform::keyCodeHeld(keys, ctrlF5 | platform::kKeyAlt | platform::kKeyShift));

    // The Windows bit: either Windows key.
    const uint32_t winF5 = kF5 | platform::kKeyWin;
    EXPECT_FALSE(platform::keyCodeHeld(keys, winF5));
    keys.press(platform::kVkRightWin);
    EXPECT_TRUE(platform::keyCodeHeld(keys, winF5));
    keys.release(platform::kVkRightWin);
    keys.press(platform::kVkLeftWin);
    EXPECT_TRUE(platform::keyCodeHeld(keys, winF5));

    // No key: never held, whatever is down.
    EXPECT_FALSE(platform::keyCodeHeld(keys, platform::kKeyControl));
    EXPECT_FALSE(platform::keyCodeHeld(keys, 0));
    keys.releaseAll();
    EXPECT_FALSE(platform::keyCodeHeld(keys, kF5));
}

// Records what the engine asks of step 8 for each captured packet.
class ActiveSteps : public BlockSteps {
public:
    std::vector<bool> active;
    ActiveSteps() { active.reserve(100000); }
    void glitch(Block& block, bool on) noexcept override
    {
        if (block.pass == 1)
            active.push_back(on);
    }
    bool last() const { return !active.empty() && active.back(); }
};

struct KeyRig {
    ActiveSteps steps;
    test::EngineRig rig{steps};
    platform::sim::SimKeys& keys = rig.keys;
};

TEST(GlitchKey, AKeyHeldAtEngineStartDoesNothingUntilReleasedOnce)
{
    KeyRig k;
    k.rig.settings.set(&settings::Settings::GlitchKey, kF5);
    k.rig.settings.set(&settings::Settings::mask_on, 1);
    k.keys.press(kF5);
    k.rig.open();
    k.rig.runMillis(100);
    ASSERT_GT(k.steps.active.size(), 5u);
    for (bool on : k.steps.active)
        EXPECT_FALSE(on);
    EXPECT_FALSE(k.rig.report().glitchKeyHeld);

    k.keys.release(kF5);
    k.rig.runMillis(30);
    EXPECT_FALSE(k.steps.last());

    k.keys.press(kF5);
    k.rig.runMillis(30);
    EXPECT_TRUE(k.rig.report().glitchKeyHeld);
    EXPECT_TRUE(k.steps.last());
    k.keys.release(kF5);
    k.rig.runMillis(30);
    EXPECT_FALSE(k.rig.report().glitchKeyHeld);
    EXPECT_FALSE(k.steps.last());
}

TEST(GlitchKey, ModifiersMustBeDownAndTheMaskPathMustBeOn)
{
    KeyRig k;
    k.rig.settings.set(&settings::Settings::GlitchKey, static_cast<int32_t>(kF5 | platform::kKeyControl));
    k.rig.settings.set(&settings::Settings::mask_on, 1);
    k.rig.open();
    k.rig.runMillis(30);
    k.keys.press(kF5);
    k.rig.runMillis(30);
    EXPECT_FALSE(k.steps.last()); // F5 alone
    k.keys.press(platform::kVkControl);
    k.rig.runMillis(30);
    EXPECT_TRUE(k.steps.last());

    // With bit 0 of mask_on clear the key still reads as held, but the repeater is not.
    k.rig.settings.set(&settings::Settings::mask_on, 2);
    k.rig.runMillis(30);
    EXPECT_TRUE(k.rig.report().glitchKeyHeld);
    EXPECT_FALSE(k.steps.last());

    // The on-screen button holds it as well.
    k.keys.releaseAll();
    k.rig.settings.set(&settings::Settings::mask_on, 1);
    k.rig.state.glitchButtonHeld.store(1);
    k.rig.runMillis(30);
    EXPECT_FALSE(k.rig.report().glitchKeyHeld);
    EXPECT_TRUE(k.steps.last());
}

// The stage in a running engine, as step 8 of its cycle.
class GlitchSteps : public BlockSteps {
public:
    GlitchStage stage;
    void prepare(double sampleRate, uint32_t maxFrames, int) override { stage.prepare(sampleRate, maxFrames); }
    void glitch(Block& b, bool active) noexcept override { stage.glitch(b, active); }
};

TEST(GlitchStage, HoldingTheKeyCutsTheVoiceOnTheCable)
{
    GlitchSteps steps;
    test::EngineRig rig(steps);
    platform::sim::SimKeys& keys = rig.keys;
    rig.audio.setCaptureSource(test::kMic, platform::sim::sineSource(220.0, 0.3f));
    rig.audio.recordRender(test::kCable, true);
    rig.settings.set(&settings::Settings::GlitchKey, kF5);
    rig.settings.set(&settings::Settings::mask_on, 1);
    rig.settings.set(&settings::Settings::glitch_style, dsp::kGlitchCut);
    rig.open();
    rig.runMillis(200);
    keys.press(kF5);
    rig.runMillis(200);
    const size_t heldAt = rig.audio.rendered(test::kCable).size();
    EXPECT_TRUE(steps.stage.glitching());
    rig.runMillis(300);
    keys.release(kF5);
    rig.runMillis(400);
    const auto out = rig.audio.rendered(test::kCable);
    ASSERT_GT(out.size(), heldAt + 2 * 48000 / 2);
    float held = 0.0f, after = 0.0f;
    for (size_t i = heldAt; i < heldAt + 2 * 9600; ++i)
        held = std::max(held, std::fabs(out[i]));
    for (size_t i = out.size() - 2 * 4800; i < out.size(); ++i)
        after = std::max(after, std::fabs(out[i]));
    EXPECT_EQ(held, 0.0f);
    EXPECT_GT(after, 0.25f);
    EXPECT_FALSE(steps.stage.glitching());
}

// Drives the stage directly, one 480-frame block at a time.
struct StageRig {
    settings::Settings settings;
    settings::Snapshot snapshot; // what the last block read
    GlitchStage stage;
    std::vector<float> voice = std::vector<float>(480);
    uint64_t frame = 0;

    StageRig() { stage.prepare(kFs, 480); }
    void cycle(bool active)
    {
        for (float& v : voice)
            v = static_cast<float>(0.3 * std::sin(2.0 * 3.14159265358979 * 220.0 * static_cast<double>(frame++) / kFs));
        Block b;
        b.frames = 480;
        b.settings = &(snapshot = settings.snapshot());
        b.voice = voice.data();
        stage.glitch(b, active);
    }
};

TEST(GlitchStage, AStyleAbove12FromASetupFileRunsAsGlitch)
{
    StageRig r;
    const std::string_view text = "# Vantor Ovix Settings\nglitch_style=20\n";
    const std::vector<uint8_t> bytes(text.begin(), text.end());
    settings::applySetupText(bytes, r.settings, settings::SetupEnvironment{});
    EXPECT_EQ(r.settings.glitch_style.load(), 12);
    r.settings.set(&settings::Settings::mask_on, 1);
    for (int b = 0; b < 100; ++b)
        r.cycle(false);
    r.cycle(true);
    EXPECT_EQ(r.stage.repeater().runningStyle(), dsp::kGlitchGlitch);
}

TEST(GlitchStage, AStyleChangedWhileHeldWaitsForTheNextPress)
{
    StageRig r;
    r.settings.set(&settings::Settings::mask_on, 1);
    r.settings.set(&settings::Settings::glitch_style, dsp::kGlitchCut);
    for (int b = 0; b < 50; ++b)
        r.cycle(false);
    r.cycle(true);
    r.settings.set(&settings::Settings::glitch_style, dsp::kGlitchRepeat); // would bring the voice back
    for (int b = 0; b < 40; ++b) {
        r.cycle(true);
        for (float v : r.voice)
            ASSERT_EQ(v, 0.0f) << b;
    }
    EXPECT_EQ(r.stage.repeater().runningStyle(), dsp::kGlitchCut);
    for (int b = 0; b < 40; ++b)
        r.cycle(false);
    r.cycle(true);
    EXPECT_EQ(r.stage.repeater().runningStyle(), dsp::kGlitchRepeat);
}

TEST(GlitchStage, SwitchingTheMaskPathOnClearsWhatTheRepeaterHeard)
{
    StageRig r;
    r.settings.set(&settings::Settings::glitch_style, dsp::kGlitchDeep);
    r.settings.set(&settings::Settings::mask_on, 1);
    for (int b = 0; b < 100; ++b)
        r.cycle(false);
    r.cycle(true); // a capture of half a second: a tail
    EXPECT_GT(r.stage.repeater().tailFrames(), 40000);
    for (int b = 0; b < 300; ++b)
        r.cycle(false);

    r.settings.set(&settings::Settings::mask_on, 0);
    for (int b = 0; b < 100; ++b)
        r.cycle(false);
    r.settings.set(&settings::Settings::mask_on, 1);
    r.cycle(true); // the path has just come on: nothing heard since, nothing to capture
    EXPECT_EQ(r.stage.repeater().captureFrames(), 0);
    EXPECT_EQ(r.stage.repeater().tailFrames(), 0); // the one frame of tail has run

    test::AllocationCounter counter;
    for (int b = 0; b < 500; ++b) {
        r.settings.set(&settings::Settings::glitch_style, b / 20 % 13);
        r.settings.set(&settings::Settings::mask_on, b % 97 < 90 ? 1 : 0);
        r.cycle(b % 20 < 12);
    }
    EXPECT_EQ(counter.count(), 0u);
}

TEST(GlitchStage, TheStereoMaskProcessorsHoldTheirOwnRepeater)
{
    settings::Settings st;
    st.set(&settings::Settings::mask_on, 2); // clips only
    st.set(&settings::Settings::glitch_style, dsp::kGlitchCut);
    MaskStage masks;
    masks.prepare(kFs, 480);
    const auto* glitch = dynamic_cast<const dsp::StereoGlitch*>(masks.processor(MaskStream::Clip).glitch());
    ASSERT_NE(glitch, nullptr);
    std::vector<float> clip(960);
    uint64_t frame = 0;
    float peak = 0.0f;
    for (int b = 0; b < 100; ++b) {
        for (size_t i = 0; i < 480; ++i, ++frame) {
            clip[2 * i]
                = static_cast<float>(0.3 * std::sin(2.0 * 3.14159265358979 * 220.0 * static_cast<double>(frame) / kFs));
            clip[2 * i + 1] = -clip[2 * i];
        }
        masks.streamMask(MaskStream::Clip, clip.data(), 480, st.snapshot(), b >= 40 && b < 60);
        peak = 0.0f;
        for (float v : clip)
            peak = std::max(peak, std::fabs(v));
        if (b == 39 || b == 99) {
            EXPECT_GT(peak, 0.25f) << b;
        }
        if (b >= 41 && b < 60) {
            EXPECT_EQ(peak, 0.0f) << b; // cut on both channels
        }
    }
    EXPECT_EQ(glitch->repeater().runningStyle(), dsp::kGlitchCut);
    EXPECT_FALSE(glitch->repeater().active());
}

} // namespace
} // namespace engine
