// The whole engine block cycle, run by the render tool's engine driver over a
// minute of speech: with the default settings and with the heaviest ones
// (every effect at work). Reported as multiples of real time and as a share of
// the 10 ms block, with the allocations made after the first seconds.

#include "bench_main.h"

#include "media/format_converter.h"
#include "media/wav_reader.h"
#include "platform/sim/memory_files.h"
#include "support/alloc_counter.h"
#include "tools/render/render.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>

namespace {

constexpr double kSeconds = 60.0;
constexpr size_t kFrames = static_cast<size_t>(kSeconds * 48000);

// A minute of espeak-ng speech at 48 kHz stereo, looped from one long
// sentence; a synthetic voice when espeak-ng is missing.
const std::vector<float>& speech()
{
    static const std::vector<float> minute = [] {
        std::vector<float> one;
        const auto path = std::filesystem::temp_directory_path() / "ovix_chain_bench_speech.wav";
        const std::string command = "espeak-ng -s 150 -w " + path.string()
            + " \"The quick brown fox jumps over the lazy dog while the band plays on, and every voice in the "
              "room rises and falls with the music.\" >/dev/null 2>&1";
        platform::sim::StdFiles files;
        media::WavAudio wav;
        if (std::system(command.c_str()) == 0 && media::readWav(files, path.wstring(), wav) && !wav.left.empty()) {
            std::vector<float> stereo(wav.left.size() * 2);
            for (size_t i = 0; i < wav.left.size(); ++i)
                stereo[2 * i] = stereo[2 * i + 1] = wav.left[i];
            media::FormatConverter converter({2, 32, true, wav.sampleRate, 0});
            converter.convertStereo(stereo, one);
        } else {
            one.resize(2 * 48000);
            for (size_t i = 0; i < 48000; ++i) {
                const double t = i / 48000.0;
                one[2 * i] = one[2 * i + 1]
                    = static_cast<float>(0.3 * std::sin(2 * M_PI * 3 * t) * std::sin(2 * M_PI * (120 + 30 * t) * t));
            }
        }
        std::filesystem::remove(path);
        std::vector<float> out(kFrames * 2);
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = one[i % one.size()];
        return out;
    }();
    return minute;
}

// Studio isolation, mic tone, voice speed 1.5x with keep-pitch, the voice
// changer, the costliest mask ("Three of Me", which runs two more changers),
// the procedural cavern with the wide echo, both equalizers and Ambit; the
// glitch is held down in "Scratch", among its costliest styles, for the whole run.
const std::vector<std::pair<std::string, std::string>> kHeaviest = {
    {"isolate", "1"},     {"iso_mode", "2"},       {"iso_level", "60"},      {"tone_on", "1"},
    {"tone_lo", "60"},    {"tone_mid", "-40"},     {"tone_hi", "80"},        {"mask_on", "7"},
    {"voice_speed", "150"}, {"voice_keep_pitch", "1"}, {"pitch_hz", "60"},   {"voice_size", "120"},
    {"voice_mask", "26"}, {"preset", "8"},         {"amount", "60"},         {"wide", "1"},
    {"eq_on", "1"},       {"eq_preset", "3"},      {"ambit", "1"},           {"monitor", "1"},
    {"glitch_style", "5"},
};

size_t allocationsAfterWarmup[2];

void runChain(benchmark::State& state, bool heaviest)
{
    const std::vector<float>& input = speech();
    for (auto _ : state) {
        console::SimConsole sim;
        platform::sim::MemoryFiles files;
        render::Options options;
        if (heaviest)
            options.sets = kHeaviest;
        std::vector<std::string> warnings;
        std::string error;
        if (!render::applySettings(files, options, sim.console().settings(), warnings, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        std::vector<float> cable, monitor;
        std::optional<test::AllocationCounter> counter;
        size_t& allocations = allocationsAfterWarmup[heaviest ? 1 : 0];
        const auto progress = [&](double fraction) {
            if (fraction >= 5.0 / kSeconds && !counter)
                counter.emplace();
            if (fraction >= 1.0 && counter)
                allocations = counter->count();
        };
        if (!render::runEngine(sim, input, cable, &monitor, progress, error, heaviest)) {
            state.SkipWithError(error.c_str());
            return;
        }
        benchmark::DoNotOptimize(cable.data());
    }
}

void BM_ChainDefault(benchmark::State& state)
{
    runChain(state, false);
}
void BM_ChainHeaviest(benchmark::State& state)
{
    runChain(state, true);
}
BENCHMARK(BM_ChainDefault)->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChainHeaviest)->Iterations(2)->Unit(benchmark::kMillisecond);

bool realTime(const bench::Results& r, const char* name, double& value)
{
    // Named with their iteration count ("BM_ChainDefault/iterations:2").
    const auto it = r.lower_bound(name);
    if (it == r.end() || it->first.rfind(name, 0) != 0)
        return false;
    value = kSeconds * 1e9 / it->second;
    return true;
}

OVIX_FIGURE(f1, "chain_default_rt_factor", [](const bench::Results& r, double& v) {
    return realTime(r, "BM_ChainDefault", v);
});
OVIX_FIGURE(f2, "chain_heaviest_rt_factor", [](const bench::Results& r, double& v) {
    return realTime(r, "BM_ChainHeaviest", v);
});
OVIX_FIGURE(f3, "chain_default_block_pct", [](const bench::Results& r, double& v) {
    if (!realTime(r, "BM_ChainDefault", v))
        return false;
    v = 100.0 / v;
    return true;
});
OVIX_FIGURE(f4, "chain_heaviest_block_pct", [](const bench::Results& r, double& v) {
    if (!realTime(r, "BM_ChainHeaviest", v))
        return false;
    v = 100.0 / v;
    return true;
});
OVIX_FIGURE(f5, "chain_allocations_after_warmup", [](const bench::Results& r, double& v) {
    double ignored;
    if (!realTime(r, "BM_ChainDefault", ignored) && !realTime(r, "BM_ChainHeaviest", ignored))
        return false;
    v = static_cast<double>(allocationsAfterWarmup[0] + allocationsAfterWarmup[1]);
    return true;
});

} // namespace
