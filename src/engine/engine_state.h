#pragma once
// The requests other threads make of the engine: the interface, the setup
// loader, the cable status watcher and background jobs raise them, the engine
// consumes them with an exchange. Every field is its own one-byte atomic.
// What the engine reports back travels in EngineReports (engine_report.h).

#include <atomic>
#include <cstdint>

namespace engine {

using Flag = std::atomic<uint8_t>;

struct EngineState {
    Flag engineReopenRequest{0}; // (re)open all devices; consumed by the engine
    Flag stopRequest{0};         // end the engine thread; never cleared
    Flag micReopenRequest{0};    // re-open only the capture while the outputs run
    Flag cableRetryRequest{0};   // try the cable output again while running
    Flag previewNeedsMonitor{0}; // a take preview keeps the monitor open
    // Application capture is starting or running (set by its own thread).
    Flag appCaptureActive{0};
    Flag glitchButtonHeld{0}; // the on-screen glitch button is held
};

inline void requestOpen(EngineState& s)
{
    s.engineReopenRequest.store(1);
}
inline void requestStop(EngineState& s)
{
    s.stopRequest.store(1);
}
inline void requestMicReopen(EngineState& s)
{
    s.micReopenRequest.store(1);
}
inline void requestCableReopen(EngineState& s)
{
    s.cableRetryRequest.store(1);
}

} // namespace engine
