// Apply FX with the heaviest clip chain: 10 s of a take through the
// procedural cavern at full amount, a pitch-shifting ring-modulator mask, the
// stretcher at 150 % keeping pitch, the equalizer with bass boost and the
// width, as the worker renders it. The figure is how many times faster than
// real time the render runs.

#include "bench_main.h"

#include "console/offline_fx.h"
#include "dsp/random.h"
#include "settings/settings.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>

namespace {

constexpr uint32_t kTakeFrames = 10 * 48000;

recorder::EffectSnapshot heaviest()
{
    const settings::Settings record;
    settings::Snapshot st = record.snapshot();
    st.preset = 8;
    st.effects = 1;
    st.amount = 100;
    st.echo_on = 2;
    st.mask_on = 2;
    st.voice_mask = 0; // pitch down and ring modulation
    st.clip_speed = 150;
    st.voice_speed = 100;
    st.clip_keep_pitch = 1;
    st.voice_keep_pitch = 1;
    st.eq_on = 1;
    st.eq_level = 6;
    st.eq_bands = {4, 2, 0, -2, 1, 3, 5};
    st.ambit = 1;
    st.mic_level = 160;
    return recorder::takeEffectSnapshot(st, false);
}

void BM_ApplyFxHeaviest10s(benchmark::State& state)
{
    clip::Sound take;
    take.samples.resize(size_t{kTakeFrames} * 2);
    dsp::Lcg noise{3};
    for (uint32_t i = 0; i < kTakeFrames; ++i) {
        const double t = i / 48000.0;
        const double v
            = (0.5 + 0.5 * std::sin(2 * std::numbers::pi * 3 * t)) * 0.3 * std::sin(2 * std::numbers::pi * 140 * t);
        take.samples[2 * i] = static_cast<int16_t>(32767 * (v + 0.02 * noise.bipolar()));
        take.samples[2 * i + 1] = take.samples[2 * i];
    }
    const recorder::EffectSnapshot snapshot = heaviest();
    for (auto _ : state) {
        std::atomic<int32_t> progress{0};
        benchmark::DoNotOptimize(console::renderOfflineFx(take, snapshot, progress, {}));
    }
}
BENCHMARK(BM_ApplyFxHeaviest10s)->Unit(benchmark::kMillisecond);

OVIX_FIGURE(rt, "apply_fx_rt_factor", [](const bench::Results& r, double& value) {
    if (!r.count("BM_ApplyFxHeaviest10s"))
        return false;
    value = (kTakeFrames / 48000.0) / (r.at("BM_ApplyFxHeaviest10s") * 1e-9);
    return true;
});

} // namespace
