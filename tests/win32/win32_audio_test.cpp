// The WASAPI adapter against the endpoints wine shows for the PulseAudio rig
// (e2e/pulse_rig.sh): "CABLE Input", "Headphones"
// (the default sink) and "Microphone" (the default source). Without an audio
// server there are no endpoints and every test says it skipped.

#include "engine/audio_io.h"
#include "engine/endpoints.h"
#include "platform/win32/win32_audio.h"
#include "platform/win32/win32_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

namespace {

using platform::Flow;

class Win32Audio : public ::testing::Test {
protected:
    std::unique_ptr<platform::AudioDevices> devices = platform::win32::makeAudioDevices();
    std::unique_ptr<platform::Clock> clock = platform::win32::makeClock();

    void SetUp() override
    {
        if (devices->enumerate(Flow::Render, platform::kStateActive).empty())
            GTEST_SKIP() << "no active audio endpoint: start the rig's PulseAudio daemon (e2e/pulse_rig.sh)";
    }

    platform::EndpointInfo find(Flow flow, const std::wstring& pattern)
    {
        for (auto& e : devices->enumerate(flow, platform::kStateActive))
            if (engine::containsNoCase(e.name, pattern))
                return e;
        return {};
    }
};

TEST_F(Win32Audio, EnumeratesTheRigEndpointsWithNamesAndUniqueIds)
{
    const auto render = devices->enumerate(Flow::Render, platform::kStateActive);
    const auto capture = devices->enumerate(Flow::Capture, platform::kStateActive);
    std::set<std::wstring> ids;
    for (const auto* list : {&render, &capture}) {
        for (const auto& e : *list) {
            EXPECT_FALSE(e.id.empty());
            EXPECT_FALSE(e.name.empty());
            ids.insert(e.id);
        }
    }
    EXPECT_EQ(ids.size(), render.size() + capture.size());
    EXPECT_FALSE(find(Flow::Render, L"CABLE Input").id.empty());
    EXPECT_FALSE(find(Flow::Render, L"Headphones").id.empty());
    EXPECT_FALSE(find(Flow::Capture, L"Microphone").id.empty());
    // The cable's capture side is found by the cable's rule, and is no microphone.
    const auto cableOut = std::find_if(capture.begin(), capture.end(),
        [](const platform::EndpointInfo& e) { return engine::isCableCapture(e.name, e.interfaceName); });
    ASSERT_NE(cableOut, capture.end());
    EXPECT_EQ(engine::indexOfId(engine::microphoneList(*devices), cableOut->id), -1);
}

TEST_F(Win32Audio, DefaultEndpointsAndTheCableAreFound)
{
    // Wine's defaults are endpoints of their own that follow the server's default sink and source.
    for (auto flow : {Flow::Render, Flow::Capture}) {
        const auto id = devices->defaultEndpointId(flow);
        ASSERT_FALSE(id.empty());
        EXPECT_GE(engine::indexOfId(devices->enumerate(flow, platform::kStateActive), id), 0);
    }
    const auto cable = engine::findCableEndpoint(*devices);
    EXPECT_NE(cable.name.find(L"CABLE Input"), std::wstring::npos);
    for (const auto& speaker : engine::speakerList(*devices))
        EXPECT_NE(speaker.id, cable.id) << "the cable is never offered as a speaker";
}

TEST_F(Win32Audio, UnknownEndpointIdIsNotFound)
{
    platform::AudioResult result = platform::AudioResult::Ok;
    EXPECT_EQ(
        devices->activate(L"{0.0.0.00000000}.{00000000-0000-0000-0000-000000000000}", Flow::Render, result), nullptr);
    EXPECT_NE(result, platform::AudioResult::Ok);
}

TEST_F(Win32Audio, CaptureStreamDeliversPackets)
{
    const auto mic = devices->defaultEndpointId(Flow::Capture);
    ASSERT_FALSE(mic.empty());
    auto event = clock->createEvent(false);
    ASSERT_TRUE(event);
    for (bool raw : {false, true}) {
        uint32_t bufferFrames = 0;
        auto client = engine::openCaptureClient(*devices, mic, raw, *event, bufferFrames);
        ASSERT_TRUE(client) << "raw " << raw << ": " << platform::win32::lastAudioError().context;
        EXPECT_GT(bufferFrames, 0u);
        platform::AudioResult r = platform::AudioResult::Failed;
        auto capture = client->captureService(r);
        ASSERT_TRUE(capture);
        ASSERT_EQ(client->start(), platform::AudioResult::Ok);

        uint32_t frames = 0;
        // Bounded wait for the device: a stream delivers every 10 ms or so once it runs.
        const int64_t deadline = clock->nowMicros() + 5000000;
        while (frames == 0 && clock->nowMicros() < deadline) {
            clock->wait(*event, 20000);
            ASSERT_EQ(capture->nextPacketSize(frames), platform::AudioResult::Ok);
        }
        ASSERT_GT(frames, 0u) << "no capture packet within five seconds, raw " << raw;
        platform::CapturePacket packet;
        ASSERT_EQ(capture->getPacket(packet), platform::AudioResult::Ok);
        EXPECT_EQ(packet.frames, frames);
        EXPECT_TRUE(packet.data != nullptr || (packet.flags & platform::kPacketSilent));
        // The packet's stamp is on the clock's time base (the output tap lines packets up by it).
        if (packet.qpcPosition != 0) {
            EXPECT_NEAR(static_cast<double>(packet.qpcPosition) / 10.0, static_cast<double>(clock->nowMicros()), 1e6);
        }
        EXPECT_EQ(capture->releasePacket(packet.frames), platform::AudioResult::Ok);
        EXPECT_EQ(client->stop(), platform::AudioResult::Ok);
    }
}

TEST_F(Win32Audio, RenderStreamAcceptsABlockAndReportsPadding)
{
    const auto cable = engine::findCableEndpoint(*devices);
    ASSERT_FALSE(cable.id.empty());
    for (bool lowLatency : {false, true}) {
        engine::RenderOutput out;
        ASSERT_TRUE(engine::openRenderOutput(out, *devices, cable.id, lowLatency));
        EXPECT_GE(out.bufferFrames, 480u);
        std::vector<float> block(480 * 2, 0.1f);
        ASSERT_TRUE(engine::writeRenderBlock(out, block.data(), 480));
        uint32_t padding = 0;
        ASSERT_EQ(out.renderClient->padding(padding), platform::AudioResult::Ok);
        EXPECT_GT(padding, 0u);
        EXPECT_LE(padding, out.bufferFrames);
        EXPECT_EQ(out.client->start(), platform::AudioResult::Ok);
        ASSERT_TRUE(engine::writeRenderBlock(out, block.data(), 480));
        engine::closeRenderOutput(out);
        EXPECT_FALSE(out.isOpen());
    }
}

// The speaker test's fallback: a stream in the endpoint's own mix format
// takes frames of that format's size.
TEST_F(Win32Audio, AStreamInTheMixFormatTakesFramesOfThatFormat)
{
    const auto phones = find(Flow::Render, L"Headphones");
    ASSERT_FALSE(phones.id.empty());
    platform::AudioResult r = platform::AudioResult::Failed;
    auto client = devices->activate(phones.id, Flow::Render, r);
    ASSERT_NE(client, nullptr);
    platform::MixFormat mix;
    ASSERT_EQ(client->mixFormat(mix), platform::AudioResult::Ok);
    platform::SharedStreamParams params;
    params.autoConvertPcm = false;
    params.useMixFormat = true;
    params.bufferDurationMicros = 80000;
    ASSERT_EQ(client->initializeShared(params), platform::AudioResult::Ok);
    auto render = client->renderService(r);
    ASSERT_NE(render, nullptr);
    const std::vector<uint8_t> frames(size_t{480} * mix.channels * (mix.bitsPerSample / 8), 0);
    ASSERT_EQ(render->writeFrames(frames.data(), 480), platform::AudioResult::Ok);
    uint32_t padding = 0;
    ASSERT_EQ(render->padding(padding), platform::AudioResult::Ok);
    EXPECT_EQ(padding, 480u);
}

TEST_F(Win32Audio, AudioThreadIsRegisteredOrRaised)
{
    auto registration = devices->registerAudioThread();
    ASSERT_TRUE(registration);
    EXPECT_NE(registration->priority(), platform::ThreadPriority::Unchanged);
}

} // namespace
