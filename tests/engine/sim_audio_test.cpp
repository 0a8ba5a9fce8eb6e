// The simulated endpoints behave like the platform's where the engine relies on it.

#include "platform/sim/manual_clock.h"
#include "platform/sim/sim_audio.h"

#include <gtest/gtest.h>

namespace {

using platform::AudioResult;
using platform::Flow;

class SimAudioTest : public ::testing::Test {
protected:
    platform::sim::ManualClock clock;
    platform::sim::SimAudio audio{clock};
    std::unique_ptr<platform::Event> event = clock.createEvent(false);

    std::unique_ptr<platform::AudioClient> open(const std::wstring& id, Flow flow)
    {
        platform::sim::SimEndpointSetup s;
        s.flow = flow;
        s.id = id;
        audio.addEndpoint(s);
        AudioResult r = AudioResult::Failed;
        auto client = audio.activate(id, flow, r);
        EXPECT_EQ(r, AudioResult::Ok);
        platform::SharedStreamParams p;
        p.eventCallback = flow == Flow::Capture;
        p.bufferDurationMicros = flow == Flow::Capture ? 100000 : 80000;
        EXPECT_EQ(client->initializeShared(p), AudioResult::Ok);
        if (flow == Flow::Capture) {
            EXPECT_EQ(client->setEvent(*event), AudioResult::Ok);
        }
        EXPECT_EQ(client->start(), AudioResult::Ok);
        return client;
    }
};

TEST_F(SimAudioTest, CapturePacketsArriveWithTheClockAndSetTheEvent)
{
    auto client = open(L"m", Flow::Capture);
    AudioResult r = AudioResult::Failed;
    auto capture = client->captureService(r);
    ASSERT_TRUE(capture);
    uint32_t size = 1;
    ASSERT_EQ(capture->nextPacketSize(size), AudioResult::Ok);
    EXPECT_EQ(size, 0u);
    clock.advanceMillis(10);
    audio.tick();
    EXPECT_TRUE(clock.wait(*event, 0));
    ASSERT_EQ(capture->nextPacketSize(size), AudioResult::Ok);
    EXPECT_EQ(size, 480u);
    platform::CapturePacket packet;
    ASSERT_EQ(capture->getPacket(packet), AudioResult::Ok);
    EXPECT_EQ(packet.frames, 480u);
    EXPECT_EQ(packet.devicePosition, 0u);
    ASSERT_EQ(capture->releasePacket(480), AudioResult::Ok);

    // A reader that falls behind loses frames beyond the buffer: the position jumps.
    clock.advanceMillis(200);
    ASSERT_EQ(capture->getPacket(packet), AudioResult::Ok);
    EXPECT_GT(packet.devicePosition, 480u);
    EXPECT_EQ(packet.devicePosition % 480, 0u);
    EXPECT_GT(audio.stats(L"m").framesDropped, 0u);
}

TEST_F(SimAudioTest, RenderQueuePlaysAtItsDriftedRateAndRejectsOverfill)
{
    auto client = open(L"s", Flow::Render);
    audio.setDriftPpm(L"s", 1000);
    AudioResult r = AudioResult::Failed;
    auto render = client->renderService(r);
    std::vector<float> block(3840 * 2, 0.0f);
    ASSERT_EQ(render->write(block.data(), 3840), AudioResult::Ok);
    EXPECT_EQ(render->write(block.data(), 1), AudioResult::BufferError);
    clock.advanceMillis(20);
    uint32_t padding = 0;
    ASSERT_EQ(render->padding(padding), AudioResult::Ok);
    EXPECT_EQ(padding, 3840u - 960u); // 960.96 frames played
    clock.advanceMillis(1000);
    ASSERT_EQ(render->padding(padding), AudioResult::Ok);
    EXPECT_EQ(padding, 0u);
    EXPECT_EQ(audio.stats(L"s").underruns, 1u);
}

TEST_F(SimAudioTest, RemovedOrFailingEndpointsFailTheirStreams)
{
    auto client = open(L"m", Flow::Capture);
    AudioResult r = AudioResult::Failed;
    auto capture = client->captureService(r);
    uint32_t size = 0;
    audio.setCallsFail(L"m", true);
    EXPECT_EQ(capture->nextPacketSize(size), AudioResult::Failed);
    audio.setCallsFail(L"m", false);
    EXPECT_EQ(capture->nextPacketSize(size), AudioResult::Ok);
    audio.removeEndpoint(L"m");
    EXPECT_EQ(capture->nextPacketSize(size), AudioResult::DeviceGone);
    EXPECT_EQ(audio.activate(L"m", Flow::Capture, r), nullptr);
    EXPECT_EQ(r, AudioResult::NotFound);
    EXPECT_TRUE(audio.enumerate(Flow::Capture, platform::kStateAll).empty());
}

} // namespace
