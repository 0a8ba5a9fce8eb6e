#include "dsp/voice_signals.h"
#include "dsp/voice_speed.h"
#include "support/alloc_counter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using namespace voicetest;

// A chirp whose frequency tells where in the input a stretch of output came
// from: f(t) = 200 Hz + 150 Hz/s · t.
constexpr double kChirpStart = 200.0;
constexpr double kChirpRate = 150.0;

std::vector<float> chirp(double seconds)
{
    std::vector<float> y(static_cast<size_t>(seconds * kFs));
    for (size_t i = 0; i < y.size(); ++i) {
        const double t = static_cast<double>(i) / kFs;
        y[i] = static_cast<float>(0.3 * std::sin(kTau * (kChirpStart * t + 0.5 * kChirpRate * t * t)));
    }
    return y;
}

// Mean frequency over y[from, from + count) from interpolated upward zero crossings.
double zeroCrossingHz(const std::vector<float>& y, size_t from, size_t count)
{
    double first = -1.0;
    double last = -1.0;
    int crossings = 0;
    for (size_t i = from + 1; i < from + count; ++i) {
        if (y[i - 1] < 0.0f && y[i] >= 0.0f) {
            const double t = static_cast<double>(i - 1) + y[i - 1] / (static_cast<double>(y[i - 1]) - y[i]);
            if (first < 0.0)
                first = t;
            last = t;
            ++crossings;
        }
    }
    return crossings > 2 ? (crossings - 1) * kFs / (last - first) : 0.0;
}

std::vector<float> run(
    std::vector<float> y, int speed, bool keepPitch, dsp::VoiceSpeed* probe = nullptr, size_t chunk = 480)
{
    dsp::VoiceSpeed local;
    dsp::VoiceSpeed& processor = probe ? *probe : local;
    if (!probe)
        processor.prepare(kFs);
    for (size_t i = 0; i < y.size(); i += chunk)
        processor.process(y.data() + i, static_cast<int>(std::min(chunk, y.size() - i)), speed, keepPitch);
    return y;
}

// How fast the output's content advances, in input seconds per output second:
// the chirp position at regular steps, summed over the steps that do not cross a
// jump (a replay of the recent past, or a return to the present).
double contentRate(const std::vector<float>& out, double speed, bool keepPitch)
{
    // Played like tape, the chirp's frequency is scaled by the speed too.
    const double pitch = keepPitch ? 1.0 : speed;
    // Steps of 0.1 s of content: long against the splices' back-and-forth.
    const double step = 0.1 / speed;
    double advanced = 0.0;
    double spent = 0.0;
    double previous = -1.0;
    for (double t = 0.5; t + 0.03 < static_cast<double>(out.size()) / kFs; t += step) {
        const double hz = zeroCrossingHz(out, static_cast<size_t>(t * kFs), 1024);
        const double position = hz > 0.0 ? (hz / pitch - kChirpStart) / kChirpRate : -1.0;
        if (previous >= 0.0 && position >= 0.0) {
            const double delta = position - previous;
            // A step across a jump (or a measuring window straddling one) is
            // left out; the bounds are far wider than the accuracy asked for.
            if (std::fabs(delta / (speed * step) - 1.0) < 0.5) {
                advanced += delta;
                spent += step;
            }
        }
        previous = position;
    }
    return spent > 0.0 ? advanced / spent : 0.0;
}

TEST(VoiceSpeed, At100WithNothingPendingTheVoicePassesBitExact)
{
    const std::vector<float> voice = synthVoice(steadyVoice(140.0), 0.5);
    for (bool keepPitch : {true, false}) {
        dsp::VoiceSpeed processor;
        processor.prepare(kFs);
        EXPECT_EQ(run(voice, 100, keepPitch, &processor), voice);
        EXPECT_FALSE(processor.active());
        EXPECT_EQ(processor.latencyMs(), 0);
    }
}

TEST(VoiceSpeed, StartsBehindTheNewestInputByTheOffsetOfItsMode)
{
    for (bool keepPitch : {true, false}) {
        dsp::VoiceSpeed processor;
        processor.prepare(kFs);
        std::vector<float> block(480, 0.1f);
        processor.process(block.data(), 1, 100, keepPitch);
        processor.process(block.data(), 1, 80, keepPitch);
        // One frame played at 0.8x since the start.
        EXPECT_NEAR(processor.lagFrames(), (keepPitch ? 384 + 576 + 8 : 6) - (keepPitch ? 1.0 : 0.8), 1e-9);
        EXPECT_TRUE(processor.active());
    }
}

TEST(VoiceSpeed, OverTenSecondsTheContentAdvancesAtTheRequestedSpeed)
{
    const std::vector<float> input = chirp(10.0);
    struct Case {
        int speed;
        bool keepPitch;
    };
    for (const Case c :
        {Case{50, true}, Case{75, true}, Case{150, true}, Case{200, true}, Case{50, false}, Case{200, false}}) {
        const std::vector<float> out = run(input, c.speed, c.keepPitch);
        const double rate = contentRate(out, c.speed / 100.0, c.keepPitch);
        EXPECT_NEAR(rate / (c.speed / 100.0), 1.0, 0.01) << c.speed << "% keep-pitch " << c.keepPitch;
    }
}

TEST(VoiceSpeed, KeepPitchHoldsTheFundamentalAndTapeModeMovesIt)
{
    const std::vector<float> voice = synthVoice(steadyVoice(150.0), 3.0);
    struct Case {
        int speed;
        bool keepPitch;
        double expectedHz;
    };
    for (const Case c : {Case{50, true, 150.0}, Case{200, true, 150.0}, Case{70, true, 150.0}, Case{50, false, 75.0},
             Case{150, false, 225.0}}) {
        const std::vector<float> out = run(voice, c.speed, c.keepPitch);
        std::vector<double> found;
        for (double t = 0.5; t < 2.9; t += 0.025) {
            const double hz = periodicityHz(out, static_cast<size_t>(t * kFs), 1200, c.expectedHz);
            if (hz > 0.0)
                found.push_back(hz);
        }
        ASSERT_GT(found.size(), 60u) << c.speed;
        EXPECT_LT(std::fabs(cents(median(found), c.expectedHz)), 20.0) << c.speed << "% keep-pitch " << c.keepPitch;
    }
}

TEST(VoiceSpeed, BackAt100ItCatchesUpStopsAndPassesTheVoiceAgain)
{
    // Words of 300 ms with 150 ms pauses: the catch-up ends in a pause.
    std::vector<float> voice = synthVoice(steadyVoice(130.0, 20.0), 9.0);
    for (size_t i = 0; i < voice.size(); ++i)
        if (i % 21600 >= 14400)
            voice[i] = 0.0f;
    for (bool keepPitch : {true, false}) {
        dsp::VoiceSpeed processor;
        processor.prepare(kFs);
        std::vector<float> slow(voice.begin(), voice.begin() + 96000);
        run(slow, 50, keepPitch, &processor);
        EXPECT_NEAR(processor.latencyMs(), 1000, 60) << keepPitch;

        std::vector<float> rest(voice.begin() + 96000, voice.end());
        const std::vector<float> original = rest;
        int stoppedAt = -1;
        for (size_t i = 0; i < rest.size(); i += 480) {
            processor.process(rest.data() + i, 480, 100, keepPitch);
            if (stoppedAt < 0 && !processor.active())
                stoppedAt = static_cast<int>(i + 480);
        }
        // A second of backlog at 1.5x takes two seconds, then a pause is awaited.
        ASSERT_GT(stoppedAt, 0) << keepPitch;
        EXPECT_LT(stoppedAt, static_cast<int>(3.0 * kFs)) << keepPitch;
        EXPECT_EQ(processor.latencyMs(), 0);
        const auto from = static_cast<std::ptrdiff_t>(stoppedAt);
        EXPECT_TRUE(std::equal(rest.begin() + from, rest.end(), original.begin() + from)) << keepPitch;
    }
}

TEST(VoiceSpeed, NeverAllocatesAndStaysFiniteOnSilenceNoiseAndADcStep)
{
    dsp::VoiceSpeed processor;
    processor.prepare(kFs);
    std::vector<float> block(dsp::VoiceSpeed::kMaxChunk);
    dsp::Lcg random{7};
    test::AllocationCounter counter;
    for (int b = 0; b < 700; ++b) {
        const int phase = b / 100;
        for (float& x : block) {
            const float noise = random.bipolar();
            x = phase == 1 ? noise : phase == 2 ? 1.0f : phase == 3 ? -1.0f : phase == 5 ? noise : 0.0f;
        }
        const int speed = (b / 37) % 2 == 0 ? 50 + (b * 7) % 151 : 100;
        processor.process(block.data(), static_cast<int>(block.size()), speed, (b / 53) % 2 == 0);
        for (float y : block)
            ASSERT_TRUE(std::isfinite(y) && std::fabs(y) < 2.0f) << "block " << b;
    }
    EXPECT_EQ(counter.count(), 0u);
}

} // namespace
