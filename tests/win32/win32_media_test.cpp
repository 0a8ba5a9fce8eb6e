// Media Foundation behind the media seam, on files that media_audio.sh makes
// (OVIX_MEDIA_AUDIO names their folder): a 1 kHz sine rising linearly from
// silence to 0.9 over 3 s (so its level tells where a stretch of it
// comes from), as WAV 44.1 kHz mono, FLAC 48 kHz stereo and MP3
// 44.1 kHz stereo. Decoding goes the program's way: clip::openReader's
// negotiation, then media::FormatConverter to 48 kHz stereo float.

#include "win32/media_test_support.h"

#include "clip/loaders.h"
#include "clip/reader.h"
#include "media/export.h"
#include "media/wav_writer.h"
#include "platform/win32/win32_platform.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <mfapi.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

using namespace ovix_media_test;

constexpr double kRampSeconds = 3.0;
constexpr double kToneHz = 1000.0;

// The tone's frequency from its rising zero crossings between from and to
// seconds, interpolated between samples.
double frequency(const std::vector<float>& stereo, double from, double to)
{
    const size_t first = static_cast<size_t>(from * kRate), last = static_cast<size_t>(to * kRate);
    double firstCrossing = -1, lastCrossing = -1;
    int crossings = 0;
    for (size_t i = first; i + 1 < last && 2 * (i + 1) < stereo.size(); ++i) {
        const float a = stereo[2 * i], b = stereo[2 * (i + 1)];
        if (a < 0.0f && b >= 0.0f) {
            const double at = static_cast<double>(i) + a / (a - b);
            if (firstCrossing < 0)
                firstCrossing = at;
            lastCrossing = at;
            ++crossings;
        }
    }
    return crossings < 2 ? 0.0 : (crossings - 1) * kRate / (lastCrossing - firstCrossing);
}

// The level of 10 ms (ten periods) from frame on, as sqrt(2) times their RMS.
double levelAt(const std::vector<float>& stereo, size_t frame)
{
    constexpr size_t kWindow = 480;
    double sum = 0;
    for (size_t i = frame; i < frame + kWindow && 2 * i < stereo.size(); ++i)
        sum += static_cast<double>(stereo[2 * i]) * stereo[2 * i];
    return std::sqrt(2.0 * sum / kWindow);
}

// Where in the whole file the sound decoded after a seek begins: the ramp's
// level rises steadily, so the time at which the whole file's decode has the
// part's level 20 ms in (leaving the decoder its settling) tells it, whatever
// level the encoder kept and whatever delay the decoder adds.
double sourceSecondsOf(const std::vector<float>& part, const std::vector<float>& whole)
{
    constexpr size_t kSettle = 960, kStep = 48;
    const double level = levelAt(part, kSettle);
    size_t frame = kSettle;
    while (2 * frame < whole.size() && levelAt(whole, frame) < level)
        frame += kStep;
    return static_cast<double>(frame - kSettle) / kRate;
}

struct RampFile {
    const wchar_t* name;
    double maxExtraSeconds; // what the encoder and decoder may add to the length
};

// WAV and FLAC come back sample-exact but for the resampler's last frame;
// an MP3 carries the encoder's delay and its last frame's padding (1105 +
// up to 1152 samples at 44.1 kHz), which a decoder may or may not trim.
const RampFile kRamps[] = {{L"ramp.wav", 0.001}, {L"ramp.flac", 0.001}, {L"ramp.mp3", 0.052}};

class Win32Media : public ::testing::Test {
protected:
    static void SetUpTestSuite() { session = new MediaSession; }
    static void TearDownTestSuite()
    {
        delete session;
        session = nullptr;
    }
    void SetUp() override
    {
        if (!session->media->available())
            GTEST_SKIP() << "Media Foundation is missing";
        media = session->media.get();
    }
    static MediaSession* session;
    platform::Media* media = nullptr;
};
MediaSession* Win32Media::session = nullptr;

TEST_F(Win32Media, EachFormatDecodesToItsLengthAndPitch)
{
    for (const RampFile& ramp : kRamps) {
        SCOPED_TRACE(narrow(ramp.name));
        const Decoded decoded = decode(*media, audioPath(ramp.name), platform::ReaderUse::Loading);
        ASSERT_TRUE(decoded.ok) << decoded.failure;
        const double seconds = decoded.frames() / kRate;
        std::printf("%s: %.4f s decoded, reader converts: %d, first timestamp %lld\n", narrow(ramp.name).c_str(),
            seconds, decoded.readerConverts ? 1 : 0, static_cast<long long>(decoded.firstTimestamp));
        EXPECT_GE(seconds, kRampSeconds - 0.001);
        EXPECT_LE(seconds, kRampSeconds + ramp.maxExtraSeconds);
        ASSERT_TRUE(decoded.duration.has_value());
        EXPECT_NEAR(static_cast<double>(*decoded.duration) / 1e7, kRampSeconds, 0.06);
        EXPECT_NEAR(frequency(decoded.stereo, 0.5, 2.5), kToneHz, kToneHz * 0.005);
        // Both sides carry the tone (a mono file at full level on each).
        EXPECT_NEAR(decoded.stereo[2 * 96000 + 1], decoded.stereo[2 * 96000], 0.01);
    }
}

TEST_F(Win32Media, ASeekLandsWithin50MsOfItsTargetByTimestampAndByContent)
{
    constexpr double kTarget = 2.0;
    for (const RampFile& ramp : kRamps) {
        SCOPED_TRACE(narrow(ramp.name));
        const Decoded whole = decode(*media, audioPath(ramp.name), platform::ReaderUse::Loading);
        const Decoded decoded
            = decode(*media, audioPath(ramp.name), platform::ReaderUse::Streaming, static_cast<int64_t>(kTarget * 1e7));
        ASSERT_TRUE(whole.ok) << whole.failure;
        ASSERT_TRUE(decoded.ok) << decoded.failure;
        const double stamp = static_cast<double>(decoded.firstTimestamp) / 1e7;
        ASSERT_GT(decoded.frames(), kRate / 10);
        const double heard = sourceSecondsOf(decoded.stereo, whole.stereo);
        std::printf("%s: seek to %.3f s: first timestamp %.4f s, its sound from %.4f s, %.3f s decoded after\n",
            narrow(ramp.name).c_str(), kTarget, stamp, heard, decoded.frames() / kRate);
        EXPECT_NEAR(stamp, kTarget, 0.05);
        EXPECT_NEAR(heard, kTarget, 0.05);
        EXPECT_NEAR(
            decoded.frames() / kRate, kRampSeconds + ramp.maxExtraSeconds / 2 - stamp, 0.01 + ramp.maxExtraSeconds / 2);
    }
}

// The loaders decode the same way the stream does: a whole sound is the
// stream in 16 bits, a range holds what the stream holds at that time, and
// the outline's peaks are the stream's.
TEST_F(Win32Media, TheLoadersAgreeWithTheDecodedStream)
{
    for (const RampFile& ramp : kRamps) {
        SCOPED_TRACE(narrow(ramp.name));
        const std::wstring path = audioPath(ramp.name);
        const Decoded whole = decode(*media, path, platform::ReaderUse::Loading);
        ASSERT_TRUE(whole.ok) << whole.failure;
        const size_t frames = whole.stereo.size() / 2;

        std::wstring message;
        const clip::SoundRef sound = clip::loadSound(*media, path, 48000, clip::kMaxSoundSeconds, 0, 0,
            clip::isExactSeekFormat(path), nullptr, message);
        ASSERT_TRUE(sound) << narrow(message);
        EXPECT_FALSE(sound->truncated);
        ASSERT_EQ(sound->frames(), frames);
        int worst = 0;
        for (size_t i = 0; i < whole.stereo.size(); ++i) {
            const auto expected = static_cast<int>(std::clamp(whole.stereo[i], -1.0f, 1.0f) * 32767.0f);
            worst = std::max(worst, std::abs(expected - sound->samples[i]));
        }
        EXPECT_LE(worst, 1);

        // One second from 1.0 s: its level is the stream's at that time.
        const clip::SoundRef range = clip::loadSound(*media, path, 48000, clip::kMaxSoundSeconds, 1.0, 2.0,
            clip::isExactSeekFormat(path), nullptr, message);
        ASSERT_TRUE(range) << narrow(message);
        EXPECT_EQ(range->frames(), 48000u);
        std::vector<float> rangeFloats(range->samples.size());
        for (size_t i = 0; i < rangeFloats.size(); ++i)
            rangeFloats[i] = range->samples[i] / 32767.0f;
        EXPECT_NEAR(sourceSecondsOf(rangeFloats, whole.stereo), 1.0, 0.05);

        std::atomic<int32_t> progress{0};
        const clip::OutlineRef outline = clip::buildOutline(*media, path, 48000, 200, &progress, nullptr, message);
        ASSERT_TRUE(outline) << narrow(message);
        ASSERT_EQ(outline->peaks.size(), (frames + 239) / 240);
        EXPECT_DOUBLE_EQ(outline->seconds, static_cast<double>(frames) / kRate);
        for (size_t b = 0; b < outline->peaks.size(); ++b) {
            float peak = 0.0f;
            for (size_t i = b * 240; i < std::min(frames, (b + 1) * 240); ++i)
                peak = std::max({peak, std::abs(whole.stereo[2 * i]), std::abs(whole.stereo[2 * i + 1])});
            ASSERT_FLOAT_EQ(outline->peaks[b], std::min(peak, 1.0f)) << "bucket " << b;
        }
        EXPECT_GT(progress.load(), 900);
    }
}

// A take exported as WAV is the program's own WAV writer's file, byte for byte.
TEST_F(Win32Media, ATakeExportedAsWavIsTheOwnWritersFile)
{
    auto files = platform::win32::makeFiles();
    clip::Sound take;
    for (int i = 0; i < 48000; ++i) {
        const auto v = static_cast<int16_t>(20000 * std::sin(2 * 3.14159265358979 * kToneHz * i / kRate));
        take.samples.push_back(v);
        take.samples.push_back(static_cast<int16_t>(-v));
    }
    const std::wstring exported = audioPath(L"export.wav"), own = audioPath(L"own.wav");
    std::wstring message;
    ASSERT_TRUE(media::encodeFile(*files, media, exported, take, 48000, media::takeFormat(1), message))
        << narrow(message);
    ASSERT_TRUE(media::writeWav(*files, own, take.samples, 48000));
    const auto a = files->readAll(exported), b = files->readAll(own);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->size(), 44u + take.samples.size() * 2);
    EXPECT_TRUE(*a == *b);
    EXPECT_FALSE(files->exists(exported + L".part"));
    files->removeFile(exported);
    files->removeFile(own);
}

TEST_F(Win32Media, AMissingFileFailsWithItsCode)
{
    platform::MediaCode code = platform::kMediaOk;
    EXPECT_EQ(media->openReader(audioPath(L"no such file.wav"), platform::ReaderUse::Loading, code), nullptr);
    EXPECT_TRUE(FAILED(static_cast<HRESULT>(code))) << std::hex << code;
    const clip::OpenedReader opened
        = clip::openReader(*media, audioPath(L"no such file.wav"), platform::ReaderUse::Streaming);
    EXPECT_EQ(opened.failure, clip::OpenFailure::CannotOpen);
    EXPECT_EQ(opened.code, code);
}

TEST_F(Win32Media, TheEncodersOfferNothingUnderWineAndTheProcessGoesOn)
{
    for (const auto format : {platform::EncoderFormat::Mp3, platform::EncoderFormat::Aac,
             platform::EncoderFormat::WmaV8, platform::EncoderFormat::Flac}) {
        const auto types = media->encoderTypes(format);
        if (underWine()) {
            EXPECT_TRUE(types.empty());
        } else if (format == platform::EncoderFormat::Mp3) {
            EXPECT_FALSE(types.empty());
        }
    }
}

// An MP3 stream of 192 kbit/s at 48 kHz stereo, as the encoder would offer it.
std::shared_ptr<void> mp3Type()
{
    IMFMediaType* type = nullptr;
    if (FAILED(MFCreateMediaType(&type)))
        return nullptr;
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    type->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_MP3);
    type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, 48000);
    type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, 2);
    type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, 24000);
    type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, 1);
    return std::shared_ptr<void>(static_cast<IUnknown*>(type), [](void* p) { static_cast<IUnknown*>(p)->Release(); });
}

// Under wine 8 the sink writer refuses every file; a writer that cannot
// begin must fail with a code and leave no file behind. Where it writes, the
// file decodes.
TEST_F(Win32Media, AWriterEitherEncodesADecodableFileOrFailsLeavingNoFile)
{
    const std::wstring path = audioPath(L"written.mp3");
    DeleteFileW(path.c_str());
    platform::MediaCode code = platform::kMediaOk;
    EXPECT_EQ(media->createWriter(path, platform::EncoderType{48000, 2, 24000, 0, nullptr}, 48000, code), nullptr);
    EXPECT_EQ(code, static_cast<platform::MediaCode>(E_INVALIDARG));
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);

    platform::EncoderType output{48000, 2, 24000, 0, mp3Type()};
    ASSERT_TRUE(output.native);
    auto writer = media->createWriter(path, output, 48000, code);
    if (!writer) {
        std::printf("createWriter of an MP3 file failed with 0x%08lx\n", static_cast<unsigned long>(code));
        EXPECT_TRUE(FAILED(static_cast<HRESULT>(code)));
        EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
        return;
    }
    std::vector<int16_t> block(2 * 4800);
    for (int n = 0; n < 10; ++n) {
        for (size_t i = 0; i < 4800; ++i) {
            const auto v = static_cast<int16_t>(
                16000 * std::sin(2 * 3.14159265358979 * kToneHz * static_cast<double>(n * 4800 + i) / kRate));
            block[2 * i] = block[2 * i + 1] = v;
        }
        const platform::MediaCode written = writer->write(block.data(), 4800, n * 1000000LL, 1000000);
        ASSERT_EQ(written, platform::kMediaOk) << std::hex << written;
    }
    const platform::MediaCode finalized = writer->finalize();
    std::printf("createWriter of an MP3 file wrote it; finalize gave 0x%08lx\n", static_cast<unsigned long>(finalized));
    ASSERT_EQ(finalized, platform::kMediaOk);
    writer.reset();
    const Decoded decoded = decode(*media, path, platform::ReaderUse::Loading);
    ASSERT_TRUE(decoded.ok) << decoded.failure;
    EXPECT_NEAR(decoded.frames() / kRate, 1.0, 0.1);
    EXPECT_NEAR(frequency(decoded.stereo, 0.2, 0.8), kToneHz, kToneHz * 0.005);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ovix_media_test::endProcess(RUN_ALL_TESTS());
}
