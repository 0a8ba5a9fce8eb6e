#include "media/wav_reader.h"
#include "media/wav_writer.h"
#include "platform/sim/memory_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, uint16_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void put32(Bytes& b, uint32_t v)
{
    for (int s = 0; s < 32; s += 8)
        b.push_back(uint8_t(v >> s));
}
void tag(Bytes& b, const char* t)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(t[i]));
}

// A RIFF file with a fmt chunk of fmtSize bytes (extensible when >= 40) and the given data.
Bytes wavFile(uint16_t formatTag, uint16_t channels, uint32_t rate, uint16_t bits, const Bytes& data,
              uint32_t fmtSize = 16, uint16_t subTag = 0, bool junkFirst = false)
{
    Bytes b;
    tag(b, "RIFF");
    put32(b, 0); // not checked
    tag(b, "WAVE");
    if (junkFirst) {
        tag(b, "LIST");
        put32(b, 3); // odd: padded to 4
        b.insert(b.end(), {'a', 'b', 'c', 0});
    }
    tag(b, "fmt ");
    put32(b, fmtSize);
    put16(b, formatTag);
    put16(b, channels);
    put32(b, rate);
    put32(b, rate * channels * bits / 8);
    put16(b, uint16_t(channels * bits / 8));
    put16(b, bits);
    for (uint32_t i = 16; i < fmtSize; ++i)
        b.push_back(0);
    if (fmtSize >= 40) {
        const size_t sub = b.size() - fmtSize + 24;
        b[sub] = uint8_t(subTag);
        b[sub + 1] = uint8_t(subTag >> 8);
    }
    tag(b, "data");
    put32(b, uint32_t(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

TEST(WavReader, ConvertsEachSampleWidthAndFillsBothSidesFromMono)
{
    media::WavAudio a;
    // 24-bit mono 0x800000 is full-scale negative on both sides.
    ASSERT_TRUE(media::parseWav(wavFile(1, 1, 48000, 24, {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F}), a));
    ASSERT_EQ(a.left.size(), 2u);
    EXPECT_EQ(a.left[0], -1.0f);
    EXPECT_EQ(a.right[0], -1.0f);
    EXPECT_NEAR(a.left[1], 1.0f, 1e-6f);

    ASSERT_TRUE(media::parseWav(wavFile(1, 2, 44100, 16, {0x00, 0x80, 0x00, 0x40}), a));
    EXPECT_EQ(a.sampleRate, 44100u);
    EXPECT_EQ(a.left[0], -1.0f);
    EXPECT_EQ(a.right[0], 0.5f);

    ASSERT_TRUE(media::parseWav(wavFile(1, 1, 8000, 32, {0x00, 0x00, 0x00, 0x40}), a));
    EXPECT_EQ(a.left[0], 0.5f);

    Bytes f64(8);
    const double d = -0.25;
    std::memcpy(f64.data(), &d, 8);
    ASSERT_TRUE(media::parseWav(wavFile(3, 1, 96000, 64, f64), a));
    EXPECT_EQ(a.left[0], -0.25f);
    EXPECT_TRUE(a.isFloat);

    // Extensible format: the real tag is the sub-format's first two bytes;
    // chunks before the format are skipped with their padding.
    Bytes f32(4);
    const float f = 0.75f;
    std::memcpy(f32.data(), &f, 4);
    ASSERT_TRUE(media::parseWav(wavFile(0xFFFE, 1, 48000, 32, f32, 40, 3, true), a));
    EXPECT_EQ(a.left[0], 0.75f);
}

TEST(WavReader, RejectsLayoutsItCannotRead)
{
    media::WavAudio a;
    EXPECT_FALSE(media::parseWav(wavFile(1, 3, 48000, 16, Bytes(12)), a)) << "three channels";
    EXPECT_FALSE(media::parseWav(wavFile(1, 1, 48000, 8, Bytes(4)), a)) << "8-bit";
    EXPECT_FALSE(media::parseWav(wavFile(2, 1, 48000, 16, Bytes(4)), a)) << "ADPCM";
    EXPECT_FALSE(media::parseWav(wavFile(1, 1, 48000, 16, Bytes(4), 14), a)) << "format chunk too short";
    Bytes notRiff = wavFile(1, 1, 48000, 16, Bytes(4));
    notRiff[0] = 'X';
    EXPECT_FALSE(media::parseWav(notRiff, a));
    EXPECT_FALSE(media::parseWav(Bytes{'R', 'I', 'F', 'F'}, a));
    EXPECT_TRUE(a.left.empty());
}

TEST(WavReader, ReadsWhatATruncatedDataChunkHolds)
{
    Bytes file = wavFile(1, 2, 48000, 16, Bytes(4 * 10, 0));
    file.resize(file.size() - 6); // 8.5 frames left
    media::WavAudio a;
    ASSERT_TRUE(media::parseWav(file, a));
    EXPECT_EQ(a.left.size(), 8u);
    // A negative size means "the rest of the file".
    Bytes open = wavFile(1, 1, 48000, 16, Bytes(6, 0));
    std::memset(open.data() + open.size() - 10, 0xFF, 4);
    ASSERT_TRUE(media::parseWav(open, a));
    EXPECT_EQ(a.left.size(), 3u);
}

TEST(WavWriter, WritesTheHeaderAndDataThenReadsBack)
{
    platform::sim::MemoryFiles files;
    const std::vector<int16_t> pcm{0, -32768, 32767, 1234, -1, 7};
    ASSERT_TRUE(media::writeWav(files, L"C:\\takes\\a.wav", pcm, 48000));
    const auto bytes = files.readAll(L"C:\\takes\\a.wav");
    ASSERT_TRUE(bytes);
    ASSERT_EQ(bytes->size(), 44u + 12u);
    EXPECT_EQ(std::memcmp(bytes->data(), "RIFF", 4), 0);
    EXPECT_EQ((*bytes)[4], 12 + 36);
    EXPECT_EQ((*bytes)[22], 2);                                     // channels
    EXPECT_EQ((*bytes)[28] | ((*bytes)[29] << 8) | ((*bytes)[30] << 16), 192000); // byte rate
    EXPECT_EQ((*bytes)[34], 16);
    EXPECT_FALSE(files.exists(L"C:\\takes\\a.wav.part"));

    media::WavAudio a;
    ASSERT_TRUE(media::parseWav(*bytes, a));
    ASSERT_EQ(a.left.size(), 3u);
    EXPECT_EQ(a.right[0], -1.0f);
    EXPECT_EQ(a.left[1], 32767.0f / 32768.0f);

    const std::vector<float> fl{0.5f, -0.25f, 1.5f, -2.0f};
    ASSERT_TRUE(media::writeWavFloat(files, L"C:\\f.wav", fl, 44100));
    const auto floatBytes = files.readAll(L"C:\\f.wav");
    ASSERT_EQ(floatBytes->size(), 58u + 16u) << "18-byte format chunk and a fact chunk";
    EXPECT_EQ(std::memcmp(floatBytes->data() + 38, "fact", 4), 0);
    EXPECT_EQ((*floatBytes)[46], 2) << "frames in the fact chunk";
    ASSERT_TRUE(media::readWav(files, L"C:\\f.wav", a));
    EXPECT_TRUE(a.isFloat);
    EXPECT_EQ(a.sampleRate, 44100u);
    EXPECT_EQ(a.left[1], 1.5f) << "float output is not clipped";
    EXPECT_EQ(a.right[1], -2.0f);
}

TEST(WavWriter, AFailedWriteLeavesTheOldFileAndNoTemporary)
{
    platform::sim::MemoryFiles files;
    files.put(L"C:\\a.wav", {1, 2, 3});
    const std::vector<int16_t> pcm(1000, 5);
    files.failWritesBeyond(100);
    EXPECT_FALSE(media::writeWav(files, L"C:\\a.wav", pcm, 48000));
    files.failWritesBeyond(-1);
    files.failMoves(true);
    EXPECT_FALSE(media::writeWav(files, L"C:\\a.wav", pcm, 48000));
    files.failMoves(false);
    EXPECT_EQ(files.readAll(L"C:\\a.wav"), (Bytes{1, 2, 3}));
    EXPECT_EQ(files.paths(), std::vector<std::wstring>{L"C:\\a.wav"});

    // Thirteen hours of stereo is refused before anything is created (the
    // samples are never touched).
    const int16_t one = 0;
    const size_t samples = size_t{13} * 3600 * 48000 * 2;
    files.failCreate(true); // would fail loudly if it got that far
    EXPECT_FALSE(media::writeWav(files, L"C:\\long.wav", std::span<const int16_t>(&one, samples), 48000));
    EXPECT_FALSE(files.exists(L"C:\\long.wav.part"));
}

TEST(WavWriter, SixteenBitConversionRoundsAndSaturates)
{
    EXPECT_EQ(media::toPcm16(0.0f), 0);
    EXPECT_EQ(media::toPcm16(1.0f), 32767);
    EXPECT_EQ(media::toPcm16(-1.0f), -32768);
    EXPECT_EQ(media::toPcm16(-3.0f), -32768);
    EXPECT_EQ(media::toPcm16(0.5f / 32768.0f), 1); // half a step rounds away from zero
    EXPECT_EQ(media::toPcm16(std::numeric_limits<float>::quiet_NaN()), 0);
}

} // namespace
