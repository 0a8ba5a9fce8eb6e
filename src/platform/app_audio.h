#pragma once
// What capturing another program's sound needs of the platform: the
// processes and windows there are, the audio sessions on the playback
// endpoints, per-process loopback capture (the program and its child
// processes), and the per-program default endpoints of the audio policy.
// Each piece may be missing on an older system: a missing one is an
// ordinary refusal, never a crash.

#include "platform/audio_stream.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct ProcessEntry {
    uint32_t id = 0;
    uint32_t parentId = 0;
    std::wstring exeName; // "player.exe"
};

// One audio session on an active playback endpoint.
class AudioSession {
public:
    virtual ~AudioSession() = default;
    virtual uint32_t processId() = 0;
    virtual bool expired() = 0;
    // Nothing when it cannot be read.
    virtual std::optional<float> volume() = 0;
    virtual bool setVolume(float volume) = 0;
    virtual std::optional<bool> muted() = 0;
    virtual bool setMuted(bool muted) = 0;
};

// A process opened for waiting on its exit.
class WatchedProcess {
public:
    virtual ~WatchedProcess() = default;
    virtual bool exited() = 0;
};

// The three roles a program's default playback endpoint is kept for.
enum class EndpointRole { Console = 0, Multimedia = 1, Communications = 2 };

// The platform's result codes that the capture reports.
inline constexpr uint32_t kAppNotImplemented = 0x80004001u; // E_NOTIMPL
inline constexpr uint32_t kAppTimeout = 0x800705B4u;        // HRESULT_FROM_WIN32(ERROR_TIMEOUT)

class AppAudio {
public:
    virtual ~AppAudio() = default;

    // The system's build number; 0 when it cannot be asked.
    virtual uint32_t systemBuild() = 0;
    virtual uint32_t ownProcessId() = 0;
    // A snapshot of every process; empty when it cannot be taken.
    virtual std::vector<ProcessEntry> processes() = 0;
    // The process's creation time in the platform's units; nothing when unknown.
    virtual std::optional<int64_t> creationTime(uint32_t processId) = 0;
    // The processes of the top-level windows that are visible, have no
    // owner, are not tool windows and have a title, in window order.
    virtual std::vector<uint32_t> windowProcesses() = 0;
    // Every audio session of every active playback endpoint.
    virtual std::vector<std::unique_ptr<AudioSession>> sessions() = 0;

    // nullptr when the process cannot be opened for waiting.
    virtual std::unique_ptr<WatchedProcess> openProcess(uint32_t processId) = 0;
    virtual bool processExists(uint32_t processId) = 0;

    // Activates a loopback audio client on the process and its tree, waiting
    // at most timeoutMicros; nullptr with the platform's error code (a
    // missing activation function: kAppNotImplemented; no answer in time:
    // kAppTimeout). The client is then initialised with
    // SharedStreamParams{loopback, eventCallback} as a capture stream.
    virtual std::unique_ptr<AudioClient> activateProcessLoopback(
        uint32_t processId, int64_t timeoutMicros, uint32_t& error) = 0;

    // The per-program default playback endpoint for a role, as a device path;
    // empty when none is set, nothing when the policy cannot be asked.
    virtual std::optional<std::wstring> persistedDefaultEndpoint(uint32_t processId, EndpointRole role) = 0;
    // An empty path clears it. False when the policy is unavailable or refuses.
    virtual bool setPersistedDefaultEndpoint(uint32_t processId, EndpointRole role, const std::wstring& devicePath) = 0;

    // Enters the platform's worker-thread setup (COM, multithreaded) until
    // the returned object is destroyed on the same thread.
    virtual std::shared_ptr<void> enterWorkerThread() { return nullptr; }
};

} // namespace platform
