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

EngineThread::EngineThread(EngineServices services) : services_(std::move(services))
{ }

EngineThread::~EngineThread()
{
    stop();
}

void EngineThread::start()
{
    if (thread_.joinable())
        return;
    thread_ = std::thread([this] {
        Engine engine(services_);
        runEngine(engine, services_.clock);
    });
}

void EngineThread::stop()
{
    if (!thread_.joinable())
        return;
    requestStop(services_.state);
    thread_.join();
}

} // namespace engine
