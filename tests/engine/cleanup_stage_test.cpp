// The engine-side cleanup stage: what it reloads on which change counter,
// how it starts, stops and switches its paths, how it follows the microphone
// gain and key presses, and that a block never allocates.

#include "engine/cleanup_stage.h"
#include "engine/effect_chain.h"
#include "engine_rig.h"
#include "platform/sim/sim_keys.h"
#include "settings/fields.h"
#include "support/alloc_counter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace engine {
namespace {

constexpr double kFs = 48000.0;
constexpr uint32_t kFrames = 480;

struct StageRig {
    settings::Settings settings;
    settings::Snapshot snapshot; // what the last block read
    CleanupStage stage;
    std::vector<float> voice = std::vector<float>(kFrames);
    uint64_t t = 0;

    StageRig() { stage.prepare(kFs, kFrames); }

    Block block(float micGain = 1.0f)
    {
        Block b;
        b.frames = kFrames;
        b.micGain = micGain;
        b.settings = &(snapshot = settings.snapshot());
        b.voice = voice.data();
        return b;
    }
    void fill(double amplitude = 0.2)
    {
        for (auto& v : voice)
            v = static_cast<float>(
                amplitude * std::sin(2.0 * 3.14159265358979 * 440.0 * static_cast<double>(t++) / kFs));
    }
    // One block of the cycle as the engine runs it: steps 4, 5 and 9.
    void cycle(float micGain = 1.0f, bool cardMic = false)
    {
        fill();
        Block b = block(micGain);
        if (settings.isolate.load())
            stage.isolation(b);
        stage.micTone(b);
        if (cardMic)
            stage.cardMicVoicing(b);
    }
    void set(const char* key, int32_t value) { settings.set(*settings::findField(key), value); }
};

TEST(CleanupStage, IsolationStartsFromAFadeAndReloadsWhenASetterMovesItsCounter)
{
    StageRig rig;
    rig.set("iso_mode", 2);
    rig.set("iso_level", 60);
    rig.settings.set(&settings::Settings::isolate, 1);
    rig.fill();
    const std::vector<float> dry = rig.voice;
    Block b = rig.block();
    rig.stage.isolation(b);
    // Dry at the start of the block, the (settling, silent) suppressor at its end.
    EXPECT_NEAR(rig.voice[0], dry[0], 1e-3);
    EXPECT_NEAR(rig.voice[kFrames - 1], 0.0f, 1e-5);
    EXPECT_EQ(rig.stage.suppressor().parameters().level, 60);

    // The setter moves the counter, and the counter brings the new level in.
    const uint32_t revision = rig.settings.isolationRevision;
    rig.settings.set(&settings::Settings::iso_level, 90);
    EXPECT_EQ(rig.settings.isolationRevision, revision + 1);
    rig.cycle();
    EXPECT_EQ(rig.stage.suppressor().parameters().level, 90);
}

TEST(CleanupStage, SwitchingIsolationOffFadesBackToTheDryVoice)
{
    StageRig rig;
    rig.set("iso_mode", 0);
    rig.set("iso_level", 20);
    rig.settings.set(&settings::Settings::isolate, 1);
    for (int i = 0; i < 40; ++i)
        rig.cycle();
    rig.settings.set(&settings::Settings::isolate, 0);
    rig.fill();
    const std::vector<float> dry = rig.voice;
    Block b = rig.block();
    rig.stage.micTone(b);
    // The block starts on the suppressor's (delayed) output and ends on the dry voice.
    EXPECT_GT(std::fabs(rig.voice[0] - dry[0]), 0.01f);
    EXPECT_NEAR(rig.voice[kFrames - 1], dry[kFrames - 1], 1e-3);
    rig.cycle();
    rig.fill();
    const std::vector<float> next = rig.voice;
    b = rig.block();
    rig.stage.micTone(b);
    EXPECT_EQ(rig.voice, next);
}

TEST(CleanupStage, VocalModeRunsTheExpanderFromItsSettings)
{
    StageRig rig;
    rig.set("iso_mode", 4);
    rig.set("vocal_level", 25);
    rig.settings.set(&settings::Settings::isolate, 1);
    rig.cycle();
    EXPECT_NEAR(rig.stage.expander().record().thresholdDb, -41.5, 1e-9);
    EXPECT_EQ(rig.stage.suppressor().hops(), 0u); // the spectral path stays idle
    EXPECT_GT(rig.stage.expander().envelope(), 0.0);
}

TEST(CleanupStage, MicrophoneGainStepsShiftTheTrackers)
{
    StageRig rig;
    rig.set("iso_mode", 2);
    rig.settings.set(&settings::Settings::isolate, 1);
    for (int i = 0; i < 30; ++i)
        rig.cycle(1.0f);
    // The stage tells the suppressor of the step before the block runs: the
    // same as shifting a copy by 6 dB and running the block through it.
    dsp::NoiseSuppressor told = rig.stage.suppressor();
    dsp::NoiseSuppressor untold = rig.stage.suppressor();
    told.shiftLevel(20.0 * std::log10(2.0));
    rig.fill();
    std::vector<float> a = rig.voice, c = rig.voice;
    told.process(a.data(), kFrames);
    untold.process(c.data(), kFrames);
    Block b = rig.block(2.0f);
    rig.stage.isolation(b);
    EXPECT_DOUBLE_EQ(rig.stage.suppressor().noiseEstimate(10), told.noiseEstimate(10));
    EXPECT_NE(rig.stage.suppressor().noiseEstimate(10), untold.noiseEstimate(10));
    rig.stage.micTone(b);
}

TEST(CleanupStage, ToneFollowsItsCounterAndGlidesFlatWhenSwitchedOff)
{
    StageRig rig;
    rig.set("tone_lo", 120);
    rig.cycle();
    EXPECT_TRUE(rig.stage.tone().started());
    for (int i = 0; i < 30; ++i)
        rig.cycle();
    EXPECT_EQ(rig.stage.tone().currentDb(0), 12.0);

    rig.settings.set(&settings::Settings::tone_on, 0);
    rig.settings.touch(settings::Counter::Tone);
    rig.cycle();
    EXPECT_GT(rig.stage.tone().currentDb(0), 4.0); // 10 ms into a 30 ms glide
    for (int i = 0; i < 30; ++i)
        rig.cycle();
    EXPECT_EQ(rig.stage.tone().currentDb(0), 0.0);
}

TEST(CleanupStage, CardMicFadesInAfterItWasOff)
{
    StageRig rig;
    rig.cycle(1.0f, false);
    rig.fill();
    const std::vector<float> dry = rig.voice;
    Block b = rig.block();
    rig.stage.micTone(b);
    rig.stage.cardMicVoicing(b);
    EXPECT_NEAR(rig.voice[0], dry[0], 1e-4);
    EXPECT_TRUE(rig.stage.cardMic().enabled());
}

TEST(CleanupStage, BlocksNeverAllocate)
{
    StageRig rig;
    rig.set("iso_level", 80);
    test::AllocationCounter counter;
    for (int i = 0; i < 300; ++i) {
        if (i % 50 == 0) {
            rig.settings.set(&settings::Settings::isolate, static_cast<uint8_t>((i / 50) % 3 != 2));
            rig.settings.set(&settings::Settings::iso_mode, (i / 50) % 5);
            rig.settings.touch(settings::Counter::Isolation);
            rig.settings.touch(settings::Counter::Tone);
        }
        if (i % 7 == 0)
            rig.stage.inputActivity();
        rig.cycle(i % 100 < 50 ? 1.0f : 1.5f, i % 20 < 10);
    }
    EXPECT_EQ(counter.count(), 0u);
}

// The stage wired into a running engine as steps 4, 5 and 9 of its cycle.
TEST(CleanupStage, InTheEngineCycleTheVoiceReachesTheCableCleaned)
{
    class CleanupSteps : public BlockSteps {
    public:
        CleanupStage stage;
        void prepare(double sampleRate, uint32_t maxFrames, int) override { stage.prepare(sampleRate, maxFrames); }
        void isolation(Block& b) noexcept override { stage.isolation(b); }
        void micTone(Block& b) noexcept override { stage.micTone(b); }
        void cardMicVoicing(Block& b) noexcept override { stage.cardMicVoicing(b); }
    } steps;
    test::EngineRig rig(steps);
    rig.audio.setCaptureSource(test::kMic, [](uint64_t first, float* out, uint32_t frames) {
        for (uint32_t i = 0; i < frames; ++i) {
            // Syllable-like bursts of a 150 Hz harmonic tone, 200 ms on, 200 ms off.
            const double t = static_cast<double>(first + i) / kFs;
            double v = 0.0;
            for (int h = 1; h <= 10; ++h)
                v += std::sin(2.0 * 3.14159265358979 * 150.0 * h * t) / h;
            out[2 * i] = out[2 * i + 1] = static_cast<float>(std::fmod(t, 0.4) < 0.2 ? 0.1 * v : 0.0);
        }
    });
    rig.audio.recordRender(test::kCable, true);
    rig.settings.set(&settings::Settings::isolate, 1);
    rig.settings.set(&settings::Settings::iso_mode, 2);
    rig.settings.set(&settings::Settings::iso_level, 60);
    rig.open();
    rig.runMillis(300);
    rig.settings.set(&settings::Settings::mic_level, 150); // a gain step while running
    rig.runMillis(300);

    EXPECT_GT(steps.stage.suppressor().hops(), 100u);
    const auto out = rig.audio.rendered(test::kCable);
    ASSERT_GT(out.size(), 2u * 48000u / 2u);
    float peak = 0.0f;
    for (size_t i = out.size() - 2 * 19200; i < out.size(); ++i) {
        ASSERT_TRUE(std::isfinite(out[i]));
        peak = std::max(peak, std::fabs(out[i]));
    }
    EXPECT_GT(peak, 0.1f);
}

// The engine checks the input once per captured packet: a key press (the
// system's last input time moves while the cursor stays) or a click reaches
// the isolation; a mouse movement does not, nor the first look.
TEST(CleanupStage, KeyPressesAndClicksSeenByTheEngineReachTheIsolationMouseMovesDoNot)
{
    SilentEnvironments environments;
    // The chain's own record only feeds its equalizer reloads; the blocks carry the rig's.
    settings::Settings chainSettings;
    EffectChain chain(environments, chainSettings);
    test::EngineRig rig(chain);
    platform::sim::SimKeys& keys = rig.keys;
    keys.input(1000);
    rig.audio.setCaptureSource(test::kMic, platform::sim::sineSource(200.0, 0.1f));
    rig.settings.set(&settings::Settings::isolate, 1);
    rig.settings.set(&settings::Settings::iso_mode, 2);
    const auto activity = [&] { return chain.cleanup().suppressor().activityRecent(); };
    rig.open();
    rig.runMillis(200);
    EXPECT_FALSE(activity()); // the first check only looks

    keys.input(2000);
    rig.runMillis(20);
    EXPECT_TRUE(activity());
    rig.runMillis(1000);
    EXPECT_FALSE(activity());

    keys.moveCursor(40, 30);
    keys.input(3000);
    rig.runMillis(20);
    EXPECT_FALSE(activity()); // the mouse moved

    keys.press(platform::sim::SimKeys::kVkLeftButton);
    rig.runMillis(20);
    EXPECT_TRUE(activity());

    // Off, the engine does not look at the input at all; back on, a press
    // made meanwhile is not taken for one (the first look only looks).
    rig.settings.set(&settings::Settings::isolate, 0);
    rig.runMillis(1000);
    const uint32_t looks = keys.looks();
    keys.release(platform::sim::SimKeys::kVkLeftButton);
    keys.input(4000);
    rig.runMillis(200);
    EXPECT_EQ(keys.looks(), looks);
    rig.settings.set(&settings::Settings::isolate, 1);
    rig.runMillis(40);
    EXPECT_GT(keys.looks(), looks);
    EXPECT_FALSE(activity());
}

} // namespace
} // namespace engine
