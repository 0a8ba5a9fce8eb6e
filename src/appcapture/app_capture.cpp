#include "appcapture/app_capture.h"

#include "engine/audio_io.h"
#include "platform/text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <set>

namespace appcapture {

namespace {

constexpr uint32_t kCap = AppRing::kCapacity;
// The writer's smoothing of the fill, and the largest stretch of one packet.
constexpr double kFillSmoothing = 0.05;
constexpr double kMaxStretch = 4.0;
constexpr uint32_t kMinStretchFrames = 16;
// Every packet may be corrected: at 4 frames per second packet the writer
// could follow at most 0.42 % of drift with 10 ms packets, and a program
// half a percent off would climb to the skip level or run the reader dry.
constexpr uint32_t kPacketsPerCorrection = 1;

uint32_t distance(uint32_t from, uint32_t to)
{
    return (to + kCap - from) % kCap;
}

} // namespace

AppRing::AppRing() : samples_(static_cast<size_t>(kCapacity) * 2, 0.0f), stretched_((kCapacity + 4) * 2, 0.0f)
{ }

void AppRing::reset()
{
    // The writer's bookkeeping starts as if the fill sat at its target, so the
    // climb from empty after a start is not taken for drift.
    smoothedFill_ = kStartLevel;
    packets_ = 0;
    reset_.store(1);
}

void AppRing::write(const float* interleaved, uint32_t frames)
{
    const uint32_t w = write_.load(std::memory_order_relaxed);
    const uint32_t fill = distance(read_.load(std::memory_order_acquire), w);
    // A full ring drops what does not fit rather than overwrite frames the
    // reader has not taken (one slot stays free: full and empty must differ).
    frames = std::min(frames, kCapacity - 1);

    smoothedFill_ += kFillSmoothing * (static_cast<double>(fill) - smoothedFill_);
    ++packets_;
    const double error = smoothedFill_ - kStartLevel;
    if (frames >= kMinStretchFrames && packets_ >= kPacketsPerCorrection && std::abs(error) > kTolerance) {
        const auto k = static_cast<int32_t>(std::clamp(-error / kTolerance, -kMaxStretch, kMaxStretch));
        if (k != 0) {
            const auto stretchedFrames = static_cast<uint32_t>(static_cast<int32_t>(frames) + k);
            engine::stretchBlock(interleaved, frames, stretched_.data(), stretchedFrames);
            interleaved = stretched_.data();
            frames = stretchedFrames;
            packets_ = 0;
            smoothedFill_ += k;
        }
    }

    frames = std::min(frames, kCapacity - 1 - fill);
    const uint32_t first = std::min(frames, kCapacity - w);
    std::copy_n(interleaved, static_cast<size_t>(first) * 2, samples_.begin() + static_cast<ptrdiff_t>(w) * 2);
    std::copy_n(
        interleaved + static_cast<size_t>(first) * 2, static_cast<size_t>(frames - first) * 2, samples_.begin());
    write_.store((w + frames) % kCapacity, std::memory_order_release);
}

uint32_t AppRing::read(float* left, float* right, uint32_t n) noexcept
{
    const uint32_t w = write_.load(std::memory_order_acquire);
    uint32_t r = read_.load(std::memory_order_relaxed);
    uint32_t available = 0;
    if (reset_.exchange(0) == 1) {
        r = w;
        streaming_ = false;
    } else {
        available = distance(r, w);
        if (available > kMaxLevel) {
            r = (r + available - kStartLevel) % kCapacity;
            available = kStartLevel;
        }
    }
    read_.store(r, std::memory_order_release);

    if (!streaming_) {
        if (available < kStartLevel) {
            std::fill_n(left, n, 0.0f);
            std::fill_n(right, n, 0.0f);
            return 0;
        }
        streaming_ = true;
    }
    const uint32_t k = std::min(available, n);
    const float* ring = samples_.data();
    const uint32_t first = std::min(k, kCapacity - r); // up to the wrap, then from the start
    for (uint32_t i = 0; i < first; ++i) {
        left[i] = ring[2 * (r + i)];
        right[i] = ring[2 * (r + i) + 1];
    }
    for (uint32_t i = first; i < k; ++i) {
        left[i] = ring[2 * (i - first)];
        right[i] = ring[2 * (i - first) + 1];
    }
    read_.store((r + k) % kCapacity, std::memory_order_release);
    if (k < n) {
        std::fill(left + k, left + n, 0.0f);
        std::fill(right + k, right + n, 0.0f);
        streaming_ = false; // ran dry: wait for the start level again
    }
    return k;
}

uint32_t AppRing::queued() const
{
    return distance(read_.load(std::memory_order_acquire), write_.load(std::memory_order_acquire));
}

// ---- The program list ----

namespace {

// Processes that host parts of the shell and have windows or sessions of
// their own, but are nothing a user would capture.
constexpr const wchar_t* kShellHosts[] = {L"TextInputHost", L"ApplicationFrameHost", L"ShellExperienceHost",
    L"StartMenuExperienceHost", L"SearchHost", L"SystemSettings", L"LockApp"};
constexpr int kMaxParentSteps = 16;

std::wstring withoutExtension(const std::wstring& exe)
{
    const size_t dot = exe.rfind(L'.');
    return dot == std::wstring::npos ? exe : exe.substr(0, dot);
}

bool lessNoCase(const std::wstring& a, const std::wstring& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
        [](wchar_t x, wchar_t y) { return std::towlower(x) < std::towlower(y); });
}

} // namespace

std::vector<AppEntry> listAudioPrograms(platform::AppAudio& audio)
{
    std::map<uint32_t, platform::ProcessEntry> byId;
    for (auto& p : audio.processes())
        byId[p.id] = p;

    std::vector<uint32_t> candidates = audio.windowProcesses();
    for (auto& session : audio.sessions())
        if (!session->expired())
            candidates.push_back(session->processId());

    const uint32_t own = audio.ownProcessId();
    std::vector<AppEntry> list;
    std::set<uint32_t> listed;
    for (uint32_t id : candidates) {
        // A child with its parent's name (a browser's renderer, a player's
        // audio helper) is shown as the parent, which captures it too.
        for (int step = 0; step < kMaxParentSteps; ++step) {
            const auto child = byId.find(id);
            if (child == byId.end() || child->second.parentId == id)
                break;
            const auto parent = byId.find(child->second.parentId);
            if (parent == byId.end() || !platform::equalsNoCase(child->second.exeName, parent->second.exeName))
                break;
            const auto childTime = audio.creationTime(id);
            const auto parentTime = audio.creationTime(parent->first);
            // A parent that started after its child is a reused id, not the parent.
            if (!childTime || !parentTime || *childTime < *parentTime)
                break;
            id = parent->first;
        }
        const auto found = byId.find(id);
        const std::wstring name = found == byId.end() ? std::wstring() : withoutExtension(found->second.exeName);
        if (id == own || listed.count(id) != 0 || name.empty())
            continue;
        if (std::any_of(std::begin(kShellHosts), std::end(kShellHosts),
                [&](const wchar_t* host) { return platform::equalsNoCase(name, host); }))
            continue;
        listed.insert(id);
        list.push_back({id, name});
    }

    std::stable_sort(
        list.begin(), list.end(), [](const AppEntry& a, const AppEntry& b) { return lessNoCase(a.name, b.name); });
    int n = 1;
    for (size_t i = 1; i < list.size(); ++i) {
        // Compared with the first of the run, which keeps its own name.
        if (platform::equalsNoCase(list[i].name, list[i - n].name))
            list[i].name += L" (" + std::to_wstring(++n) + L")";
        else
            n = 1;
    }
    return list;
}

// ---- Parking ----

ParkingChoice parkingEndpoint(const std::vector<platform::EndpointInfo>& renderEndpoints,
    const std::wstring& defaultRenderId, const std::wstring& cableId, const std::wstring& speakerId, bool allowSteam)
{
    using engine::containsNoCase;
    ParkingChoice best;
    int bestScore = 0;
    for (const auto& e : renderEndpoints) {
        if (e.id.empty() || e.id == defaultRenderId || e.id == cableId || e.id == speakerId)
            continue;
        // The cable and the mixers' main inputs would put the program into the
        // voice or back into the user's ears.
        if (containsNoCase(e.interfaceName, engine::kCableAdapter) || containsNoCase(e.name, L"CABLE")
            || containsNoCase(e.name, engine::kCableRenamedCapture)
            || (containsNoCase(e.name, L"Voicemeeter Input") && !containsNoCase(e.name, L"Aux")
                && !containsNoCase(e.name, L"VAIO3")))
            continue;
        int score = 0;
        if (containsNoCase(e.name, L"Aux Input") || containsNoCase(e.name, L"Voicemeeter Aux"))
            score = 100;
        else if (containsNoCase(e.name, L"VAIO3"))
            score = 90;
        else if (allowSteam && containsNoCase(e.name, L"Steam Streaming Speakers"))
            score = 50;
        if (score > bestScore) {
            bestScore = score;
            best = {e.id, e.name};
        }
    }
    return best;
}

std::wstring policyDevicePath(const std::wstring& endpointId)
{
    static constexpr std::wstring_view kPrefix = L"\\\\?\\SWD#MMDEVAPI#";
    if (endpointId.starts_with(kPrefix))
        return endpointId;
    return std::wstring(kPrefix) + endpointId + L"#{e6327cad-dcec-4949-ae8a-991e976a79d2}";
}

std::wstring appStatusText(AppState state, uint32_t lastError, const std::wstring& appName)
{
    switch (state) {
    case AppState::Unsupported:
        return L"Needs Windows 10 (2004) or newer";
    case AppState::Refused: {
        wchar_t code[16];
        std::swprintf(code, 16, L"0x%08x", lastError);
        return L"Windows blocked this app's sound (" + std::wstring(code) + L")";
    }
    case AppState::Exited:
        return appName + L" closed";
    default:
        return {};
    }
}

// ---- The capture ----

namespace {

constexpr int64_t kMillis = 1000;
constexpr int64_t kPacketWaitMicros = 100 * kMillis;
constexpr int64_t kExistenceCheckMicros = 2000 * kMillis;
constexpr int64_t kRetryWaitMicros = 10 * 50 * kMillis;
constexpr int64_t kPolicyTickMicros = 50 * kMillis;
constexpr int64_t kPolicyWorkMicros = 2000 * kMillis;
constexpr int64_t kLoopbackBufferMicros = 40 * kMillis;
// A failed initialisation after the activation has no code of its own.
constexpr uint32_t kGenericFailure = 0x80004005u; // E_FAIL
constexpr float kSilenceThreshold = 0.0000001f;
constexpr float kAudibleThreshold = 0.0001f;
constexpr platform::EndpointRole kRoles[]
    = {platform::EndpointRole::Console, platform::EndpointRole::Multimedia, platform::EndpointRole::Communications};

// The loopback client with its capture service, started.
struct LoopbackStream {
    std::unique_ptr<platform::AudioClient> client;
    std::unique_ptr<platform::CaptureService> capture;
    ~LoopbackStream()
    {
        if (client)
            client->stop();
    }
};

} // namespace

AppCapture::AppCapture(platform::AppAudio& audio, platform::AudioDevices& devices, platform::Clock& clock,
    settings::Settings& settings, engine::EngineState& state)
    : audio_(audio),
      devices_(devices),
      clock_(clock),
      settings_(settings),
      engineState_(state),
      wake_(clock.createEvent(true)),
      packetReady_(clock.createEvent(false))
{ }

AppCapture::~AppCapture()
{
    stopAppCapture();
}

void AppCapture::setState(AppState state)
{
    state_.store(static_cast<int32_t>(state));
    engineState_.appCaptureActive.store(state == AppState::Starting || state == AppState::Capturing ? 1 : 0);
}

ParkingChoice AppCapture::currentParkingChoice()
{
    const bool allowSteam = !settings_.app_hear.load() || settings_.app_only.load();
    return parkingEndpoint(devices_.enumerate(platform::Flow::Render, platform::kStateActive),
        devices_.defaultEndpointId(platform::Flow::Render), engine::findCableEndpoint(devices_).id,
        settings::deviceName(settings_, settings::DeviceKind::Spk), allowSteam);
}

void AppCapture::startAppCapture(const AppEntry& entry)
{
    stopAppCapture();
    const ParkingChoice choice = currentParkingChoice();
    processId_ = entry.processId;
    appName_ = entry.name;
    parkingId_ = choice.id;
    parkingName_ = choice.name;
    parkRequested_.store(choice.id.empty() ? 0 : 1);
    stop_.store(0);
    lastError_.store(0);
    lastAudible_.store(0);
    ring_.reset();
    wake_->reset();
    setState(AppState::Starting);
    capture_ = std::thread([this] { captureThread(); });
    policy_ = std::thread([this] { policyThread(); });
}

void AppCapture::stopAppCapture()
{
    stop_.store(1);
    wake_->set();
    if (capture_.joinable())
        capture_.join();
    if (policy_.joinable())
        policy_.join();
    restore();
    parkRequested_.store(0);
    setState(AppState::Off);
}

void AppCapture::refreshAppRouting()
{
    const AppState s = state();
    if (s != AppState::Starting && s != AppState::Capturing)
        return;
    if (currentParkingChoice().id == parkingId_)
        return;
    const AppEntry entry{processId_, appName_};
    startAppCapture(entry);
}

bool AppCapture::running() const noexcept
{
    return state_.load() == static_cast<int32_t>(AppState::Capturing);
}

bool AppCapture::drainPackets(platform::CaptureService& capture)
{
    using platform::AudioResult;
    for (;;) {
        uint32_t size = 0;
        if (capture.nextPacketSize(size) != AudioResult::Ok)
            return false;
        if (size == 0)
            return true;
        platform::CapturePacket packet;
        if (capture.getPacket(packet) != AudioResult::Ok)
            return false;
        const bool silent = (packet.flags & platform::kPacketSilent) != 0 || packet.data == nullptr;
        float peak = 0.0f;
        if (!silent)
            for (uint32_t i = 0; i < packet.frames * 2; ++i)
                peak = std::max(peak, std::abs(packet.data[i]));
        if (packet.frames > 0 && peak >= kSilenceThreshold) {
            if (peak > kAudibleThreshold)
                lastAudible_.store(clock_.nowMillis());
            // Only raised here; the tab's exchange is the one lowering.
            const auto scaled = static_cast<int32_t>(std::min(peak, 100.0f) * 10000.0f);
            int32_t seen = peak_.load(std::memory_order_relaxed);
            while (scaled > seen && !peak_.compare_exchange_weak(seen, scaled, std::memory_order_relaxed)) { }
            ring_.write(packet.data, packet.frames);
        }
        if (capture.releasePacket(packet.frames) != AudioResult::Ok)
            return false;
    }
}

std::vector<uint32_t> AppCapture::processTree() const
{
    const auto all = audio_.processes();
    std::vector<uint32_t> tree{processId_};
    // Breadth first by parent id; an id is taken once, so a cycle of reused
    // ids cannot loop.
    for (size_t i = 0; i < tree.size(); ++i)
        for (const auto& p : all)
            if (p.parentId == tree[i] && p.id != p.parentId && std::find(tree.begin(), tree.end(), p.id) == tree.end())
                tree.push_back(p.id);
    return tree;
}

void AppCapture::keepAudible(const std::vector<uint32_t>& tree)
{
    for (auto& session : audio_.sessions()) {
        if (std::find(tree.begin(), tree.end(), session->processId()) == tree.end())
            continue;
        const auto volume = session->volume();
        if (volume && *volume < 0.01f)
            session->setVolume(1.0f);
        const auto muted = session->muted();
        if (!muted || *muted)
            session->setMuted(false);
    }
}

void AppCapture::policyPass()
{
    const auto tree = processTree();
    keepAudible(tree);
    if (parkingId_.empty())
        return;
    const std::wstring path = policyDevicePath(parkingId_);
    std::lock_guard lock(parkingLock_);
    for (uint32_t pid : tree) {
        const bool known = std::find(parkedProcesses_.begin(), parkedProcesses_.end(), pid) != parkedProcesses_.end();
        if (!known) {
            // What the process had before it was parked; a later pass would
            // read the parking endpoint itself.
            std::array<std::optional<std::wstring>, 3> before;
            bool readable = true;
            for (auto role : kRoles) {
                const auto current = audio_.persistedDefaultEndpoint(pid, role);
                readable = readable && current.has_value();
                if (current && !current->empty())
                    before[static_cast<size_t>(role)] = *current;
            }
            if (!readable)
                continue; // no policy to ask: the program stays where it is
            saved_[pid] = before;
        }
        bool anySet = false;
        for (auto role : kRoles)
            anySet = audio_.setPersistedDefaultEndpoint(pid, role, path) || anySet;
        if (!known && anySet)
            parkedProcesses_.push_back(pid);
    }
    parked_.store(parkedProcesses_.empty() ? 0 : 1);
}

void AppCapture::restore()
{
    keepAudible(processTree());
    std::lock_guard lock(parkingLock_);
    for (uint32_t pid : parkedProcesses_) {
        const auto& before = saved_[pid];
        // A role that had no default of its own is cleared again.
        for (auto role : kRoles)
            audio_.setPersistedDefaultEndpoint(pid, role, before[static_cast<size_t>(role)].value_or(std::wstring()));
    }
    parkedProcesses_.clear();
    saved_.clear();
    parked_.store(0);
}

void AppCapture::captureThread()
{
    const auto worker = audio_.enterWorkerThread();
    const uint32_t build = audio_.systemBuild();
    if (build >= 1 && build < kFirstSupportedBuild) {
        setState(AppState::Unsupported);
        wake_->set(); // the policy thread ends with it
        return;
    }
    const auto registration = devices_.registerAudioThread();
    const auto process = audio_.openProcess(processId_);
    int64_t nextExistenceCheck = clock_.nowMicros();
    auto exited = [&] {
        if (process)
            return process->exited();
        // Without a handle to wait on, ask now and then whether it still runs.
        if (clock_.nowMicros() < nextExistenceCheck)
            return false;
        nextExistenceCheck = clock_.nowMicros() + kExistenceCheckMicros;
        return !audio_.processExists(processId_);
    };
    platform::Event* const packetWaits[] = {packetReady_.get(), wake_.get()};

    bool captured = false, gone = false, refused = false;
    while (!stop_.load() && !gone && !refused) {
        if (exited()) {
            gone = true;
            break;
        }
        uint32_t error = 0;
        LoopbackStream stream;
        stream.client = audio_.activateProcessLoopback(processId_, kActivationTimeoutMicros, error);
        if (stream.client && !openLoopback(*stream.client, stream.capture))
            error = kGenericFailure;
        if (!stream.capture) {
            if (!captured) {
                lastError_.store(error);
                refused = true;
                break;
            }
            // It worked before (a device change, a restarted audio service):
            // keep trying until stopped.
            clock_.wait(*wake_, kRetryWaitMicros);
            continue;
        }
        captured = true;
        setState(AppState::Capturing);
        while (!stop_.load()) {
            if (exited()) {
                gone = true;
                break;
            }
            clock_.waitAny(packetWaits, kPacketWaitMicros);
            if (!drainPackets(*stream.capture)) {
                setState(AppState::Starting);
                break;
            }
        }
    }
    if (!stop_.load() && (gone || refused)) {
        setState(gone ? AppState::Exited : AppState::Refused);
        wake_->set();
    }
}

bool AppCapture::openLoopback(platform::AudioClient& client, std::unique_ptr<platform::CaptureService>& capture)
{
    using platform::AudioResult;
    platform::SharedStreamParams params;
    params.loopback = true;
    params.eventCallback = true;
    params.bufferDurationMicros = kLoopbackBufferMicros;
    if (client.initializeShared(params) != AudioResult::Ok || client.setEvent(*packetReady_) != AudioResult::Ok)
        return false;
    AudioResult result = AudioResult::Ok;
    auto service = client.captureService(result);
    if (!service || result != AudioResult::Ok || client.start() != AudioResult::Ok)
        return false;
    capture = std::move(service);
    return true;
}

void AppCapture::policyThread()
{
    const auto worker = audio_.enterWorkerThread();
    bool worked = false;
    int64_t lastWork = 0;
    while (!stop_.load()) {
        const AppState s = state();
        if (s == AppState::Unsupported || s == AppState::Refused || s == AppState::Exited)
            break;
        if (s == AppState::Capturing && (!worked || clock_.nowMicros() - lastWork >= kPolicyWorkMicros)) {
            policyPass();
            worked = true;
            lastWork = clock_.nowMicros();
        }
        clock_.wait(*wake_, kPolicyTickMicros);
    }
    restore();
}

} // namespace appcapture
