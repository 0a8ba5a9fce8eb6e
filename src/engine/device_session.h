#pragma once
// The engine's device session: the capture and the two render outputs, from
// the open sequence to the close. It opens the devices while the engine is
// not running, keeps the monitor output to its needs with back-off, retries
// the cable output on request, swaps the microphone, takes capture packets
// with gap detection and writes the outputs. While the voice flows every
// open, close and endpoint look-up runs on the device thread
// (device_thread.h) and the session takes its result at a later packet, so an
// output that is slow to open never stalls the other one and a re-open costs
// the engine thread no allocation.
//
// Engine thread only; the device thread sees nothing here but its jobs.

#include "engine/audio_io.h"
#include "engine/device_thread.h"
#include "engine/engine_report.h"
#include "engine/engine_state.h"
#include "platform/audio_endpoints.h"
#include "platform/clock.h"
#include "settings/settings.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

inline constexpr int64_t kMonitorRetryBaseMillis = 2000;
inline constexpr uint32_t kGapLimitFrames = 3840; // 80 ms
inline constexpr int kGoodPacketsForGapFill = 8;

// Who needs the monitor output: one bit each.
inline constexpr uint8_t kMonitorForVoice = 1;   // monitor
inline constexpr uint8_t kMonitorForClips = 2;   // clip_hear
inline constexpr uint8_t kMonitorForApp = 4;     // application audio heard privately
inline constexpr uint8_t kMonitorForPreview = 8; // a take preview
// Needs that open the monitor with the low-latency option.
inline constexpr uint8_t kMonitorLowLatencyNeeds = kMonitorForVoice | kMonitorForClips;

struct SessionServices {
    platform::Clock& clock;
    platform::AudioDevices& devices;
    settings::Settings& settings;
    EngineState& state;
    EngineReports& reports;
    platform::Event& captureEvent;
};

// One capture packet, copied out of the device.
struct CapturedPacket {
    const float* samples = nullptr; // interleaved stereo, zeros for a silent packet
    uint32_t frames = 0;
    uint32_t gap = 0; // frames lost just before it, to be filled with silence
};

enum class CaptureResult { Packet, Empty, Failed };

class DeviceSession {
public:
    explicit DeviceSession(SessionServices services);
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // The open sequence: capture, cable, monitor, all started. false: the
    // microphone could not be opened (the outputs stay as they are; close()).
    bool open(const settings::Snapshot& st);
    // Waits for the device thread's jobs and closes every stream; the cable
    // status is back to not running.
    void close();
    // close(), and the device thread ends.
    void stop();
    // Once per packet while running: the device thread's results, the
    // monitor's needs, a requested cable retry, a requested microphone re-open.
    void manage(const settings::Snapshot& st);
    // The next capture packet, copied out, with the gap before it; every
    // buffer of the session then holds a block of the larger of the two.
    CaptureResult nextPacket(CapturedPacket& packet);
    // The cable, then the monitor. A failing monitor is closed and tried again
    // later; false: the cable write failed, which ends the running state.
    bool writeOutputs(const float* cable, const float* monitor, uint32_t n) noexcept;
    // Every buffer holds a block of frames, so that no packet allocates.
    void ensureScratch(uint32_t frames);

    int32_t cableStatus() const { return cableStatus_; }
    bool monitorOpen() const { return monitor_.isOpen(); }
    uint32_t captureBufferFrames() const { return captureBufferFrames_; }

    // For tests and diagnostics.
    const RenderOutput& cableOutput() const { return cable_; }
    const RenderOutput& monitorOutput() const { return monitor_; }
    int goodPackets() const { return goodPackets_; }
    std::wstring_view captureEndpoint() const { return captureEndpoint_.view(); }
    std::wstring_view monitorEndpoint() const { return monitorEndpoint_.view(); }
    // Blocks until the device thread has run every job posted so far.
    void waitForDeviceThread() { devices_.waitIdle(); }

private:
    // The device thread's side: runs one open job.
    void runJob(DeviceJob& job) const;
    // Engine thread: a job slot to fill, or null when the ring is full.
    DeviceJob* newJob(DeviceJobKind kind) noexcept;
    // Hands the device thread what the engine lets go of; closed here only
    // when its ring is full.
    void retire(RenderOutput& output) noexcept;
    void retireCapture() noexcept;
    void takeResults() noexcept;
    void takeMonitor(DeviceJob& result) noexcept;
    void takeCable(DeviceJob& result) noexcept;
    void takeMic(DeviceJob& result) noexcept;

    uint8_t monitorNeeds(const settings::Snapshot& st) const;
    void monitorOpenFailed(int64_t attemptMillis);
    void manageMonitor(const settings::Snapshot& st);
    void retryCable();
    void reopenMic(const settings::Snapshot& st);
    void restartGapDetection();

    SessionServices s_;
    int32_t cableStatus_ = kCableNotRunning;
    uint32_t scratchFrames_ = 0;

    // Capture.
    std::unique_ptr<platform::AudioClient> captureClient_;
    std::unique_ptr<platform::CaptureService> captureService_;
    EndpointId captureEndpoint_;
    uint32_t captureBufferFrames_ = 0;
    std::vector<float> capture_;
    uint64_t expectedPosition_ = 0;
    bool havePosition_ = false;
    int goodPackets_ = 0;

    // Outputs.
    RenderOutput cable_;
    RenderOutput monitor_;
    EndpointId cableEndpoint_;
    EndpointId monitorEndpoint_; // endpoint of the open monitor
    EndpointId monitorWanted_;   // endpoint the monitor should be open on
    uint8_t monitorFlags_ = 0;   // the needs last asked for
    int64_t monitorRetryAtMillis_ = 0;
    int monitorRetries_ = 0;
    int64_t monitorAttemptMillis_ = 0; // when the job in flight was posted

    // One job of each kind at most in flight.
    bool monitorInFlight_ = false;
    bool cableInFlight_ = false;
    bool micInFlight_ = false;
    DeviceThread devices_; // last: its thread ends before the rest goes
};

} // namespace engine
