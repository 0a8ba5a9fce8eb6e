#pragma once
// A console on simulated endpoints (a microphone, the cable, headphones) on a
// manual clock, run one 480-frame capture packet per benchmark iteration.

#include "console/sim/sim_console.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>

namespace bench {

// A voice-like capture signal read from a precomputed table, so the
// generator costs nothing next to the engine.
inline platform::sim::CaptureSource precomputedVoice()
{
    static float voice[4800 * 2];
    for (int i = 0; i < 4800 * 2; ++i)
        voice[i] = 0.25f * static_cast<float>((i * 7919) % 2000 - 1000) / 1000.0f;
    return [](uint64_t first, float* out, uint32_t frames) {
        const size_t offset = (first % 4320) * 2;
        std::copy_n(voice + offset, size_t{frames} * 2, out);
    };
}

// The console with its endpoints; steps, when given, replace its effect chain.
struct BenchConsole : console::SimConsole {
    explicit BenchConsole(engine::BlockSteps* steps = nullptr) : console::SimConsole(options(steps))
    {
        auto add = [&](platform::Flow flow, const wchar_t* id, const wchar_t* name) {
            platform::sim::SimEndpointSetup s;
            s.flow = flow;
            s.id = id;
            s.name = name;
            audio.addEndpoint(s);
        };
        add(platform::Flow::Capture, L"mic", L"Microphone");
        add(platform::Flow::Render, L"cable", L"CABLE Input");
        add(platform::Flow::Render, L"phones", L"Headphones");
        audio.setCaptureSource(L"mic", precomputedVoice());
        settings::setDeviceName(console().settings(), settings::DeviceKind::Mic, L"mic");
        settings::setDeviceName(console().settings(), settings::DeviceKind::Spk, L"phones");
    }
    settings::Settings& settings() { return console().settings(); }

private:
    static console::SimOptions options(engine::BlockSteps* steps)
    {
        console::SimOptions o;
        o.steps = steps;
        return o;
    }
};

// Starts the console's engine with the settings made so far and runs packets
// until the benchmark ends. perBlock, when given, runs (timed) after every packet.
inline void runEnginePackets(
    benchmark::State& state, BenchConsole& sim, const std::function<void(int64_t block)>& perBlock = {})
{
    engine::Engine& engine = sim.engine();
    engine.start();
    engine::requestOpen(sim.console().state());
    engine.step();
    if (engine.phase() != engine::EnginePhase::Running) {
        state.SkipWithError("engine did not open");
        return;
    }
    int64_t blocks = 0;
    for (auto _ : state) {
        sim.clock.advanceMillis(10);
        // Steps until the packet has been taken and the engine waits again.
        while (engine.step().micros == 0) { }
        ++blocks;
        if (perBlock)
            perBlock(blocks);
    }
    state.SetItemsProcessed(blocks);
}

} // namespace bench
