#include "clip/loaders.h"
#include "clip/messages.h"
#include "platform/sim/sim_media.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace {

using platform::sim::SimMedia;
using platform::sim::SimMediaSource;

constexpr uint32_t kRate = 48000;

// A signal that differs from frame to frame, so that a sound shifted by even
// one frame does not match.
float signalAt(uint64_t frame, uint32_t channel)
{
    const float v = static_cast<float>(static_cast<double>(frame * 37 % 2000) / 2000.0 - 0.5);
    return channel == 0 ? v : -0.5f * v;
}

int16_t stored(uint64_t frame, uint32_t channel)
{
    return static_cast<int16_t>(signalAt(frame, channel) * 32767.0f);
}

// A source the reader delivers at 48 kHz stereo float, so that its frames
// reach the loaders unchanged.
SimMediaSource source48k(double seconds)
{
    SimMediaSource source;
    source.native = {true, 2, kRate, 32, 0};
    source.frames = static_cast<uint64_t>(seconds * kRate);
    source.signal = signalAt;
    source.framesPerSample = 1000;
    return source;
}

clip::SoundRef load(SimMedia& media, const std::wstring& path, double from, double to, bool exactSeek,
    std::wstring* message = nullptr, const std::atomic<uint8_t>* cancel = nullptr)
{
    std::wstring text;
    clip::SoundRef sound
        = clip::loadSound(media, path, kRate, clip::kMaxSoundSeconds, from, to, exactSeek, cancel, text);
    if (message)
        *message = text;
    return sound;
}

// The frame as stored, with the 240-frame fades of a cut at either end.
int16_t faded(const clip::Sound& sound, uint64_t firstSourceFrame, uint32_t i, uint32_t channel, bool in, bool out)
{
    const int32_t base = stored(firstSourceFrame + i, channel);
    const uint32_t last = sound.frames() - 1;
    if (in && i < 240)
        return static_cast<int16_t>(base * static_cast<int32_t>(i) / 240);
    if (out && last - i < 240)
        return static_cast<int16_t>(base * static_cast<int32_t>(last - i) / 240);
    return static_cast<int16_t>(base);
}

testing::AssertionResult holds(const clip::Sound& sound, uint64_t firstSourceFrame, bool in, bool out)
{
    for (uint32_t i = 0; i < sound.frames(); ++i)
        for (uint32_t c = 0; c < 2; ++c)
            if (sound.samples[2 * i + c] != faded(sound, firstSourceFrame, i, c, in, out))
                return testing::AssertionFailure()
                    << "frame " << i << " channel " << c << ": " << sound.samples[2 * i + c] << " instead of "
                    << faded(sound, firstSourceFrame, i, c, in, out);
    return testing::AssertionSuccess();
}

TEST(ClipLoader, APadFrom2To30SecondsOfAMinuteHolds20SecondsWithFadesAndTheTruncatedMark)
{
    SimMedia media;
    SimMediaSource source = source48k(60.0);
    source.firstTimestamp = 5'000'000; // the stream starts at 0.5 s, as some encoders' do
    media.addSource(L"C:\\long.wav", source);

    const clip::SoundRef seeked = load(media, L"C:\\long.wav", 2.0, 30.0, true);
    ASSERT_TRUE(seeked);
    EXPECT_EQ(seeked->frames(), 960000u);
    EXPECT_TRUE(seeked->truncated);
    // A quarter second of pre-roll before 2.0 s, counted from the stream's first timestamp.
    EXPECT_EQ(media.stats(L"C:\\long.wav").lastSeek, 5'000'000 + 17'500'000);
    EXPECT_EQ(media.stats(L"C:\\long.wav").opens, 1); // the seek was used, not given up for a reload
    EXPECT_TRUE(holds(*seeked, 96000, true, true));

    // Decoding from the start, or from a fresh reader when the seek is refused, gives the same sound.
    EXPECT_EQ(load(media, L"C:\\long.wav", 2.0, 30.0, false)->samples, seeked->samples);
    source.seekable = false;
    media.addSource(L"C:\\fixed.wav", source);
    EXPECT_EQ(load(media, L"C:\\fixed.wav", 2.0, 30.0, true)->samples, seeked->samples);
    EXPECT_EQ(media.stats(L"C:\\fixed.wav").opens, 2);
}

TEST(ClipLoader, OnlyCutEdgesAreFadedAndOnlyTheCapMarksASoundTruncated)
{
    SimMedia media;
    media.addSource(L"C:\\short.wav", source48k(3.0));
    media.addSource(L"C:\\long.wav", source48k(60.0));

    const clip::SoundRef whole = load(media, L"C:\\short.wav", 0.0, 0.0, true);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->frames(), 144000u);
    EXPECT_FALSE(whole->truncated);
    EXPECT_TRUE(holds(*whole, 0, false, false));

    // A range inside the cap ends where it was asked to: faded there, but nothing was cut short.
    const clip::SoundRef range = load(media, L"C:\\long.wav", 1.0, 3.0, true);
    ASSERT_TRUE(range);
    EXPECT_EQ(range->frames(), 96000u);
    EXPECT_FALSE(range->truncated);
    EXPECT_TRUE(holds(*range, 48000, true, true));

    // No range on a long file: the first 20 s, cut (and faded) only at the end.
    const clip::SoundRef capped = load(media, L"C:\\long.wav", 0.0, 0.0, false);
    ASSERT_TRUE(capped);
    EXPECT_EQ(capped->frames(), 960000u);
    EXPECT_TRUE(capped->truncated);
    EXPECT_TRUE(holds(*capped, 0, false, true));
}

TEST(ClipLoader, ACancelledLoadOrOutlineGivesNothingAndSaysNothing)
{
    SimMedia media;
    std::atomic<uint8_t> cancel{0};
    SimMediaSource source = source48k(10.0);
    source.signal = [&cancel](uint64_t frame, uint32_t channel) {
        if (frame >= 48000)
            cancel = 1; // the user gave up one second in
        return signalAt(frame, channel);
    };
    media.addSource(L"C:\\a.wav", source);

    std::wstring message = L"stale";
    EXPECT_FALSE(load(media, L"C:\\a.wav", 0.0, 0.0, false, &message, &cancel));
    EXPECT_EQ(message, L"");
    EXPECT_LT(media.stats(L"C:\\a.wav").reads, 100);

    cancel = 0;
    message = L"stale";
    EXPECT_FALSE(clip::buildOutline(media, L"C:\\a.wav", kRate, 200, nullptr, &cancel, message));
    EXPECT_EQ(message, L"");
}

TEST(ClipLoader, EachFailureHasItsText)
{
    SimMedia media;
    SimMediaSource unplayable = source48k(1.0);
    unplayable.acceptsFloat = unplayable.acceptsPcm16 = false;
    media.addSource(L"C:\\odd.xyz", unplayable);
    media.addSource(L"C:\\empty.wav", source48k(0.0));
    media.addSource(L"C:\\short.wav", source48k(3.0));
    SimMediaSource broken = source48k(3.0);
    broken.failAtFrame = 48000;
    media.addSource(L"C:\\broken.wav", broken);

    struct Case {
        const wchar_t* path;
        double from;
        const wchar_t* message;
    };
    const Case cases[] = {
        {L"C:\\missing.wav", 0.0, clip::kCannotOpenFile},
        {L"C:\\odd.xyz", 0.0, clip::kUnplayableFormat},
        {L"C:\\empty.wav", 0.0, clip::kFileHasNoSound},
        {L"C:\\short.wav", 5.0, clip::kFileHasNoSound}, // a start past the end
        // A sound cut off by a read error is not passed off as the whole file.
        {L"C:\\broken.wav", 0.0, clip::kStoppedHalfway},
    };
    for (const Case& c : cases) {
        std::wstring message;
        EXPECT_FALSE(load(media, c.path, c.from, 0.0, true, &message)) << c.path;
        EXPECT_EQ(message, c.message) << c.path;
        if (c.from == 0.0) {
            EXPECT_FALSE(clip::buildOutline(media, c.path, kRate, 200, nullptr, nullptr, message)) << c.path;
            EXPECT_EQ(message, c.message) << c.path;
        }
    }
    media.setAvailable(false);
    std::wstring message;
    EXPECT_FALSE(load(media, L"C:\\short.wav", 0.0, 0.0, false, &message));
    EXPECT_EQ(message, clip::kNoMediaFoundation);
    EXPECT_FALSE(clip::buildOutline(media, L"C:\\short.wav", kRate, 200, nullptr, nullptr, message));
    EXPECT_EQ(message, clip::kNoMediaFoundation);
}

TEST(ClipLoader, AnOutlineHasOnePeakPer240FramesWithTheRestInALastBucketAndReportsProgress)
{
    SimMedia media;
    std::atomic<int32_t> progress{0};
    int32_t progressHalfway = -1;
    SimMediaSource source = source48k(0.0);
    source.frames = 48100;
    source.signal = [&](uint64_t frame, uint32_t channel) {
        if (frame == 24000)
            progressHalfway = progress.load(); // as the 25th sample is read: 24 samples done
        if (channel == 1)
            return frame == 1000 ? -1.5f : 0.0f; // beyond full scale, in bucket 4
        return frame == 48050 ? 0.7f : 0.001f * static_cast<float>(frame / 240);
    };
    media.addSource(L"C:\\a.wav", source);

    std::wstring message;
    const clip::OutlineRef outline = clip::buildOutline(media, L"C:\\a.wav", kRate, 200, &progress, nullptr, message);
    ASSERT_TRUE(outline);
    ASSERT_EQ(outline->peaks.size(), 201u);
    EXPECT_FLOAT_EQ(outline->peaks[3], 0.003f);
    EXPECT_EQ(outline->peaks[4], 1.0f);
    EXPECT_FLOAT_EQ(outline->peaks[199], 0.199f);
    EXPECT_EQ(outline->peaks[200], 0.7f);
    EXPECT_EQ(outline->maxPeak, 1.0f);
    EXPECT_DOUBLE_EQ(outline->seconds, 48100.0 / kRate);
    EXPECT_EQ(outline->pointsPerSecond, 200);
    EXPECT_EQ(progressHalfway, 498); // 24000 of 48100 frames
    EXPECT_EQ(progress.load(), 999);

    // Without a duration there is nothing to measure progress against.
    source.hasDuration = false;
    media.addSource(L"C:\\b.wav", source);
    progress = 0;
    EXPECT_TRUE(clip::buildOutline(media, L"C:\\b.wav", kRate, 200, &progress, nullptr, message));
    EXPECT_EQ(progress.load(), 0);
}

TEST(ClipLoader, OnlyFormatsThatSeekExactlyAreLoadedWithASeek)
{
    for (const wchar_t* exact : {L"C:\\a.wav", L"C:\\a.WAVE", L"C:\\a.Flac", L"C:\\b.c\\a.m4a", L"C:\\a.mp4"})
        EXPECT_TRUE(clip::isExactSeekFormat(exact)) << exact;
    for (const wchar_t* inexact : {L"C:\\a.mp3", L"C:\\a.wav.ogg", L"C:\\wav", L"C:\\a.wav\\b", L"C:\\a.wavx"})
        EXPECT_FALSE(clip::isExactSeekFormat(inexact)) << inexact;
}

} // namespace
