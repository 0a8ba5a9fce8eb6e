// The cable's health: the status worker's passes, the detection of the
// capture side and its rename to "Omnimix".
#include "cable/cable.h"

#include "engine/endpoints.h"

#include <algorithm>
#include <mutex>
#include <thread>

namespace cable {

using platform::Flow;

struct Cable::Status {
    explicit Status(platform::Clock& clock) : stop(clock.createEvent(true)) { }

    std::unique_ptr<platform::Event> stop; // manual reset: set until the next start
    std::mutex lock;                       // start and stop
    std::thread thread;                    // guarded by lock
    // Status worker only: passes in a row in which another program held the cable.
    int heldPasses = 0;
    // Any thread that detects (the status worker, an elevated installer run).
    std::atomic<int> renameFailures{0};
};

Cable::Cable(CableServices services)
    : services_(std::move(services)), status_(std::make_unique<Status>(services_.clock))
{ }

Cable::~Cable()
{
    stopStatusWorker();
}

bool Cable::detectCableCapture()
{
    auto& settings = services_.settings;
    for (const auto& e : services_.devices.enumerate(Flow::Capture, platform::kStateActive)) {
        if (!engine::isCableCapture(e.name, e.interfaceName))
            continue;
        settings.setCableText(settings::CableText::EndpointName, e.name);
        Rename state = Rename::Named;
        if (!engine::containsNoCase(e.name, engine::kCableRenamedCapture)) {
            if (!engine::containsNoCase(e.name, engine::kCableCaptureName))
                state = Rename::OwnName;
            else if (!services_.processes || !services_.processes->elevated())
                state = Rename::NeedsAdmin;
            else if (status_->renameFailures.load() >= kMaxRenameFailures)
                state = Rename::GaveUp;
            else if (!renameCableCapture(e.id, std::wstring(engine::kCableRenamedCapture)))
                state = ++status_->renameFailures >= kMaxRenameFailures ? Rename::GaveUp : Rename::Failing;
        }
        rename_.store(static_cast<int32_t>(state));
        return true;
    }
    settings.setCableText(settings::CableText::EndpointName, L"");
    rename_.store(static_cast<int32_t>(Rename::NoCable));
    return false;
}

bool Cable::renameCableCapture(const std::wstring& endpointId, const std::wstring& newName)
{
    // The endpoint's GUID in braces ends its id.
    const size_t brace = endpointId.rfind(L'{');
    platform::RegistryStore* machine = services_.machine;
    if (brace == std::wstring::npos || !machine)
        return false;
    const std::wstring key = std::wstring(kCaptureEndpointsKey) + endpointId.substr(brace) + L"\\Properties";
    const std::wstring value(kDescriptionValue);
    // Only an endpoint's existing key is written: the store's writers would
    // create a missing one.
    auto write = [&] { return machine->keyExists(key) && machine->writeString(key, value, newName); };
    if (write())
        return true;
    // The key belongs to the system; the administrators may take it over.
    if (!services_.processes || !services_.processes->takeOwnershipOfKey(L"MACHINE\\" + key))
        return false;
    return write();
}

void Cable::statusPass()
{
    auto& settings = services_.settings;
    // Any pass but a held one breaks the row of held passes.
    auto report = [&](const wchar_t* message, Health health, bool held = false) {
        settings.setCableText(settings::CableText::Problem, message);
        health_.store(static_cast<int32_t>(health));
        checked_.store(true);
        if (!held)
            status_->heldPasses = 0;
    };

    const Install install = installState();
    if (install == Install::Downloading || install == Install::Extracting) {
        settings.setCableText(settings::CableText::Problem, kDownloadingMessage);
        return;
    }
    if (install == Install::Installing) {
        settings.setCableText(settings::CableText::Problem, kInstallingMessage);
        return;
    }

    constexpr uint32_t kOff = platform::kStateDisabled | platform::kStateUnplugged;
    auto& devices = services_.devices;
    if (detectCableCapture()) {
        const engine::EngineReport engine = services_.reports ? services_.reports->latest() : engine::EngineReport{};
        if (!engine::findCableEndpoint(devices, platform::kStateActive).id.empty()) {
            if (engine.cableStatus == engine::kCableRefused) {
                report(kHeldMessage, Health::Blocked, true);
                if (++status_->heldPasses >= kHeldPassesBeforeRetry) {
                    engine::requestCableReopen(services_.engine);
                    status_->heldPasses = 0;
                }
            } else {
                report(kReadyMessage, Health::Ready);
                // The engine opened its devices before the cable was there.
                if (engine.cableStatus == engine::kCableMissing && engine.running)
                    engine::requestOpen(services_.engine);
            }
        } else if (!engine::findCableEndpoint(devices, kOff).id.empty()) {
            report(kRenderOffMessage, Health::Blocked);
        } else {
            report(kIncompleteMessage, Health::Missing);
        }
        return;
    }

    const auto offCapture = devices.enumerate(Flow::Capture, kOff);
    const bool off = !engine::findCableEndpoint(devices, kOff).id.empty()
        || std::any_of(offCapture.begin(), offCapture.end(),
            [](const auto& e) { return engine::isCableCapture(e.name, e.interfaceName); });
    if (off)
        report(kMicOffMessage, Health::Blocked);
    else if (!services_.machine || !services_.machine->keyExists(std::wstring(kServiceKey)))
        report(kNotInstalledMessage, Health::Missing);
    else
        report(kRestartMessage, Health::RestartNeeded);
}

void Cable::startStatusWorker(std::function<void()> initThread, std::function<void()> endThread)
{
    std::lock_guard guard(status_->lock);
    if (status_->thread.joinable())
        return;
    status_->stop->reset();
    status_->thread = std::thread([this, init = std::move(initThread), end = std::move(endThread)] {
        if (init)
            init();
        platform::Clock& clock = services_.clock;
        platform::Event& stop = *status_->stop;
        bool stopping = false;
        while (!stopping) {
            statusPass();
            // Short waits, as the platform's own sleeps would be; the stop
            // event ends any of them at once.
            for (int i = 0; i < kStatusWaits && !stopping; ++i)
                stopping = clock.wait(stop, kStatusWaitMicros);
        }
        if (end)
            end();
    });
}

void Cable::stopStatusWorker()
{
    std::lock_guard guard(status_->lock);
    if (!status_->thread.joinable())
        return;
    status_->stop->set();
    status_->thread.join();
}

} // namespace cable
