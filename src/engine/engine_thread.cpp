#include "engine/engine_thread.h"

namespace engine {

void runEngine(Engine& engine, platform::Clock& clock)
{
    engine.start();
    while (engine.phase() != EnginePhase::Ended) {
        const StepWait wait = engine.step();
        if (wait.micros <= 0)
            continue;
        if (wait.event)
            clock.wait(*wait.event, wait.micros);
        else
            clock.sleepMicros(wait.micros);
    }
}

EngineThread::EngineThread(Engine& engine, platform::Clock& clock, EngineState& state)
    : engine_(engine), clock_(clock), state_(state)
{ }

EngineThread::~EngineThread()
{
    stop();
}

void EngineThread::start()
{
    if (thread_.joinable())
        return;
    thread_ = std::thread([this] { runEngine(engine_, clock_); });
}

void EngineThread::stop()
{
    if (!thread_.joinable())
        return;
    requestStop(state_);
    thread_.join();
}

} // namespace engine
