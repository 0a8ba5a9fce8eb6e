#pragma once
// Another program's sound into the mix: per-process loopback capture of the
// chosen program (and its child processes) on a capture thread that writes
// a single-producer single-consumer ring the engine reads as the
// application bus, and a policy thread that keeps the program audible and,
// when a spare playback endpoint exists, parks the program's own output
// there so that the user does not hear it twice. Stopping restores every
// parked process's endpoints.

#include "engine/endpoints.h"
#include "engine/engine_state.h"
#include "engine/mix_sources.h"
#include "platform/app_audio.h"
#include "platform/audio_endpoints.h"
#include "platform/clock.h"
#include "settings/settings.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace appcapture {

enum class AppState : int32_t { Off = 0, Starting = 1, Capturing = 2, Unsupported = 3, Refused = 4, Exited = 5 };

inline constexpr uint32_t kFirstSupportedBuild = 19041;
inline constexpr int64_t kActivationTimeoutMicros = 3000000;

// Captured stereo audio: one writer (the capture thread), one reader (the
// engine). The reader starts once 40 ms are queued and skips ahead above
// 240 ms; the writer stretches packets by a few frames to hold the fill
// near 40 ms when the program's clock and the engine's drift apart.
class AppRing {
public:
    static constexpr uint32_t kCapacity = 48000;
    static constexpr uint32_t kStartLevel = 1920;
    static constexpr uint32_t kTolerance = 480;
    static constexpr uint32_t kMaxLevel = 11520;

    AppRing();
    // Any thread, before the writer starts: the reader starts over.
    void reset();
    // Writer: one packet of interleaved stereo frames (drift-corrected).
    void write(const float* interleaved, uint32_t frames);
    // Reader (engine thread): n frames into left/right, silence where none;
    // returns the frames delivered.
    uint32_t read(float* left, float* right, uint32_t n) noexcept;
    uint32_t queued() const;

private:
    std::vector<float> samples_;
    std::atomic<uint32_t> write_{0}, read_{0};
    std::atomic<uint8_t> reset_{0};
    bool streaming_ = false; // reader
    double smoothedFill_ = 0.0;
    uint32_t packets_ = 0;
    std::vector<float> stretched_; // writer's scratch, sized once
};

struct AppEntry {
    uint32_t processId = 0;
    std::wstring name;
};

// The program list: windows' and sessions' processes folded into their
// same-named parents, this program and shell hosts left out, sorted by
// name, equal names numbered " (2)", " (3)"...
std::vector<AppEntry> listAudioPrograms(platform::AppAudio& audio);

// The spare endpoint to park the program on; empty for none.
struct ParkingChoice {
    std::wstring id;
    std::wstring name;
};
ParkingChoice parkingEndpoint(const std::vector<platform::EndpointInfo>& renderEndpoints,
    const std::wstring& defaultRenderId, const std::wstring& cableId, const std::wstring& speakerId, bool allowSteam);
// "\\?\SWD#MMDEVAPI#" + id + "#{e6327cad-dcec-4949-ae8a-991e976a79d2}", unless id is one already.
std::wstring policyDevicePath(const std::wstring& endpointId);

// The status line's text for a state ("Needs Windows 10 (2004) or newer", ...).
std::wstring appStatusText(AppState state, uint32_t lastError, const std::wstring& appName);

class AppCapture final : public engine::AppSource {
public:
    // state: its appCaptureActive flag follows states 1 and 2 (the engine's
    // monitor decision reads it).
    AppCapture(platform::AppAudio& audio, platform::AudioDevices& devices, platform::Clock& clock,
        settings::Settings& settings, engine::EngineState& state);
    ~AppCapture() override; // stops

    // Interface thread.
    void startAppCapture(const AppEntry& entry);
    void stopAppCapture();
    // After app_hear/app_only change, a setup load or the tab's reset.
    void refreshAppRouting();

    AppState state() const { return static_cast<AppState>(state_.load()); }
    uint32_t lastError() const { return lastError_.load(); }
    const std::wstring& appName() const { return appName_; }
    const std::wstring& parkingName() const { return parkingName_; }
    bool parked() const { return parked_.load() != 0; }
    int64_t lastAudibleMillis() const { return lastAudible_.load(); }
    std::wstring statusText() const { return appStatusText(state(), lastError(), appName_); }
    // The tab's meter: the largest sample of the packets written since the
    // last call (|sample| x 10000), cleared in the same step.
    int32_t takePeak() { return peak_.exchange(0, std::memory_order_relaxed); }

    // engine::AppSource, engine thread.
    bool running() const noexcept override;
    bool parkRequested() const noexcept override { return parkRequested_.load() != 0; }
    uint32_t read(float* left, float* right, uint32_t n) noexcept override { return ring_.read(left, right, n); }

    // Steps the threads run, for tests that drive them one at a time.
    // One pass of the capture loop's body after activation (drain the
    // packets that are ready); false when the capture call failed.
    bool drainPackets(platform::CaptureService& capture);
    // One pass of the policy work (sessions audible, the tree parked).
    void policyPass();
    // Puts every parked process's endpoints back and unmutes its sessions.
    void restore();

    AppRing& ring() { return ring_; }

private:
    void captureThread();
    void policyThread();
    void setState(AppState state);
    ParkingChoice currentParkingChoice();
    // Initialises, attaches the packet event and starts an activated client.
    bool openLoopback(platform::AudioClient& client, std::unique_ptr<platform::CaptureService>& capture);
    // The tree's sessions raised above 0.01 and unmuted.
    void keepAudible(const std::vector<uint32_t>& tree);
    std::vector<uint32_t> processTree() const;

    platform::AppAudio& audio_;
    platform::AudioDevices& devices_;
    platform::Clock& clock_;
    settings::Settings& settings_;
    engine::EngineState& engineState_;
    AppRing ring_;
    std::thread capture_, policy_;
    std::atomic<uint8_t> stop_{0};
    std::atomic<int32_t> state_{0};
    std::atomic<uint32_t> lastError_{0};
    std::atomic<int64_t> lastAudible_{0};
    std::atomic<int32_t> peak_{0};
    std::atomic<uint8_t> parkRequested_{0};
    std::atomic<uint8_t> parked_{0};
    // Set by a stop and by the capture thread's end, so that neither thread
    // waits out its timeout; reset at start (manual reset).
    std::unique_ptr<platform::Event> wake_;
    std::unique_ptr<platform::Event> packetReady_; // the loopback client's event (auto reset)
    // Written by the interface thread while no capture thread runs.
    uint32_t processId_ = 0;
    std::wstring appName_;
    std::wstring parkingId_, parkingName_;
    // Saved endpoints by process id (three roles; nothing: none was set).
    std::mutex parkingLock_;
    std::map<uint32_t, std::array<std::optional<std::wstring>, 3>> saved_;
    std::vector<uint32_t> parkedProcesses_;
};

} // namespace appcapture
