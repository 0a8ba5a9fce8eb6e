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

// The engine rig's endpoints with the chain and every source live.
struct LiveBusesRig {
    platform::sim::ManualClock clock;
    platform::sim::SimAudio audio{clock};
    settings::Settings settings;
    engine::EngineState state;
    engine::RecorderRings rings;
    engine::ReverbEnvironments environments; // the real rooms and the procedural cavern
    engine::EffectChain chain{environments, settings, state};
    test::FakeClip clip;
    test::FakeApp app;
    engine::SoundPlayer pads, toMic, phones;
    std::unique_ptr<engine::Engine> engine;

    LiveBusesRig()
    {
        audio.addEndpoint(test::endpointSpec(platform::Flow::Capture, kMic, L"Microphone (Sim USB)"));
        audio.addEndpoint(test::endpointSpec(
            platform::Flow::Render, kCable, L"CABLE Input (VB-Audio Virtual Cable)", L"VB-Audio Virtual Cable"));
        audio.addEndpoint(test::endpointSpec(platform::Flow::Render, kPhones, L"Headphones (Sim)"));
        audio.setCaptureSource(kMic, platform::sim::sineSource(180.0, 0.3f));
        settings::setDeviceName(settings, settings::DeviceKind::Mic, kMic);
        settings::setDeviceName(settings, settings::DeviceKind::Spk, kPhones);
        chain.setSources({&clip, &pads, &app, &toMic, &phones});
        engine
            = std::make_unique<engine::Engine>(engine::EngineServices{clock, audio, settings, state, rings, chain, {}});
        engine->start();
    }

    void run(int64_t micros) { test::stepEngineFor(*engine, clock, audio, micros); }
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
    st.effects.store(1);
    st.amount.store(60);
    st.preset.store(8); // the procedural cavern: its room, its stages and its ducks
    st.wide.store(1);
    st.mic_level.store(400);
    st.clip_speed.store(150);
    st.clip_mic.store(0); // clip monitor-only and application shared: both environments run
    st.clip_hear.store(1);
    st.pan.store(20);
    st.ambit.store(1);
    // The voice chain's own stages at work too: isolation, card mic, speed, changer and masks.
    st.isolate.store(1);
    st.card_mic.store(1);
    st.voice_speed.store(130);
    st.pitch_hz.store(40);
    st.mask_on.store(7);    // and the masks on the voice, the clips and the application
    st.voice_mask.store(5); // "Elderly": pitch, size and a mask channel kind
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
    EXPECT_GT(rig.state.speedLatencyMs.load(), 0);
    EXPECT_GT(rig.state.detectedPitchHz.load(), 0);
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
