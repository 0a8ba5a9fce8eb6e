// The cost of the engine's block cycle with every effect step passing the
// voice through: one 480-frame capture packet taken, run through the cycle
// and written to the cable and the monitor, on simulated endpoints. This is
// the floor that every effect adds to.

#include "bench_main.h"

#include "engine_bench_rig.h"

#include <benchmark/benchmark.h>

namespace {

void BM_EnginePassthroughBlock(benchmark::State& state)
{
    engine::BlockSteps steps;
    bench::BenchConsole sim(&steps);
    sim.settings().set(&settings::Settings::isolate, 1);
    engine::RecorderRings& rings = sim.console().rings();
    rings.last.armed.store(1);
    bench::runEnginePackets(state, sim, [&rings](int64_t blocks) {
        if ((blocks & 0x3FFF) == 0) {
            // Keep the ring from filling up: the recorder's side.
            static int16_t sink[1 << 16];
            while (rings.last.read(sink, sizeof sink / sizeof sink[0]) > 0) { }
        }
    });
}
BENCHMARK(BM_EnginePassthroughBlock);

OVIX_FIGURE(passthroughPct, "engine_passthrough_block_pct", [](const bench::Results& r, double& value) {
    if (!r.count("BM_EnginePassthroughBlock"))
        return false;
    value = bench::percentOfBlock(r.at("BM_EnginePassthroughBlock"));
    return true;
});

} // namespace
