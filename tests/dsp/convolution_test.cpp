// The cavern's convolution response: acceptance, trimming, the two stages
// against a direct convolution, and the real-time contract.

#include "dsp/convolution.h"
#include "dsp/random.h"
#include "support/alloc_counter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace dsp {
namespace {

constexpr size_t kDrop = ConvolutionReverb::kDroppedFrames;

// A response as it would sit in the file: 512 leading frames (dropped on
// load), then `length` frames of decaying noise whose last frame is loud
// enough to survive trimming, then `silentTail` frames of near-silence.
struct Response {
    std::vector<float> left, right;
};
Response makeResponse(size_t length, size_t silentTail = 0, uint32_t seed = 7)
{
    Lcg g{seed};
    Response r;
    r.left.assign(kDrop + length + silentTail, 0.0f);
    r.right.assign(r.left.size(), 0.0f);
    for (size_t i = 0; i < kDrop; ++i)
        r.left[i] = r.right[i] = 0.9f; // must not be heard
    for (size_t i = 0; i < length; ++i) {
        const float env = std::exp(-3.0f * static_cast<float>(i) / static_cast<float>(length));
        r.left[kDrop + i] = 0.5f * env * g.bipolar();
        r.right[kDrop + i] = 0.5f * env * g.bipolar();
    }
    if (length > 0) {
        r.left[kDrop + length - 1] = 0.01f;
        r.right[kDrop + length - 1] = -0.01f;
    }
    for (size_t i = 0; i < silentTail; ++i)
        r.left[kDrop + length + i] = (i % 2 == 0 ? 1 : -1) * 5e-6f;
    return r;
}

// ||a − b|| / ||b|| over the span both cover.
double relativeError(const std::vector<float>& a, const std::vector<double>& b)
{
    double err = 0.0, ref = 0.0;
    for (size_t i = 0; i < b.size(); ++i) {
        err += (a[i] - b[i]) * (a[i] - b[i]);
        ref += b[i] * b[i];
    }
    return std::sqrt(err / ref);
}

// Runs a send through the convolution and a direct convolution (512 frames
// late, in double) and compares them. The send is a dense noise burst
// followed by sparse impulses that land on every phase of both partition sizes.
void expectMatchesDirectConvolution(size_t length, bool tail)
{
    const Response r = makeResponse(length);
    ConvolutionReverb conv;
    ASSERT_TRUE(conv.load(r.left, r.right, 48000));
    ASSERT_EQ(conv.responseLength(), length);
    EXPECT_EQ(conv.hasTail(), tail) << length;

    const size_t frames = kDrop + length + 3 * 4096 + 2000;
    std::vector<float> send(frames, 0.0f);
    Lcg g{11};
    for (size_t i = 0; i < 700; ++i)
        send[i] = g.bipolar();
    for (size_t t = 900; t < frames; t += 4099)
        send[t] = 0.8f;

    std::vector<float> left(frames), right(frames);
    for (size_t at = 0; at < frames; at += 480) {
        const int n = static_cast<int>(std::min<size_t>(480, frames - at));
        conv.process(send.data() + at, left.data() + at, right.data() + at, n);
    }

    std::vector<double> refL(frames, 0.0), refR(frames, 0.0);
    for (size_t t = 0; t < frames; ++t) {
        if (send[t] == 0.0f)
            continue;
        for (size_t k = 0; k < length && t + kDrop + k < frames; ++k) {
            refL[t + kDrop + k] += double(send[t]) * r.left[kDrop + k];
            refR[t + kDrop + k] += double(send[t]) * r.right[kDrop + k];
        }
    }
    EXPECT_LT(relativeError(left, refL), 1e-4) << length;
    EXPECT_LT(relativeError(right, refR), 1e-4) << length;
}

// 1000 frames: the head alone; exactly 8192: still no tail; 8193: a
// one-frame tail; three seconds: many tail partitions.
TEST(Convolution, MatchesDirectConvolutionWithAndWithoutATail)
{
    expectMatchesDirectConvolution(1000, false);
    expectMatchesDirectConvolution(8192, false);
    expectMatchesDirectConvolution(8193, true);
    expectMatchesDirectConvolution(3 * 48000 + 123, true);
}

TEST(Convolution, AcceptsOnly48kHzAndMoreThan512Frames)
{
    const Response r = makeResponse(2000);
    ConvolutionReverb conv;
    EXPECT_FALSE(conv.load(r.left, r.right, 44100));
    EXPECT_FALSE(conv.loaded());
    const std::vector<float> short512(512, 0.5f), short513(513, 0.5f);
    EXPECT_FALSE(conv.load(short512, short512, 48000));
    EXPECT_TRUE(conv.load(short513, short513, 48000));
    EXPECT_EQ(conv.responseLength(), 1u);
    // A rejected response after a good one leaves nothing loaded.
    EXPECT_FALSE(conv.load(r.left, r.right, 96000));
    EXPECT_FALSE(conv.loaded());
}

TEST(Convolution, TrimsTheSilentEndAndDropsTheHead)
{
    const Response r = makeResponse(8192, 5000);
    ConvolutionReverb conv;
    ASSERT_TRUE(conv.load(r.left, r.right, 48000));
    EXPECT_EQ(conv.responseLength(), 8192u);
    EXPECT_FALSE(conv.hasTail());
    // An all-silent response loads and stays silent.
    const std::vector<float> silent(4000, 0.0f);
    ASSERT_TRUE(conv.load(silent, silent, 48000));
    EXPECT_EQ(conv.responseLength(), 0u);
    std::vector<float> send(480, 1.0f), left(480, 1.0f), right(480, 1.0f);
    conv.process(send.data(), left.data(), right.data(), 480);
    EXPECT_EQ(left, std::vector<float>(480, 0.0f));
}

TEST(Convolution, NonFiniteSamplesInTheFileOrTheSendAreSilence)
{
    Response r = makeResponse(3000);
    r.left[kDrop + 10] = NAN;
    r.right[kDrop + 20] = INFINITY;
    ConvolutionReverb conv;
    ASSERT_TRUE(conv.load(r.left, r.right, 48000));
    std::vector<float> send(4800, 0.1f), left(4800), right(4800);
    send[3] = NAN;
    conv.process(send.data(), left.data(), right.data(), 4800);
    for (size_t i = 0; i < left.size(); ++i)
        ASSERT_TRUE(std::isfinite(left[i]) && std::isfinite(right[i])) << i;
}

TEST(Convolution, ProcessingAndResetDoNotAllocate)
{
    const Response r = makeResponse(5 * 48000);
    ConvolutionReverb conv;
    ASSERT_TRUE(conv.load(r.left, r.right, 48000));
    std::vector<float> send(480, 0.25f), left(480), right(480);
    test::AllocationCounter counter;
    for (int block = 0; block < 40; ++block)
        conv.process(send.data(), left.data(), right.data(), 480);
    conv.reset();
    EXPECT_EQ(counter.count(), 0u);
}

} // namespace
} // namespace dsp
