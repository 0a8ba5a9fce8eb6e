#pragma once
// The engine: captures the microphone, runs each block through the voice
// chain and writes the cable and monitor outputs. It is written as steps: each
// call of step() does one thing (an idle check, an open, one capture packet,
// a retry check) and says what to wait for before the next call, so a test
// drives it one packet at a time on a virtual clock and the engine thread is
// a thin loop around it (engine_thread.h). The devices are the session's
// (device_session.h), the blocks the cycle's (block_cycle.h); the engine
// moves between its phases and publishes the report. Engine thread only.

#include "engine/audio_io.h"
#include "engine/block_cycle.h"
#include "engine/block_steps.h"
#include "engine/device_session.h"
#include "engine/engine_report.h"
#include "engine/engine_state.h"
#include "engine/recorder_ring.h"
#include "platform/audio_endpoints.h"
#include "platform/audio_thread.h"
#include "platform/clock.h"
#include "platform/key_state.h"
#include "settings/settings.h"

#include <cstdint>
#include <memory>
#include <string>

namespace engine {

enum class EnginePhase { Starting, Idle, Opening, Running, RetryWait, Ended };

// What the thread waits for before the next step: the event (when set) or
// the time, whichever comes first. Zero micros: step again at once.
struct StepWait {
    platform::Event* event = nullptr;
    int64_t micros = 0;
};

inline constexpr int64_t kIdlePollMicros = 50000;
inline constexpr int64_t kRetryPollMicros = 100000;
inline constexpr int64_t kRetryDelayMicros = 1000000;
inline constexpr int64_t kCaptureWaitMicros = 20000;

// What the engine needs from the rest of the program.
struct EngineServices {
    platform::Clock& clock;
    platform::AudioDevices& devices;
    settings::Settings& settings;
    EngineState& state;
    EngineReports& reports;
    RecorderRings& rings;
    BlockSteps& steps;
    // The keys as they are now, for the glitch hotkey (GlitchKey); none: never held.
    const platform::KeyState* keys = nullptr;
};

class Engine {
public:
    explicit Engine(EngineServices services);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Thread start: denormals flushed, scheduling registered, impulse
    // response loaded, effects prepared. Then Idle.
    void start();
    // One step; see StepWait.
    StepWait step();
    EnginePhase phase() const { return phase_; }
    // The event capture streams set when a packet is ready.
    platform::Event& captureEvent() { return *captureEvent_; }
    platform::ThreadPriority priority() const;

    // For tests and diagnostics, on the thread that steps the engine; the
    // interface reads the report instead.
    const DeviceSession& session() const { return session_; }
    int openAttempts() const { return openAttempts_; }
    // Blocks until the device thread has run every job posted so far (an
    // open, a close); an open's result is taken at the next packet.
    void waitForDeviceThread() { session_.waitForDeviceThread(); }

private:
    StepWait idleStep();
    StepWait retryStep();
    StepWait runningStep();
    void fail(bool running);
    void close();
    void shutdown();
    void ensureScratch(uint32_t frames);
    void publish() noexcept;

    EngineServices s_;
    EnginePhase phase_ = EnginePhase::Starting;
    std::unique_ptr<platform::Event> captureEvent_;
    std::unique_ptr<platform::AudioThreadRegistration> registration_;
    DeviceSession session_;
    BlockCycle cycle_;
    int64_t retryAt_ = 0;
    int openAttempts_ = 0;
    int presetInUse_ = -1; // set at start

    // What the next report says beside the session and the cycle.
    uint64_t blocks_ = 0;
    EngineStatus status_ = EngineStatus::Ok;
    bool running_ = false;
    bool irLoaded_ = false;
};

} // namespace engine
