#include "console/sim/sim_console.h"

#include <algorithm>

namespace console {

SimConsole::SimConsole(SimOptions options)
    : web(options.files),
      settle_(options.settleDeviceThread),
      console_(Platform{.clock = clock,
                   .devices = audio,
                   .keys = &keys,
                   .files = options.files,
                   .responseFolder = std::move(options.responseFolder),
                   .registry = options.registry,
                   .web = &web,
                   .processes = &processes,
                   .signatures = &signatures,
                   .cableFolder = std::move(options.cableFolder),
                   .vendorSite = std::move(options.vendorSite),
                   .appAudio = options.appAudio},
          options.steps)
{ }

engine::StepWait SimConsole::step()
{
    const engine::StepWait wait = console_.engine().step();
    if (settle_)
        console_.engine().waitForDeviceThread();
    return wait;
}

void SimConsole::advance(const engine::StepWait& wait, int64_t limit)
{
    if (wait.micros <= 0)
        return;
    const int64_t dt = wait.event ? std::min<int64_t>(wait.micros, 1000) : wait.micros;
    clock.advance(std::min(dt, limit));
    audio.tick();
}

int SimConsole::run(int64_t micros)
{
    int steps = 0;
    const int64_t end = clock.nowMicros() + micros;
    while (clock.nowMicros() < end && engine().phase() != engine::EnginePhase::Ended) {
        const engine::StepWait wait = step();
        ++steps;
        advance(wait, end - clock.nowMicros());
    }
    return steps;
}

} // namespace console
