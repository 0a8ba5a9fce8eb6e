// The equalizer and the bass shelf on one 10 ms stereo block (480 frames at
// 48 kHz), as the engine runs them per equalized stream.

#include "bench_main.h"

#include "dsp/bass_boost.h"
#include "dsp/equalizer.h"
#include "dsp/random.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr int kFrames = 480;

void BM_EqualizerBlock(benchmark::State& state)
{
    dsp::Equalizer eq;
    eq.prepare(48000);
    eq.setBandsAndLevel({5, 3, -1, -2, 1, 4, 6}, 2); // "Rock": every band active
    dsp::BassBoost boost;
    boost.prepare(48000);
    boost.setBoost(dsp::bassBoostForMicLevel(200));
    dsp::Lcg g{3};
    std::vector<float> block(2 * kFrames);
    for (auto& v : block)
        v = g.bipolar() * 0.3f;
    for (auto _ : state) {
        for (int i = 0; i < kFrames; ++i) {
            float& l = block[2 * i];
            float& r = block[2 * i + 1];
            eq.process(l, r);
            boost.process(l, r);
        }
        benchmark::DoNotOptimize(block.data());
    }
}
BENCHMARK(BM_EqualizerBlock);

OVIX_FIGURE(eqBlock, "eq_block_pct", [](const bench::Results& r, double& value) {
    if (!r.count("BM_EqualizerBlock"))
        return false;
    value = bench::percentOfBlock(r.at("BM_EqualizerBlock"));
    return true;
});

} // namespace
