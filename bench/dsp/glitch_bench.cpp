// The glitch repeater per 10 ms block (480 frames at 48 kHz): idle (recording
// only, as it runs on every block) and held in each style, mono as the engine
// runs it on the voice and stereo as the mask processors run it. Figures: the
// costliest held style as a percentage of the block, and its cost as a
// multiple of the idle recording.

#include "bench_main.h"

#include "dsp/glitch_repeater.h"
#include "dsp/random.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr int kFrames = 480;

// state.range(0): style, or −1 for idle; range(1): channels.
void BM_GlitchBlock(benchmark::State& state)
{
    const int style = static_cast<int>(state.range(0));
    const int channels = static_cast<int>(state.range(1));
    dsp::GlitchRepeater g;
    g.prepare(48000.0, channels);
    dsp::Lcg noise{5};
    std::vector<float> l(kFrames), r(kFrames);
    const auto fill = [&] {
        for (int i = 0; i < kFrames; ++i) {
            l[i] = 0.2f * noise.bipolar();
            r[i] = 0.2f * noise.bipolar();
        }
    };
    for (int b = 0; b < 300; ++b) { // three seconds of history
        fill();
        g.process(l.data(), channels == 2 ? r.data() : nullptr, kFrames);
    }
    if (style >= 0) {
        g.setStyle(style);
        g.setHeld(true);
    }
    int blocks = 0;
    for (auto _ : state) {
        fill();
        g.process(l.data(), channels == 2 ? r.data() : nullptr, kFrames);
        benchmark::DoNotOptimize(l.data());
        // Press again every 0.5 s, so the presses' own work is counted and
        // the ending styles do not fall silent.
        if (style >= 0 && ++blocks % 50 == 0) {
            g.setHeld(false);
            g.setHeld(true);
        }
    }
}
BENCHMARK(BM_GlitchBlock)->ArgsProduct({benchmark::CreateDenseRange(-1, 12, 1), {1, 2}});

std::string name(int style, int channels)
{
    return "BM_GlitchBlock/" + std::to_string(style) + "/" + std::to_string(channels);
}

bool worst(const bench::Results& r, int channels, double& value)
{
    value = 0.0;
    for (int s = 0; s < dsp::kGlitchStyleCount; ++s) {
        const auto it = r.find(name(s, channels));
        if (it == r.end())
            return false;
        value = std::max(value, it->second);
    }
    return true;
}

OVIX_FIGURE(glitchMono, "glitch_worst_style_block_pct", [](const bench::Results& r, double& value) {
    if (!worst(r, 1, value))
        return false;
    value = bench::percentOfBlock(value);
    return true;
});
OVIX_FIGURE(glitchStereo, "glitch_stereo_worst_style_block_pct", [](const bench::Results& r, double& value) {
    if (!worst(r, 2, value))
        return false;
    value = bench::percentOfBlock(value);
    return true;
});
OVIX_FIGURE(glitchIdle, "glitch_worst_style_vs_idle_ratio", [](const bench::Results& r, double& value) {
    const auto idle = r.find(name(-1, 1));
    if (idle == r.end() || !worst(r, 1, value))
        return false;
    value /= idle->second;
    return true;
});

} // namespace
