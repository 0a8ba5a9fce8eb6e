// The effect chain inside the running engine on simulated endpoints.

#include "engine_rig.h"
#include "mix_rig.h"

#include "engine/reverb_environments.h"
#include "engine/sound_player.h"
#include "media/wav_writer.h"
#include "platform/sim/memory_files.h"
#include "support/alloc_counter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using test::kCable;
using test::kMic;
using test::kPhones;

// The console's engine and chain with every source live: its own pads and
// preview players, a stand-in clip player and application capture.
struct LiveBusesRig : test::EngineRig {
    engine::EffectChain& chain = console.chain();
    test::FakeClip clip;
    test::FakeApp app;
    engine::SoundPlayer& pads = console.pads();
    engine::SoundPlayer& toMic = console.previewToMic();
    engine::SoundPlayer& phones = console.previewPhones();

    LiveBusesRig() : test::EngineRig(console::SimOptions{})
    {
        audio.setCaptureSource(kMic, platform::sim::sineSource(180.0, 0.3f));
        chain.setSources({&clip, &pads, &app, &toMic, &phones});
    }
};

clip::SoundRef longSound()
{
    auto s = std::make_shared<clip::Sound>();
    s->samples.assign(48000 * 60 * 2, 3000);
    return s;
}

TEST(EffectChainInEngine, TheBlockCycleAllocatesNothingAfterWarmUpWithEveryBusAndStageLive)
{
    LiveBusesRig rig;
    auto& st = rig.settings;
    st.set(&settings::Settings::effects, 1);
    st.set(&settings::Settings::amount, 60);
    st.set(&settings::Settings::preset, 8); // the procedural cavern: its room, its stages and its ducks
    st.set(&settings::Settings::wide, 1);
    st.set(&settings::Settings::mic_level, 400);
    st.set(&settings::Settings::clip_speed, 150);
    st.set(&settings::Settings::clip_mic, 0); // clip monitor-only and application shared: both environments run
    st.set(&settings::Settings::clip_hear, 1);
    st.set(&settings::Settings::pan, 20);
    st.set(&settings::Settings::ambit, 1);
    // The voice chain's own stages at work too: isolation, card mic, speed, changer and masks.
    st.set(&settings::Settings::isolate, 1);
    st.set(&settings::Settings::card_mic, 1);
    st.set(&settings::Settings::voice_speed, 130);
    st.set(&settings::Settings::pitch_hz, 40);
    st.set(&settings::Settings::mask_on, 7);    // and the masks on the voice, the clips and the application
    st.set(&settings::Settings::voice_mask, 5); // "Elderly": pitch, size and a mask channel kind
    rig.clip.isActive = true;
    rig.clip.hz = 300.0;
    rig.app.isRunning = true;
    rig.rings.take.armed.store(1);
    const clip::SoundRef sound = longSound();
    rig.pads.play(0, sound);
    rig.toMic.play(1, sound);
    rig.phones.play(2, sound);
    engine::requestOpen(rig.state);
    rig.run(1000);
    ASSERT_EQ(rig.engine->phase(), engine::EnginePhase::Running);
    rig.run(2000000);

    const auto before = rig.audio.stats(kCable).framesWritten;
    size_t allocations = 0;
    {
        test::AllocationCounter counter;
        rig.run(5000000);
        allocations = counter.count();
    }
    EXPECT_GE(rig.audio.stats(kCable).framesWritten - before, 480u * 490);
    EXPECT_EQ(allocations, 0u);
    EXPECT_TRUE(rig.chain.clipLive());
    EXPECT_TRUE(rig.chain.appLive());
    EXPECT_TRUE(rig.chain.bus1Running());
    EXPECT_TRUE(rig.chain.clipStretcherEngaged());
    EXPECT_NE(rig.pads.playingMask(), 0u);
    EXPECT_NE(rig.phones.playingMask(), 0u);
    EXPECT_GT(rig.report().speedLatencyMs, 0);
    EXPECT_GT(rig.report().detectedPitchHz, 0);
    EXPECT_TRUE(rig.report().clipLive);
    EXPECT_TRUE(rig.report().appLive);
    EXPECT_TRUE(rig.chain.masks().streamRunning(engine::MaskStream::Clip));
    EXPECT_TRUE(rig.chain.masks().streamRunning(engine::MaskStream::Application));
    EXPECT_NE(rig.chain.masks().voiceKind(), dsp::MaskKind::None);
}

} // namespace

namespace {

TEST(ReverbEnvironments, RoomsRingForTheirDecayAndTheResponseLoadsOnlyWhenItsFileIsThere)
{
    engine::ReverbEnvironments none;
    EXPECT_FALSE(none.loadImpulseResponse());
    EXPECT_EQ(none.makeConvolution(48000.0), nullptr);
    EXPECT_DOUBLE_EQ(none.makeRoom(48000.0, 0)->decaySeconds(), 4.32); // "Auditorium"
    EXPECT_NE(none.makeCavern(48000.0), nullptr);

    platform::sim::MemoryFiles files;
    files.createFolders(L"C:\\App");
    std::vector<float> response(2 * 4000, 0.0f);
    response[2 * 600] = response[2 * 600 + 1] = 0.5f;
    ASSERT_TRUE(media::writeWavFloat(files, L"C:\\App\\haunted_cavern_ir.wav", response, 48000));
    engine::ReverbEnvironments beside(&files, L"C:\\App");
    ASSERT_TRUE(beside.loadImpulseResponse());
    auto convolution = beside.makeConvolution(48000.0);
    ASSERT_NE(convolution, nullptr);
    EXPECT_EQ(beside.makeConvolution(48000.0), nullptr); // handed over once

    // An impulse comes back where the response has it: 512 frames dropped, 512 of latency.
    std::vector<float> in(2048, 0.0f), left(2048), right(2048);
    in[0] = 1.0f;
    convolution->process(in.data(), nullptr, left.data(), right.data(), 2048);
    const auto loudest
        = std::max_element(left.begin(), left.end(), [](float a, float b) { return std::fabs(a) < std::fabs(b); });
    EXPECT_EQ(loudest - left.begin(), 600);
    EXPECT_FLOAT_EQ(right[600], left[600]);
}

} // namespace
