#pragma once
// Other programs' sound as a test scripts it: processes with their parents,
// executable names, creation times and exits; the processes of the visible
// windows; audio sessions with volume and mute; per-process loopback whose
// packets the test pushes (or whose activation is refused with a code, or is
// missing altogether); the audio policy's per-process default endpoints (or
// no policy at all); the system build. Every member is safe from any thread.

#include "platform/app_audio.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform::sim {

class SimAppAudio final : public AppAudio {
public:
    SimAppAudio();
    ~SimAppAudio() override;

    // ---- Script ----
    void setSystemBuild(uint32_t build);
    void setOwnProcessId(uint32_t id);
    // creationTime: nothing when the platform cannot tell it.
    void addProcess(uint32_t id, uint32_t parentId, std::wstring exeName, std::optional<int64_t> creationTime = 0);
    // The process ends: it leaves the snapshot and its watchers see it exit.
    void exitProcess(uint32_t id);
    // false: the process cannot be opened for waiting (existence is polled).
    void setOpenable(uint32_t id, bool openable);
    void setWindowProcesses(std::vector<uint32_t> ids);
    // Returns the session's index for sessionVolume / sessionMuted.
    size_t addSession(uint32_t processId, float volume, bool muted, bool expired = false);
    // The session's mute state cannot be read.
    void setSessionMuteUnreadable(size_t index, bool unreadable);
    float sessionVolume(size_t index) const;
    bool sessionMuted(size_t index) const;

    // Loopback activation: refused with error (0: accepted), or missing (the
    // activation function does not exist: kAppNotImplemented).
    void setActivationError(uint32_t error);
    int activations() const;
    // Whether the last activation asked for the right stream (loopback,
    // event callback) and the process it targeted.
    bool lastInitWasLoopbackEvent() const;
    uint32_t lastActivatedProcess() const;
    // Queues one packet for the open loopback stream and sets its event.
    void pushPacket(const std::vector<float>& interleaved, uint32_t flags = 0);
    // Every capture call of the open stream fails from now on (until cleared).
    void setCaptureFails(bool fails);

    // The audio policy. Unavailable: reads give nothing and writes fail.
    void setPolicyAvailable(bool available);
    // Empty: none set.
    void setPersisted(uint32_t processId, EndpointRole role, std::wstring path);
    std::wstring persisted(uint32_t processId, EndpointRole role) const;

    // ---- AppAudio ----
    uint32_t systemBuild() override;
    uint32_t ownProcessId() override;
    std::vector<ProcessEntry> processes() override;
    std::optional<int64_t> creationTime(uint32_t processId) override;
    std::vector<uint32_t> windowProcesses() override;
    std::vector<std::unique_ptr<AudioSession>> sessions() override;
    std::unique_ptr<WatchedProcess> openProcess(uint32_t processId) override;
    bool processExists(uint32_t processId) override;
    std::unique_ptr<AudioClient> activateProcessLoopback(
        uint32_t processId, int64_t timeoutMicros, uint32_t& error) override;
    std::optional<std::wstring> persistedDefaultEndpoint(uint32_t processId, EndpointRole role) override;
    bool setPersistedDefaultEndpoint(uint32_t processId, EndpointRole role, const std::wstring& devicePath) override;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

} // namespace platform::sim
