// The cavern's impulse response file beside the program.

#include "media/cavern_response.h"
#include "media/wav_bytes.h"
#include "platform/sim/memory_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace media {
namespace {

TEST(CavernResponse, TheFileBesideTheProgramLoadsOnlyWhenReadableAndAccepted)
{
    std::vector<float> left(dsp::ConvolutionReverb::kDroppedFrames + 2000), right(left.size());
    for (size_t i = 0; i < left.size(); ++i) {
        left[i] = 0.5f * std::exp(-0.002f * static_cast<float>(i));
        right[i] = -left[i];
    }
    platform::sim::MemoryFiles files;
    dsp::ConvolutionReverb conv;
    EXPECT_FALSE(loadCavernResponse(files, L"C:\\Program Files\\VantorOvix", conv));
    EXPECT_FALSE(conv.loaded());

    files.put(L"C:\\Program Files\\VantorOvix\\haunted_cavern_ir.wav", testing::floatWav(44100, left, right));
    EXPECT_FALSE(loadCavernResponse(files, L"C:\\Program Files\\VantorOvix", conv)) << "only 48 kHz is accepted";
    EXPECT_FALSE(conv.loaded());

    files.put(L"C:\\Program Files\\VantorOvix\\haunted_cavern_ir.wav", testing::floatWav(48000, left, right));
    EXPECT_TRUE(loadCavernResponse(files, L"C:\\Program Files\\VantorOvix\\", conv));
    EXPECT_TRUE(conv.loaded());
    EXPECT_EQ(conv.responseLength(), 2000u);

    files.put(L"C:\\Program Files\\VantorOvix\\haunted_cavern_ir.wav", {'R', 'I', 'F', 'F', 0, 0});
    EXPECT_FALSE(loadCavernResponse(files, L"C:\\Program Files\\VantorOvix", conv));
    EXPECT_FALSE(conv.loaded()) << "a broken file unloads what was there";
}

} // namespace
} // namespace media
