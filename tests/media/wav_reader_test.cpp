// The WAV reader: every sample format it takes, the chunk walk, and the files
// it must refuse or cut short without reading past their end.

#include "media/wav_bytes.h"
#include "media/wav_reader.h"
#include "platform/sim/memory_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace media {
namespace {

using namespace media::testing;

struct Read {
    bool ok = false;
    std::vector<float> left, right;
    uint32_t rate = 0;
};

Read read(const std::vector<uint8_t>& bytes)
{
    Read r;
    r.ok = readWav(std::span<const uint8_t>(bytes), r.left, r.right, r.rate);
    return r;
}

std::vector<uint8_t> bytesOf(std::initializer_list<uint64_t> values, int width)
{
    std::vector<uint8_t> out;
    for (uint64_t v : values)
        putLe(out, v, width);
    return out;
}

TEST(WavReader, ReadsPcmOfEveryWidth)
{
    const Read s16 = read(riff({chunk("fmt ", fmtBody(1, 2, 48000, 16)), chunk("data", bytesOf({0x4000, 0x8000}, 2))}));
    ASSERT_TRUE(s16.ok);
    EXPECT_EQ(s16.rate, 48000u);
    ASSERT_EQ(s16.left.size(), 1u);
    EXPECT_EQ(s16.left[0], 0.5f);
    EXPECT_EQ(s16.right[0], -1.0f);

    // A 24-bit mono file of 0x800000 reads as −1.0 on both sides.
    const Read s24
        = read(riff({chunk("fmt ", fmtBody(1, 1, 44100, 24)), chunk("data", bytesOf({0x800000, 0x400000}, 3))}));
    ASSERT_TRUE(s24.ok);
    EXPECT_EQ(s24.rate, 44100u);
    EXPECT_EQ(s24.left, (std::vector<float>{-1.0f, 0.5f}));
    EXPECT_EQ(s24.right, s24.left);

    const Read s32 = read(riff({chunk("fmt ", fmtBody(1, 1, 48000, 32)), chunk("data", bytesOf({0xC0000000u}, 4))}));
    ASSERT_TRUE(s32.ok);
    EXPECT_EQ(s32.left[0], -0.5f);

    // Widths between 16 and 64 that are not 16, 24 or 32 read as silence.
    const Read s40 = read(riff({chunk("fmt ", fmtBody(1, 1, 48000, 40)), chunk("data", bytesOf({0x1234567890}, 5))}));
    ASSERT_TRUE(s40.ok);
    EXPECT_EQ(s40.left, (std::vector<float>{0.0f}));
}

TEST(WavReader, ReadsFloatAndExtensibleFormats)
{
    float f = 0.25f;
    uint32_t u;
    std::memcpy(&u, &f, 4);
    double d = -0.75;
    uint64_t u64;
    std::memcpy(&u64, &d, 8);
    const Read f32 = read(riff({chunk("fmt ", fmtBody(3, 1, 48000, 32)), chunk("data", bytesOf({u}, 4))}));
    ASSERT_TRUE(f32.ok);
    EXPECT_EQ(f32.left[0], 0.25f);
    const Read f64 = read(riff({chunk("fmt ", fmtBody(3, 2, 48000, 64)), chunk("data", bytesOf({u64, u64}, 8))}));
    ASSERT_TRUE(f64.ok);
    EXPECT_EQ(f64.right[0], -0.75f);

    // WAVE_FORMAT_EXTENSIBLE: the tag is the first two bytes of the subformat.
    std::vector<uint8_t> ext = fmtBody(0xFFFE, 1, 48000, 32);
    putLe(ext, 22, 2);              // extension size
    putLe(ext, 32, 2);              // valid bits
    putLe(ext, 4, 4);               // channel mask
    putLe(ext, 3, 2);               // subformat: IEEE float ...
    ext.resize(ext.size() + 14, 0); // ... and the rest of its GUID
    const Read fx = read(riff({chunk("fmt ", ext), chunk("data", bytesOf({u}, 4))}));
    ASSERT_TRUE(fx.ok);
    EXPECT_EQ(fx.left[0], 0.25f);
    // An extensible chunk too short for the subformat keeps the 0xFFFE tag and is refused.
    EXPECT_FALSE(read(riff({chunk("fmt ", fmtBody(0xFFFE, 1, 48000, 16)), chunk("data", bytesOf({1}, 2))})).ok);
}

TEST(WavReader, SkipsOtherChunksWithTheirPadByte)
{
    const std::vector<uint8_t> odd{1, 2, 3};
    const Read r = read(riff({chunk("LIST", odd), chunk("fmt ", fmtBody(1, 1, 48000, 16)), chunk("junk", odd),
        chunk("data", bytesOf({0x2000}, 2))}));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.left, (std::vector<float>{0.25f}));
}

TEST(WavReader, RefusesWhatItCannotRead)
{
    const auto data = chunk("data", bytesOf({1, 2}, 2));
    EXPECT_FALSE(read({}).ok);
    EXPECT_FALSE(read({'R', 'I', 'F', 'X', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}).ok);
    EXPECT_FALSE(read(riff({data})).ok);                                          // no format before the data
    EXPECT_FALSE(read(riff({chunk("fmt ", fmtBody(1, 3, 48000, 16)), data})).ok); // three channels
    EXPECT_FALSE(read(riff({chunk("fmt ", fmtBody(1, 0, 48000, 16)), data})).ok);
    EXPECT_FALSE(read(riff({chunk("fmt ", fmtBody(1, 1, 48000, 8)), data})).ok);  // 8 bits
    EXPECT_FALSE(read(riff({chunk("fmt ", fmtBody(1, 1, 48000, 12)), data})).ok); // not whole bytes
    EXPECT_FALSE(read(riff({chunk("fmt ", fmtBody(1, 1, 48000, 72)), data})).ok);
    EXPECT_FALSE(read(riff({chunk("fmt ", fmtBody(2, 1, 48000, 16)), data})).ok); // ADPCM
    EXPECT_FALSE(read(riff({chunk("fmt ", fmtBody(1, 1, 48000, 16))})).ok);       // no data at all
    // A format chunk shorter than its fields does not count.
    EXPECT_FALSE(read(riff({chunk("fmt ", std::vector<uint8_t>(8, 1)), data})).ok);
    Read kept;
    kept.left = {1.0f};
    EXPECT_FALSE(readWav(std::span<const uint8_t>(), kept.left, kept.right, kept.rate));
    EXPECT_TRUE(kept.left.empty());
}

TEST(WavReader, DataSizesBeyondTheFileAreCutToWhatIsThere)
{
    // Declared 1000 bytes, 6 present: three 16-bit mono frames.
    const Read r = read(riff({chunk("fmt ", fmtBody(1, 1, 48000, 16)), chunk("data", bytesOf({1, 2, 3}, 2), 1000)}));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.left.size(), 3u);
    // A "negative" size (top bit set) is as large as it gets; a partial frame is dropped.
    const Read n
        = read(riff({chunk("fmt ", fmtBody(1, 2, 48000, 16)), chunk("data", bytesOf({1, 2, 3}, 2), 0xFFFFFFF0)}));
    ASSERT_TRUE(n.ok);
    EXPECT_EQ(n.left.size(), 1u);
    // A chunk before the data whose size runs past the end stops the walk.
    EXPECT_FALSE(read(riff({chunk("fmt ", fmtBody(1, 1, 48000, 16)), chunk("LIST", {1, 2}, 0x7FFFFFFF),
                          chunk("data", bytesOf({1}, 2))}))
                     .ok);
}

TEST(WavReader, ReadsThroughTheFileSeam)
{
    platform::sim::MemoryFiles files;
    std::vector<float> left, right;
    uint32_t rate = 0;
    EXPECT_FALSE(readWav(files, L"C:\\x\\missing.wav", left, right, rate));
    files.put(L"C:\\x\\a.wav", floatWav(48000, {0.5f, -0.5f}, {0.25f, 0.0f}));
    ASSERT_TRUE(readWav(files, L"C:\\x\\a.wav", left, right, rate));
    EXPECT_EQ(rate, 48000u);
    EXPECT_EQ(left, (std::vector<float>{0.5f, -0.5f}));
    EXPECT_EQ(right, (std::vector<float>{0.25f, 0.0f}));
}

} // namespace
} // namespace media
