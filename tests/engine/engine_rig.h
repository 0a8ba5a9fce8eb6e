#pragma once
// An engine on simulated endpoints and a manual clock, stepped by the test.

#include "console/sim/sim_console.h"

#include <vector>

namespace test {

inline platform::sim::SimEndpointSetup endpointSetup(
    platform::Flow flow, std::wstring id, std::wstring name, std::wstring adapter = L"Sim Audio")
{
    platform::sim::SimEndpointSetup s;
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

// The engine of a console on simulated endpoints: a microphone, a second
// microphone, the virtual cable and a pair of headphones. The device thread
// is settled after each step unless the options say otherwise.
struct EngineRig {
    console::SimConsole sim;
    platform::sim::ManualClock& clock = sim.clock;
    platform::sim::SimAudio& audio = sim.audio;
    platform::sim::SimKeys& keys = sim.keys;
    console::Console& console = sim.console();
    settings::Settings& settings = console.settings();
    engine::EngineState& state = console.state();
    engine::RecorderRings& rings = console.rings();
    engine::Engine* engine = &console.engine();
    int steps = 0;

    explicit EngineRig(engine::BlockSteps& blockSteps, console::SimOptions options = {})
        : sim(withSteps(blockSteps, std::move(options)))
    {
        addEndpoints();
        engine->start();
    }
    // The console's own effect chain.
    explicit EngineRig(console::SimOptions options) : sim(std::move(options))
    {
        addEndpoints();
        engine->start();
    }

    engine::EngineReport report() const { return console.report(); }
    const engine::DeviceSession& session() const { return engine->session(); }
    // The one-off events posted since the last call, oldest first.
    std::vector<engine::EngineEventKind> events()
    {
        std::vector<engine::EngineEventKind> kinds;
        for (engine::EngineEvent e; console.reports().nextEvent(e);)
            kinds.push_back(e.kind);
        return kinds;
    }

    void run(int64_t micros) { steps += sim.run(micros); }
    void runMillis(int64_t ms) { run(ms * 1000); }

    // Steps until count more capture packets have been taken.
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

private:
    static console::SimOptions withSteps(engine::BlockSteps& blockSteps, console::SimOptions options)
    {
        options.steps = &blockSteps;
        return options;
    }
    void addEndpoints()
    {
        audio.addEndpoint(endpointSetup(platform::Flow::Capture, kMic, L"Microphone (Sim USB)"));
        audio.addEndpoint(endpointSetup(platform::Flow::Capture, kMic2, L"Headset Microphone"));
        audio.addEndpoint(endpointSetup(
            platform::Flow::Render, kCable, L"CABLE Input (VB-Audio Virtual Cable)", L"VB-Audio Virtual Cable"));
        audio.addEndpoint(endpointSetup(platform::Flow::Render, kPhones, L"Headphones (Sim)"));
        settings::setDeviceName(settings, settings::DeviceKind::Mic, kMic);
        settings::setDeviceName(settings, settings::DeviceKind::Spk, kPhones);
    }
};

} // namespace test
