#include "dsp/pitch_detector.h"
#include "dsp/random.h"
#include "dsp/voice_changer.h"
#include "dsp/voice_signals.h"
#include "support/alloc_counter.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <vector>

namespace {

using namespace voicetest;

// Runs the detector over y every 480 frames; the true fundamental of each
// window's centre comes from truth(t).
struct Track {
    std::vector<double> hz;   // 0 where nothing was detected
    std::vector<double> time; // window centre, seconds
};

Track track(const std::vector<float>& y)
{
    dsp::PitchDetector detector;
    detector.prepare(kFs);
    Track t;
    for (size_t start = 0; start + dsp::PitchDetector::kWindow <= y.size(); start += 480) {
        t.hz.push_back(detector.analyse(y.data() + start).hz);
        t.time.push_back((static_cast<double>(start) + dsp::PitchDetector::kWindow / 2.0) / kFs);
    }
    return t;
}

// Runs a voice changer over y in 480-frame blocks.
std::vector<float> change(std::vector<float> y, double pitchHz, double size, double ratio,
    const dsp::VoiceMaskValues& mask = {}, dsp::VoiceChanger* probe = nullptr)
{
    dsp::VoiceChanger local;
    dsp::VoiceChanger& changer = probe ? *probe : local;
    changer.prepare(kFs);
    changer.setVoice(pitchHz, size, ratio);
    changer.setMaskValues(mask);
    for (size_t i = 0; i < y.size(); i += 480)
        changer.process(y.data() + i, static_cast<int>(std::min<size_t>(480, y.size() - i)));
    return y;
}

// Median fundamental of y over [from, to) seconds, measured near `expected`.
double medianHz(const std::vector<float>& y, double from, double to, double expected)
{
    std::vector<double> found;
    for (double t = from; t + 0.05 < to; t += 0.025) {
        const double hz = periodicityHz(y, static_cast<size_t>(t * kFs), 2400, expected);
        if (hz > 0.0)
            found.push_back(hz);
    }
    return found.size() * 2 > static_cast<size_t>((to - from) / 0.025) ? median(found) : 0.0;
}

// Frequency of the strongest spectral envelope peak in lo..hi, from the
// harmonic amplitudes of a voice at f0 (parabola through log amplitudes).
double envelopePeakHz(const std::vector<float>& y, size_t from, size_t count, double f0, double lo, double hi)
{
    std::vector<double> amp;
    const int first = static_cast<int>(std::ceil(lo / f0));
    const int last = static_cast<int>(hi / f0);
    for (int k = first - 1; k <= last + 1; ++k) {
        std::complex<double> sum;
        for (size_t i = 0; i < count; ++i) {
            const double w = 0.5 - 0.5 * std::cos(kTau * static_cast<double>(i) / static_cast<double>(count));
            sum += w * y[from + i] * std::polar(1.0, -kTau * k * f0 * static_cast<double>(i) / kFs);
        }
        amp.push_back(std::log(std::abs(sum) + 1e-12));
    }
    size_t best = 1;
    for (size_t i = 1; i + 1 < amp.size(); ++i)
        if (amp[i] > amp[best])
            best = i;
    const double a = amp[best - 1];
    const double b = amp[best];
    const double c = amp[best + 1];
    const double curve = a - 2.0 * b + c;
    const double shift = curve < 0.0 ? 0.5 * (a - c) / curve : 0.0;
    return (first - 1 + static_cast<double>(best) + shift) * f0;
}

// Per fifth of a render of a gliding synthetic voice followed by quiet noise:
// the RMS and the mean product with a fixed ±1 sequence. Recorded from the
// changer whose mark search read the ring one product at a time and whose
// grains checked every frame; renders must stay within −80 dB of it, so speed
// work cannot change the sound.
struct WindowPrint {
    double rms;
    double correlation;
};
using RenderPrint = std::array<WindowPrint, 5>;

// The voice changer's paths: the fundamental moved with the formants lowered,
// the fundamental kept with the size changed, the macro mask with alternate
// grains attenuated, and a lowered voice fed in odd blocks.
struct PrintSetting {
    double pitchHz, size, ratio;
    dsp::VoiceMaskValues mask;
    int block;
};
constexpr PrintSetting kPrintSettings[] = {
    {60.0, 120.0, 1.0, {}, 480},
    {0.0, 130.0, 1.0, {}, 480},
    {0.0, 120.0, 0.72, {1.0, 0.6, 0.3, 0.15}, 480},
    {-100.0, 80.0, 0.7, {}, 137},
};

constexpr RenderPrint kRecordedPrints[] = {
    {{{0.096277205, -3.24469618e-05}, {0.118050234, -0.00032783553}, {0.0679401663, 0.000170144392}, {0.0584789491, 0.000217247423}, {0.0418026683, -0.000132898402}}},
    {{{0.10351998, 0.0004597346}, {0.115108444, -0.000923289335}, {0.0700370002, -0.000109904961}, {0.0592028829, 0.000101169367}, {0.0401745941, 3.68966008e-05}}},
    {{{0.104283152, 0.000561899153}, {0.116569608, -0.000248715203}, {0.0692675874, -0.000123115168}, {0.0581436048, -0.000147126829}, {0.0414342758, 2.48401759e-05}}},
    {{{0.108274751, 0.000461227762}, {0.116260906, -0.000255165791}, {0.0651513192, 0.000224097761}, {0.056436305, -6.39961188e-05}, {0.0409489129, 0.000212927042}}},
};

RenderPrint renderPrint(const PrintSetting& setting)
{
    std::vector<float> y = synthVoice({[](double t) { return 130.0 + 40.0 * std::sin(kTau * 0.4 * t); }}, 2.5);
    dsp::Lcg noise{99};
    y.resize(y.size() + static_cast<size_t>(0.5 * kFs));
    for (size_t i = y.size() - static_cast<size_t>(0.5 * kFs); i < y.size(); ++i)
        y[i] = 0.02f * noise.bipolar();
    dsp::VoiceChanger changer;
    changer.prepare(kFs);
    changer.setVoice(setting.pitchHz, setting.size, setting.ratio);
    changer.setMaskValues(setting.mask);
    for (size_t i = 0; i < y.size(); i += static_cast<size_t>(setting.block))
        changer.process(y.data() + i, static_cast<int>(std::min<size_t>(setting.block, y.size() - i)));

    dsp::Lcg sequence{1234};
    RenderPrint print{};
    const size_t window = y.size() / print.size();
    for (size_t w = 0; w < print.size(); ++w) {
        double e = 0.0, c = 0.0;
        for (size_t i = w * window; i < (w + 1) * window; ++i) {
            e += static_cast<double>(y[i]) * y[i];
            c += static_cast<double>(y[i]) * sequence.bipolar();
        }
        print[w] = {std::sqrt(e / static_cast<double>(window)), c / static_cast<double>(window)};
    }
    return print;
}

TEST(PitchDetector, FindsSyntheticVoicesFrom80To350HzWithinOnePercent)
{
    struct Case {
        const char* name;
        VoiceRecipe recipe;
    };
    const std::vector<Case> cases{
        {"80 Hz", steadyVoice(80.0)},
        {"110 Hz with vibrato", steadyVoice(110.0, 40.0)},
        {"165 Hz", steadyVoice(165.0)},
        {"220 Hz with vibrato", steadyVoice(220.0, 40.0)},
        {"350 Hz", steadyVoice(350.0)},
        // Glides at about an octave per second, as fast as speech intonation moves.
        {"glide 80 to 350 Hz", {[](double t) { return 80.0 * std::pow(350.0 / 80.0, std::min(t / 2.0, 1.0)); }}},
        {"glide 300 to 90 Hz, vowel /i/",
            {[](double t) { return 300.0 * std::pow(90.0 / 300.0, std::min(t / 2.0, 1.0)); },
                {{270.0, 60.0}, {2290.0, 100.0}, {3010.0, 150.0}}}},
    };
    for (const Case& c : cases) {
        const std::vector<float> voice = synthVoice(c.recipe, 2.0);
        const Track t = track(voice);
        std::vector<double> errors;
        for (size_t i = 0; i < t.hz.size(); ++i)
            errors.push_back(t.hz[i] > 0.0 ? std::fabs(t.hz[i] / c.recipe.f0(t.time[i]) - 1.0) : 1.0);
        EXPECT_LT(median(errors), 0.01) << c.name;
    }
}

TEST(PitchDetector, ReportsNothingForAWhistleAboveOrAGrowlBelowTheVoiceRange)
{
    for (const auto& y : {sine(600.0, 0.5), synthVoice(steadyVoice(600.0), 0.5), sine(50.0, 0.5),
             synthVoice(steadyVoice(50.0), 0.5), std::vector<float>(24000, 0.0f)}) {
        const Track t = track(y);
        for (double hz : t.hz)
            EXPECT_EQ(hz, 0.0);
    }
}

TEST(VoiceChanger, MovesASustainedVowelToTheTargetFundamental)
{
    struct Case {
        const char* name;
        double voiceHz, pitchHz, ratio;
        dsp::VoiceMaskValues mask;
        double expectedHz;
    };
    const std::vector<Case> cases{
        {"ratio 1.5", 120.0, 0.0, 1.5, {}, 180.0},
        {"ratio 0.7", 200.0, 0.0, 0.7, {}, 140.0},
        {"offset +60 Hz", 110.0, 60.0, 1.0, {}, 170.0},
        {"offset -40 Hz and ratio 1.2", 150.0, -40.0, 1.2, {}, 140.0},
        // Macro mode centres a steady voice at 120 Hz whatever its own pitch.
        {"macro", 190.0, 0.0, 1.0, {1.0, 0.6, 0.3, 0.0}, 120.0},
        {"macro with ratio 1.25", 95.0, 0.0, 1.25, {1.0, 0.6, 0.0, 0.0}, 150.0},
        // -150 Hz on a 100 Hz voice would ask for -50 Hz: held at 72 Hz.
        {"offset -150 Hz held at 72 Hz", 100.0, -150.0, 1.0, {}, 72.0},
    };
    for (const Case& c : cases) {
        dsp::VoiceChanger changer;
        const std::vector<float> out
            = change(synthVoice(steadyVoice(c.voiceHz), 2.0), c.pitchHz, 100.0, c.ratio, c.mask, &changer);
        const double hz = medianHz(out, 1.0, 2.0, c.expectedHz);
        ASSERT_GT(hz, 0.0) << c.name << ": no clear period near the target";
        EXPECT_LT(std::fabs(cents(hz, c.expectedHz)), 20.0) << c.name << ": " << hz << " Hz";
        EXPECT_NEAR(changer.targetHz(), c.expectedHz, c.expectedHz * 0.005) << c.name;
        EXPECT_NEAR(changer.detectedHz(), c.voiceHz, c.voiceHz * 0.01) << c.name;
    }
}

TEST(VoiceChanger, ASizeAbove100LowersTheFormantsAndKeepsTheFundamental)
{
    const std::vector<float> voice = synthVoice(steadyVoice(100.0), 2.0);
    const std::vector<float> out = change(voice, 0.0, 120.0, 1.0);
    const size_t from = 48000;
    const double inF1 = envelopePeakHz(voice, from, 24000, 100.0, 400.0, 1000.0);
    const double outF1 = envelopePeakHz(out, from, 24000, 100.0, 400.0, 1000.0);
    EXPECT_NEAR(outF1 / inF1, 1.0 / 1.2, 0.07) << inF1 << " Hz -> " << outF1 << " Hz";
    const double hz = medianHz(out, 1.0, 2.0, 100.0);
    EXPECT_LT(std::fabs(cents(hz, 100.0)), 20.0) << hz;
}

TEST(VoiceChanger, WithTheFundamentalKeptItRebuildsTheVoice2600FramesLateAtItsOwnLevel)
{
    // Size 100 forced through the changer: grains on the marks put the voice back together.
    const std::vector<float> voice = synthVoice(steadyVoice(130.0, 30.0), 2.0);
    const std::vector<float> out = change(voice, 0.0, 100.0, 1.0);
    double cross = 0.0;
    double inEnergy = 0.0;
    double outEnergy = 0.0;
    for (size_t i = 48000; i < voice.size(); ++i) {
        const double x = voice[i - dsp::VoiceChanger::kLatencyFrames];
        cross += x * out[i];
        inEnergy += x * x;
        outEnergy += static_cast<double>(out[i]) * out[i];
    }
    EXPECT_GT(cross / std::sqrt(inEnergy * outEnergy), 0.95);
    EXPECT_NEAR(10.0 * std::log10(outEnergy / inEnergy), 0.0, 1.0);
}

TEST(VoiceChanger, AWhistleOrAGrowlRunsUnvoicedAndReportsNoFundamental)
{
    for (const auto& y : {sine(600.0, 1.5), synthVoice(steadyVoice(50.0), 1.5)}) {
        dsp::VoiceChanger changer;
        const std::vector<float> out = change(y, 40.0, 100.0, 1.3, {}, &changer);
        EXPECT_EQ(changer.detectedHz(), 0.0);
        EXPECT_EQ(changer.targetHz(), 0.0);
        EXPECT_FALSE(changer.hasDetected());
        // Unvoiced grains still carry the sound through at its level.
        double in = 0.0;
        double outEnergy = 0.0;
        for (size_t i = 48000; i < y.size(); ++i) {
            in += static_cast<double>(y[i]) * y[i];
            outEnergy += static_cast<double>(out[i]) * out[i];
        }
        EXPECT_NEAR(10.0 * std::log10(outEnergy / in), 0.0, 3.0);
    }
}

TEST(VoiceChanger, TheAlternateGrainAttenuationAddsASubharmonic)
{
    const std::vector<float> voice = synthVoice(steadyVoice(150.0), 1.5);
    const std::vector<float> plain = change(voice, 0.0, 100.0, 0.8);
    const std::vector<float> growl = change(voice, 0.0, 100.0, 0.8, {0.0, 1.0, 0.0, 0.5});
    // Every second grain quieter: the output repeats only every two periods.
    const double sub = 120.0 / 2.0;
    const auto strength = [&](const std::vector<float>& y) {
        std::complex<double> sum;
        for (size_t i = 48000; i < 72000; ++i)
            sum += static_cast<double>(y[i]) * std::polar(1.0, -kTau * sub * static_cast<double>(i) / kFs);
        return std::abs(sum);
    };
    EXPECT_GT(strength(growl), 5.0 * strength(plain));
}

TEST(VoiceChanger, SettingsAreClampedAndNeutralityIsReported)
{
    dsp::VoiceChanger changer;
    changer.prepare(kFs);
    EXPECT_TRUE(changer.neutral());
    changer.setVoice(0.0, 120.0, 1.0);
    EXPECT_FALSE(changer.neutral());
    changer.setVoice(0.0, 100.0, 1.0);
    changer.setMaskValues(1.0, 1.0, 0.0, 0.0);
    EXPECT_FALSE(changer.neutral());
    changer.setMaskValues(0.0, 1.0, 0.0, 0.0);
    changer.setVoice(std::nan(""), 1000.0, 0.0);
    EXPECT_FALSE(changer.neutral()); // size 150, ratio 0.4
    // -150 Hz beyond the range is held at -150; on a 100 Hz voice that asks for 72 Hz.
    changer.setVoice(-400.0, 100.0, 1.0);
    std::vector<float> voice = synthVoice(steadyVoice(100.0), 1.0);
    changer.process(voice.data(), static_cast<int>(voice.size()));
    EXPECT_NEAR(changer.targetHz(), 72.0, 1e-9);
}

TEST(VoiceChanger, TwoInstancesSideBySideGiveWhatEachGivesAlone)
{
    const std::vector<float> voice = synthVoice(steadyVoice(140.0, 20.0), 0.6);
    const std::vector<float> aloneA = change(voice, 0.0, 92.0, 1.335);
    const std::vector<float> aloneB = change(voice, 0.0, 118.0, 0.749);
    dsp::VoiceChanger a;
    dsp::VoiceChanger b;
    a.prepare(kFs);
    b.prepare(kFs);
    a.setVoice(0.0, 92.0, 1.335);
    b.setVoice(0.0, 118.0, 0.749);
    std::vector<float> outA = voice;
    std::vector<float> outB = voice;
    for (size_t i = 0; i < voice.size(); i += 256) {
        const int n = static_cast<int>(std::min<size_t>(256, voice.size() - i));
        a.process(outA.data() + i, n);
        b.process(outB.data() + i, n);
    }
    EXPECT_EQ(outA, aloneA);
    EXPECT_EQ(outB, aloneB);
}

// The pair shares one pitch analysis; each output must still be, bit for bit,
// what its changer gives alone. Speech-like syllables with a stretch of
// digital silence, fed in odd blocks, with the pair reset together part way;
// then the second reset alone, which puts the pair out of step.
TEST(VoiceChanger, APairSharingOneAnalysisGivesWhatEachGivesAlone)
{
    std::vector<float> voice = syllableSpeech(4.0, 3);
    std::fill(voice.begin() + 60000, voice.begin() + 90000, 0.0f);
    const size_t together = 110000, secondAlone = 160000;
    struct Setting {
        double pitchHz, size, ratio;
        dsp::VoiceMaskValues mask;
    };
    const Setting settings[][2] = {
        {{0.0, 92.0, 1.335, {}}, {0.0, 118.0, 0.749, {}}},                 // the mask's two voices
        {{0.0, 130.0, 1.0, {}}, {40.0, 90.0, 1.0, {1.0, 0.6, 0.3, 0.15}}}, // marks kept; macro
    };
    const int blocks[] = {1, 137, 480, 1023, 7, 2048, 96};

    for (const auto& pair : settings) {
        dsp::VoiceChanger alone[2], paired[2];
        for (int k = 0; k < 2; ++k) {
            for (dsp::VoiceChanger* c : {&alone[k], &paired[k]}) {
                c->prepare(kFs);
                c->setVoice(pair[k].pitchHz, pair[k].size, pair[k].ratio);
                c->setMaskValues(pair[k].mask);
            }
        }
        std::vector<float> want[2] = {voice, voice};
        std::vector<float> got[2] = {std::vector<float>(voice.size()), std::vector<float>(voice.size())};
        test::AllocationCounter counter;
        size_t at = 0;
        for (size_t b = 0; at < voice.size(); ++b) {
            const size_t n = std::min<size_t>(static_cast<size_t>(blocks[b % std::size(blocks)]), voice.size() - at);
            if (at <= together && together < at + n) {
                for (dsp::VoiceChanger* c : {&alone[0], &alone[1], &paired[0], &paired[1]})
                    c->reset();
            }
            if (at <= secondAlone && secondAlone < at + n) {
                alone[1].reset();
                paired[1].reset();
            }
            for (int k = 0; k < 2; ++k)
                alone[k].process(want[k].data() + at, static_cast<int>(n));
            dsp::VoiceChanger::processPair(
                voice.data() + at, paired[0], got[0].data() + at, paired[1], got[1].data() + at, static_cast<int>(n));
            at += n;
        }
        EXPECT_EQ(counter.count(), 0u);
        for (int k = 0; k < 2; ++k) {
            ASSERT_EQ(got[k].size(), want[k].size());
            size_t firstDiff = 0;
            while (firstDiff < got[k].size() && got[k][firstDiff] == want[k][firstDiff])
                ++firstDiff;
            EXPECT_EQ(firstDiff, got[k].size()) << "voice " << k << " first differs at " << firstDiff;
        }
        EXPECT_EQ(paired[1].detectedHz(), alone[1].detectedHz());
        EXPECT_EQ(paired[1].hasDetected(), alone[1].hasDetected());
    }
}

TEST(VoiceChanger, NeverAllocatesAndStaysFiniteOnSilenceNoiseAndADcStep)
{
    dsp::VoiceChanger changer;
    changer.prepare(kFs);
    changer.setVoice(80.0, 70.0, 1.8);
    changer.setMaskValues(1.0, 0.6, 0.3, 0.15);
    std::vector<float> block(480);
    dsp::Lcg random{1};
    test::AllocationCounter counter;
    for (int b = 0; b < 600; ++b) {
        const int phase = b / 100;
        for (size_t i = 0; i < block.size(); ++i) {
            const float noise = random.bipolar();
            block[i] = phase == 0 ? 0.0f
                : phase == 1      ? noise
                : phase == 2      ? 1.0f
                : phase == 3      ? -1.0f
                : phase == 4      ? 0.0f
                                  : noise;
        }
        if (b == 500)
            changer.reset();
        changer.process(block.data(), static_cast<int>(block.size()));
        for (float y : block)
            ASSERT_TRUE(std::isfinite(y)) << "block " << b;
    }
    EXPECT_EQ(counter.count(), 0u);
}

TEST(VoiceChanger, RendersMatchTheRecordedOutputOfEverySynthesisPath)
{
    static_assert(std::size(kPrintSettings) == std::size(kRecordedPrints));
    for (size_t which = 0; which < std::size(kPrintSettings); ++which) {
        const RenderPrint got = renderPrint(kPrintSettings[which]);
        for (size_t w = 0; w < got.size(); ++w) {
            const WindowPrint& want = kRecordedPrints[which][w];
            const double tolerance = 1e-4 * want.rms + 1e-9;
            EXPECT_NEAR(got[w].rms, want.rms, tolerance) << "setting " << which << " window " << w;
            EXPECT_NEAR(got[w].correlation, want.correlation, tolerance) << "setting " << which << " window " << w;
        }
    }
}

} // namespace
