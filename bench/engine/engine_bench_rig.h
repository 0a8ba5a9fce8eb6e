#pragma once
// An engine on simulated endpoints (a microphone, the cable, headphones) on a
// manual clock, run one 480-frame capture packet per benchmark iteration.

#include "engine/engine.h"
#include "platform/sim/manual_clock.h"
#include "platform/sim/sim_audio.h"

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

// Runs packets through an engine with the given steps until the benchmark
// ends. perBlock, when given, runs (timed) after every packet.
inline void runEnginePackets(benchmark::State& state, engine::BlockSteps& steps, settings::Settings& settings,
    engine::EngineState& engineState, engine::RecorderRings& rings, platform::sim::CaptureSource voice,
    const std::function<void(int64_t block)>& perBlock = {})
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
    audio.setCaptureSource(L"mic", std::move(voice));
    settings::setDeviceName(settings, settings::DeviceKind::Mic, L"mic");
    settings::setDeviceName(settings, settings::DeviceKind::Spk, L"phones");
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
        if (perBlock)
            perBlock(blocks);
    }
    state.SetItemsProcessed(blocks);
}

} // namespace bench
