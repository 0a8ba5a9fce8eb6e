// The cable's status worker on the simulated platform: every case of a pass
// with its message, health and requests to the engine; the detection of the
// capture side with its rename; and the worker's rhythm and prompt stop.

#include "cable/cable.h"
#include "platform/sim/manual_clock.h"
#include "platform/sim/memory_files.h"
#include "platform/sim/memory_registry.h"
#include "platform/sim/sim_audio.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

namespace {

using cable::Health;
using platform::Flow;

constexpr uint32_t kActive = platform::kStateActive;
constexpr uint32_t kDisabled = platform::kStateDisabled;
constexpr uint32_t kUnplugged = platform::kStateUnplugged;
constexpr uint32_t kAbsent = 0;

constexpr wchar_t kCaptureId[] = L"{0.0.1.00000000}.{8f3c2b4e-1d5a-4c3e-9b7a-2e6f0d1c5a94}";
constexpr wchar_t kCaptureKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Capture\\"
                                  L"{8f3c2b4e-1d5a-4c3e-9b7a-2e6f0d1c5a94}\\Properties";
constexpr wchar_t kDescription[] = L"{a45c254e-df1c-4efd-8020-67d146a850e0},2";

// What the cable needs of child programs, reduced to what the status side
// asks: whether the process is elevated, and taking a key over (which, when
// it succeeds here, lets the registry's writes through again).
class FakeProcesses final : public platform::Processes {
public:
    bool isElevated = true;
    bool ownershipSucceeds = true;
    platform::sim::MemoryRegistry* registry = nullptr;
    std::vector<std::wstring> ownershipTaken;

    std::unique_ptr<platform::ChildProcess> run(const std::wstring&, const std::wstring&) override { return nullptr; }
    std::unique_ptr<platform::ChildProcess> shellStart(const platform::ShellStart&) override { return nullptr; }
    std::unique_ptr<platform::HiddenRun> startHidden(const std::wstring&, const std::wstring&) override
    {
        return nullptr;
    }
    bool shellOpen(const std::wstring&, const std::wstring&) override { return false; }
    bool shellCopyFromArchive(const std::wstring&, const std::wstring&) override { return false; }
    std::wstring systemFolder() override { return L"C:\\Windows\\System32"; }
    std::wstring ownExecutable() override { return L"C:\\Apps\\VantorOvix.exe"; }
    bool elevated() override { return isElevated; }
    bool takeOwnershipOfKey(const std::wstring& objectName) override
    {
        ownershipTaken.push_back(objectName);
        if (ownershipSucceeds && registry)
            registry->setWritesFail(false);
        return ownershipSucceeds;
    }
};

struct Rig {
    Rig()
    {
        processes.registry = &machine;
        machine.createKey(kCaptureKey);
    }

    // The cable's two sides in the given states (kAbsent: not there at all).
    void cableSides(
        uint32_t capture, uint32_t render, std::wstring captureName = L"CABLE Output (VB-Audio Virtual Cable)")
    {
        if (capture != kAbsent)
            audio.addEndpoint({Flow::Capture, kCaptureId, captureName, L"", L"VB-Audio Virtual Cable", capture});
        else
            audio.removeEndpoint(kCaptureId);
        if (render != kAbsent)
            audio.addEndpoint({Flow::Render, L"cable-render", L"CABLE Input (VB-Audio Virtual Cable)", L"",
                L"VB-Audio Virtual Cable", render});
        else
            audio.removeEndpoint(L"cable-render");
    }
    void engineReports(int32_t cableStatus, bool running)
    {
        engine::EngineReport r;
        r.cableStatus = cableStatus;
        r.running = running;
        reports.publish(r);
    }
    void serviceKey(bool present)
    {
        if (present)
            machine.createKey(std::wstring(cable::kServiceKey));
        else
            machine.deleteKey(std::wstring(cable::kServiceKey));
    }
    std::wstring problem() const { return settings.cableText(settings::CableText::Problem); }
    std::wstring endpointName() const { return settings.cableText(settings::CableText::EndpointName); }
    std::optional<std::wstring> writtenName() { return machine.readString(kCaptureKey, kDescription, 255); }

    platform::sim::ManualClock clock;
    platform::sim::SimAudio audio{clock};
    settings::Settings settings;
    engine::EngineState state;
    engine::EngineReports reports;
    platform::sim::MemoryRegistry machine;
    platform::sim::MemoryFiles files;
    FakeProcesses processes;
    cable::Cable cable{{.clock = clock,
        .devices = audio,
        .settings = settings,
        .engine = state,
        .machine = &machine,
        .files = &files,
        .processes = &processes,
        .cableFolder = L"C:\\Users\\Ann\\AppData\\Local\\VantorOvix\\vbcable",
        .site = {},
        .reports = &reports}};
};

// Every case of the status pass: the two sides' states, the engine's report
// and the driver's service key give one message and one health.
TEST(CableStatus, EachStateOfTheCableGivesItsMessageHealthAndEngineRequest)
{
    struct Row {
        const char* what;
        uint32_t capture, render;
        int32_t cableStatus;
        bool running, serviceKey;
        const wchar_t* message;
        Health health;
        bool reopen;
    };
    const Row rows[] = {
        {"both sides active, the engine has the cable", kActive, kActive, engine::kCableOpen, true, true,
            cable::kReadyMessage, Health::Ready, false},
        {"both sides active, the engine running found none", kActive, kActive, engine::kCableMissing, true, true,
            cable::kReadyMessage, Health::Ready, true},
        {"both sides active, the engine not running", kActive, kActive, engine::kCableMissing, false, true,
            cable::kReadyMessage, Health::Ready, false},
        {"both sides active, the engine was refused the cable", kActive, kActive, engine::kCableRefused, true, true,
            cable::kHeldMessage, Health::Blocked, false},
        {"render side disabled", kActive, kDisabled, engine::kCableMissing, true, true, cable::kRenderOffMessage,
            Health::Blocked, false},
        {"render side unplugged", kActive, kUnplugged, engine::kCableMissing, true, true, cable::kRenderOffMessage,
            Health::Blocked, false},
        {"render side missing", kActive, kAbsent, engine::kCableMissing, true, true, cable::kIncompleteMessage,
            Health::Missing, false},
        {"capture side disabled", kDisabled, kActive, engine::kCableOpen, true, true, cable::kMicOffMessage,
            Health::Blocked, false},
        {"capture side unplugged, no render side", kUnplugged, kAbsent, engine::kCableMissing, true, false,
            cable::kMicOffMessage, Health::Blocked, false},
        {"no capture side, render side disabled", kAbsent, kDisabled, engine::kCableMissing, true, false,
            cable::kMicOffMessage, Health::Blocked, false},
        {"nothing and no driver", kAbsent, kAbsent, engine::kCableMissing, true, false, cable::kNotInstalledMessage,
            Health::Missing, false},
        {"nothing but the driver", kAbsent, kAbsent, engine::kCableMissing, true, true, cable::kRestartMessage,
            Health::RestartNeeded, false},
        {"only an active render side and the driver", kAbsent, kActive, engine::kCableOpen, true, true,
            cable::kRestartMessage, Health::RestartNeeded, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Rig rig;
        rig.cableSides(row.capture, row.render);
        rig.engineReports(row.cableStatus, row.running);
        rig.serviceKey(row.serviceKey);
        rig.cable.statusPass();
        EXPECT_EQ(rig.problem(), row.message);
        EXPECT_EQ(rig.cable.health(), row.health);
        EXPECT_EQ(rig.state.engineReopenRequest.load(), row.reopen ? 1 : 0);
        EXPECT_EQ(rig.state.cableRetryRequest.load(), 0);
        EXPECT_EQ(rig.endpointName(),
            row.capture == kActive ? std::wstring(L"CABLE Output (VB-Audio Virtual Cable)") : std::wstring());
    }
}

TEST(CableStatus, EveryFifthPassInARowWithTheCableHeldAsksTheEngineToTryAgain)
{
    Rig rig;
    rig.cableSides(kActive, kActive);
    rig.engineReports(engine::kCableRefused, true);
    auto passesUntilRetry = [&] {
        for (int pass = 1; pass <= 10; ++pass) {
            rig.cable.statusPass();
            if (rig.state.cableRetryRequest.exchange(0))
                return pass;
        }
        return 0;
    };
    EXPECT_EQ(passesUntilRetry(), 5);
    EXPECT_EQ(passesUntilRetry(), 5) << "the count starts again after a retry";

    // A pass in which the cable is free breaks the row.
    for (int i = 0; i < 4; ++i)
        rig.cable.statusPass();
    rig.engineReports(engine::kCableOpen, true);
    rig.cable.statusPass();
    rig.engineReports(engine::kCableRefused, true);
    EXPECT_EQ(passesUntilRetry(), 5);
}

TEST(CableStatus, WhileAnInstallIsUnderWayThePassOnlySaysSo)
{
    Rig rig;
    rig.cableSides(kAbsent, kAbsent);
    ASSERT_EQ(rig.cable.requestInstall(), cable::Cable::Next::Download);
    rig.cable.statusPass();
    EXPECT_EQ(rig.problem(), cable::kDownloadingMessage);
    EXPECT_EQ(rig.cable.health(), Health::Missing) << "the health is left as it was";
}

// The capture side is renamed to "Omnimix" through its registry
// properties, by an elevated process only, and at most until 20 failures.
TEST(CableRename, AnElevatedDetectionWritesTheNewNameIntoTheEndpointsDescription)
{
    Rig rig;
    rig.cableSides(kActive, kActive);
    EXPECT_TRUE(rig.cable.detectCableCapture());
    EXPECT_EQ(rig.writtenName(), L"Omnimix");
    EXPECT_TRUE(rig.processes.ownershipTaken.empty());
    EXPECT_EQ(rig.cable.renameState(), cable::Rename::Named);
    EXPECT_EQ(rig.endpointName(), L"CABLE Output (VB-Audio Virtual Cable)") << "the name as enumerated this pass";
}

TEST(CableRename, ARefusedWriteTakesTheKeyOverAndWritesOnceMore)
{
    Rig rig;
    rig.machine.setWritesFail(true);
    EXPECT_TRUE(rig.cable.renameCableCapture(kCaptureId, L"Omnimix"));
    ASSERT_EQ(rig.processes.ownershipTaken.size(), 1u);
    EXPECT_EQ(rig.processes.ownershipTaken[0], std::wstring(L"MACHINE\\") + kCaptureKey);
    EXPECT_EQ(rig.writtenName(), L"Omnimix");

    // Without the key taken over the rename fails; without a GUID in braces
    // or a key of its own there is nothing to write.
    rig.machine.setWritesFail(true);
    rig.processes.ownershipSucceeds = false;
    EXPECT_FALSE(rig.cable.renameCableCapture(kCaptureId, L"Other"));
    rig.machine.setWritesFail(false);
    EXPECT_FALSE(rig.cable.renameCableCapture(L"no-guid-here", L"Omnimix"));
    EXPECT_FALSE(rig.cable.renameCableCapture(L"{0.0.1.00000000}.{00000000-0000-0000-0000-000000000000}", L"Omnimix"));
    EXPECT_FALSE(rig.machine.keyExists(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Capture\\"
                                       L"{00000000-0000-0000-0000-000000000000}\\Properties"))
        << "a missing endpoint key is not made";
}

TEST(CableRename, RenamingStopsAfterTwentyFailuresAndNeedsAnElevatedProcess)
{
    Rig rig;
    rig.cableSides(kActive, kActive);
    rig.machine.setWritesFail(true);
    rig.processes.ownershipSucceeds = false;
    for (int pass = 0; pass < 25; ++pass)
        EXPECT_TRUE(rig.cable.detectCableCapture());
    EXPECT_EQ(rig.processes.ownershipTaken.size(), 20u);
    EXPECT_EQ(rig.cable.renameState(), cable::Rename::GaveUp);

    Rig plain;
    plain.processes.isElevated = false;
    plain.cableSides(kActive, kActive);
    EXPECT_TRUE(plain.cable.detectCableCapture());
    EXPECT_FALSE(plain.writtenName());
    EXPECT_EQ(plain.cable.renameState(), cable::Rename::NeedsAdmin);
}

TEST(CableRename, ACaptureSideAlreadyCalledOmnimixIsTheCableAndIsNotWrittenAgain)
{
    Rig rig;
    rig.audio.addEndpoint({Flow::Capture, kCaptureId, L"Omnimix", L"", L"", kActive});
    rig.audio.addEndpoint({Flow::Capture, L"mic", L"Microphone (USB Audio)", L"", L"USB Audio", kActive});
    EXPECT_TRUE(rig.cable.detectCableCapture());
    EXPECT_EQ(rig.endpointName(), L"Omnimix");
    EXPECT_EQ(rig.machine.valueCount(), 0u);
    EXPECT_EQ(rig.cable.renameState(), cable::Rename::Named);

    rig.audio.removeEndpoint(kCaptureId);
    EXPECT_FALSE(rig.cable.detectCableCapture());
    EXPECT_EQ(rig.endpointName(), L"") << "a microphone is not the cable";
    EXPECT_EQ(rig.cable.renameState(), cable::Rename::NoCable);
}

// A clock that counts the waits begun on it, so that a test can let the
// worker reach its next wait before moving time on.
class CountingClock final : public platform::Clock {
public:
    explicit CountingClock(platform::sim::ManualClock& inner) : inner_(inner) { }
    int64_t nowMicros() const override { return inner_.nowMicros(); }
    std::unique_ptr<platform::Event> createEvent(bool manualReset) override { return inner_.createEvent(manualReset); }
    int waitAny(std::span<platform::Event* const> events, int64_t timeoutMicros) override
    {
        waits_.fetch_add(1);
        return inner_.waitAny(events, timeoutMicros);
    }
    // Moves time on by one of the worker's waits and returns once the
    // worker (the clock's only waiter) is inside its next one.
    void step(int64_t micros)
    {
        const int before = waits_.load();
        inner_.advance(micros);
        while (waits_.load() == before)
            std::this_thread::yield();
        inner_.awaitWaiters(1);
    }
    void awaitFirstWait()
    {
        while (waits_.load() == 0)
            std::this_thread::yield();
        inner_.awaitWaiters(1);
    }

private:
    platform::sim::ManualClock& inner_;
    std::atomic<int> waits_{0};
};

TEST(CableStatusWorker, ItNoticesTheCableAtItsNextPassThreeSecondsApartAndStopsAtOnce)
{
    Rig rig;
    CountingClock clock(rig.clock);
    cable::Cable watched({.clock = clock,
        .devices = rig.audio,
        .settings = rig.settings,
        .engine = rig.state,
        .machine = &rig.machine,
        .cableFolder = {},
        .site = {},
        .reports = &rig.reports});
    watched.startStatusWorker();
    clock.awaitFirstWait();
    EXPECT_EQ(watched.health(), Health::Missing);

    // The cable appears just after a pass: the worker sees it 3 s later.
    rig.cableSides(kActive, kActive);
    const int64_t appeared = rig.clock.nowMicros();
    while (watched.health() != Health::Ready && rig.clock.nowMicros() - appeared < 10'000'000)
        clock.step(cable::kStatusWaitMicros);
    EXPECT_EQ(watched.health(), Health::Ready);
    EXPECT_EQ(rig.clock.nowMicros() - appeared, 3'000'000);

    rig.cableSides(kAbsent, kAbsent);
    const int64_t gone = rig.clock.nowMicros();
    while (watched.health() != Health::Missing && rig.clock.nowMicros() - gone < 10'000'000)
        clock.step(cable::kStatusWaitMicros);
    EXPECT_EQ(rig.clock.nowMicros() - gone, 3'000'000);

    // Stopping does not wait for virtual time to pass.
    const int64_t before = rig.clock.nowMicros();
    watched.stopStatusWorker();
    EXPECT_EQ(rig.clock.nowMicros(), before);
}

} // namespace
