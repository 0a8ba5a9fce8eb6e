#pragma once
// The engine: captures the microphone, runs each block through the voice
// chain and writes the cable and monitor outputs. It is written as steps: each
// call of step() does one thing (an idle check, an open, one capture packet,
// a retry check) and says what to wait for before the next call, so a test
// drives it one packet at a time on a virtual clock and the engine thread is
// a thin loop around it (engine_thread.h).
//
// Everything here is owned by the engine thread, except the microphone
// re-open worker's hand-over fields, which are marked.

#include "engine/audio_io.h"
#include "engine/block_steps.h"
#include "engine/engine_state.h"
#include "engine/recorder_ring.h"
#include "platform/audio_endpoints.h"
#include "platform/clock.h"
#include "platform/key_state.h"
#include "settings/settings.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

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
inline constexpr int64_t kMonitorRetryBaseMillis = 2000;
inline constexpr uint32_t kGapLimitFrames = 3840; // 80 ms
inline constexpr int kGoodPacketsForGapFill = 8;

// What the engine needs from the rest of the program.
struct EngineServices {
    platform::Clock& clock;
    platform::AudioDevices& devices;
    settings::Settings& settings;
    EngineState& state;
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

    // For tests and diagnostics.
    const RenderOutput& cableOutput() const { return cable_; }
    const RenderOutput& monitorOutput() const { return monitor_; }
    uint32_t captureBufferFrames() const { return captureBufferFrames_; }
    int goodPackets() const { return goodPackets_; }
    int openAttempts() const { return openAttempts_; }
    const std::wstring& captureEndpoint() const { return captureEndpoint_; }
    const std::wstring& monitorEndpoint() const { return monitorEndpoint_; }
    // Blocks until a running microphone re-open worker has finished.
    void waitForMicReopenWorker();

private:
    StepWait idleStep();
    StepWait retryStep();
    StepWait runningStep();
    bool openSequence();
    void fail(bool running);
    void closeEverything();
    void shutdown();

    void manageMonitor();
    uint8_t monitorNeedFlags() const;
    void monitorOpenFailed();
    void retryCable();
    void checkMicReopen();
    void ensureScratch(uint32_t frames);
    bool blockCycle(const float* interleaved, uint32_t n, int pass) noexcept;
    void pollGlitchKey() noexcept;

    EngineServices s_;
    EnginePhase phase_ = EnginePhase::Starting;
    std::unique_ptr<platform::Event> captureEvent_;
    std::unique_ptr<platform::AudioThreadRegistration> registration_;
    int64_t retryAt_ = 0;
    int openAttempts_ = 0;

    // Capture.
    std::unique_ptr<platform::AudioClient> captureClient_;
    std::unique_ptr<platform::CaptureService> captureService_;
    std::wstring captureEndpoint_;
    uint32_t captureBufferFrames_ = 0;
    uint64_t expectedPosition_ = 0;
    bool havePosition_ = false;
    int goodPackets_ = 0;

    // Outputs.
    RenderOutput cable_;
    RenderOutput monitor_;
    std::wstring cableEndpoint_;
    std::wstring monitorEndpoint_; // endpoint of the open monitor
    std::wstring monitorWanted_;   // endpoint the monitor should be open on
    uint8_t monitorFlags_ = 0;
    int64_t monitorRetryAtMillis_ = 0;
    int monitorRetries_ = 0;

    // Microphone re-open worker: the worker writes workerClient_ and
    // workerBufferFrames_, then sets workerDone_; the engine reads them after
    // seeing workerDone_ and joining.
    std::thread worker_;
    std::atomic<bool> workerDone_{false};
    std::unique_ptr<platform::AudioClient> workerClient_;
    uint32_t workerBufferFrames_ = 0;

    // Block state.
    int presetInUse_ = 8;
    uint32_t eqRevisionSeen_ = 0;
    int32_t micLevelSeen_ = -1;
    float micGain_ = 1.0f;
    std::vector<float> capture_;
    std::vector<float> voice_;
    std::vector<float> wetCable_;
    std::vector<float> wetMonitor_;
    std::vector<float> cableBus_;
    std::vector<float> monitorBus_;
};

} // namespace engine
