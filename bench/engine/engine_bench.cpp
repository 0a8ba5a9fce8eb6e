// The cost of the engine's block cycle with every effect step passing the
// voice through: one 480-frame capture packet taken, run through the cycle
// and written to the cable and the monitor, on simulated endpoints. This is
// the floor that every effect adds to.

#include "bench_main.h"

#include "engine/engine.h"
#include "platform/sim/manual_clock.h"
#include "platform/sim/sim_audio.h"

#include <benchmark/benchmark.h>

#include <algorithm>

namespace {

void BM_EnginePassthroughBlock(benchmark::State& state)
{
    platform::sim::ManualClock clock;
    platform::sim::SimAudio audio(clock);
    auto add = [&](platform::Flow flow, const wchar_t* id, const wchar_t* name) {
        platform::sim::SimEndpointSpec s;
        s.flow = flow;
        s.id = id;
        s.name = name;
        audio.addEndpoint(s);
    };
    add(platform::Flow::Capture, L"mic", L"Microphone");
    add(platform::Flow::Render, L"cable", L"CABLE Input");
    add(platform::Flow::Render, L"phones", L"Headphones");
    // A precomputed voice-like signal, so the generator costs nothing next to the engine.
    static float voice[4800 * 2];
    for (int i = 0; i < 4800 * 2; ++i)
        voice[i] = 0.25f * static_cast<float>((i * 7919) % 2000 - 1000) / 1000.0f;
    audio.setCaptureSource(L"mic", [](uint64_t first, float* out, uint32_t frames) {
        const size_t offset = (first % 4320) * 2;
        std::copy_n(voice + offset, size_t{frames} * 2, out);
    });
    settings::Settings settings;
    settings::setDeviceName(settings, settings::DeviceKind::Mic, L"mic");
    settings::setDeviceName(settings, settings::DeviceKind::Spk, L"phones");
    settings.isolate.store(1);
    engine::EngineState engineState;
    engine::RecorderRings rings;
    rings.last.armed.store(1);
    engine::BlockSteps steps;
    engine::Engine engine({clock, audio, settings, engineState, rings, steps, {}});
    engine.start();
    engine::requestOpen(engineState);
    engine.step();
    if (engine.phase() != engine::EnginePhase::Running) {
        state.SkipWithError("engine did not open");
        return;
    }

    int64_t blocks = 0;
    for (auto _ : state) {
        clock.advanceMillis(10);
        // Steps until the packet has been taken and the engine waits again.
        while (engine.step().micros == 0) { }
        ++blocks;
        if ((blocks & 0x3FFF) == 0) {
            // Keep the ring from filling up: the recorder's side.
            static int16_t sink[1 << 16];
            while (rings.last.read(sink, sizeof sink / sizeof sink[0]) > 0) { }
        }
    }
    state.SetItemsProcessed(blocks);
}
BENCHMARK(BM_EnginePassthroughBlock);

OVIX_FIGURE(passthroughPct, "engine_passthrough_block_pct", [](const bench::Results& r, double& value) {
    if (!r.count("BM_EnginePassthroughBlock"))
        return false;
    value = bench::percentOfBlock(r.at("BM_EnginePassthroughBlock"));
    return true;
});

} // namespace
