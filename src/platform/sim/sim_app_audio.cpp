#include "platform/sim/sim_app_audio.h"

#include <algorithm>
#include <deque>

namespace platform::sim {

namespace {

struct SimProcess {
    ProcessEntry entry;
    std::optional<int64_t> creationTime;
    bool alive = true;
    bool openable = true;
};

struct SimSession {
    uint32_t processId = 0;
    float volume = 1.0f;
    bool muted = false;
    bool expired = false;
    bool muteUnreadable = false;
};

struct Packet {
    std::vector<float> samples;
    uint32_t flags = 0;
};

} // namespace

struct SimAppAudio::Shared {
    mutable std::mutex mutex;
    uint32_t build = 19041;
    uint32_t ownId = 1;
    std::vector<SimProcess> processes; // in snapshot order
    std::vector<uint32_t> windows;
    std::vector<SimSession> sessions;
    uint32_t activationError = 0;
    int activations = 0;
    uint32_t lastProcess = 0;
    bool lastLoopbackEvent = false;
    // The open stream: its event and packets; a generation ends older clients.
    uint64_t generation = 0;
    Event* event = nullptr;
    std::deque<Packet> packets;
    bool captureFails = false;
    bool policyAvailable = true;
    std::map<std::pair<uint32_t, int>, std::wstring> persisted;

    SimProcess* find(uint32_t id)
    {
        for (auto& p : processes)
            if (p.entry.id == id && p.alive)
                return &p;
        return nullptr;
    }
};

namespace {

class SimSessionHandle final : public AudioSession {
    template <typename F> auto with(F f)
    {
        std::lock_guard lock(shared_->mutex);
        return f(shared_->sessions[index_]);
    }

public:
    SimSessionHandle(std::shared_ptr<SimAppAudio::Shared> shared, size_t index)
        : shared_(std::move(shared)), index_(index)
    { }
    uint32_t processId() override
    {
        return with([](SimSession& s) { return s.processId; });
    }
    bool expired() override
    {
        return with([](SimSession& s) { return s.expired; });
    }
    std::optional<float> volume() override
    {
        return with([](SimSession& s) { return std::optional<float>(s.volume); });
    }
    bool setVolume(float volume) override
    {
        return with([&](SimSession& s) { return s.volume = volume, true; });
    }
    std::optional<bool> muted() override
    {
        return with([](SimSession& s) { return s.muteUnreadable ? std::nullopt : std::optional<bool>(s.muted); });
    }
    bool setMuted(bool muted) override
    {
        return with([&](SimSession& s) { return s.muted = muted, true; });
    }

private:
    std::shared_ptr<SimAppAudio::Shared> shared_;
    size_t index_;
};

class SimWatched final : public WatchedProcess {
public:
    SimWatched(std::shared_ptr<SimAppAudio::Shared> shared, uint32_t id) : shared_(std::move(shared)), id_(id) { }
    bool exited() override
    {
        std::lock_guard lock(shared_->mutex);
        return shared_->find(id_) == nullptr;
    }

private:
    std::shared_ptr<SimAppAudio::Shared> shared_;
    uint32_t id_;
};

class SimLoopbackCapture final : public CaptureService {
public:
    SimLoopbackCapture(std::shared_ptr<SimAppAudio::Shared> shared, uint64_t generation)
        : shared_(std::move(shared)), generation_(generation)
    { }
    AudioResult nextPacketSize(uint32_t& frames) override
    {
        std::lock_guard lock(shared_->mutex);
        if (!live())
            return AudioResult::DeviceGone;
        frames = shared_->packets.empty() ? 0 : static_cast<uint32_t>(shared_->packets.front().samples.size() / 2);
        return AudioResult::Ok;
    }
    AudioResult getPacket(CapturePacket& packet) override
    {
        std::lock_guard lock(shared_->mutex);
        if (!live() || shared_->packets.empty())
            return live() ? AudioResult::WrongState : AudioResult::DeviceGone;
        // The front packet stays in place (a deque keeps its address) until released.
        const Packet& front = shared_->packets.front();
        packet.data = front.samples.data();
        packet.frames = static_cast<uint32_t>(front.samples.size() / 2);
        packet.flags = front.flags;
        return AudioResult::Ok;
    }
    AudioResult releasePacket(uint32_t) override
    {
        std::lock_guard lock(shared_->mutex);
        if (!live() || shared_->packets.empty())
            return live() ? AudioResult::WrongState : AudioResult::DeviceGone;
        shared_->packets.pop_front();
        return AudioResult::Ok;
    }

private:
    bool live() const { return generation_ == shared_->generation && !shared_->captureFails; }
    std::shared_ptr<SimAppAudio::Shared> shared_;
    uint64_t generation_;
};

class SimLoopbackClient final : public AudioClient {
public:
    SimLoopbackClient(std::shared_ptr<SimAppAudio::Shared> shared, uint64_t generation)
        : shared_(std::move(shared)), generation_(generation)
    { }
    ~SimLoopbackClient() override
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->generation == generation_)
            shared_->event = nullptr;
    }
    AudioResult setProperties(const ClientProperties&) override { return AudioResult::Ok; }
    AudioResult mixFormat(MixFormat& format) override
    {
        format = MixFormat{};
        return AudioResult::Ok;
    }
    AudioResult enginePeriod(EnginePeriod&) override { return AudioResult::Unsupported; }
    AudioResult initializeLowLatency(uint32_t) override { return AudioResult::Unsupported; }
    AudioResult initializeShared(const SharedStreamParams& params) override
    {
        std::lock_guard lock(shared_->mutex);
        shared_->lastLoopbackEvent = params.loopback && params.eventCallback;
        initialized_ = true;
        return AudioResult::Ok;
    }
    AudioResult setEvent(Event& event) override
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->generation == generation_)
            shared_->event = &event;
        return initialized_ ? AudioResult::Ok : AudioResult::WrongState;
    }
    AudioResult bufferSize(uint32_t& frames) override
    {
        frames = 1920;
        return AudioResult::Ok;
    }
    AudioResult start() override { return initialized_ ? AudioResult::Ok : AudioResult::WrongState; }
    AudioResult stop() override { return AudioResult::Ok; }
    std::unique_ptr<RenderService> renderService(AudioResult& result) override
    {
        result = AudioResult::Unsupported;
        return nullptr;
    }
    std::unique_ptr<CaptureService> captureService(AudioResult& result) override
    {
        result = initialized_ ? AudioResult::Ok : AudioResult::WrongState;
        return initialized_ ? std::make_unique<SimLoopbackCapture>(shared_, generation_) : nullptr;
    }

private:
    std::shared_ptr<SimAppAudio::Shared> shared_;
    uint64_t generation_;
    bool initialized_ = false;
};

} // namespace

SimAppAudio::SimAppAudio() : shared_(std::make_shared<Shared>())
{ }
SimAppAudio::~SimAppAudio() = default;

void SimAppAudio::setSystemBuild(uint32_t build)
{
    std::lock_guard lock(shared_->mutex);
    shared_->build = build;
}
void SimAppAudio::setOwnProcessId(uint32_t id)
{
    std::lock_guard lock(shared_->mutex);
    shared_->ownId = id;
}
void SimAppAudio::addProcess(uint32_t id, uint32_t parentId, std::wstring exeName, std::optional<int64_t> creationTime)
{
    std::lock_guard lock(shared_->mutex);
    shared_->processes.push_back({{id, parentId, std::move(exeName)}, creationTime});
}
void SimAppAudio::exitProcess(uint32_t id)
{
    std::lock_guard lock(shared_->mutex);
    if (auto* p = shared_->find(id))
        p->alive = false;
}
void SimAppAudio::setOpenable(uint32_t id, bool openable)
{
    std::lock_guard lock(shared_->mutex);
    if (auto* p = shared_->find(id))
        p->openable = openable;
}
void SimAppAudio::setWindowProcesses(std::vector<uint32_t> ids)
{
    std::lock_guard lock(shared_->mutex);
    shared_->windows = std::move(ids);
}
size_t SimAppAudio::addSession(uint32_t processId, float volume, bool muted, bool expired)
{
    std::lock_guard lock(shared_->mutex);
    shared_->sessions.push_back({processId, volume, muted, expired});
    return shared_->sessions.size() - 1;
}
void SimAppAudio::setSessionMuteUnreadable(size_t index, bool unreadable)
{
    std::lock_guard lock(shared_->mutex);
    shared_->sessions.at(index).muteUnreadable = unreadable;
}
float SimAppAudio::sessionVolume(size_t index) const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->sessions.at(index).volume;
}
bool SimAppAudio::sessionMuted(size_t index) const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->sessions.at(index).muted;
}
void SimAppAudio::setActivationError(uint32_t error)
{
    std::lock_guard lock(shared_->mutex);
    shared_->activationError = error;
}
int SimAppAudio::activations() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->activations;
}
bool SimAppAudio::lastInitWasLoopbackEvent() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->lastLoopbackEvent;
}
uint32_t SimAppAudio::lastActivatedProcess() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->lastProcess;
}
void SimAppAudio::pushPacket(const std::vector<float>& interleaved, uint32_t flags)
{
    std::lock_guard lock(shared_->mutex);
    shared_->packets.push_back({interleaved, flags});
    if (shared_->event)
        shared_->event->set();
}
void SimAppAudio::setCaptureFails(bool fails)
{
    std::lock_guard lock(shared_->mutex);
    shared_->captureFails = fails;
    if (shared_->event)
        shared_->event->set();
}
void SimAppAudio::setPolicyAvailable(bool available)
{
    std::lock_guard lock(shared_->mutex);
    shared_->policyAvailable = available;
}
void SimAppAudio::setPersisted(uint32_t processId, EndpointRole role, std::wstring path)
{
    std::lock_guard lock(shared_->mutex);
    shared_->persisted[{processId, static_cast<int>(role)}] = std::move(path);
}
std::wstring SimAppAudio::persisted(uint32_t processId, EndpointRole role) const
{
    std::lock_guard lock(shared_->mutex);
    const auto it = shared_->persisted.find({processId, static_cast<int>(role)});
    return it == shared_->persisted.end() ? std::wstring() : it->second;
}

uint32_t SimAppAudio::systemBuild()
{
    std::lock_guard lock(shared_->mutex);
    return shared_->build;
}
uint32_t SimAppAudio::ownProcessId()
{
    std::lock_guard lock(shared_->mutex);
    return shared_->ownId;
}
std::vector<ProcessEntry> SimAppAudio::processes()
{
    std::lock_guard lock(shared_->mutex);
    std::vector<ProcessEntry> list;
    for (const auto& p : shared_->processes)
        if (p.alive)
            list.push_back(p.entry);
    return list;
}
std::optional<int64_t> SimAppAudio::creationTime(uint32_t processId)
{
    std::lock_guard lock(shared_->mutex);
    const auto* p = shared_->find(processId);
    return p ? p->creationTime : std::nullopt;
}
std::vector<uint32_t> SimAppAudio::windowProcesses()
{
    std::lock_guard lock(shared_->mutex);
    return shared_->windows;
}
std::vector<std::unique_ptr<AudioSession>> SimAppAudio::sessions()
{
    std::lock_guard lock(shared_->mutex);
    std::vector<std::unique_ptr<AudioSession>> list;
    for (size_t i = 0; i < shared_->sessions.size(); ++i)
        list.push_back(std::make_unique<SimSessionHandle>(shared_, i));
    return list;
}
std::unique_ptr<WatchedProcess> SimAppAudio::openProcess(uint32_t processId)
{
    std::lock_guard lock(shared_->mutex);
    const auto* p = shared_->find(processId);
    if (!p || !p->openable)
        return nullptr;
    return std::make_unique<SimWatched>(shared_, processId);
}
bool SimAppAudio::processExists(uint32_t processId)
{
    std::lock_guard lock(shared_->mutex);
    return shared_->find(processId) != nullptr;
}
std::unique_ptr<AudioClient> SimAppAudio::activateProcessLoopback(uint32_t processId, int64_t, uint32_t& error)
{
    std::lock_guard lock(shared_->mutex);
    ++shared_->activations;
    shared_->lastProcess = processId;
    error = shared_->activationError;
    if (error != 0)
        return nullptr;
    // A new stream: the packets of an older one are gone with it.
    ++shared_->generation;
    shared_->event = nullptr;
    shared_->packets.clear();
    return std::make_unique<SimLoopbackClient>(shared_, shared_->generation);
}
std::optional<std::wstring> SimAppAudio::persistedDefaultEndpoint(uint32_t processId, EndpointRole role)
{
    {
        std::lock_guard lock(shared_->mutex);
        if (!shared_->policyAvailable)
            return std::nullopt;
    }
    return persisted(processId, role);
}
bool SimAppAudio::setPersistedDefaultEndpoint(uint32_t processId, EndpointRole role, const std::wstring& devicePath)
{
    std::lock_guard lock(shared_->mutex);
    if (!shared_->policyAvailable)
        return false;
    if (devicePath.empty())
        shared_->persisted.erase({processId, static_cast<int>(role)});
    else
        shared_->persisted[{processId, static_cast<int>(role)}] = devicePath;
    return true;
}

} // namespace platform::sim
