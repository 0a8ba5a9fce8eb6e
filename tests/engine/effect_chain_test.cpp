// The effect chain as the engine drives it: gains, pan, routing of the clip
// and application buses, their tails, previews and the output ceiling.

#include "mix_rig.h"

#include "engine/reverb_environments.h"
#include "engine/sound_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

using test::ChainRig;

clip::SoundRef constantSound(uint32_t frames, int16_t value)
{
    auto s = std::make_shared<clip::Sound>();
    s->samples.assign(size_t{frames} * 2, value);
    return s;
}

TEST(EffectChain, MicLevel100IsUnityWithoutBassBoostOrDrive)
{
    ChainRig rig;
    rig.settings.set(&settings::Settings::mic_level, 100);
    rig.start();
    rig.blocks(3, 0.25f);
    EXPECT_FLOAT_EQ(rig.cable[0], 0.25f);
    EXPECT_FLOAT_EQ(rig.cable[959], 0.25f);
    EXPECT_FLOAT_EQ(rig.monitor[0], 0.25f);
    EXPECT_EQ(rig.chain->drive().drive, 0.0f);
}

TEST(EffectChain, MicLevel1000DrivesTheVoiceIntoSaturationBelowOne)
{
    ChainRig rig;
    rig.settings.set(&settings::Settings::mic_level, 1000);
    rig.start();
    // A tone at half the sample rate, which the bass shelf leaves alone.
    rig.blocks(2);
    rig.block(0.001f, ChainRig::kFrames, true);
    // ×20 then the a/tanh(a) make-up of 7, then tanh(d·x)/d with d = tanh(7).
    const float d = std::tanh(7.0f);
    EXPECT_NEAR(engine::levelGain(1000), 20.0, 0.02);
    EXPECT_NEAR(rig.cable[400], std::tanh(d * 0.001f * engine::levelGain(1000) * 7.0f / d) / d, 1e-3);
    EXPECT_FLOAT_EQ(rig.chain->drive().a, 7.0f);
    EXPECT_FLOAT_EQ(rig.chain->drive().drive, d);
    rig.block(0.9f);
    EXPECT_LT(rig.cable[0], 1.0f);
    EXPECT_GT(rig.cable[0], 0.7f);
}

TEST(EffectChain, PanOnTheCableTurnsDownItsLeftAndLeavesTheMonitorAlone)
{
    ChainRig rig;
    rig.settings.set(&settings::Settings::pan, 40);
    rig.settings.set(&settings::Settings::pan_cable, 1);
    rig.settings.set(&settings::Settings::pan_mon, 0);
    rig.start();
    rig.block(0.5f);
    EXPECT_FLOAT_EQ(rig.cable[0], 0.6f * 0.5f);
    EXPECT_FLOAT_EQ(rig.cable[1], 0.5f);
    EXPECT_FLOAT_EQ(rig.monitor[0], 0.5f);
    EXPECT_FLOAT_EQ(rig.monitor[1], 0.5f);
}

TEST(EffectChain, AppPanChangesOnlyTheMonitor)
{
    ChainRig rig;
    rig.settings.set(&settings::Settings::app_gain, 100);
    rig.settings.set(&settings::Settings::app_pan, 100);
    rig.settings.set(&settings::Settings::monitor, 0);
    rig.app.isRunning = true;
    rig.start();
    rig.block();
    EXPECT_FLOAT_EQ(rig.monitor[0], 0.0f); // left turned all the way down
    EXPECT_FLOAT_EQ(rig.monitor[1], 0.125f);
    EXPECT_FLOAT_EQ(rig.cable[0], 0.125f);
    EXPECT_FLOAT_EQ(rig.cable[1], 0.125f);
}

TEST(EffectChain, WithAppOnlyApplicationAudioNeverReachesTheCable)
{
    ChainRig rig;
    rig.settings.set(&settings::Settings::effects, 1);
    rig.settings.set(&settings::Settings::amount, 100);
    rig.settings.set(&settings::Settings::preset, 3);
    rig.settings.set(&settings::Settings::app_only, 1);
    rig.settings.set(&settings::Settings::app_gain, 100);
    rig.app.isRunning = true;
    rig.start();
    for (int b = 0; b < 20; ++b) {
        rig.block();
        ASSERT_EQ(ChainRig::peak(rig.cable), 0.0);
    }
    EXPECT_GT(ChainRig::peak(rig.monitor), 0.1); // heard, with its reverb, in the headphones
    EXPECT_TRUE(rig.chain->bus1Running());
}

TEST(EffectChain, AClipForTheHeadphonesAloneIsOnlyInTheMonitorWithReverbFromBus1)
{
    ChainRig rig;
    rig.settings.set(&settings::Settings::effects, 1);
    rig.settings.set(&settings::Settings::amount, 100);
    rig.settings.set(&settings::Settings::clip_mic, 0);
    rig.settings.set(&settings::Settings::clip_hear, 1);
    rig.settings.set(&settings::Settings::monitor, 0);
    rig.settings.set(&settings::Settings::preset, 3);
    rig.clip.isActive = true;
    rig.clip.hz = 300.0;
    rig.start();
    auto* bus0 = rig.environments.rooms[1];
    auto* bus1 = rig.environments.rooms[2];
    rig.blocks(10);
    EXPECT_EQ(ChainRig::peak(rig.cable), 0.0);
    EXPECT_GT(bus1->fed, 1.0);
    EXPECT_EQ(bus0->fed, 0.0);
    // The monitor holds the dry clip plus bus 1's wet pair, which the stand-in
    // makes differ between left and right.
    double side = 0.0;
    for (uint32_t i = 0; i < ChainRig::kFrames; ++i)
        side = std::max(side, static_cast<double>(std::fabs(rig.monitor[2 * i] - rig.monitor[2 * i + 1])));
    EXPECT_GT(side, 0.01);
}

TEST(EffectChain, WithMonitorClearAndNoOtherSourceTheMonitorIsSilent)
{
    ChainRig rig;
    rig.settings.set(&settings::Settings::monitor, 0);
    rig.settings.set(&settings::Settings::effects, 1);
    rig.settings.set(&settings::Settings::amount, 100);
    rig.start();
    for (int b = 0; b < 5; ++b) {
        rig.block(0.5f);
        EXPECT_EQ(ChainRig::peak(rig.monitor), 0.0);
        EXPECT_GT(ChainRig::peak(rig.cable), 0.4);
    }
}

TEST(EffectChain, AfterTheLastClipStopsItsReverbRingsHalfASecondPlusTheDecayThenTheBusCostsNothing)
{
    ChainRig rig;
    rig.settings.set(&settings::Settings::effects, 1);
    rig.settings.set(&settings::Settings::amount, 100);
    rig.environments.decay = 0.25; // tail: 24000 + 12000 frames = 75 blocks
    rig.clip.isActive = true;
    rig.start();
    auto* bus0 = rig.environments.rooms[1];
    rig.blocks(4);
    rig.clip.isActive = false;
    rig.blocks(74);
    EXPECT_TRUE(rig.chain->clipLive());
    rig.block();
    EXPECT_FALSE(rig.chain->clipLive());
    const uint64_t processed = bus0->processed;
    rig.blocks(10);
    EXPECT_EQ(bus0->processed, processed);
}

TEST(EffectChain, APreviewOnTheToMicPlayerIsHeardOnBothOutputsTheHeadphonesPlayerOnlyInTheMonitor)
{
    ChainRig rig;
    engine::SoundPlayer toMic, phones;
    rig.settings.set(&settings::Settings::monitor, 0);
    engine::EffectChain::Sources sources;
    sources.clip = &rig.clip;
    sources.previewToMic = &toMic;
    sources.previewPhones = &phones;
    rig.start(sources);

    phones.play(0, constantSound(4800, 8192));
    rig.block();
    EXPECT_FLOAT_EQ(rig.monitor[0], 0.25f);
    EXPECT_EQ(ChainRig::peak(rig.cable), 0.0);

    phones.stopAll();
    rig.blocks(2);
    toMic.play(0, constantSound(4800, 8192));
    rig.block();
    EXPECT_FLOAT_EQ(rig.monitor[0], 0.25f);
    EXPECT_FLOAT_EQ(rig.cable[0], 0.25f);
}

TEST(EffectChain, PadsShareTheClipBusRouting)
{
    ChainRig rig;
    engine::SoundPlayer pads;
    rig.settings.set(&settings::Settings::clip_level, 100);
    rig.settings.set(&settings::Settings::clip_mic, 1);
    rig.settings.set(&settings::Settings::clip_hear, 0);
    rig.settings.set(&settings::Settings::monitor, 0);
    engine::EffectChain::Sources sources;
    sources.pads = &pads;
    rig.start(sources);
    pads.play(7, constantSound(4800, 8192));
    rig.block();
    EXPECT_TRUE(rig.chain->clipLive());
    EXPECT_FLOAT_EQ(rig.cable[0], 0.25f);
    EXPECT_EQ(ChainRig::peak(rig.monitor), 0.0);
}

TEST(EffectChain, NoOutputSampleReachesOneWithEverySourceAtFullLevelAndDriveAtItsMaximum)
{
    ChainRig rig;
    engine::SoundPlayer pads, toMic, phones;
    auto& st = rig.settings;
    st.set(&settings::Settings::mic_level, 1000);
    st.set(&settings::Settings::clip_level, 1000);
    st.set(&settings::Settings::app_gain, 1000);
    st.set(&settings::Settings::effects, 1);
    st.set(&settings::Settings::amount, 100);
    st.set(&settings::Settings::eq_on, 1);
    st.set(&settings::Settings::ambit, 1);
    for (int band = 0; band < settings::kEqBandCount; ++band)
        st.setEqBand(band, 12);
    st.set(&settings::Settings::pan, -30);
    rig.clip.isActive = true;
    rig.clip.left = rig.clip.right = 1.0f;
    rig.clip.hz = 90.0;
    rig.app.isRunning = true;
    rig.app.left = 3.9f;
    rig.app.right = -3.9f;
    engine::EffectChain::Sources sources;
    sources.clip = &rig.clip;
    sources.app = &rig.app;
    sources.pads = &pads;
    sources.previewToMic = &toMic;
    sources.previewPhones = &phones;
    rig.start(sources);
    rig.chain->reloadEq(rig.settings.snapshot());
    pads.play(0, constantSound(48000, 32767));
    toMic.play(0, constantSound(48000, 32767));
    phones.play(0, constantSound(48000, -32768));
    for (int b = 0; b < 40; ++b) {
        rig.block(b % 2 ? 3.9f : -3.9f);
        ASSERT_LT(ChainRig::peak(rig.cable), 1.0);
        ASSERT_LT(ChainRig::peak(rig.monitor), 1.0);
    }
}

TEST(EffectChain, ApplicationSamplesOutsideTheSampleGuardBecomeSilence)
{
    ChainRig rig;
    rig.settings.set(&settings::Settings::app_gain, 100);
    rig.app.isRunning = true;
    rig.app.left = std::nanf("");
    rig.app.right = 4.0f;
    rig.start();
    rig.block();
    EXPECT_EQ(rig.cable[0], 0.0f);
    EXPECT_EQ(rig.cable[1], 0.0f);
}

TEST(EffectChain, APresetChangeLetsTheOldRoomRingOutThenFreesIt)
{
    ChainRig rig;
    rig.settings.set(&settings::Settings::preset, 3);
    rig.settings.set(&settings::Settings::effects, 1);
    rig.settings.set(&settings::Settings::amount, 100);
    rig.environments.decay = 0.0; // the tail: 24000 frames = 50 blocks
    rig.start();
    auto* oldRoom = rig.environments.rooms[0];
    rig.blocks(2, 0.5f);
    rig.chain->changeEnvironment(5);
    EXPECT_EQ(rig.environments.presets.back(), 5);
    EXPECT_TRUE(rig.chain->oldEnvironmentRinging());
    const uint64_t before = oldRoom->processed;
    rig.blocks(49);
    EXPECT_EQ(oldRoom->processed, before + 49 * ChainRig::kFrames); // fed silence, still heard
    EXPECT_TRUE(rig.chain->oldEnvironmentRinging());
    rig.block();
    EXPECT_FALSE(rig.chain->oldEnvironmentRinging());
}

TEST(EffectChain, ClipAtSpeedFollowsThePlayerThroughTheStretcherInPullsOfAtMost1024)
{
    ChainRig rig;
    rig.settings.set(&settings::Settings::clip_speed, 200);
    rig.settings.set(&settings::Settings::clip_follow_voice, 0);
    rig.clip.isActive = true;
    rig.clip.hz = 200.0;
    rig.start();
    rig.blocks(100);
    EXPECT_TRUE(rig.chain->clipStretcherEngaged());
    // Twice as much clip consumed as played, give or take the look-ahead.
    EXPECT_NEAR(static_cast<double>(rig.clip.framesRead), 2.0 * 100 * ChainRig::kFrames, 6000.0);
    // Back at 100 it stays engaged until a new clip starts.
    rig.settings.set(&settings::Settings::clip_speed, 100);
    rig.block();
    EXPECT_TRUE(rig.chain->clipStretcherEngaged());
    rig.clip.generation++;
    rig.block();
    EXPECT_FALSE(rig.chain->clipStretcherEngaged());
}

TEST(EffectChain, APausedClipIsSilentAndConsumesNothing)
{
    ChainRig rig;
    rig.clip.isActive = true;
    rig.clip.isPaused = true;
    rig.start();
    rig.blocks(3);
    EXPECT_EQ(rig.clip.framesRead, 0u);
    EXPECT_EQ(ChainRig::peak(rig.cable), 0.0);
    EXPECT_TRUE(rig.chain->clipLive()); // still a live bus: its reverb keeps ringing
}

TEST(EffectChain, BlocksLongerThanThePreparedScratchAreMixedInPieces)
{
    ChainRig rig;
    rig.settings.set(&settings::Settings::clip_level, 100);
    rig.clip.isActive = true;
    rig.start();
    rig.block(0.0f, ChainRig::kFrames * 3 + 7);
    EXPECT_FLOAT_EQ(rig.cable[0], 0.25f);
    EXPECT_FLOAT_EQ(rig.cable[2 * (ChainRig::kFrames * 3 + 6)], 0.25f);
}

} // namespace

namespace {

ChainRig& reverbOn(ChainRig& rig)
{
    rig.settings.set(&settings::Settings::effects, 1);
    rig.settings.set(&settings::Settings::amount, 100);
    rig.settings.set(&settings::Settings::echo_on, 7);
    return rig;
}

// Largest |left − right| of an output: the stand-in rooms are the only source of a difference.
double sideOf(const std::vector<float>& out)
{
    double side = 0.0;
    for (uint32_t i = 0; i < ChainRig::kFrames; ++i)
        side = std::max(side, static_cast<double>(std::fabs(out[2 * i] - out[2 * i + 1])));
    return side;
}

TEST(EffectChainEnvironment, TheCavernPresetRunsOnTheConvolutionWhenTheResponseLoaded)
{
    ChainRig rig;
    reverbOn(rig).settings.set(&settings::Settings::preset, 8);
    rig.environments.responseLoads = true;
    rig.start();
    ASSERT_NE(rig.environments.convolution, nullptr);
    EXPECT_EQ(rig.environments.rooms.size(), 2u);       // only the two bus rooms: the voice uses the response
    rig.blocks(3, 0.01f);                               // quiet enough for the stand-in to stay below the clipper
    EXPECT_EQ(rig.environments.convolution->clears, 1); // cleared when it became active
    EXPECT_GT(rig.environments.convolution->fed, 1.0);
    EXPECT_GT(sideOf(rig.cable), 0.001); // its wet pair reaches the cable
    EXPECT_GT(sideOf(rig.monitor), 0.001);

    rig.chain->changeEnvironment(3);
    EXPECT_TRUE(rig.chain->oldEnvironmentRinging());
    const uint64_t before = rig.environments.convolution->processed;
    rig.block();
    EXPECT_EQ(rig.environments.convolution->processed, before + ChainRig::kFrames); // ringing out
    EXPECT_GT(sideOf(rig.cable), 0.0001);
    rig.blocks(9); // the send's high-pass has settled: nothing more is sent
    const float ringing = rig.environments.convolution->level();
    // Back within its tail: the response goes on from where it rang, not
    // cleared, and runs once a block, as the current environment.
    rig.chain->changeEnvironment(8);
    const uint64_t back = rig.environments.convolution->processed;
    rig.block();
    EXPECT_EQ(rig.environments.convolution->clears, 1);
    EXPECT_EQ(rig.environments.convolution->processed, back + ChainRig::kFrames);
    // The stand-in falls by 0.999 a frame, to 0.62 over a block, less the
    // last of the high-pass's undershoot; cleared it would hold only that (-0.09).
    EXPECT_GT(rig.environments.convolution->level() / ringing, 0.45f);
}

TEST(EffectChainEnvironment, TheResponseStartsClearWhenItsTailHadBeenCutShort)
{
    ChainRig rig;
    reverbOn(rig).settings.set(&settings::Settings::preset, 8);
    rig.environments.responseLoads = true;
    rig.start();
    rig.blocks(3, 0.3f);
    rig.chain->changeEnvironment(3);
    rig.block();
    rig.chain->changeEnvironment(5); // the response's tail gives way to room 3's
    rig.block();
    rig.chain->changeEnvironment(8);
    rig.block();
    EXPECT_EQ(rig.environments.convolution->clears, 2);
}

TEST(EffectChainEnvironment, TheProceduralCavernKeepsItsRoomOffTheCableAndInTheHeadphonesOnlyWithWide)
{
    ChainRig rig;
    reverbOn(rig).settings.set(&settings::Settings::preset, 8);
    rig.environments.withCavern = true;
    rig.start();
    rig.blocks(3, 0.3f);
    EXPECT_GT(rig.environments.caverns[0]->voiceFrames, 0u);
    EXPECT_GT(rig.environments.rooms[0]->fed, 1.0);
    EXPECT_EQ(sideOf(rig.cable), 0.0);   // only the cavern's own stages, alike on both sides
    EXPECT_EQ(sideOf(rig.monitor), 0.0); // without wide the monitor takes the cable's wet
    rig.settings.set(&settings::Settings::wide, 1);
    rig.block(0.3f);
    EXPECT_EQ(sideOf(rig.cable), 0.0);
    EXPECT_GT(sideOf(rig.monitor), 0.001);
}

TEST(EffectChainEnvironment, TheOldCavernRingsOutInTheHeadphonesOnlyOtherRoomsInBoth)
{
    ChainRig rig;
    reverbOn(rig).settings.set(&settings::Settings::preset, 8);
    rig.settings.set(&settings::Settings::wide, 1); // the monitor takes its own wet pair
    rig.environments.withCavern = true;
    rig.start();
    // With wide set the two outputs differ only by what reaches one of them alone.
    auto headphonesOnly = [&] {
        double d = 0.0;
        for (uint32_t i = 0; i < 2 * ChainRig::kFrames; ++i)
            d = std::max(d, static_cast<double>(std::fabs(rig.monitor[i] - rig.cable[i])));
        return d;
    };
    for (int b = 0; b < 3; ++b)
        rig.block(0.5f, ChainRig::kFrames, true);
    rig.chain->changeEnvironment(3);
    rig.block();
    EXPECT_GT(headphonesOnly(), 0.005);
    for (int b = 0; b < 3; ++b)
        rig.block(0.5f, ChainRig::kFrames, true);
    rig.chain->changeEnvironment(5);
    rig.block();
    EXPECT_TRUE(rig.chain->oldEnvironmentRinging());
    EXPECT_GT(sideOf(rig.cable), 0.005);
    EXPECT_EQ(headphonesOnly(), 0.0);
}

// Loudest sample of either output over the next blocks of silence.
double silentBlocksPeak(ChainRig& rig, int blocks)
{
    double peak = 0.0;
    for (int b = 0; b < blocks; ++b) {
        rig.block();
        peak = std::max({peak, ChainRig::peak(rig.cable), ChainRig::peak(rig.monitor)});
    }
    return peak;
}

TEST(EffectChainEnvironment, BackInTheCavernAfterAQuickHopItsStagesReplayNoOldVoice)
{
    ChainRig rig;
    engine::ReverbEnvironments rooms;
    rig.realRooms = &rooms;
    reverbOn(rig).settings.set(&settings::Settings::preset, 8);
    rig.settings.set(&settings::Settings::amount, 60);
    rig.start();
    for (int b = 0; b < 100; ++b) // a second of a loud 50 Hz square wave
        rig.block(b % 2 == 0 ? 0.5f : -0.5f);
    rig.chain->changeEnvironment(9); // the cavern's stages ring out with its room...
    rig.blocks(2);
    rig.chain->changeEnvironment(10);           // ...until the next hop
    EXPECT_LT(silentBlocksPeak(rig, 600), 1.0); // every tail has time to die away
    EXPECT_LT(silentBlocksPeak(rig, 10), 1e-5);
    rig.chain->changeEnvironment(8);
    EXPECT_LT(silentBlocksPeak(rig, 100), 1e-5); // the slap echo and the plates start clear
}

TEST(EffectChainEnvironment, TheCavernDuckGlidesTheDryVoiceDownAboveAmount10)
{
    ChainRig rig;
    reverbOn(rig).settings.set(&settings::Settings::preset, 8);
    rig.settings.set(&settings::Settings::amount, 10);
    rig.environments.withCavern = true;
    rig.start();
    rig.environments.caverns[0]->duck = 20.0f;
    rig.block(0.3f);
    EXPECT_EQ(rig.chain->voiceDryGain(), 1.0f);
    rig.settings.set(&settings::Settings::amount, 11);
    rig.block(0.3f, 1);
    EXPECT_FLOAT_EQ(rig.chain->voiceDryGain(), 1.0f + 0.002f * (0.1f - 1.0f));
    rig.blocks(20, 0.3f);
    EXPECT_NEAR(rig.chain->voiceDryGain(), 0.1f, 1e-4);
}

TEST(EffectChainEnvironment, ABusOnTheCavernDucksItsDrySourcesAndSendsItsMonoWetToTheCable)
{
    ChainRig rig;
    reverbOn(rig).settings.set(&settings::Settings::preset, 8);
    rig.settings.set(&settings::Settings::clip_level, 100);
    rig.environments.withCavern = true;
    rig.clip.isActive = true;
    rig.start();
    rig.environments.caverns[1]->duck = 6.0f;
    rig.blocks(30);
    // Dry clip 0.25 ducked by 6 dB, plus the mono wet (half the dry sum, 0.125) on both sides.
    EXPECT_NEAR(rig.cable[0], rig.cable[1], 1e-6);
    EXPECT_NEAR(rig.cable[0], 0.25f * std::pow(10.0f, -6.0f / 20.0f) + 0.125f, 0.002);
}

} // namespace

namespace {

// Adds a fixed value to the wet pair it is handed.
class MarkerWideEcho : public engine::WideEcho {
public:
    int calls = 0;
    void process(const engine::WideEchoFeed&, float* wetL, float* wetR, uint32_t n, bool cavernRunning,
        const settings::Snapshot&) noexcept override
    {
        ++calls;
        for (uint32_t i = 0; i < n; ++i) {
            wetL[i] += cavernRunning ? 0.125f : 0.0f;
            wetR[i] += cavernRunning ? 0.125f : 0.0f;
        }
    }
};

TEST(EffectChainEnvironment, TheWideEchoHookAddsToTheCavernsHeadphoneWetOnly)
{
    ChainRig rig;
    rig.settings.set(&settings::Settings::effects, 1);
    rig.settings.set(&settings::Settings::amount, 100);
    rig.settings.set(&settings::Settings::preset, 8);
    rig.settings.set(&settings::Settings::wide, 1);
    MarkerWideEcho wide;
    rig.start();
    rig.chain->setWideEcho(&wide);
    rig.block();
    EXPECT_EQ(wide.calls, 1);
    EXPECT_FLOAT_EQ(rig.monitor[0], 0.125f);
    EXPECT_EQ(rig.cable[0], 0.0f);
}

} // namespace

namespace {

TEST(EffectChainVoice, TheVoiceMaskFadesOutWhenMaskBit0ClearsThoughItsStepNoLongerRuns)
{
    ChainRig rig;
    rig.voiceStages = true;
    rig.settings.set(&settings::Settings::mask_on, 1);
    rig.settings.set(&settings::Settings::voice_mask, 5); // "Elderly", a mask channel kind of its own
    rig.start();
    rig.blocks(10, 0.1f);
    EXPECT_EQ(rig.chain->masks().voiceKind(), dsp::MaskKind::Tremolo);
    rig.settings.set(&settings::Settings::mask_on, 0);
    rig.blocks(10, 0.1f);
    EXPECT_EQ(rig.chain->masks().voiceKind(), dsp::MaskKind::None);
    EXPECT_FALSE(rig.chain->masks().voiceFading());
}

} // namespace
