// The mask table and the mask channel engine: the light kinds on tones, state
// kept or cleared across configuration changes, the spectral engine's
// reconstruction.

#include "dsp/mask_channel.h"
#include "dsp/mask_spectral.h"
#include "dsp/mask_table.h"
#include "mask_signals.h"
#include "signal_util.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace dsp {
namespace {

using mask_test::tone;
using testing::amplitudeAt;
using testing::kFs;

TEST(MaskTable, RowsAreCompleteAndConsistent)
{
    int lastExtendedKind = kFirstExtendedKind - 1;
    for (int i = 0; i < kMaskCount; ++i) {
        const MaskRow& row = kMasks[static_cast<size_t>(i)];
        EXPECT_GE(row.ratio, 400) << i;
        EXPECT_LE(row.ratio, 2500) << i;
        EXPECT_GE(row.size, 60) << i;
        EXPECT_LE(row.size, 150) << i;
        // The extended masks run kinds 5..26 in row order (two of them none).
        const int kind = static_cast<int>(row.kind);
        if (i < kZephraMaskCount) {
            EXPECT_FALSE(isExtended(row.kind)) << i;
        } else if (kind != 0) {
            EXPECT_EQ(kind, lastExtendedKind + 1) << i;
            lastExtendedKind = kind;
        }
        EXPECT_EQ(maskHasExtraEffect(i), kind != 0 || i == 41) << i;
    }
    EXPECT_EQ(lastExtendedKind, kMaskKindCount - 1);
    EXPECT_EQ(kMasks[29].ratio, 2450);
    EXPECT_EQ(kMasks[17].p1, 5.5);
    EXPECT_EQ(kMasks[17].p2, 0.65);
    const VoiceMaskValues stranger = maskVoiceValues(41);
    EXPECT_EQ(stranger.macro, 1.0);
    EXPECT_EQ(stranger.pitchExponent, 0.6);
    EXPECT_EQ(stranger.formantExponent, 0.3);
    EXPECT_EQ(stranger.alternateAttenuation, 0.15);
    EXPECT_TRUE(isNeutral(maskVoiceValues(40)));
    EXPECT_EQ(findMask(-1), nullptr);
    EXPECT_EQ(findMask(42), nullptr);
    EXPECT_TRUE(isNeutral(maskVoiceValues(42)));
    EXPECT_TRUE(isNeutral(maskVoiceValues(-1)));
}

std::vector<float> runKind(MaskKind kind, double p1, double p2, std::vector<float> x)
{
    MaskChannel engine;
    engine.prepare(kFs, isExtended(kind));
    engine.configure(kind, p1, p2);
    engine.process(x.data(), static_cast<int>(x.size()));
    return x;
}

TEST(MaskChannel, GlitchEventsKeepTheHistoryTheirLongestReversalReadsFrom)
{
    // A reversal plays up to the last 0.25 s backwards; a shorter history
    // wraps, so the slice holds recent audio and clicks where it wrapped.
    MaskChannel engine;
    engine.prepare(kFs);
    EXPECT_GE(static_cast<double>(engine.glitchHistoryFrames()), 0.4 * kFs);
}

TEST(MaskChannel, RingModulationPutsSidebandsAtTheCarrierPlusAndMinusP1)
{
    const auto y = runKind(MaskKind::RingModulation, 90, 0.6, tone(1000, 0.5, 48000));
    // x·(0.6·cos φ + 0.4): 0.4 of the carrier, 0.3 in each sideband.
    EXPECT_NEAR(amplitudeAt(y, 0, 48000, 1000), 0.2, 0.005);
    EXPECT_NEAR(amplitudeAt(y, 0, 48000, 910), 0.15, 0.005);
    EXPECT_NEAR(amplitudeAt(y, 0, 48000, 1090), 0.15, 0.005);
    EXPECT_LT(amplitudeAt(y, 0, 48000, 1180), 0.002);
}

TEST(MaskChannel, TremoloModulatesTheLevelByP2)
{
    const auto y = runKind(MaskKind::Tremolo, 5, 0.55, tone(1000, 0.5, 48000));
    // Each 20 ms window holds whole periods of the carrier; the gain swings
    // between 1 and 1 − P2 at 5 Hz.
    double low = 1.0;
    double high = 0.0;
    for (size_t at = 0; at + 960 <= y.size(); at += 240) {
        const double level = mask_test::rms(y.data() + at, 960) / (0.5 / std::sqrt(2.0));
        low = std::min(low, level);
        high = std::max(high, level);
    }
    EXPECT_NEAR(high, 1.0, 0.03);
    EXPECT_NEAR(low, 0.45, 0.04);
    EXPECT_NEAR(amplitudeAt(y, 0, 48000, 1005), 0.5 * 0.1375, 0.003);
}

TEST(MaskChannel, RadioDrivePassesItsBandAndAttenuatesOutside)
{
    // A small signal keeps the tanh in its linear part: the gain is 0.9·H.
    auto gainDb = [](double freq) {
        const auto y = runKind(MaskKind::RadioDrive, 1.0, 0, tone(freq, 0.01, 96000));
        return 20.0 * std::log10(amplitudeAt(y, 48000, 48000, freq) / 0.01);
    };
    for (double f : {700.0, 1200.0, 2000.0})
        EXPECT_GT(gainDb(f), -4.0) << f;
    EXPECT_LT(gainDb(100), -25.0);
    EXPECT_LT(gainDb(9000), -20.0);
}

TEST(MaskChannel, VibratoDeviatesThePitchAtItsRate)
{
    const auto y = runKind(MaskKind::Vibrato, 5.5, 0.65, tone(1000, 0.5, 96000));
    // Instantaneous frequency from rising zero crossings, then its
    // modulation at 5.5 Hz against other rates.
    std::vector<std::pair<double, double>> track; // time, frequency
    double last = -1.0;
    for (size_t i = 4800; i < y.size(); ++i) {
        if (y[i - 1] < 0.0f && y[i] >= 0.0f) {
            const double t = (static_cast<double>(i) - 1.0 + y[i - 1] / (y[i - 1] - y[i])) / kFs;
            if (last > 0.0)
                track.emplace_back(0.5 * (t + last), 1.0 / (t - last));
            last = t;
        }
    }
    auto modulation = [&](double rate) {
        std::complex<double> sum;
        for (auto [t, f] : track)
            sum += (f - 1000.0) * std::polar(1.0, -2.0 * kPi * rate * t);
        return 2.0 * std::abs(sum) / static_cast<double>(track.size());
    };
    // 1000 Hz × 2π·5.5·(0.0045·fs·0.65)/fs ≈ 101 Hz of deviation.
    EXPECT_NEAR(modulation(5.5), 101.0, 10.0);
    EXPECT_LT(modulation(3.0), 10.0);
    EXPECT_LT(modulation(9.0), 10.0);
}

// The property that makes each extended kind that mask, one check each: a band
// its filters lift or cut (two tones in one run, so the level matcher moves
// both alike), a modulation's sideband, an echo's delay, the phone's steps.
double twoToneDb(MaskKind kind, double a, double b)
{
    auto x = tone(a, 0.2, 96000);
    const auto second = tone(b, 0.2, 96000);
    for (size_t i = 0; i < x.size(); ++i)
        x[i] += second[i];
    const auto y = runKind(kind, 0, 0, x);
    const size_t from = 48000;
    return 20.0 * std::log10(mask_test::spectrumAt(y.data() + from, 48000, a) / mask_test::spectrumAt(y.data() + from, 48000, b));
}

// Frames from a 2 ms burst's start to the strongest output after the burst has passed.
size_t echoDelay(MaskKind kind)
{
    std::vector<float> x(48000, 0.0f);
    const auto burst = tone(1000, 0.4, 96);
    std::copy(burst.begin(), burst.end(), x.begin() + 4800);
    const auto y = runKind(kind, 0, 0, x);
    size_t best = 0;
    for (size_t i = 4800 + 96 + 400; i < y.size(); ++i)
        if (std::fabs(y[i]) > std::fabs(y[best]))
            best = i;
    return best - 4800;
}

// The largest deviation of a 1 kHz tone's pitch, cycle by cycle, from 1 s on.
double largestPitchDeviation(MaskKind kind, double seconds)
{
    const auto y = runKind(kind, 0, 0, tone(1000, 0.3, static_cast<size_t>(seconds * kFs)));
    double last = -1.0;
    double largest = 0.0;
    for (size_t i = 48000; i < y.size(); ++i) {
        if (y[i - 1] < 0.0f && y[i] >= 0.0f) {
            const double at = static_cast<double>(i - 1) + y[i - 1] / (y[i - 1] - y[i]);
            if (last >= 0.0)
                largest = std::max(largest, std::fabs(kFs / (at - last) / 1000.0 - 1.0));
            last = at;
        }
    }
    return largest;
}

TEST(MaskChannel, EachExtendedKindHasItsDefiningProperty)
{
    struct Band {
        MaskKind kind;
        double a, b; // frequencies
        double low, high; // dB of a over b
    };
    const Band bands[] = {
        {MaskKind::Duck, 1300, 700, 9.0, 14.0},   // Duck: +12 dB peak at 1300 Hz, Q 3
        {MaskKind::Underwater, 3000, 400, -90.0, -40.0}, // Underwater: low-passes at 800 and 1300 Hz
        {MaskKind::MickeyMouse, 1500, 600, 3.5, 8.0},   // Mickey Mouse: +6 dB at 1500 Hz
        {MaskKind::Goblin, 900, 3000, 3.0, 7.0},   // Goblin: +5 dB at 900 Hz
        // Cyborg: v plus a 5.3 ms comb fed back ×0.62, (1 + 0.38·z^−D)/(1 − 0.62·z^−D):
        // its 188.7 Hz harmonics stand 19.5 dB over the notches between them.
        {MaskKind::Cyborg, 5 * 188.68, 5.5 * 188.68, 18.0, 21.0},
    };
    for (const Band& c : bands) {
        const double db = twoToneDb(c.kind, c.a, c.b);
        EXPECT_GT(db, c.low) << "kind " << static_cast<int>(c.kind);
        EXPECT_LT(db, c.high) << "kind " << static_cast<int>(c.kind);
    }

    // Monster's 38..46 Hz and Bumblebee's 190 Hz modulation: sidebands of a 1 kHz tone.
    const auto monster = runKind(MaskKind::Monster, 0, 0, tone(1000, 0.2, 96000));
    auto bandEnergy = [](const std::vector<float>& y, double from, double to) {
        double e = 0.0;
        for (double f = from; f <= to; f += 1.0)
            e = std::max(e, mask_test::spectrumAt(y.data() + 48000, 48000, f));
        return e;
    };
    EXPECT_GT(bandEnergy(monster, 1038, 1046), 10.0 * bandEnergy(monster, 1015, 1025));
    const auto bee = runKind(MaskKind::Bumblebee, 0, 0, tone(1000, 0.2, 96000));
    EXPECT_GT(bandEnergy(bee, 1189, 1191), 10.0 * bandEnergy(bee, 1100, 1110));

    // The vibrato delay's pitch deviation: Baby ±1.2 %, Zombie ±3 %, Drunk
    // 4.1..6.6 % at 0.35..0.8 Hz.
    EXPECT_NEAR(largestPitchDeviation(MaskKind::Baby, 3.0), 0.012, 0.002);
    EXPECT_NEAR(largestPitchDeviation(MaskKind::Zombie, 4.0), 0.03, 0.004);
    const double drunk = largestPitchDeviation(MaskKind::Drunk, 8.0);
    EXPECT_GT(drunk, 0.035);
    EXPECT_LT(drunk, 0.07);

    // Giant's 0.11 s and Megaphone's 0.17 s echoes.
    EXPECT_NEAR(static_cast<double>(echoDelay(MaskKind::Giant)), 0.11 * kFs, 150.0);
    EXPECT_NEAR(static_cast<double>(echoDelay(MaskKind::Megaphone)), 0.17 * kFs, 150.0);

    // Phone Call: held values on 64 logarithmic steps of an 8-bit scale, so
    // neighbouring distinct magnitudes differ by at least 255^(1/63).
    std::vector<float> rising = tone(1000, 1.0, 96000);
    for (size_t i = 0; i < rising.size(); ++i)
        rising[i] *= static_cast<float>(0.02 + 0.3 * static_cast<double>(i) / 96000.0);
    const auto phone = runKind(MaskKind::PhoneCall, 0, 0, rising);
    double smallest = 1e9;
    for (size_t i = 24000; i + 1 < phone.size(); ++i) {
        const double a = std::fabs(phone[i]);
        const double b = std::fabs(phone[i + 1]);
        if (a > 0.01 && b > 0.01 && (phone[i] > 0) == (phone[i + 1] > 0) && std::fabs(a / b - 1.0) > 0.01)
            smallest = std::min(smallest, std::fabs(std::log(a / b)));
    }
    EXPECT_NEAR(smallest, std::log(255.0) / 63.0, 0.2 * std::log(255.0) / 63.0);
}

TEST(MaskChannel, SameKindKeepsItsStateAndAKindChangeClearsIt)
{
    MaskChannel engine;
    engine.prepare(kFs);
    auto noise = tone(300, 0.3, 1000);
    engine.configure(MaskKind::RingModulation, 90, 0.6);
    engine.process(noise.data(), 1000);
    const double phase = engine.phase();
    EXPECT_NEAR(phase, std::fmod(1000 * 2.0 * kPi * 90 / kFs, 2.0 * kPi), 1e-9);
    engine.configure(MaskKind::RingModulation, 150, 0.5);
    EXPECT_EQ(engine.phase(), phase);
    EXPECT_EQ(engine.p1(), 150);

    engine.configure(MaskKind::RadioDrive, 5.5, 0);
    engine.process(noise.data(), 1000);
    const BiquadState before = engine.slot(0).state;
    EXPECT_NE(before.s1, 0.0);
    engine.configure(MaskKind::RadioDrive, 2.0, 0);
    EXPECT_EQ(engine.slot(0).state.s1, before.s1);
    engine.configure(MaskKind::Astronaut, 0, 0);
    for (int slot = 0; slot < 4; ++slot) {
        EXPECT_EQ(engine.slot(slot).state.s1, 0.0);
        EXPECT_EQ(engine.slot(slot).state.s2, 0.0);
    }
    EXPECT_EQ(engine.slot(0).coeffs, designHighPass(320, kQ07072, kFs));
}

TEST(MaskChannel, OutOfRangeKindsAreClampedAndTheRightChannelStaysLight)
{
    MaskChannel engine;
    engine.prepare(kFs);
    engine.configure(99, 0, 0);
    EXPECT_EQ(engine.kind(), MaskKind::Stranger);
    engine.configure(-3, 0, 0);
    EXPECT_EQ(engine.kind(), MaskKind::None);
    MaskChannel light;
    light.prepare(kFs, false, 256);
    light.configure(12, 0, 0);
    EXPECT_EQ(light.kind(), MaskKind::None);
    auto x = tone(440, 0.3, 256);
    const auto copy = x;
    light.process(x.data(), 256);
    EXPECT_EQ(x, copy);
}

TEST(MaskChannel, AstronautBeepsAroundTalkAndDarkLordBreathesInPauses)
{
    // One second of a 300 Hz "voice", then three seconds of silence.
    auto x = tone(300, 0.2, 4 * 48000);
    std::fill(x.begin() + 48000, x.end(), 0.0f);
    const auto radio = runKind(MaskKind::Astronaut, 0, 0, x);
    // The opening beep at 2525 Hz over the first quarter second; the closing
    // one at 2475 Hz once the voice has been gone for 0.35 s; both at 0.1.
    EXPECT_NEAR(amplitudeAt(radio, 2400, 7200, 2525), 0.1, 0.02);
    double closing = 0.0;
    size_t closingAt = 0;
    for (size_t at = 48000; at < 2 * 48000; at += 1200) {
        const double a = amplitudeAt(radio, at, 4800, 2475);
        if (a > closing) {
            closing = a;
            closingAt = at;
        }
    }
    EXPECT_NEAR(closing, 0.1, 0.02);
    EXPECT_GT(closingAt, 48000 + static_cast<size_t>(0.35 * kFs));
    EXPECT_LT(amplitudeAt(radio, closingAt, 4800, 2525), 0.02);
    // After the burst the channel is closed and quiet.
    EXPECT_LT(mask_test::rms(radio.data() + 3 * 48000, 48000), 1e-4);

    const auto breaths = runKind(MaskKind::DarkLord, 0, 0, x);
    // No breath within 0.8 s of the voice stopping, then an inhale.
    EXPECT_LT(mask_test::rms(breaths.data() + 48000 + 9600, 24000), 1e-4);
    EXPECT_GT(mask_test::rms(breaths.data() + 48000 + 48000, 24000), 1e-3);
}

TEST(MaskChannel, ThreeOfMeAddsAHigherAndALowerVoice)
{
    // A 150 Hz buzz (eight harmonics): the voices sing at 1.335 and 0.749 times
    // its fundamental beside the delayed original.
    std::vector<float> x(3 * 48000);
    for (size_t i = 0; i < x.size(); ++i) {
        double v = 0.0;
        for (int h = 1; h <= 8; ++h)
            v += std::sin(2.0 * kPi * 150.0 * h * static_cast<double>(i) / kFs) / h;
        x[i] = static_cast<float>(0.15 * v);
    }
    const auto y = runKind(MaskKind::ThreeOfMe, 0, 0, x);
    const float* tail = y.data() + 2 * 48000;
    const double dry = mask_test::spectrumAt(tail, 48000, 150.0);
    EXPECT_GT(mask_test::spectrumAt(tail, 48000, 150.0 * 1.335), 0.2 * dry);
    EXPECT_GT(mask_test::spectrumAt(tail, 48000, 150.0 * 0.749), 0.2 * dry);
    EXPECT_LT(mask_test::spectrumAt(tail, 48000, 175.0), 0.05 * dry);
}

TEST(MaskSpectral, NeutralSetupRebuildsTheInputAfterItsLatency)
{
    MaskSpectral spectral;
    spectral.prepare(kFs);
    spectral.setup({false, 1.0, 0.0, 100, 0});
    auto x = tone(440, 0.4, 24000);
    const auto in = x;
    spectral.process(x.data(), static_cast<int>(x.size()));
    for (size_t i = 4096; i < x.size(); ++i)
        ASSERT_NEAR(x[i], in[i - MaskSpectral::kLatency], 2e-3) << i;
    EXPECT_EQ(spectral.bandEdges().front(), 1);
    EXPECT_EQ(spectral.bandEdges().back(), MaskSpectral::kBins);
}

TEST(MaskSpectral, WhisperKeepsTheLevelButNotThePitch)
{
    MaskSpectral spectral;
    spectral.prepare(kFs);
    spectral.setup({true, 1.0, 0.0, 100, 0});
    auto x = tone(440, 0.4, 48000);
    spectral.process(x.data(), 48000);
    const double level = mask_test::rms(x.data() + 24000, 24000) / (0.4 / std::sqrt(2.0));
    EXPECT_GT(level, 0.5);
    EXPECT_LT(level, 2.0);
    // The tone's energy is spread over its band instead of sitting at 440 Hz.
    EXPECT_LT(amplitudeAt(x, 24000, 24000, 440), 0.4 * 0.3);
}

} // namespace
} // namespace dsp
