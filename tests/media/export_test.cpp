#include "media/export.h"
#include "media/wav_writer.h"
#include "platform/sim/fixed_known_folders.h"
#include "platform/sim/memory_files.h"
#include "platform/sim/sim_media.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using platform::EncoderFormat;
using platform::EncoderType;
using Bytes = std::vector<uint8_t>;

constexpr int kMp3 = 0;
constexpr int kWav = 1;

EncoderType type(uint32_t rate, uint32_t channels, uint32_t bytesPerSecond, uint32_t bits = 0)
{
    return {rate, channels, bytesPerSecond, bits, nullptr};
}

// frames of a ramp, so that every sample's position shows in the file.
clip::Sound ramp(uint32_t frames)
{
    clip::Sound s;
    for (uint32_t i = 0; i < frames * 2; ++i)
        s.samples.push_back(static_cast<int16_t>(i % 30000));
    return s;
}

struct ExportRig {
    platform::sim::MemoryFiles files;
    platform::sim::SimMedia media{nullptr, &files};
    std::wstring message;

    ExportRig() { media.offerEncoderTypes(EncoderFormat::Mp3, {type(48000, 2, 16000), type(48000, 2, 24000)}); }

    bool encode(const std::wstring& target, const clip::Sound& sound, int format = kMp3)
    {
        message.clear();
        return media::encodeFile(files, &media, target, sound, 48000, media::takeFormat(format), message);
    }
};

TEST(ExportScoring, PicksTheByteRateNearestTheTargetAmongUsableTypes)
{
    // 128, 192 and 320 kbit/s at 48 kHz stereo, around types it cannot use.
    const std::vector<EncoderType> offered{type(44100, 2, 24000), type(48000, 2, 16000), type(48000, 1, 24000),
        type(48000, 2, 24000), type(48000, 2, 40000)};
    EXPECT_EQ(media::chooseEncoderType(offered, 48000, 24000), 3);
    EXPECT_EQ(media::chooseEncoderType(offered, 48000, 0), 1) << "no target: the first usable one";
    EXPECT_EQ(media::chooseEncoderType({type(48000, 2, 24000, 24), type(48000, 2, 40000, 16)}, 48000, 24000), 1)
        << "a 24-bit type loses to any 16-bit one";
    EXPECT_EQ(media::chooseEncoderType({type(48000, 2, 20000), type(48000, 2, 28000)}, 48000, 24000), 0)
        << "equal scores keep the first";
    EXPECT_EQ(media::chooseEncoderType({type(44100, 2, 24000)}, 48000, 24000), -1);
}

TEST(ExportScoring, OnlyFortyFourKilohertzOfferedAsksForWav)
{
    ExportRig rig;
    rig.media.offerEncoderTypes(EncoderFormat::Mp3, {type(44100, 2, 24000)});
    EXPECT_FALSE(rig.encode(L"C:\\r\\a.mp3", ramp(10)));
    EXPECT_EQ(rig.message, L"Windows has no encoder for that format, pick WAV");
    rig.media.setAvailable(false);
    EXPECT_FALSE(rig.encode(L"C:\\r\\a.mp3", ramp(10)));
    EXPECT_EQ(rig.message, L"Windows is missing its Media Feature Pack, install it to play sounds");
    EXPECT_TRUE(rig.files.paths().empty());
}

TEST(Export, EncodesInTenthSecondSamplesUnderTheSavingNameThenMovesIntoPlace)
{
    ExportRig rig;
    const clip::Sound sound = ramp(4800 * 2 + 1000);
    ASSERT_TRUE(rig.encode(L"C:\\r\\take.mp3", sound)) << rig.message;
    const auto times = rig.media.writerTimes();
    const std::vector<std::pair<int64_t, int64_t>> expected{{0, 1000000}, {1000000, 1000000}, {2000000, 208333}};
    EXPECT_EQ(times, expected) << "the last sample is shorter; its end is 10600 frames' time rounded down";
    EXPECT_EQ(rig.files.paths(), std::vector<std::wstring>{L"C:\\r\\take.mp3"});
    const auto bytes = rig.files.readAll(L"C:\\r\\take.mp3");
    ASSERT_TRUE(bytes);
    ASSERT_EQ(bytes->size(), sound.samples.size() * 2);
    EXPECT_EQ((*bytes)[2 * 9601], static_cast<uint8_t>(sound.samples[9601]));

    // With no extension the writer works on the name with ".saving" appended.
    ASSERT_TRUE(rig.encode(L"C:\\r\\plain", ramp(10)));
    EXPECT_TRUE(rig.files.exists(L"C:\\r\\plain"));
    EXPECT_EQ(media::savingName(L"C:\\r\\plain"), L"C:\\r\\plain.saving");
    EXPECT_EQ(media::savingName(L"C:\\r.d\\take.mp3"), L"C:\\r.d\\take.saving.mp3");
    EXPECT_EQ(media::savingName(L"C:\\r.d\\take"), L"C:\\r.d\\take.saving");
}

TEST(Export, AnyWriterFailureLeavesNoSavingFileAndTheOldTargetIntact)
{
    const std::wstring target = L"C:\\r\\take.mp3";
    const Bytes old{9, 8, 7};
    struct Case {
        const char* step;
        std::function<void(ExportRig&)> fault;
        const wchar_t* message;
    };
    const std::vector<Case> cases{
        {"create", [](ExportRig& r) { r.media.failWriterCreate(0xC00D36B4); },
            L"Windows could not write that format (error C00D36B4)"},
        {"second write", [](ExportRig& r) { r.media.failWriteAt(1, 0x80070070); },
            L"Windows could not write that format (error 80070070)"},
        {"finalize", [](ExportRig& r) { r.media.failFinalize(0x8007000E); },
            L"Windows could not write that format (error 8007000E)"},
        {"move", [](ExportRig& r) { r.files.failMoves(true); },
            L"Windows could not write that format (error 80070005)"}, // access denied, as a result code
    };
    for (const Case& c : cases) {
        ExportRig rig;
        rig.files.put(target, old);
        c.fault(rig);
        EXPECT_FALSE(rig.encode(target, ramp(12000))) << c.step;
        EXPECT_EQ(rig.message, c.message) << c.step;
        EXPECT_EQ(rig.files.paths(), std::vector<std::wstring>{target}) << c.step;
        EXPECT_EQ(rig.files.readAll(target), old) << c.step;
    }
}

TEST(Export, WavIsTheOwnWritersFileByteForByte)
{
    ExportRig rig;
    const clip::Sound sound = ramp(777);
    ASSERT_TRUE(rig.encode(L"C:\\r\\a.wav", sound, kWav));
    ASSERT_TRUE(media::writeWav(rig.files, L"C:\\r\\b.wav", sound.samples, 48000));
    EXPECT_EQ(rig.files.readAll(L"C:\\r\\a.wav"), rig.files.readAll(L"C:\\r\\b.wav"));
    EXPECT_EQ(rig.media.writerSamples(), 0) << "the encoder is not involved";

    rig.files.failCreate(true);
    EXPECT_FALSE(rig.encode(L"C:\\r\\c.wav", sound, kWav));
    EXPECT_EQ(rig.message, L"The file could not be written there");
}

TEST(ExportNames, FormatsExtensionsAndNames)
{
    EXPECT_STREQ(media::takeFormat(-3).label, L"MP3 sound (*.mp3)");
    EXPECT_STREQ(media::takeFormat(2).label, L"M4A sound, AAC (*.m4a)");
    EXPECT_STREQ(media::takeFormat(99).extension, L"flac");
    EXPECT_TRUE(media::takeFormat(1).ownWriter);
    EXPECT_EQ(media::takeFormat(3).encoder, EncoderFormat::WmaV8);
    EXPECT_EQ(media::takeFormat(4).targetBytesPerSecond, 0u);

    EXPECT_EQ(media::formatFromPath(L"C:\\a\\b.FLAC"), 4);
    EXPECT_EQ(media::formatFromPath(L"x.Wav"), 1);
    EXPECT_EQ(media::formatFromPath(L"C:\\a.mp3\\noext"), -1);
    EXPECT_EQ(media::formatFromPath(L"take.ogg"), -1);
    EXPECT_EQ(media::formatFromPath(L"take"), -1);
    EXPECT_EQ(media::formatFromPath(L"take."), -1);

    EXPECT_EQ(media::displayName(L"C:\\r.d\\VantorOvix_Clip_20260102_030405.mp3"), L"VantorOvix_Clip_20260102_030405");
    EXPECT_EQ(media::displayName(L"C:\\r.d\\plain"), L"plain");
    EXPECT_EQ(media::displayName(L"a.b.wav"), L"a.b");

    const media::LocalTime t{2026, 1, 2, 3, 4, 5};
    EXPECT_EQ(media::makeFileName(L"C:\\Music\\VantorOvix", L"VantorOvix_Last", t, media::takeFormat(4)),
        L"C:\\Music\\VantorOvix\\VantorOvix_Last_20260102_030405.flac");
    const std::wstring longFolder(300, L'f');
    const std::wstring name = media::makeFileName(longFolder, L"VantorOvix_Clip", t, media::takeFormat(0));
    EXPECT_EQ(name.size(), 300u + 1 + 15 + 17 + 3) << "a long folder is kept whole, not cut";
    EXPECT_EQ(media::displayName(name), L"VantorOvix_Clip_20260102_030405");
}

TEST(ExportNames, RecordingsFolderFallsBackFromTheSettingToMusicToApplicationData)
{
    platform::sim::MemoryFiles files;
    platform::sim::FixedKnownFolders known;
    const std::wstring appData = L"C:\\Users\\u\\AppData\\Roaming";
    const std::wstring program = L"C:\\Program Files\\VantorOvix";

    EXPECT_EQ(media::recordingsFolder(files, L"D:\\mine", &known, &appData, program), L"D:\\mine");
    EXPECT_FALSE(files.isFolder(L"D:\\mine")) << "the user's own folder is taken as it is";

    known.set(platform::KnownFolder::Music, L"C:\\Users\\u\\Music");
    EXPECT_EQ(media::recordingsFolder(files, L"", &known, &appData, program), L"C:\\Users\\u\\Music\\VantorOvix");
    EXPECT_TRUE(files.isFolder(L"C:\\Users\\u\\Music\\VantorOvix"));

    platform::sim::FixedKnownFolders noMusic;
    EXPECT_EQ(media::recordingsFolder(files, L"", &noMusic, &appData, program), appData + L"\\VantorOvix\\VantorOvix");
    EXPECT_TRUE(files.isFolder(appData + L"\\VantorOvix\\VantorOvix"));

    const std::wstring tooLong(260, L'a');
    EXPECT_EQ(media::recordingsFolder(files, L"", nullptr, &tooLong, program), program + L"\\VantorOvix");
    EXPECT_EQ(media::recordingsFolder(files, L"", nullptr, nullptr, program), program + L"\\VantorOvix");
    EXPECT_TRUE(files.isFolder(program + L"\\VantorOvix"));
}

} // namespace
