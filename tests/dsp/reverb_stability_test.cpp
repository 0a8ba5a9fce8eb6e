// Every room stays stable under a minute of loud noise and rings out in
// silence. Kept apart from the other reverb tests because it is the long one.

#include "dsp/denormals.h"
#include "dsp/random.h"
#include "dsp/reverb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace dsp {
namespace {

constexpr double kFs = 48000.0;
constexpr int kBlock = 480;

class EveryRoom : public ::testing::TestWithParam<int> { };

// 60 s of white noise then 30 s of silence: nothing non-finite, the output
// stays bounded while driven, and the tail dies away.
TEST_P(EveryRoom, StaysStableUnderNoiseAndDecaysInSilence)
{
    ScopedFlushDenormals flush;
    auto reverb = Reverb::create(kFs, GetParam());
    Lcg noise{static_cast<uint32_t>(GetParam() + 1)};
    std::vector<float> in(kBlock), left(kBlock), right(kBlock);
    const int noiseBlocks = 60 * 100, silentBlocks = 30 * 100;
    double peak = 0.0, drivenEnergy = 0.0, lastSecondEnergy = 0.0;
    bool finite = true;
    for (int b = 0; b < noiseBlocks + silentBlocks; ++b) {
        for (float& x : in)
            x = b < noiseBlocks ? 0.5f * noise.bipolar() : 0.0f;
        reverb->process(in.data(), nullptr, left.data(), right.data(), kBlock);
        // Plain sums: a NaN or infinity anywhere makes the block's energy non-finite.
        double e = 0.0, blockPeak = 0.0;
        for (int i = 0; i < kBlock; ++i) {
            e += double(left[i]) * left[i] + double(right[i]) * right[i];
            blockPeak = std::max(blockPeak, double(std::fabs(left[i]) + std::fabs(right[i])));
        }
        finite = finite && std::isfinite(e) && std::isfinite(blockPeak);
        peak = std::max(peak, blockPeak);
        if (b >= noiseBlocks - 100 && b < noiseBlocks)
            drivenEnergy += e;
        if (b >= noiseBlocks + silentBlocks - 100)
            lastSecondEnergy += e;
    }
    EXPECT_TRUE(finite);
    EXPECT_LT(peak, 40.0); // |left| + |right|
    EXPECT_GT(drivenEnergy, 0.0);
    // Even the longest rooms (about 15 s to −60 dB) fall far more than 60 dB in 30 s.
    EXPECT_LT(lastSecondEnergy, drivenEnergy * 1e-6) << "room " << GetParam();
}

INSTANTIATE_TEST_SUITE_P(
    Rooms, EveryRoom, ::testing::Range(0, kRoomCount), ::testing::PrintToStringParamName());

} // namespace
} // namespace dsp
