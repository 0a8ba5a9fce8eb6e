// Opening streams and the fill control of writeRenderBlock.

#include "engine/audio_io.h"
#include "platform/sim/manual_clock.h"
#include "platform/sim/sim_audio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using platform::AudioResult;

// A render service whose padding the test sets; it keeps what was written.
class ScriptedRender final : public platform::RenderService {
public:
    uint32_t queued = 0;
    bool drains = false; // when set, every padding read finds the queue empty
    bool failPadding = false;
    std::vector<uint32_t> writes;
    std::vector<float> last;

    AudioResult padding(uint32_t& frames) override
    {
        if (drains)
            queued = 0;
        frames = queued;
        return failPadding ? AudioResult::DeviceGone : AudioResult::Ok;
    }
    AudioResult write(const float* data, uint32_t frames) override
    {
        writes.push_back(frames);
        last.assign(data, data + size_t{frames} * 2);
        return AudioResult::Ok;
    }
};

struct Output {
    engine::RenderOutput out;
    ScriptedRender* render = nullptr;

    Output(uint32_t bufferFrames, uint32_t target, uint32_t tolerance)
    {
        auto r = std::make_unique<ScriptedRender>();
        render = r.get();
        out.renderClient = std::move(r);
        out.bufferFrames = bufferFrames;
        out.maxTarget = std::max<int32_t>(1, static_cast<int32_t>(bufferFrames / 2));
        out.targetFill = std::min<uint32_t>(target, static_cast<uint32_t>(out.maxTarget));
        out.tolerance = tolerance;
        out.silenceBuffer.assign(size_t{bufferFrames} * 2, 0.0f);
        engine::reserveRenderScratch(out, 4800);
    }
};

std::vector<float> ramp(uint32_t frames)
{
    std::vector<float> v(size_t{frames} * 2);
    for (uint32_t i = 0; i < frames; ++i) {
        v[2 * i] = static_cast<float>(i);
        v[2 * i + 1] = -static_cast<float>(i);
    }
    return v;
}

TEST(WriteRenderBlock, SmoothedFillAboveTargetPlusToleranceShortensTheBlockByOneFrame)
{
    for (double fill : {673.0, 672.0}) {
        Output o(3840, 480, 192);
        o.out.primed = 1;
        o.out.smoothedFill = fill;
        o.out.sinceCorrection = 1;
        o.render->queued = static_cast<uint32_t>(fill);
        const auto block = ramp(480);
        ASSERT_TRUE(engine::writeRenderBlock(o.out, block.data(), 480));
        ASSERT_EQ(o.render->writes.size(), 1u);
        EXPECT_EQ(o.render->writes[0], fill > 672 ? 479u : 480u) << "smoothed fill " << fill;
    }
}

TEST(WriteRenderBlock, SmoothedFillBelowTargetLengthensAndCorrectionsWaitTwoWrites)
{
    Output o(3840, 480, 192);
    o.out.primed = 1;
    o.out.smoothedFill = 200;
    o.out.sinceCorrection = 0;
    o.render->queued = 200;
    const auto block = ramp(480);
    ASSERT_TRUE(engine::writeRenderBlock(o.out, block.data(), 480));
    ASSERT_TRUE(engine::writeRenderBlock(o.out, block.data(), 480));
    ASSERT_TRUE(engine::writeRenderBlock(o.out, block.data(), 480));
    EXPECT_EQ(o.render->writes, (std::vector<uint32_t>{480, 481, 480}));
    EXPECT_EQ(o.out.sinceCorrection, 1);
}

TEST(WriteRenderBlock, StretchedBlockIsTheLinearResampling)
{
    const uint32_t n = 480;
    const auto in = ramp(n);
    for (uint32_t m : {n - 1, n + 1}) {
        std::vector<float> out(size_t{m} * 2);
        engine::stretchBlock(in.data(), n, out.data(), m);
        for (uint32_t j = 0; j < m; ++j) {
            const double pos = static_cast<double>(j) * (n - 1) / (m - 1);
            EXPECT_NEAR(out[2 * j], pos, 1e-3) << "frame " << j << " of " << m;
            EXPECT_NEAR(out[2 * j + 1], -pos, 1e-3);
        }
        EXPECT_EQ(out[2 * (m - 1)], in[2 * (n - 1)]) << "the last input frame is held at the end";
    }

    // A non-linear block: each output frame lies between its two neighbours.
    std::vector<float> sine(size_t{n} * 2);
    for (uint32_t i = 0; i < n; ++i)
        sine[2 * i] = sine[2 * i + 1] = static_cast<float>(std::sin(i * 0.05));
    std::vector<float> out(size_t{n + 1} * 2);
    engine::stretchBlock(sine.data(), n, out.data(), n + 1);
    for (uint32_t j = 0; j <= n; ++j) {
        const double pos = static_cast<double>(j) * (n - 1) / n;
        const auto i = std::min<uint32_t>(static_cast<uint32_t>(pos), n - 2);
        const double t = pos - i;
        EXPECT_NEAR(out[2 * j], sine[2 * i] + t * (sine[2 * i + 2] - sine[2 * i]), 1e-5);
    }
}

TEST(WriteRenderBlock, QueueRunningDryAfterHundredWritesRaisesTheTargetByOneStep)
{
    Output o(3840, 480, 192);
    const auto block = ramp(480);
    // The first write primes with 480 frames of silence.
    ASSERT_TRUE(engine::writeRenderBlock(o.out, block.data(), 480));
    EXPECT_EQ(o.render->writes.front(), 480u);
    o.render->queued = 480;
    for (int i = 1; i < 99; ++i)
        ASSERT_TRUE(engine::writeRenderBlock(o.out, block.data(), 480));
    o.render->drains = true; // write 100 finds the queue dry
    ASSERT_TRUE(engine::writeRenderBlock(o.out, block.data(), 480));
    EXPECT_EQ(o.out.targetFill, 576u);
    EXPECT_EQ(o.render->writes[o.render->writes.size() - 2], 576u) << "pre-filled up to the new target";

    // Earlier dry queues keep the target.
    Output early(3840, 480, 192);
    early.render->drains = true;
    for (int i = 0; i < 99; ++i)
        ASSERT_TRUE(engine::writeRenderBlock(early.out, block.data(), 480));
    EXPECT_EQ(early.out.targetFill, 480u);
}

TEST(WriteRenderBlock, TargetNeverExceedsHalfTheBuffer)
{
    Output o(800, 480, 192);
    EXPECT_EQ(o.out.targetFill, 400u);
    o.render->drains = true;
    const auto block = ramp(480);
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(engine::writeRenderBlock(o.out, block.data(), 480));
        ASSERT_LE(o.out.targetFill, 400u);
    }
}

TEST(WriteRenderBlock, FramesBeyondTheFreeSpaceAreDroppedAndFailuresReported)
{
    Output o(1000, 480, 192);
    o.out.primed = 1;
    o.out.smoothedFill = 480;
    o.render->queued = 900;
    const auto block = ramp(480);
    ASSERT_TRUE(engine::writeRenderBlock(o.out, block.data(), 480));
    EXPECT_EQ(o.render->writes.back(), 100u);

    ASSERT_TRUE(engine::writeRenderBlock(o.out, block.data(), 0));
    ASSERT_TRUE(engine::writeRenderBlock(o.out, block.data(), 3));
    o.render->failPadding = true;
    EXPECT_FALSE(engine::writeRenderBlock(o.out, block.data(), 480));
    engine::RenderOutput closed;
    EXPECT_FALSE(engine::writeRenderBlock(closed, block.data(), 480));
}

class OpenTest : public ::testing::Test {
protected:
    platform::sim::ManualClock clock;
    platform::sim::SimAudio audio{clock};
    std::unique_ptr<platform::Event> event = clock.createEvent(false);

    void add(platform::Flow flow, const std::wstring& id, platform::MixFormat format = {}, uint32_t minPeriod = 480)
    {
        platform::sim::SimEndpointSetup s;
        s.flow = flow;
        s.id = id;
        s.mixFormat = format;
        s.minPeriodFrames = minPeriod;
        audio.addEndpoint(s);
    }
};

TEST_F(OpenTest, RawCaptureTakesTheLowLatencyPathOnlyForAQualifyingMixFormat)
{
    add(platform::Flow::Capture, L"float");
    platform::MixFormat pcm;
    pcm.format = platform::SampleFormat::Pcm;
    pcm.bitsPerSample = 16;
    add(platform::Flow::Capture, L"pcm", pcm);
    platform::MixFormat ext;
    ext.extensible = true;
    ext.extraSize = 22;
    add(platform::Flow::Capture, L"ext", ext);
    add(platform::Flow::Capture, L"noperiod", {}, 0);

    uint32_t frames = 0;
    EXPECT_NE(engine::openCaptureClient(audio, L"float", true, *event, frames), nullptr);
    EXPECT_EQ(frames, 960u);
    EXPECT_EQ(audio.stats(L"float").lowLatencyInits, 1);
    EXPECT_TRUE(audio.stats(L"float").lastRaw);

    EXPECT_NE(engine::openCaptureClient(audio, L"ext", true, *event, frames), nullptr);
    EXPECT_EQ(audio.stats(L"ext").lowLatencyInits, 1);

    for (const wchar_t* id : {L"pcm", L"noperiod"}) {
        EXPECT_NE(engine::openCaptureClient(audio, id, true, *event, frames), nullptr);
        EXPECT_EQ(audio.stats(id).lowLatencyInits, 0) << id;
        EXPECT_EQ(frames, 4800u) << "100 ms shared buffer";
    }

    EXPECT_NE(engine::openCaptureClient(audio, L"float", false, *event, frames), nullptr);
    EXPECT_EQ(audio.stats(L"float").lowLatencyInits, 1) << "without raw the normal path";
    EXPECT_FALSE(audio.stats(L"float").lastRaw);

    platform::MixFormat shortExt = ext;
    shortExt.extraSize = 12;
    EXPECT_FALSE(engine::qualifiesForLowLatency(shortExt));
    platform::MixFormat mono;
    mono.channels = 1;
    EXPECT_FALSE(engine::qualifiesForLowLatency(mono));
}

TEST_F(OpenTest, RenderOutputTakesItsConstantsFromTheOptionAndFailsClosed)
{
    add(platform::Flow::Render, L"spk");
    engine::RenderOutput out;
    ASSERT_TRUE(engine::openRenderOutput(out, audio, L"spk", true));
    EXPECT_EQ(out.bufferFrames, 3840u);
    EXPECT_EQ(out.maxTarget, 1920);
    EXPECT_EQ(out.targetFill, 480u);
    EXPECT_EQ(out.tolerance, 192u);

    ASSERT_TRUE(engine::openRenderOutput(out, audio, L"spk", false));
    EXPECT_EQ(out.targetFill, 1200u);
    EXPECT_EQ(out.tolerance, 720u);
    EXPECT_EQ(audio.stats(L"spk").openStreams, 1) << "re-opening released the first stream";

    audio.setRefuseOpen(L"spk", true);
    EXPECT_FALSE(engine::openRenderOutput(out, audio, L"spk", true));
    EXPECT_FALSE(out.isOpen());
    EXPECT_EQ(audio.stats(L"spk").openStreams, 0);
    EXPECT_FALSE(engine::openRenderOutput(out, audio, L"missing", false));
}

} // namespace
