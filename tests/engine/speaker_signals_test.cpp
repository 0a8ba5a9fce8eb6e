// The speaker test signals: the generators' numbers, and one test played on
// simulated endpoints step by step (the fallback format, a stop, a failure).

#include "dsp/fft.h"
#include "engine/speaker_test.h"
#include "engine/test_generator.h"
#include "platform/sim/manual_clock.h"
#include "platform/sim/sim_audio.h"
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <numeric>
#include <vector>

namespace {

using engine::TestChannel;
using engine::TestGenerator;

constexpr uint32_t kRate = 48000;
constexpr float kLevelAt35 = 0.35f;

std::vector<float> generateAll(TestGenerator& g, size_t maxFrames, float level)
{
    std::vector<float> out(maxFrames * 2);
    const uint32_t made = g.generate(out.data(), static_cast<uint32_t>(maxFrames), level);
    out.resize(size_t{made} * 2);
    return out;
}

float peakOf(const std::vector<float>& v, size_t firstFrame, size_t endFrame, int channel)
{
    float peak = 0;
    for (size_t i = firstFrame; i < endFrame; ++i)
        peak = std::max(peak, std::abs(v[2 * i + channel]));
    return peak;
}

TEST(SpeakerSignals, TheChimeSweepsLeftThenRightForThreePointOneSecondsPeakingAt0165)
{
    TestGenerator g(kRate, engine::chimeSignal());
    const auto out = generateAll(g, 4 * kRate, kLevelAt35);
    ASSERT_EQ(out.size() / 2, 148800u); // 2 × (1.3 s + 0.25 s)
    EXPECT_TRUE(g.ended());
    EXPECT_EQ(g.activeChannel(), TestChannel::Silent);

    constexpr size_t tone = 62400, step = 74400;
    EXPECT_GT(peakOf(out, 0, tone, 0), 0.1f);
    EXPECT_EQ(peakOf(out, 0, step, 1), 0.0f);
    EXPECT_EQ(peakOf(out, tone, 2 * step, 0), 0.0f);
    EXPECT_EQ(peakOf(out, tone, step, 1), 0.0f);
    EXPECT_GT(peakOf(out, step, step + tone, 1), 0.1f);
    EXPECT_EQ(peakOf(out, step + tone, 2 * step, 1), 0.0f);
    // 0.35 × 0.55 × 0.855, 0.855 being the peak of 0.8 sin x + 0.16 sin 2x.
    EXPECT_NEAR(std::max(peakOf(out, 0, 2 * step, 0), peakOf(out, 0, 2 * step, 1)), 0.1646f, 0.0015f);
    // Both tones start and end from silence.
    EXPECT_LT(std::abs(out[0]), 1e-6f);
    EXPECT_LT(std::abs(out[2 * (tone - 1)]), 1e-3f);

    // The chime tells the page which side sounds.
    TestGenerator h(kRate, engine::chimeSignal());
    auto channelAt = [&](uint64_t frameIndex) {
        std::vector<float> skip((frameIndex - h.frames()) * 2 + 2);
        h.generate(skip.data(), static_cast<uint32_t>(frameIndex - h.frames() + 1), 1.0f);
        return h.activeChannel();
    };
    EXPECT_EQ(channelAt(1000), TestChannel::Left);
    EXPECT_EQ(channelAt(tone + 10), TestChannel::Silent);
    EXPECT_EQ(channelAt(step + 10), TestChannel::Right);
}

// Left 1.5 s, pause 0.2 s, right, pause, both, pause, left, right cut at 8.0 s.
TEST(SpeakerSignals, ThePinkNoiseAlternatesLeftRightBothAndEndsWithARampAtEightSeconds)
{
    TestGenerator g(kRate, engine::pinkNoiseSignal());
    constexpr uint64_t burst = 72000, stepFrames = 81600, length = 384000, ramp = 1440;
    std::vector<float> out(length * 2);
    uint64_t wrong = 0;
    for (uint64_t i = 0; i < length; ++i) {
        ASSERT_EQ(g.generate(&out[2 * i], 1, 1.0f), 1u) << i;
        const uint64_t v = i % stepFrames;
        const TestChannel expected = v >= burst ? TestChannel::Silent
            : i / stepFrames % 3 == 0           ? TestChannel::Left
            : i / stepFrames % 3 == 1           ? TestChannel::Right
                                                : TestChannel::Both;
        const bool left = out[2 * i] != 0.0f, right = out[2 * i + 1] != 0.0f;
        const bool fits = expected == TestChannel::Silent ? !left && !right
            : expected == TestChannel::Left               ? !right
            : expected == TestChannel::Right              ? !left
                                                          : true;
        wrong += (g.activeChannel() != expected && i + 1 < length) || !fits;
    }
    EXPECT_EQ(wrong, 0u);
    std::vector<float> more(2);
    EXPECT_TRUE(g.ended());
    EXPECT_EQ(g.generate(more.data(), 1, 1.0f), 0u);

    // The burst sounding at 8.0 s is the second right one, cut by the 30 ms end ramp.
    const uint64_t secondRight = 4 * stepFrames;
    ASSERT_LT(secondRight, length - ramp);
    ASSERT_GT(secondRight + burst, length);
    EXPECT_GT(peakOf(out, length - 3 * ramp, length - ramp, 1), 0.05f);
    EXPECT_LT(peakOf(out, length - 10, length, 1), 1e-3f);
    EXPECT_LT(peakOf(out, length - ramp / 4, length, 1), 0.5f * peakOf(out, length - 3 * ramp, length - ramp, 1));
    EXPECT_EQ(peakOf(out, secondRight, length, 0), 0.0f);
    // The first burst rises from silence over the start ramp.
    EXPECT_LT(peakOf(out, 0, 10, 0), 1e-3f);
}

// Pink noise has equal power per octave: its spectral density falls by
// 3 dB per octave. Measured by averaged Hann-windowed periodograms.
TEST(SpeakerSignals, PinkNoiseFallsByThreeDecibelsPerOctaveFrom100HzTo10kHz)
{
    engine::TestSignal steady = engine::pinkNoiseSignal();
    steady.alternate = false;
    steady.lengthSeconds = 0;
    TestGenerator g(kRate, steady);
    constexpr size_t n = 8192;
    constexpr int segments = 48;
    dsp::FftPlan plan;
    ASSERT_TRUE(plan.prepare(n));
    std::vector<float> skip(2 * kRate);
    g.generate(skip.data(), kRate, 1.0f); // past the start ramp and the filter's settling
    std::vector<float> block(2 * n);
    std::vector<std::complex<float>> spectrum(n);
    std::vector<double> power(n / 2, 0.0);
    for (int s = 0; s < segments; ++s) {
        ASSERT_EQ(g.generate(block.data(), n, 1.0f), n);
        for (size_t i = 0; i < n; ++i) {
            const double hann = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / n);
            spectrum[i] = {static_cast<float>(block[2 * i] * hann), 0.0f};
        }
        plan.forward(spectrum.data());
        for (size_t k = 1; k < n / 2; ++k)
            power[k] += std::norm(spectrum[k]);
    }
    // Mean density in octave bands centred 125 Hz ... 8 kHz, against log2 of the centre.
    std::vector<double> xs, ys;
    for (double centre = 125; centre <= 8000; centre *= 2) {
        double sum = 0;
        int bins = 0;
        for (size_t k = 1; k < n / 2; ++k) {
            const double hz = static_cast<double>(k) * kRate / n;
            if (hz >= centre / std::sqrt(2.0) && hz < centre * std::sqrt(2.0)) {
                sum += power[k];
                ++bins;
            }
        }
        xs.push_back(std::log2(centre));
        ys.push_back(10.0 * std::log10(sum / bins));
    }
    const double mx = std::accumulate(xs.begin(), xs.end(), 0.0) / xs.size();
    const double my = std::accumulate(ys.begin(), ys.end(), 0.0) / ys.size();
    double sxy = 0, sxx = 0, worst = 0;
    for (size_t i = 0; i < xs.size(); ++i) {
        sxy += (xs[i] - mx) * (ys[i] - my);
        sxx += (xs[i] - mx) * (xs[i] - mx);
    }
    const double slope = sxy / sxx;
    for (size_t i = 0; i < xs.size(); ++i)
        worst = std::max(worst, std::abs(ys[i] - (my + slope * (xs[i] - mx))));
    EXPECT_NEAR(slope, -3.0, 0.15);
    EXPECT_LT(worst, 0.3); // a straight line, not two slopes averaging to -3
}

TEST(SpeakerSignals, AStopFadesOutOverTwentyFiveMillisecondsAndEnds)
{
    TestGenerator stopped(kRate, engine::chimeSignal()), reference(kRate, engine::chimeSignal());
    std::vector<float> a(2 * 24000), b(2 * 24000);
    stopped.generate(a.data(), 24000, 1.0f);
    reference.generate(b.data(), 24000, 1.0f);
    stopped.beginStop();
    stopped.beginStop(); // a second press does not restart the fade
    ASSERT_EQ(stopped.generate(a.data(), 24000, 1.0f), 1200u);
    EXPECT_TRUE(stopped.ended());
    reference.generate(b.data(), 24000, 1.0f);
    double worst = 0;
    for (size_t k = 0; k < 1200; ++k) {
        const double fade = 0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(1200 - k) / 1200.0);
        worst = std::max(worst, std::abs(a[2 * k] - b[2 * k] * fade));
    }
    EXPECT_LT(worst, 1e-6);
}

// One test played on a simulated endpoint, stepped on a virtual clock.
class SpeakerRun : public ::testing::Test {
protected:
    platform::sim::ManualClock clock;
    platform::sim::SimAudio audio{clock};
    engine::SpeakerTestControls controls;

    void addSpeaker(const std::wstring& id, bool acceptsFloat, platform::MixFormat mix = {})
    {
        platform::sim::SimEndpointSetup s;
        s.flow = platform::Flow::Render;
        s.id = id;
        s.name = L"Speakers";
        s.acceptsFixedFormat = acceptsFloat;
        s.mixFormat = mix;
        audio.addEndpoint(s);
        audio.recordRender(id, true, 400000);
    }

    // Steps the run 10 ms apart until it ends; the number of steps.
    int playOut(engine::SpeakerTestRun& run, int limit = 1000)
    {
        int steps = 0;
        while (steps < limit && run.step()) {
            ++steps;
            clock.advance(engine::kSpeakerTestWaitMicros);
        }
        return steps;
    }
};

// A 16-bit, four-channel endpoint at 44100 Hz that refuses the float format,
// chosen by an id the platform does not know (so the default plays it).
TEST_F(SpeakerRun, TheMixFormatFallbackWrites16BitSamplesAtTheEndpointsOwnRate)
{
    addSpeaker(L"spk16", false, {4, 44100, 16, platform::SampleFormat::Pcm, false, 0});
    audio.setDefault(platform::Flow::Render, L"spk16");
    controls.level = kLevelAt35;
    engine::SpeakerTestRun run(audio, L"unplugged long ago", engine::chimeSignal(), controls);
    ASSERT_TRUE(run.open());
    EXPECT_TRUE(audio.stats(L"spk16").lastMixFormat);
    EXPECT_EQ(run.format().rate, 44100u);
    EXPECT_TRUE(run.format().pcm16);
    playOut(run);
    EXPECT_EQ(controls.activeChannel.load(), 0);

    TestGenerator expected(44100, engine::chimeSignal());
    const auto want = generateAll(expected, 200000, kLevelAt35);
    const auto got = audio.rendered(L"spk16");
    ASSERT_EQ(got.size(), want.size()); // 2 × (1.3 + 0.25) s at 44100 Hz
    EXPECT_EQ(want.size() / 2, 136710u);
    double worst = 0;
    for (size_t i = 0; i < want.size(); ++i)
        worst = std::max(worst, std::abs(got[i] - std::round(want[i] * 32767.0) / 32768.0));
    EXPECT_LE(worst, 1.0 / 32768.0 + 1e-9); // within one 16-bit step
}

// A hands-free headset's 8 kHz mono format: the chime keeps its length and
// pitch (the generator runs at 8000 Hz), both sides summed into the one channel.
TEST_F(SpeakerRun, AnEightKilohertzMonoEndpointGetsTheChimeAtItsOwnRate)
{
    addSpeaker(L"handsfree", false, {1, 8000, 16, platform::SampleFormat::Pcm, false, 0});
    engine::SpeakerTestRun run(audio, L"handsfree", engine::chimeSignal(), controls);
    ASSERT_TRUE(run.open());
    playOut(run);
    const auto got = audio.rendered(L"handsfree");
    EXPECT_EQ(got.size() / 2, 24800u); // 2 × (1.3 + 0.25) s at 8000 Hz
    EXPECT_EQ(peakOf(got, 0, got.size() / 2, 0), peakOf(got, 0, got.size() / 2, 1));
    EXPECT_GT(peakOf(got, 12400, 22400, 0), 0.1f); // the right step reaches the one channel
}

TEST_F(SpeakerRun, AStopEndsThePlayingTestAfterItsFadeWithoutWaitingForTheDrain)
{
    addSpeaker(L"spk", true);
    engine::SpeakerTestRun run(audio, L"spk", engine::chimeSignal(), controls);
    ASSERT_TRUE(run.open());
    EXPECT_FALSE(audio.stats(L"spk").lastMixFormat);
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(run.step());
        clock.advance(engine::kSpeakerTestWaitMicros);
    }
    EXPECT_EQ(controls.activeChannel.load(), static_cast<int32_t>(TestChannel::Left));
    const size_t before = audio.rendered(L"spk").size() / 2;
    controls.stopFlag = 1;
    // The fade's frames as the buffer frees room, 10 ms a step, and no drain.
    EXPECT_LE(playOut(run), 3);
    const auto got = audio.rendered(L"spk");
    EXPECT_EQ(got.size() / 2 - before, 1200u); // 25 ms at 48 kHz
    EXPECT_LT(std::abs(got.back()), 1e-6f);
    EXPECT_LT(std::abs(got[got.size() - 2]), 1e-3f);
    EXPECT_EQ(controls.activeChannel.load(), 0);
}

TEST(SpeakerTest, AnEndpointThatOpensInNeitherFormatLeavesTheStatusText)
{
    platform::sim::ManualClock clock;
    platform::sim::SimAudio audio{clock};
    platform::sim::SimEndpointSetup s;
    s.flow = platform::Flow::Render;
    s.id = L"spk24";
    s.acceptsFixedFormat = false;
    s.mixFormat = {2, 48000, 24, platform::SampleFormat::Pcm, false, 0};
    audio.addEndpoint(s);
    settings::Settings settings;
    settings.setDeviceName(settings::DeviceKind::Spk, L"spk24");
    engine::SpeakerTest test(clock, audio, settings);
    test.startSpeakerTest(engine::TestMode::Chime);
    test.stopSpeakerTest();
    EXPECT_FALSE(test.running());
    EXPECT_EQ(test.statusText(), engine::kSpeakerOpenFailedText);
    EXPECT_EQ(audio.stats(L"spk24").activations, 2);
    EXPECT_EQ(audio.stats(L"spk24").starts, 0);
}

} // namespace
