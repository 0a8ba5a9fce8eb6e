// The streaming clip player against scripted sources: its decode threads run
// for real, and the sources' slow reads and the full ring's waits are stepped
// on the manual clock.

#include "clip/clip_log.h"
#include "clip/messages.h"
#include "clip/player.h"
#include "platform/sim/manual_clock.h"
#include "platform/sim/memory_files.h"
#include "platform/sim/sim_media.h"
#include "support/alloc_counter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

namespace {

using clip::PlayerState;
using platform::sim::SimMediaSource;

constexpr uint32_t kBlock = 480;
constexpr int64_t kReadDelay = 1000;
const std::wstring kTools = L"C:\\ProgramData\\VantorOvix\\tools";

// Polls a condition that another thread makes true, a bounded number of times.
template <class Condition> bool until(Condition condition)
{
    for (int i = 0; i < 20000; ++i) {
        if (condition())
            return true;
        if (i < 1000)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

// 48 kHz stereo float, so frame f of the ring is frame f of the source.
SimMediaSource stereo48(double seconds, platform::sim::MediaSignal signal)
{
    SimMediaSource source;
    source.native = {true, 2, 48000, 32, 0};
    source.frames = static_cast<uint64_t>(std::llround(seconds * 48000));
    source.signal = std::move(signal);
    return source;
}

float ramp(uint64_t frame, uint32_t)
{
    return static_cast<float>(frame) * 1e-6f;
}

class PlayerTest : public ::testing::Test {
protected:
    // One read of n frames; the left side is kept in left_.
    uint32_t pull(uint32_t n = kBlock)
    {
        left_.assign(n, -9.0f);
        right_.assign(n, -9.0f);
        return player.read(left_.data(), right_.data(), n);
    }
    // Bounded, so that a decoder that never gets there fails the test
    // instead of hanging it.
    bool blockedWaits(int64_t count)
    {
        return until([&] { return clock.blockedWaits() >= count; });
    }
    // The source's next read goes ahead; true once the decoder has pushed it
    // and waits in the read after it.
    bool feedOne()
    {
        const int64_t blocked = clock.blockedWaits();
        clock.advance(kReadDelay);
        return blockedWaits(blocked + 1);
    }
    std::string logText()
    {
        const auto bytes = files.readAll(kTools + L"\\clip.log");
        return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
    }
    // The log's line for a failure since offset bytes (the texts are ASCII).
    bool logged(const std::wstring& message, size_t offset)
    {
        const std::string text(message.begin(), message.end());
        return until([&] {
            const std::string written = logText();
            return written.size() > offset && written.find(text, offset) != std::string::npos;
        });
    }
    void TearDown() override
    {
        player.stop();
        // A decoder parked in a slow read only notices the stop after it.
        ASSERT_TRUE(until([&] {
            clock.advance(kReadDelay);
            return player.activeDecodes() == 0;
        }));
    }

    platform::sim::ManualClock clock;
    platform::sim::MemoryFiles files;
    platform::sim::SimMedia media{&clock};
    clip::ClipLog log{&files, kTools};
    clip::Player player{media, clock, &log};
    std::vector<float> left_, right_;
};

TEST_F(PlayerTest, AMonoClipAt44100ReachesBothSidesAtFullGainResampledAndAShortClipStartsWhenItsDecodeEnds)
{
    SimMediaSource source;
    source.native = {false, 1, 44100, 16, 0};
    source.frames = 22050; // 0.5 s, below the 1 s prebuffer
    source.signal = [](uint64_t frame, uint32_t) { return static_cast<float>(frame) * 1e-5f; };
    source.readDelayMicros = kReadDelay;
    media.addSource(L"C:\\clips\\mono.wav", source);
    player.open(L"C:\\clips\\mono.wav", 0.0);

    ASSERT_TRUE(blockedWaits(1));
    ASSERT_TRUE(feedOne());
    EXPECT_EQ(pull(), 0u) << "a part of the clip is below the prebuffer";
    EXPECT_EQ(player.state(), PlayerState::Buffering);
    EXPECT_EQ(left_[0], 0.0f);
    ASSERT_TRUE(until([&] {
        if (clock.waiters() > 0)
            clock.advance(kReadDelay);
        return player.decodeFinished();
    }));

    // Source frame 0.91875 j, linear between frames, so the ramp stays a ramp.
    const uint32_t got = pull(24000);
    EXPECT_GE(got, 23990u);
    for (uint32_t j = 0; j < got; ++j) {
        ASSERT_NEAR(left_[j], j * 0.91875f * 1e-5f, 2e-5f) << j;
        ASSERT_EQ(right_[j], left_[j]) << j;
    }
    EXPECT_EQ(player.state(), PlayerState::Ended);
}

TEST_F(PlayerTest, A51ClipPutsTheCentreOnBothSidesDropsTheLowFrequencyAndSendsTheRearsToTheirSide)
{
    SimMediaSource source;
    source.native = {false, 6, 48000, 16, 0}; // no mask: FL FR FC LFE BL BR
    source.frames = 4800;
    source.acceptsFloat = false; // the 16-bit fallback
    const float levels[6] = {0.1f, 0.2f, 0.3f, 0.4f, 0.05f, 0.06f};
    source.signal = [levels](uint64_t, uint32_t channel) { return levels[channel]; };
    media.addSource(L"C:\\clips\\surround.wav", source);
    player.open(L"C:\\clips\\surround.wav", 0.0);
    ASSERT_TRUE(until([&] { return player.decodeFinished(); }));

    ASSERT_EQ(pull(), kBlock);
    const float side = 0.70710677f;
    EXPECT_NEAR(left_[100], 0.1f + (0.3f + 0.05f) * side, 2e-4f);
    EXPECT_NEAR(right_[100], 0.2f + (0.3f + 0.06f) * side, 2e-4f);
}

TEST_F(PlayerTest, SeeksLandHalfASecondBeforeTheEndAndASeekAfterTheEndReopensKeepingTheDuration)
{
    SimMediaSource source = stereo48(10.3, ramp);
    source.readerConverts = true;
    media.addSource(L"C:\\clips\\long.wav", source);
    player.open(L"C:\\clips\\long.wav", 0.0);
    // The decoder fills the 6 s ring and waits for room.
    ASSERT_TRUE(until([&] { return clock.waiters() == 1; }));
    EXPECT_DOUBLE_EQ(player.duration(), 10.3);
    EXPECT_EQ(pull(), kBlock);

    player.seek(10.0);
    EXPECT_NEAR(player.position(), 9.8, 1e-9);
    pull(); // the ring still holds the old position until the decoder gets to the seek
    EXPECT_NEAR(player.position(), 9.8, 1e-9);
    clock.advance(clip::kFullRingWaitMicros);
    ASSERT_TRUE(until([&] { return player.decodeFinished(); }));
    EXPECT_EQ(media.stats(L"C:\\clips\\long.wav").lastSeek, 98'000'000);
    ASSERT_EQ(pull(), kBlock);
    EXPECT_NEAR(left_[0], 9.8f * 48000 * 1e-6f, 1e-5f);
    EXPECT_NEAR(player.position(), 9.8 + kBlock / 48000.0, 1e-9);

    while (pull() == kBlock) { }
    ASSERT_EQ(player.state(), PlayerState::Ended);
    player.seek(2.0);
    EXPECT_EQ(player.state(), PlayerState::Buffering);
    EXPECT_DOUBLE_EQ(player.duration(), 10.3) << "the page keeps the length while the clip re-opens";
    ASSERT_TRUE(until([&] { return clock.waiters() == 1; }));
    EXPECT_EQ(media.stats(L"C:\\clips\\long.wav").opens, 2);
    EXPECT_EQ(media.stats(L"C:\\clips\\long.wav").lastSeek, 20'000'000);
    ASSERT_EQ(pull(), kBlock);
    EXPECT_NEAR(left_[0], 2.0f * 48000 * 1e-6f, 1e-5f);
}

TEST_F(PlayerTest, EachUnderrunRebuffersForTwiceAsLongUpToTwoSeconds)
{
    SimMediaSource source = stereo48(8.0, ramp);
    source.framesPerSample = 4800; // 0.1 s per read
    source.readDelayMicros = kReadDelay;
    media.addSource(L"C:\\clips\\slow.wav", source);
    player.open(L"C:\\clips\\slow.wav", 0.0);
    ASSERT_TRUE(blockedWaits(1));

    // Reads fed until the engine gets sound: 1 s at open, then 0.5, 1, 2, 2 s.
    std::vector<int> fedUntilPlaying;
    for (int round = 0; round < 5; ++round) {
        int fed = 0;
        while (pull() == 0) {
            ASSERT_EQ(player.state(), PlayerState::Buffering);
            ASSERT_TRUE(feedOne());
            ++fed;
            ASSERT_LT(fed, 40);
        }
        fedUntilPlaying.push_back(fed);
        while (pull() == kBlock) { }
        EXPECT_EQ(player.state(), PlayerState::Buffering) << "an underrun while decoding";
    }
    EXPECT_EQ(fedUntilPlaying, (std::vector<int>{10, 5, 10, 20, 20}));
}

TEST_F(PlayerTest, ASupersededDecodeThreadEndsWithoutTouchingTheRingOrTheStatus)
{
    SimMediaSource slow = stereo48(2.0, [](uint64_t, uint32_t) { return 0.9f; });
    slow.readDelayMicros = kReadDelay;
    SimMediaSource failing = slow;
    failing.failAtFrame = 0;
    media.addSource(L"C:\\clips\\slow.wav", slow);
    media.addSource(L"C:\\clips\\failing.wav", failing);
    media.addSource(L"C:\\clips\\new.wav", stereo48(0.5, [](uint64_t, uint32_t) { return 0.25f; }));

    // Both parked in a slow read when the next open comes.
    player.open(L"C:\\clips\\slow.wav", 0.0);
    ASSERT_TRUE(until([&] { return clock.waiters() == 1; }));
    player.open(L"C:\\clips\\failing.wav", 0.0);
    ASSERT_TRUE(until([&] { return clock.waiters() == 2; }));
    player.open(L"C:\\clips\\new.wav", 0.0);
    ASSERT_TRUE(until([&] { return player.decodeFinished(); }));
    clock.advance(kReadDelay); // the old reads return: one with sound, one with an error
    ASSERT_TRUE(until([&] { return player.activeDecodes() == 0; }));

    EXPECT_EQ(player.statusText(), clip::kPlaying);
    EXPECT_EQ(media.stats(L"C:\\clips\\slow.wav").openReaders, 0);
    EXPECT_EQ(media.stats(L"C:\\clips\\failing.wav").openReaders, 0);
    uint32_t frames = 0;
    for (uint32_t got = pull(); got > 0; got = pull()) {
        for (uint32_t i = 0; i < got; ++i)
            ASSERT_EQ(left_[i], 0.25f);
        frames += got;
    }
    EXPECT_EQ(frames, 24000u);
    EXPECT_EQ(player.state(), PlayerState::Ended);
    EXPECT_EQ(logText().find("FAILED"), std::string::npos);
}

TEST_F(PlayerTest, TheEngineReadAllocatesNothingAndNeverWaitsForADecoderOnAFullRing)
{
    media.addSource(L"C:\\clips\\long.wav", stereo48(30.0, ramp));
    player.open(L"C:\\clips\\long.wav", 0.0);
    ASSERT_TRUE(until([&] { return clock.waiters() == 1; }));
    pull();
    test::AllocationCounter counter;
    for (int block = 0; block < 300; ++block) // 3 s: from a full ring to half full
        ASSERT_EQ(player.read(left_.data(), right_.data(), kBlock), kBlock);
    EXPECT_EQ(counter.count(), 0u);
    EXPECT_EQ(counter.frees(), 0u);
    EXPECT_NEAR(left_[kBlock - 1], 301 * kBlock * 1e-6f - 1e-6f, 1e-5f);
}

TEST_F(PlayerTest, PlayPauseOpensTheFieldThenPausesAndResumesAndStopSilences)
{
    media.addSource(L"C:\\clips\\short.wav", stereo48(0.5, ramp));
    player.playPause(L"  C:\\clips\\short.wav ");
    EXPECT_EQ(player.source(), L"C:\\clips\\short.wav");
    ASSERT_TRUE(until([&] { return player.decodeFinished(); }));
    EXPECT_EQ(pull(), kBlock);

    player.playPause(L"");
    EXPECT_TRUE(player.isPaused());
    EXPECT_EQ(pull(), 0u);
    EXPECT_EQ(left_[0], 0.0f);
    EXPECT_EQ(player.state(), PlayerState::Playing) << "a pause is not an underrun";
    player.playPause(L"");
    EXPECT_EQ(pull(), kBlock);
    EXPECT_NEAR(left_[0], kBlock * 1e-6f, 1e-7f) << "the pause lost nothing";

    player.stop();
    EXPECT_EQ(player.state(), PlayerState::Idle);
    EXPECT_EQ(pull(), 0u);
    EXPECT_EQ(player.position(), 0.0);
}

TEST_F(PlayerTest, EveryFailureShowsItsTextAndGoesToTheLog)
{
    SimMediaSource unplayable = stereo48(1.0, ramp);
    unplayable.acceptsFloat = unplayable.acceptsPcm16 = false;
    SimMediaSource tooSlowRate = stereo48(1.0, ramp);
    tooSlowRate.native.sampleRate = 4000;
    SimMediaSource breaks = stereo48(1.0, ramp);
    breaks.failAtFrame = 4800;
    SimMediaSource empty = stereo48(0.0, ramp);
    empty.noDataSamplesFirst = 2;
    media.addSource(L"C:\\clips\\unplayable.wma", unplayable);
    media.addSource(L"C:\\clips\\rate.wav", tooSlowRate);
    media.addSource(L"C:\\clips\\breaks.mp3", breaks);
    media.addSource(L"C:\\clips\\empty.wav", empty);

    struct Case {
        std::wstring source;
        const wchar_t* message;
    };
    const Case cases[] = {
        {L"  ", clip::kEmptySource}, {L"https://exa mple.com/a.mp3", clip::kBadWebLink},
        {L"clips\\a.wav", clip::kNotLinkOrPath}, {L"C:\\clips\\missing.wav", clip::kCannotOpenLink},
        {L"C:\\clips\\unplayable.wma", clip::kUnplayableFormat}, {L"C:\\clips\\rate.wav", clip::kUnplayableFormat},
        {L"C:\\clips\\breaks.mp3", clip::kStoppedHalfway}, {L"C:\\clips\\empty.wav", clip::kNoSoundFromLink},
        {L"https://example.com/watch?v=1", clip::kNoSoundFromLink}, // a page, with no download helper yet
    };
    for (const Case& c : cases) {
        const size_t logSize = logText().size();
        player.open(c.source, 0.0);
        ASSERT_TRUE(until([&] { return player.state() == PlayerState::Failed; })) << c.message;
        EXPECT_EQ(player.statusText(), c.message);
        EXPECT_TRUE(logged(c.message, logSize)) << c.message;
    }

    media.setAvailable(false);
    media.addSource(L"C:\\clips\\fine.wav", stereo48(1.0, ramp));
    player.open(L"C:\\clips\\fine.wav", 0.0);
    ASSERT_TRUE(until([&] { return player.state() == PlayerState::Failed; }));
    EXPECT_EQ(player.statusText(), clip::kNoMediaFoundation);
}

TEST_F(PlayerTest, APageLinkPlaysTheFileItsFetchSavedOrShowsTheFetchsText)
{
    media.addSource(L"C:\\tmp\\page.m4a", stereo48(0.5, ramp));
    player.setPageFetch([](const std::wstring& link, uint32_t, clip::PageDecode& page, std::wstring& message) {
        if (link.find(L"broken") != std::wstring::npos) {
            message = L"The helper could not fetch that page";
            return false;
        }
        return page.streamFile(L"C:\\tmp\\page.m4a", message);
    });
    player.open(L"https://example.com/watch?v=1", 0.0);
    ASSERT_TRUE(until([&] { return player.decodeFinished(); }));
    EXPECT_EQ(player.source(), L"C:\\tmp\\page.m4a") << "a seek re-opens the saved file";
    EXPECT_EQ(pull(), kBlock);

    player.open(L"https://example.com/broken", 0.0);
    ASSERT_TRUE(until([&] { return player.state() == PlayerState::Failed; }));
    EXPECT_EQ(player.statusText(), L"The helper could not fetch that page");
}

} // namespace
