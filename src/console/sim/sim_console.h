#pragma once
// A console over the simulated platform: a manual clock, simulated endpoints
// and keys, a scripted web, process runner and signer. Whoever holds it adds
// the endpoints it needs and steps the engine on the virtual clock: the
// headless tool, the tests and the benchmarks. The engine starts at its first
// step (or engine().start()), so settings made before then are the ones it
// prepares with.

#include "console/console.h"
#include "platform/sim/manual_clock.h"
#include "platform/sim/sim_audio.h"
#include "platform/sim/sim_keys.h"
#include "platform/sim/sim_processes.h"
#include "platform/sim/sim_signatures.h"
#include "platform/sim/sim_web.h"

#include <cstdint>

namespace console {

struct SimOptions {
    engine::BlockSteps* steps = nullptr; // replaces the effect chain; see Console
    platform::Files* files = nullptr;    // where the cavern's response is looked for
    std::wstring responseFolder;
    platform::RegistryStore* registry = nullptr; // none: no registry store
    // After each step, wait for the jobs the engine gave its device thread
    // (opens, closes), so that their results arrive at the same virtual time
    // on every run. Off for a test of an open that takes virtual time.
    bool settleDeviceThread = true;
    // The cable's install flow: its folder (in files) and the vendor's addresses.
    std::wstring cableFolder = cable::cableFolderFor(nullptr);
    cable::VendorSite vendorSite{};
    // Another program's sound (tests script it); none: no application capture.
    platform::AppAudio* appAudio = nullptr;
};

class SimConsole {
public:
    explicit SimConsole(SimOptions options = {});

    platform::sim::ManualClock clock;
    platform::sim::SimAudio audio{clock};
    platform::sim::SimKeys keys;
    // The cable's outside services; downloads land in the options' files.
    platform::sim::SimWeb web;
    platform::sim::SimProcesses processes{clock};
    platform::sim::SimSignatures signatures;

    Console& console() { return console_; }
    engine::Engine& engine() { return console_.engine(); }

    // One engine step; the device thread settled as the options say.
    engine::StepWait step();
    // Steps the engine for micros of virtual time. A wait for the capture
    // event advances the clock 1 ms at a time, so packets are taken as they
    // arrive. Returns the number of steps taken.
    int run(int64_t micros);
    // Advances the clock as a wait asks (capture waits 1 ms at a time) and
    // lets the capture streams signal; at most limit micros.
    void advance(const engine::StepWait& wait, int64_t limit = INT64_MAX);

private:
    bool settle_;
    Console console_;
};

} // namespace console
