// The loopback tap keeps one continuous timeline of what the speaker plays,
// stepped one pass at a time on the manual clock, and its thread starts and
// stops as the recorder asks.

#include "engine/output_tap.h"
#include "platform/sim/manual_clock.h"
#include "platform/sim/sim_audio.h"

#include <gtest/gtest.h>

#include <mutex>
#include <random>

namespace {

using engine::TapStream;
using platform::Flow;

constexpr int64_t kMs = 10000;        // 100 ns units per millisecond
constexpr int16_t kMarkLevel = 16383; // 0.5 in the rings

// Frame n of the speaker carries (n mod 1000) / 1000, so a sample tells which frame it was.
void frameIndexSource(uint64_t first, float* out, uint32_t frames)
{
    for (uint32_t i = 0; i < frames; ++i)
        out[2 * i] = out[2 * i + 1] = static_cast<float>((first + i) % 1000) / 1000.0f;
}

int16_t ringValueOfFrame(uint64_t frame)
{
    return static_cast<int16_t>(static_cast<float>(frame % 1000) / 1000.0f * 32767.0f);
}

class OutputTapTest : public ::testing::Test {
protected:
    platform::sim::ManualClock clock{10'000'000};
    platform::sim::SimAudio audio{clock};
    engine::RecorderRings rings;
    std::mutex spkLock;
    std::wstring spk; // guarded by spkLock

    OutputTapTest()
    {
        addSpeaker(L"spk-a", 480);
        addSpeaker(L"spk-b", 480);
        audio.setDefault(Flow::Render, L"spk-a");
        rings.loopTake.armed = 1;
        rings.loopLast.armed = 1;
    }

    void addSpeaker(
        const std::wstring& id, uint32_t packetFrames, bool acceptsFixed = true, platform::MixFormat mix = {})
    {
        platform::sim::SimEndpointSetup s;
        s.flow = Flow::Render;
        s.id = id;
        s.packetFrames = packetFrames;
        s.acceptsFixedFormat = acceptsFixed;
        s.mixFormat = mix;
        audio.addEndpoint(s);
        audio.setCaptureSource(id, platform::sim::sineSource(440.0, 0.5f));
    }

    void chooseSpeaker(const std::wstring& id)
    {
        std::lock_guard lock(spkLock);
        spk = id;
    }

    engine::EndpointSource source()
    {
        return [this] {
            std::lock_guard lock(spkLock);
            return spk;
        };
    }

    std::unique_ptr<TapStream> stream()
    {
        return std::make_unique<TapStream>(clock, audio, 48000, source(), rings.loopTake, rings.loopLast);
    }

    // Passes every stepMs for ms of clock time.
    void run(TapStream& tap, int64_t ms, int64_t stepMs = 10)
    {
        for (int64_t t = 0; t < ms; t += stepMs) {
            clock.advanceMillis(stepMs);
            ASSERT_EQ(tap.pass(), TapStream::Pass::Ok);
        }
    }

    // Everything the take sink holds, as left-channel samples; the Last sink must hold the same.
    std::vector<int16_t> takeLeft()
    {
        std::vector<int16_t> take(engine::RecorderRing::kSize), last(engine::RecorderRing::kSize);
        take.resize(rings.loopTake.read(take.data(), take.size()));
        last.resize(rings.loopLast.read(last.data(), last.size()));
        EXPECT_EQ(take, last);
        std::vector<int16_t> left;
        for (size_t i = 0; i < take.size(); i += 2)
            left.push_back(take[i]);
        return left;
    }
};

TEST_F(OutputTapTest, ThreeQuietSecondsBecomeThreeSecondsOfSilenceOnceATenthHasPassed)
{
    auto tap = stream();
    ASSERT_TRUE(tap->open());
    run(*tap, 200);
    EXPECT_EQ(takeLeft().size(), 9600u);

    audio.setRenderIdle(L"spk-a", true);
    run(*tap, 90);
    EXPECT_TRUE(takeLeft().empty()) << "no fill before 100 ms without packets";
    run(*tap, 2910);
    const std::vector<int16_t> quiet = takeLeft();
    EXPECT_GE(quiet.size(), 48u * (3000 - 110)) << "filled up to 60 ms before now, once 100 ms are missing";
    EXPECT_LE(quiet.size(), 48u * (3000 - 60));
    EXPECT_TRUE(std::all_of(quiet.begin(), quiet.end(), [](int16_t v) { return v == 0; }));

    audio.setRenderIdle(L"spk-a", false);
    run(*tap, 100);
    const std::vector<int16_t> after = takeLeft();
    EXPECT_EQ(quiet.size() + after.size(), 48u * 3100) << "the rest of the quiet, then the sound again";
    EXPECT_GT(*std::max_element(after.end() - 480, after.end()), 10000);
}

TEST_F(OutputTapTest, LateStampsGetSilenceBeforeThemAndEarlyOnesLoseTheirFront)
{
    addSpeaker(L"spk-a", 2400); // 50 ms packets, so that 30 ms can be cut from one
    audio.setCaptureSource(L"spk-a", frameIndexSource);
    auto tap = stream();
    ASSERT_TRUE(tap->open());
    run(*tap, 100, 50);
    ASSERT_EQ(takeLeft().size(), 4800u);

    audio.setStampOffset(L"spk-a", 30 * kMs);
    run(*tap, 50, 50);
    std::vector<int16_t> late = takeLeft();
    ASSERT_EQ(late.size(), 1440u + 2400u);
    EXPECT_TRUE(std::all_of(late.begin(), late.begin() + 1440, [](int16_t v) { return v == 0; }));
    EXPECT_EQ(late[1440], ringValueOfFrame(4800));

    audio.setStampOffset(L"spk-a", 40 * kMs); // 10 ms later again: within the tolerance
    run(*tap, 50, 50);
    std::vector<int16_t> slightlyLate = takeLeft();
    ASSERT_EQ(slightlyLate.size(), 2400u);
    EXPECT_EQ(slightlyLate[0], ringValueOfFrame(7200));

    audio.setStampOffset(L"spk-a", 10 * kMs); // 30 ms early
    run(*tap, 50, 50);
    std::vector<int16_t> early = takeLeft();
    ASSERT_EQ(early.size(), 2400u - 1440u);
    EXPECT_EQ(early[0], ringValueOfFrame(9600 + 1440));

    audio.setStampsMissing(L"spk-a", true); // unstamped packets follow on
    run(*tap, 50, 50);
    EXPECT_EQ(takeLeft().size(), 2400u);
}

TEST_F(OutputTapTest, TapsTheDefaultSpeakerWhenNoneIsChosenAndFollowsAChangeWithinHalfASecond)
{
    auto tap = stream();
    ASSERT_TRUE(tap->open());
    EXPECT_EQ(audio.stats(L"spk-a").starts, 1);

    chooseSpeaker(L"spk-b");
    int passes = 0;
    TapStream::Pass result = TapStream::Pass::Ok;
    while (result == TapStream::Pass::Ok && passes < 100) {
        clock.advanceMillis(10);
        result = tap->pass();
        ++passes;
    }
    EXPECT_EQ(result, TapStream::Pass::EndpointChanged);
    EXPECT_LE(passes, 50);
    ASSERT_TRUE(tap->open());
    EXPECT_EQ(audio.stats(L"spk-b").starts, 1);
    EXPECT_EQ(audio.stats(L"spk-a").openStreams, 0);

    chooseSpeaker(L"spk-gone");
    ASSERT_TRUE(tap->open()) << "an unknown speaker: the default";
    EXPECT_EQ(audio.stats(L"spk-a").starts, 2);

    audio.setCallsFail(L"spk-a", true);
    clock.advanceMillis(10);
    EXPECT_EQ(tap->pass(), TapStream::Pass::Failed);
    EXPECT_FALSE(tap->isOpen());
    EXPECT_FALSE(tap->open());
}

TEST_F(OutputTapTest, AnEndpointThatTakesOnlyItsMixFormatIsConvertedToTheTimeline)
{
    addSpeaker(L"spk-a", 441, false, {6, 44100, 16, platform::SampleFormat::Pcm, true, 22});
    auto tap = stream();
    ASSERT_TRUE(tap->open());
    EXPECT_TRUE(tap->mixFormatFallback());
    run(*tap, 1000);
    std::vector<int16_t> left = takeLeft();
    EXPECT_NEAR(static_cast<double>(left.size()), 48000.0, 48.0);
    EXPECT_NEAR(*std::max_element(left.begin(), left.end()), kMarkLevel, 200);
}

TEST_F(OutputTapTest, TheTimelineKeepsPaceWithTheClockOverThreeMinutesOfRandomGaps)
{
    audio.setCaptureSource(L"spk-a", frameIndexSource); // cheaper than a sine over minutes
    auto tap = stream();
    ASSERT_TRUE(tap->open());
    const int64_t start = clock.nowMicros();
    std::mt19937 random(22);
    uint64_t frames = 0;
    std::vector<int16_t> scratch(engine::RecorderRing::kSize);
    bool idle = false;
    int stretch = 100; // passes until the speaker starts or stops playing
    for (int pass = 0; pass < 18000; ++pass) {
        if (--stretch == 0) {
            // Quiet stretches from 30 ms (shorter ones are within the stamp tolerance) to 3 s.
            idle = !idle;
            audio.setRenderIdle(L"spk-a", idle);
            stretch = idle ? 3 + static_cast<int>(random() % 300) : 1 + static_cast<int>(random() % 500);
        }
        clock.advanceMillis(10);
        ASSERT_EQ(tap->pass(), TapStream::Pass::Ok);
        frames += rings.loopTake.read(scratch.data(), scratch.size()) / 2;
        rings.loopLast.read(scratch.data(), scratch.size());
        const auto elapsed = static_cast<uint64_t>((clock.nowMicros() - start) * 48 / 1000);
        ASSERT_LE(frames, elapsed) << "pass " << pass;
        ASSERT_GE(frames + 48 * 120, elapsed) << "pass " << pass; // quiet is filled once 100 ms are missing
    }
    audio.setRenderIdle(L"spk-a", false);
    run(*tap, 200);
    frames += rings.loopTake.read(scratch.data(), scratch.size()) / 2;
    const auto elapsed = static_cast<uint64_t>((clock.nowMicros() - start) * 48 / 1000);
    EXPECT_NEAR(static_cast<double>(frames), static_cast<double>(elapsed), 480.0);
}

TEST_F(OutputTapTest, TheTapRunsWhileTheRecorderWantsThePlaybackAndStopsWhenItNoLongerDoes)
{
    using engine::TapWish;
    EXPECT_FALSE(engine::tapShouldRun({1, true, false, 30}));
    EXPECT_FALSE(engine::tapShouldRun({2, false, false, 0}));
    EXPECT_TRUE(engine::tapShouldRun({2, false, false, 30}));
    EXPECT_TRUE(engine::tapShouldRun({3, true, false, 0}));
    EXPECT_TRUE(engine::tapShouldRun({1, true, true, 0})) << "a recording started with playback keeps it";
    EXPECT_FALSE(engine::tapShouldRun({1, false, true, 0}));

    engine::OutputTap tap(clock, audio);
    int64_t waits = clock.blockedWaits() + 1;
    engine::hearTapSync(tap, {2, true, true, 0}, source(), rings.loopTake, rings.loopLast);
    ASSERT_TRUE(tap.threadRunning());
    clock.awaitBlockedWaits(waits);
    EXPECT_TRUE(tap.delivering());
    for (int i = 0; i < 50; ++i) {
        clock.advanceMillis(10);
        clock.awaitBlockedWaits(++waits);
    }
    EXPECT_EQ(takeLeft().size(), 48u * 500);

    engine::hearTapSync(tap, {2, true, true, 0}, source(), rings.loopTake, rings.loopLast);
    EXPECT_EQ(audio.stats(L"spk-a").starts, 1) << "already running: left alone";
    engine::hearTapSync(tap, {1, false, false, 30}, source(), rings.loopTake, rings.loopLast);
    EXPECT_FALSE(tap.threadRunning());
    EXPECT_FALSE(tap.delivering());
    EXPECT_EQ(audio.stats(L"spk-a").openStreams, 0);
}

} // namespace
