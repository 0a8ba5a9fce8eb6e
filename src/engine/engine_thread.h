#pragma once
// The one engine thread: a thin loop that steps the engine and waits as each
// step asks, until the stop request ends it.

#include "engine/engine.h"

#include <thread>

namespace engine {

class EngineThread {
public:
    // engine and state outlive the thread; state carries its stop request.
    EngineThread(Engine& engine, platform::Clock& clock, EngineState& state);
    ~EngineThread(); // stops and joins
    EngineThread(const EngineThread&) = delete;
    EngineThread& operator=(const EngineThread&) = delete;

    void start();
    // Raises the stop request and joins the thread.
    void stop();
    bool running() const { return thread_.joinable(); }

private:
    Engine& engine_;
    platform::Clock& clock_;
    EngineState& state_;
    std::thread thread_;
};

// Runs an engine until it ends: the body of the engine thread.
void runEngine(Engine& engine, platform::Clock& clock);

} // namespace engine
