#pragma once
// The engine's request flags and reports, shared by the engine thread, the
// interface thread and the cable status watcher. Every field is its own
// atomic: requests are consumed with an exchange, reports written with a
// store, an exchange or a compare-and-swap. The status text lives in the
// settings record under deviceNameLock.

#include <atomic>
#include <cstdint>

namespace engine {

using Flag = std::atomic<uint8_t>;

// cableStatus values.
inline constexpr int32_t kCableNotRunning = 0;
inline constexpr int32_t kCableOpen = 1;
inline constexpr int32_t kCableMissing = 2; // no cable endpoint found
inline constexpr int32_t kCableRefused = 3; // found but could not be opened

inline constexpr wchar_t kMicFailedText[] = L"Can't open this microphone. Pick another one.";

struct EngineState {
    // Requests.
    Flag engineReopenRequest{0}; // (re)open all devices; consumed by the engine
    Flag stopRequest{0};         // end the engine thread; never cleared
    Flag micReopenRequest{0};    // re-open only the capture while the outputs run
    Flag cableRetryRequest{0};   // try the cable output again while running
    Flag previewNeedsMonitor{0}; // a take preview keeps the monitor open
    // Application capture is starting or running (set by its own thread).
    Flag appCaptureActive{0};

    // Reports.
    Flag engineRunning{0}; // devices open and blocks flowing
    std::atomic<int32_t> cableStatus{kCableNotRunning};
    std::atomic<int32_t> outputPeak{0}; // largest |cable sample| x 10000 since last read
    Flag irLoaded{0};
    std::atomic<int32_t> speedLatencyMs{0};
    std::atomic<int32_t> detectedPitchHz{0};
    std::atomic<int32_t> targetPitchHz{0};
    Flag glitchButtonHeld{0}; // interface
    Flag glitchKeyHeld{0};    // engine
    Flag glitchKeyArmed{0};   // engine: the key was seen released at least once
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

// Engine: raises outputPeak to peak if it is larger; never lowers it.
inline void raiseOutputPeak(EngineState& s, int32_t peak) noexcept
{
    int32_t seen = s.outputPeak.load(std::memory_order_relaxed);
    while (peak > seen && !s.outputPeak.compare_exchange_weak(seen, peak, std::memory_order_relaxed)) { }
}
// Interface: the peak since the last call, cleared in the same step.
inline int32_t takeOutputPeak(EngineState& s) noexcept
{
    return s.outputPeak.exchange(0, std::memory_order_relaxed);
}

} // namespace engine
