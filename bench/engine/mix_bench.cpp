// The block cycle with every bus live: the voice through the chain and the
// default room, a clip at 150 % through the stretcher, soundboard pads, the
// application bus on the monitor-only environment and both take previews,
// one 480-frame packet per iteration on simulated endpoints. The pass-through
// cycle runs in the same process as the baseline.

#include "bench_main.h"

#include "engine_bench_rig.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <memory>

namespace {

// A clip of a tone read from a table, so the source costs nothing next to the mix.
class ToneClip : public engine::ClipSource {
public:
    ToneClip()
    {
        for (size_t i = 0; i < kPeriod; ++i)
            table_[i] = 0.3f * static_cast<float>(std::sin(2.0 * 3.14159265358979 * static_cast<double>(i) / kPeriod));
    }
    bool active() const noexcept override { return true; }
    bool paused() const noexcept override { return false; }
    uint32_t clipGeneration() const noexcept override { return 1; }
    uint32_t read(float* l, float* r, uint32_t n) noexcept override
    {
        for (uint32_t i = 0; i < n; ++i, position_ = (position_ + 1) % kPeriod) {
            l[i] = table_[position_];
            r[i] = -table_[position_];
        }
        return n;
    }

private:
    static constexpr size_t kPeriod = 218; // about 220 Hz
    std::array<float, kPeriod> table_{};
    size_t position_ = 0;
};

class SteadyApp : public engine::AppSource {
public:
    bool running() const noexcept override { return true; }
    bool parkRequested() const noexcept override { return true; }
    uint32_t read(float* l, float* r, uint32_t n) noexcept override
    {
        for (uint32_t i = 0; i < n; ++i) {
            l[i] = (i & 7) * 0.01f;
            r[i] = 0.05f;
        }
        return n;
    }
};

void BM_PassthroughBaseline(benchmark::State& state)
{
    engine::BlockSteps steps;
    bench::BenchConsole sim(&steps);
    bench::runEnginePackets(state, sim);
}
BENCHMARK(BM_PassthroughBaseline);

void BM_MixAllBusesBlock(benchmark::State& state)
{
    bench::BenchConsole sim; // the console's chain: the default room, amount and equalizer
    settings::Settings& settings = sim.settings();
    settings.set(&settings::Settings::clip_speed, 150);
    settings.set(&settings::Settings::clip_mic, 1);
    settings.set(&settings::Settings::clip_hear, 1);
    settings.set(&settings::Settings::app_only, 1);
    settings.set(&settings::Settings::ambit, 1);
    settings.set(&settings::Settings::pan, 15);
    ToneClip clip;
    SteadyApp app;
    console::Console& console = sim.console();
    engine::SoundPlayer& pads = console.pads();
    engine::SoundPlayer& toMic = console.previewToMic();
    engine::SoundPlayer& phones = console.previewPhones();
    console.chain().setSources({&clip, &pads, &app, &toMic, &phones});
    auto sound = std::make_shared<clip::Sound>();
    sound->samples.assign(size_t{48000} * 120 * 2, 1200);
    pads.play(0, sound);
    toMic.play(0, sound);
    phones.play(0, sound);
    bench::runEnginePackets(state, sim);
}
BENCHMARK(BM_MixAllBusesBlock);

OVIX_FIGURE(mixPct, "mix_all_buses_block_pct", [](const bench::Results& r, double& value) {
    if (!r.count("BM_MixAllBusesBlock"))
        return false;
    value = bench::percentOfBlock(r.at("BM_MixAllBusesBlock"));
    return true;
});

OVIX_FIGURE(mixRatio, "mix_all_buses_vs_passthrough", [](const bench::Results& r, double& value) {
    if (!r.count("BM_MixAllBusesBlock") || !r.count("BM_PassthroughBaseline"))
        return false;
    value = r.at("BM_MixAllBusesBlock") / r.at("BM_PassthroughBaseline");
    return true;
});

} // namespace
