#include "media/format_converter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

TEST(FormatConverter, ChannelGainsFollowTheSpeakerPositions)
{
    const media::FormatConverter mono({1, 16, false, 48000, 0});
    EXPECT_EQ(mono.leftGain(0), 1.0f);
    EXPECT_EQ(mono.rightGain(0), 1.0f);

    // 5.1 by default: FL, FR, C, LFE, BL, BR.
    const media::FormatConverter surround({6, 16, false, 48000, 0});
    const float s = 0.70710677f;
    const float left[] = {1, 0, s, 0, s, 0};
    const float right[] = {0, 1, s, 0, 0, s};
    for (uint32_t c = 0; c < 6; ++c) {
        EXPECT_EQ(surround.leftGain(c), left[c]) << c;
        EXPECT_EQ(surround.rightGain(c), right[c]) << c;
    }
    // Seven channels use the stereo mask; once it is used up they alternate.
    const media::FormatConverter seven({7, 16, false, 48000, 0});
    EXPECT_EQ(seven.leftGain(2), 1.0f);
    EXPECT_EQ(seven.rightGain(3), 1.0f);
    EXPECT_EQ(seven.leftGain(6), 1.0f);
}

TEST(FormatConverter, DecodesEachSampleFormat)
{
    std::vector<float> out;
    media::FormatConverter pcm24({2, 24, false, 48000, 0});
    pcm24.convert(std::vector<uint8_t>{0x00, 0x00, 0x80, 0x00, 0x00, 0x40}, out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], -1.0f);
    EXPECT_EQ(out[1], 0.5f);

    out.clear();
    media::FormatConverter f32({1, 32, true, 48000, 0});
    const float v = -0.125f;
    std::vector<uint8_t> bytes(4);
    std::memcpy(bytes.data(), &v, 4);
    f32.convert(bytes, out);
    EXPECT_EQ(out, (std::vector<float>{-0.125f, -0.125f}));
}

// A 44.1 kHz ramp converted in uneven blocks equals the same ramp converted
// whole, and every output frame lies on the line at its own source position.
TEST(FormatConverter, ResamplesLinearlyAcrossBlockBoundaries)
{
    const media::SourceLayout layout{2, 32, true, 44100, 0};
    std::vector<float> ramp(2 * 4410);
    for (size_t i = 0; i < ramp.size() / 2; ++i) {
        ramp[2 * i] = static_cast<float>(i) * 1e-4f;
        ramp[2 * i + 1] = -static_cast<float>(i) * 1e-4f;
    }
    media::FormatConverter whole(layout), pieces(layout);
    EXPECT_DOUBLE_EQ(whole.step(), 0.91875);
    std::vector<float> a, b;
    whole.convertStereo(ramp, a);
    size_t at = 0;
    for (size_t len : {7u, 1u, 300u, 2u, 1000u}) {
        pieces.convertStereo(std::span<const float>(ramp).subspan(2 * at, 2 * len), b);
        at += len;
    }
    pieces.convertStereo(std::span<const float>(ramp).subspan(2 * at), b);
    ASSERT_NEAR(static_cast<double>(a.size()) / 2, 4410 / 0.91875, 2.0);
    ASSERT_EQ(a.size(), b.size());
    for (size_t j = 0; j < a.size() / 2; ++j) {
        const float expected = static_cast<float>(j * 0.91875 * 1e-4);
        ASSERT_NEAR(a[2 * j], expected, 1e-5f) << j;
        ASSERT_NEAR(b[2 * j], expected, 1e-5f) << j;
        ASSERT_NEAR(b[2 * j + 1], -expected, 1e-5f) << j;
    }
}

} // namespace
