// The voice changer and the voice speed processor per 10 ms block (480 frames
// at 48 kHz), side by side with Rubber Band (real-time mode) shifting by the
// same ratio and SoundTouch stretching by the same speed, on the same input.
// The pitch accuracy of both shifters is measured with aubio's YIN on a
// synthetic voice whose fundamental is known at every instant.

#include "bench_main.h"

#include "dsp/voice_changer.h"
#include "dsp/voice_signals.h"
#include "dsp/voice_speed.h"

#include <benchmark/benchmark.h>

#ifdef OVIX_BENCH_RUBBERBAND
#include <rubberband/RubberBandStretcher.h>
#endif
#ifdef OVIX_BENCH_SOUNDTOUCH
#include <soundtouch/SoundTouch.h>
#endif
#ifdef OVIX_BENCH_AUBIO
#include <aubio/aubio.h>
#endif

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using namespace voicetest;

constexpr int kFrames = 480;
constexpr double kShiftRatio = 1.26; // four semitones up

// Voiced speech to process: espeak-ng when it is installed, else a synthetic
// voice gliding through a speaking range.
const std::vector<float>& speech()
{
    static const std::vector<float> voice = [] {
        std::vector<float> y = espeakSpeech("Seven silver swans swam slowly south, while we waited by the river.");
        if (y.size() < 48000) {
            std::fprintf(stderr, "espeak-ng missing: the benchmarks use a synthetic voice\n");
            y = synthVoice({[](double t) { return 110.0 + 40.0 * std::sin(t); }}, 4.0);
        }
        y.resize(y.size() / kFrames * kFrames);
        return y;
    }();
    return voice;
}

// Feeds the speech block by block, round and round.
template <typename Process> void runBlocks(benchmark::State& state, Process process)
{
    const std::vector<float>& input = speech();
    std::vector<float> block(kFrames);
    size_t at = 0;
    for (auto _ : state) {
        std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(at), kFrames, block.begin());
        process(block.data());
        benchmark::DoNotOptimize(block.data());
        at = at + 2 * kFrames <= input.size() ? at + kFrames : 0;
    }
}

void BM_VoiceChanger(benchmark::State& state)
{
    dsp::VoiceChanger changer;
    changer.prepare(kFs);
    changer.setVoice(0.0, 100.0, kShiftRatio);
    runBlocks(state, [&](float* block) { changer.process(block, kFrames); });
}
BENCHMARK(BM_VoiceChanger);

void BM_VoiceSpeed(benchmark::State& state)
{
    dsp::VoiceSpeed speed;
    speed.prepare(kFs);
    const auto percent = static_cast<int>(state.range(0));
    runBlocks(state, [&](float* block) { speed.process(block, kFrames, percent, true); });
}
BENCHMARK(BM_VoiceSpeed)->Arg(50)->Arg(200);

#ifdef OVIX_BENCH_RUBBERBAND
std::unique_ptr<RubberBand::RubberBandStretcher> makeRubberBand()
{
    using RB = RubberBand::RubberBandStretcher;
    auto stretcher
        = std::make_unique<RB>(48000, 1, RB::OptionProcessRealTime | RB::OptionFormantPreserved, 1.0, kShiftRatio);
    stretcher->setMaxProcessSize(kFrames);
    return stretcher;
}

void BM_RubberBandShift(benchmark::State& state)
{
    const auto rubberBand = makeRubberBand();
    RubberBand::RubberBandStretcher& stretcher = *rubberBand;
    std::vector<float> out(8192);
    runBlocks(state, [&](float* block) {
        const float* in[1] = {block};
        stretcher.process(in, kFrames, false);
        float* o[1] = {out.data()};
        while (stretcher.available() > 0)
            stretcher.retrieve(o, std::min<size_t>(static_cast<size_t>(stretcher.available()), out.size()));
    });
}
BENCHMARK(BM_RubberBandShift);
#endif

#ifdef OVIX_BENCH_SOUNDTOUCH
void BM_SoundTouchStretch(benchmark::State& state)
{
    soundtouch::SoundTouch touch;
    touch.setSampleRate(48000);
    touch.setChannels(1);
    touch.setTempo(static_cast<double>(state.range(0)) / 100.0);
    std::vector<float> out(8192);
    runBlocks(state, [&](float* block) {
        touch.putSamples(block, kFrames);
        while (touch.receiveSamples(out.data(), static_cast<unsigned>(out.size())) > 0) { }
    });
}
BENCHMARK(BM_SoundTouchStretch)->Arg(50)->Arg(200);
#endif

bool both(const bench::Results& r, const char* a, const char* b)
{
    return r.count(a) && r.count(b);
}

OVIX_FIGURE(changerBlock, "changer_block_pct", [](const bench::Results& r, double& value) {
    if (!r.count("BM_VoiceChanger"))
        return false;
    value = bench::percentOfBlock(r.at("BM_VoiceChanger"));
    return true;
});

OVIX_FIGURE(speedBlock, "speed_block_pct", [](const bench::Results& r, double& value) {
    if (!both(r, "BM_VoiceSpeed/50", "BM_VoiceSpeed/200"))
        return false;
    value = bench::percentOfBlock(std::max(r.at("BM_VoiceSpeed/50"), r.at("BM_VoiceSpeed/200")));
    return true;
});

OVIX_FIGURE(shiftRatio, "shift_vs_rubberband", [](const bench::Results& r, double& value) {
    if (!both(r, "BM_VoiceChanger", "BM_RubberBandShift"))
        return false;
    value = r.at("BM_VoiceChanger") / r.at("BM_RubberBandShift");
    return true;
});

OVIX_FIGURE(stretchRatio, "stretch_vs_soundtouch", [](const bench::Results& r, double& value) {
    if (!both(r, "BM_VoiceSpeed/50", "BM_SoundTouchStretch/50")
        || !both(r, "BM_VoiceSpeed/200", "BM_SoundTouchStretch/200"))
        return false;
    value = (r.at("BM_VoiceSpeed/50") + r.at("BM_VoiceSpeed/200"))
        / (r.at("BM_SoundTouchStretch/50") + r.at("BM_SoundTouchStretch/200"));
    return true;
});

#ifdef OVIX_BENCH_AUBIO
// A voice gliding slowly from 120 to 150 Hz: its fundamental is known at every
// instant, and it moves too slowly for the analysis window's span to matter.
double accuracyF0(double t)
{
    return 120.0 * std::pow(150.0 / 120.0, std::min(t / 6.0, 1.0));
}

// Share (%) of YIN frames of `out` within 5 cents of kShiftRatio × the input's
// fundamental `latency` frames earlier; frames YIN cannot call voiced miss.
double within5Cents(const std::vector<float>& out, size_t latency)
{
    aubio_pitch_t* yin = new_aubio_pitch("yin", 2048, kFrames, 48000);
    aubio_pitch_set_unit(yin, "Hz");
    fvec_t* in = new_fvec(kFrames);
    fvec_t* hz = new_fvec(1);
    int frames = 0;
    int hits = 0;
    for (size_t end = kFrames; end <= out.size(); end += kFrames) {
        for (int i = 0; i < kFrames; ++i)
            in->data[i] = out[end - kFrames + static_cast<size_t>(i)];
        aubio_pitch_do(yin, in, hz);
        const double centre = static_cast<double>(end) - 1024.0 - static_cast<double>(latency);
        if (centre < kFs)
            continue; // the first second settles
        ++frames;
        const double target = kShiftRatio * accuracyF0(centre / kFs);
        if (hz->data[0] > 0.0 && aubio_pitch_get_confidence(yin) > 0.8 && std::fabs(cents(hz->data[0], target)) <= 5.0)
            ++hits;
    }
    del_fvec(hz);
    del_fvec(in);
    del_aubio_pitch(yin);
    return frames > 0 ? 100.0 * hits / frames : 0.0;
}

const std::vector<float>& accuracyVoice()
{
    static const std::vector<float> voice = synthVoice({accuracyF0}, 6.0);
    return voice;
}

OVIX_FIGURE(ourAccuracy, "shift_within5c_pct", [](const bench::Results& r, double& value) {
    if (!r.count("BM_VoiceChanger"))
        return false;
    std::vector<float> y = accuracyVoice();
    dsp::VoiceChanger changer;
    changer.prepare(kFs);
    changer.setVoice(0.0, 100.0, kShiftRatio);
    for (size_t i = 0; i + kFrames <= y.size(); i += kFrames)
        changer.process(y.data() + i, kFrames);
    value = within5Cents(y, dsp::VoiceChanger::kLatencyFrames);
    return true;
});

#ifdef OVIX_BENCH_RUBBERBAND
OVIX_FIGURE(theirAccuracy, "shift_within5c_rubberband_pct", [](const bench::Results& r, double& value) {
    if (!r.count("BM_RubberBandShift"))
        return false;
    const std::vector<float>& voice = accuracyVoice();
    const auto rubberBand = makeRubberBand();
    RubberBand::RubberBandStretcher& stretcher = *rubberBand;
    // Padded and trimmed as the library asks, so its output lines up with the input.
    std::vector<float> input(stretcher.getPreferredStartPad(), 0.0f);
    input.insert(input.end(), voice.begin(), voice.end());
    std::vector<float> out;
    std::vector<float> chunk(8192);
    for (size_t i = 0; i + kFrames <= input.size(); i += kFrames) {
        const float* in[1] = {input.data() + i};
        stretcher.process(in, kFrames, false);
        float* o[1] = {chunk.data()};
        while (stretcher.available() > 0) {
            const size_t got
                = stretcher.retrieve(o, std::min<size_t>(static_cast<size_t>(stretcher.available()), chunk.size()));
            out.insert(out.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
        }
    }
    const size_t delay = std::min(stretcher.getStartDelay(), out.size());
    out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(delay));
    value = within5Cents(out, 0);
    return true;
});
#endif
#endif

} // namespace
