#pragma once
// An engine on simulated endpoints and a manual clock, stepped by the test:
// a microphone, the virtual cable and a pair of headphones.

#include "engine/engine.h"
#include "platform/sim/manual_clock.h"
#include "platform/sim/sim_audio.h"

#include <algorithm>
#include <memory>

namespace test {

inline platform::sim::SimEndpointSpec endpointSpec(
    platform::Flow flow, std::wstring id, std::wstring name, std::wstring adapter = L"Sim Audio")
{
    platform::sim::SimEndpointSpec s;
    s.flow = flow;
    s.id = std::move(id);
    s.name = std::move(name);
    s.interfaceName = std::move(adapter);
    return s;
}

inline const std::wstring kMic = L"{mic-1}";
inline const std::wstring kMic2 = L"{mic-2}";
inline const std::wstring kCable = L"{cable}";
inline const std::wstring kPhones = L"{phones}";

// Steps the engine for micros of virtual time. A wait for the capture event
// advances the clock 1 ms at a time, so packets are taken as they arrive.
// Returns the number of steps taken.
inline int stepEngineFor(engine::Engine& engine, platform::sim::ManualClock& clock, platform::sim::SimAudio& audio,
                         int64_t micros)
{
    int steps = 0;
    const int64_t end = clock.nowMicros() + micros;
    while (clock.nowMicros() < end && engine.phase() != engine::EnginePhase::Ended) {
        const engine::StepWait w = engine.step();
        ++steps;
        if (w.micros <= 0)
            continue;
        const int64_t dt = w.event ? std::min<int64_t>(w.micros, 1000) : w.micros;
        clock.advance(std::min(dt, end - clock.nowMicros()));
        audio.tick();
    }
    return steps;
}

struct EngineRig {
    platform::sim::ManualClock clock;
    platform::sim::SimAudio audio{clock};
    settings::Settings settings;
    engine::EngineState state;
    engine::RecorderRings rings;
    std::unique_ptr<engine::Engine> engine;
    int steps = 0;

    explicit EngineRig(engine::BlockSteps& blockSteps, const platform::KeyState* keys = nullptr)
    {
        audio.addEndpoint(endpointSpec(platform::Flow::Capture, kMic, L"Microphone (Sim USB)"));
        audio.addEndpoint(endpointSpec(platform::Flow::Capture, kMic2, L"Headset Microphone"));
        audio.addEndpoint(endpointSpec(
            platform::Flow::Render, kCable, L"CABLE Input (VB-Audio Virtual Cable)", L"VB-Audio Virtual Cable"));
        audio.addEndpoint(endpointSpec(platform::Flow::Render, kPhones, L"Headphones (Sim)"));
        settings::setDeviceName(settings, settings::DeviceKind::Mic, kMic);
        settings::setDeviceName(settings, settings::DeviceKind::Spk, kPhones);
        engine = std::make_unique<engine::Engine>(
            engine::EngineServices{clock, audio, settings, state, rings, blockSteps, keys});
        engine->start();
    }

    void run(int64_t micros) { steps += stepEngineFor(*engine, clock, audio, micros); }
    void runMillis(int64_t ms) { run(ms * 1000); }

    // Steps until exactly one more capture packet has been taken.
    void runPackets(int count, const int& blocksSeen)
    {
        const int target = blocksSeen + count;
        while (blocksSeen < target)
            run(1000);
    }

    void open()
    {
        engine::requestOpen(state);
        run(1);
    }
};

} // namespace test
