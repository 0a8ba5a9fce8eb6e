// The clip time-stretcher: exact output lengths, input demand, kept and
// followed pitch, and clean restarts.

#include "dsp/clip_stretcher.h"
#include "support/alloc_counter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr double kRate = 48000.0;
// Segment, search radius and overlap of the clip setup at 48 kHz.
constexpr double kLookAhead = 2880 + 720 + 480;

// A stereo sine source that remembers how far it has been read.
struct Tone {
    double hz = 220.0;
    uint64_t position = 0;
    void read(float* l, float* r, uint32_t n)
    {
        for (uint32_t i = 0; i < n; ++i) {
            const float s = 0.5f * static_cast<float>(std::sin(2.0 * 3.14159265358979 * hz * (position + i) / kRate));
            l[i] = s;
            r[i] = 0.5f * s;
        }
        position += n;
    }
};

// Feeds the stretcher as the mix does (pulls of at most 1024) and returns n frames.
void pull(dsp::ClipStretcher& st, Tone& tone, float* l, float* r, uint32_t n)
{
    float inL[1024], inR[1024];
    for (uint32_t need = st.inputNeeded(n); need > 0; need = st.inputNeeded(n)) {
        const uint32_t k = std::min<uint32_t>(need, 1024);
        tone.read(inL, inR, k);
        st.write(inL, inR, k);
    }
    st.process(l, r, n);
}

// Frequency from upward zero crossings over a stretch of output.
double frequency(const std::vector<float>& x)
{
    int crossings = 0;
    int first = -1, last = -1;
    for (size_t i = 1; i < x.size(); ++i) {
        if (x[i - 1] < 0.0f && x[i] >= 0.0f) {
            if (first < 0)
                first = static_cast<int>(i);
            last = static_cast<int>(i);
            ++crossings;
        }
    }
    return crossings > 1 ? (crossings - 1) * kRate / (last - first) : 0.0;
}

std::vector<float> render(dsp::ClipStretcher& st, Tone& tone, int blocks, std::vector<float>* right = nullptr)
{
    std::vector<float> out, outR;
    std::vector<float> l(480), r(480);
    for (int b = 0; b < blocks; ++b) {
        pull(st, tone, l.data(), r.data(), 480);
        out.insert(out.end(), l.begin(), l.end());
        outR.insert(outR.end(), r.begin(), r.end());
    }
    if (right)
        *right = outR;
    return out;
}

TEST(ClipStretcher, KeepingPitchItConsumesInputAtTheSpeedAndKeepsTheTone)
{
    for (double speed : {0.5, 1.5, 2.0, 4.0}) {
        SCOPED_TRACE(speed);
        dsp::ClipStretcher st;
        st.prepare(kRate);
        st.setSpeed(speed, true);
        Tone tone;
        std::vector<float> right;
        const std::vector<float> out = render(st, tone, 200, &right);
        // Consumed: the played stretch at the speed, plus the look-ahead of one segment.
        EXPECT_NEAR(static_cast<double>(tone.position), speed * out.size(), kLookAhead + 2880 * speed);
        const std::vector<float> settled(out.begin() + 9600, out.end());
        EXPECT_NEAR(frequency(settled), 220.0, 3.0);
        EXPECT_FLOAT_EQ(right[20000], 0.5f * out[20000]); // both channels spliced alike
    }
}

TEST(ClipStretcher, WithoutKeepingPitchItResamplesSoThePitchFollowsTheSpeed)
{
    dsp::ClipStretcher st;
    st.prepare(kRate);
    st.setSpeed(2.0, false);
    Tone tone;
    const std::vector<float> out = render(st, tone, 100);
    EXPECT_NEAR(frequency(out), 440.0, 2.0);
    EXPECT_NEAR(static_cast<double>(tone.position), 2.0 * out.size(), 4.0);
}

TEST(ClipStretcher, ItNeverAsksForMoreInputThanTheSpeedAndItsLookAheadRequire)
{
    for (bool keep : {true, false}) {
        dsp::ClipStretcher st;
        st.prepare(kRate);
        st.setSpeed(1.25, keep);
        Tone tone;
        float l[480], r[480];
        for (int b = 1; b <= 50; ++b) {
            pull(st, tone, l, r, 480);
            ASSERT_LE(static_cast<double>(tone.position), 1.25 * 480 * b + kLookAhead + 2880 * 1.25) << b;
        }
    }
}

TEST(ClipStretcher, ResetStartsCleanAndSwitchingModesDoesNotJump)
{
    dsp::ClipStretcher st;
    st.prepare(kRate);
    st.setSpeed(1.5, true);
    Tone tone;
    render(st, tone, 20);
    st.reset();
    EXPECT_EQ(st.inputNeeded(480), static_cast<uint32_t>(2880 + 720 + 480));
    // Mode switches mid-stream keep every sample bounded and continuous enough.
    st.setSpeed(1.5, false);
    render(st, tone, 10);
    st.setSpeed(0.75, true);
    const std::vector<float> out = render(st, tone, 20);
    for (size_t i = 1; i < out.size(); ++i)
        ASSERT_LT(std::fabs(out[i] - out[i - 1]), 0.2f) << i;
}

TEST(ClipStretcher, ProcessingAllocatesNothing)
{
    dsp::ClipStretcher st;
    st.prepare(kRate);
    Tone tone;
    float l[480], r[480];
    st.setSpeed(3.0, true);
    pull(st, tone, l, r, 480);
    test::AllocationCounter counter;
    for (int b = 0; b < 50; ++b) {
        st.setSpeed(b % 2 ? 0.3 : 3.7, b % 3 != 0);
        pull(st, tone, l, r, 480);
    }
    EXPECT_EQ(counter.count(), 0u);
}

} // namespace
