// The cable's install flow on the simulated platform: the download on a fake
// web, the extraction with tar or the shell's copy on the virtual clock, the
// installer's start with and without elevation, and the checked run of the
// installer on a fake signer.

#include "cable/cable.h"
#include "console/sim/sim_console.h"
#include "platform/sim/memory_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using cable::Install;
using platform::sim::ManualClock;
using platform::sim::SimProcesses;
using platform::sim::SimWeb;

const std::wstring kFolder = L"C:\\Users\\Ann\\AppData\\Local\\VantorOvix\\vbcable";
const std::wstring kInstaller = kFolder + L"\\VBCABLE_Setup_x64.exe";
const std::wstring kPackage = kFolder + L"\\VBCABLE_Driver_Pack.zip";
const std::wstring kTar = L"C:\\Windows\\System32\\tar.exe";
const std::wstring kExe = L"C:\\Program Files\\VantorOvix\\VantorOvix.exe";
const std::wstring kPage = L"https://vendor.test/Cable/";

std::wstring packageUrl(int version, const std::wstring& host = L"https://download.vendor.test")
{
    return host + L"/Download_CABLE/VBCABLE_Driver_Pack" + std::to_wstring(version) + L".zip";
}

std::vector<uint8_t> bytes(size_t count)
{
    return std::vector<uint8_t>(count, 0x5a);
}

struct Rig {
    explicit Rig(std::wstring downloadHost = L"https://download.vendor.test")
        : sim(options(files, std::move(downloadHost)))
    {
        // The system's tar unpacks an installer; a test may script it otherwise.
        files.put(kTar, bytes(2));
        sim.processes.script(kTar, {.onStart = [this] { files.put(kInstaller, bytes(300000)); }});
    }

    static console::SimOptions options(platform::sim::MemoryFiles& files, std::wstring downloadHost)
    {
        console::SimOptions o;
        o.files = &files;
        o.cableFolder = kFolder;
        o.vendorSite = {.webSite = L"https://vendor.test/", .downloadHost = std::move(downloadHost)};
        return o;
    }

    cable::Cable& cable() { return sim.console().cable(); }
    Install state() { return cable().installState(); }
    bool reopenRequested() { return sim.console().state().engineReopenRequest.load() != 0; }

    platform::sim::MemoryFiles files;
    console::SimConsole sim;
};

// Runs work on a thread of its own and, each time it sleeps on the clock,
// calls beforeStep and advances the clock by step, until the work returns.
void runOnClock(
    ManualClock& clock, int64_t step, const std::function<void()>& work,
    const std::function<void()>& beforeStep = [] {})
{
    std::atomic<bool> done{false};
    auto release = clock.createEvent(false);
    const int64_t before = clock.blockedWaits();
    std::thread worker([&] {
        work();
        done = true;
        clock.wait(*release, platform::kWaitForever); // one more sleep that says so
    });
    for (int64_t sleeps = before + 1;; ++sleeps) {
        clock.awaitBlockedWaits(sleeps);
        if (done)
            break;
        beforeStep();
        clock.advance(step);
    }
    release->set();
    worker.join();
}

// Every download comes right after its address's cache entry was dropped.
void expectFreshDownloads(const SimWeb& web)
{
    const auto log = web.log();
    for (size_t i = 0; i < log.size(); ++i) {
        if (log[i].kind != SimWeb::Request::Kind::Download)
            continue;
        ASSERT_GT(i, 0u);
        EXPECT_EQ(log[i - 1], (SimWeb::Request{SimWeb::Request::Kind::Forget, log[i].url}));
    }
}

TEST(CableDownload, CandidatesAreTriedHighestFirstUntilOnePackageIsLargeEnough)
{
    const std::string page = "<a href=\"https://download.vendor.test/Download_CABLE/VBCABLE_Driver_Pack45.zip\">"
                             "Download_CABLE/VBCABLE_Driver_Pack46.zip Download_CABLE/VBCABLE_Driver_Pack46.zip "
                             "Download_CABLE/VBCABLE_Driver_Pack12345.zip Download_CABLE/VBCABLE_Driver_Pack47.exe "
                             "Download_CABLE/VBCABLE_Driver_Pack.zip";
    struct Row {
        const char* what;
        std::function<void(Rig&)> setUp;
        std::vector<std::wstring> downloads;
        Install end;
        std::wstring host = L"https://download.vendor.test";
    };
    const std::vector<Row> rows = {
        {"a page listing 45 and 46 (5 digits, other endings and repeats left out), nothing served",
            [&](Rig& r) { r.sim.web.serve(kPage, page); }, {kPage, packageUrl(46), packageUrl(45), packageUrl(43)},
            Install::Failed},
        {"a file of exactly 100000 bytes falls through to the next candidate, which is installed",
            [&](Rig& r) {
                r.sim.web.serve(kPage, page);
                r.sim.web.serve(packageUrl(46), bytes(100000));
                r.sim.web.serve(packageUrl(45), bytes(100001));
            },
            {kPage, packageUrl(46), packageUrl(45)}, Install::Installing},
        {"a transfer that reports failure does not count, whatever it wrote",
            [&](Rig& r) {
                r.sim.web.serve(kPage, page);
                r.sim.web.serve(packageUrl(46), bytes(200000));
                r.sim.web.fail(packageUrl(46));
            },
            {kPage, packageUrl(46), packageUrl(45), packageUrl(43)}, Install::Failed},
        {"a failed page tries only 45 and 43, not what an old page file listed",
            [&](Rig& r) {
                r.files.put(kFolder + L"\\vb-cable.htm",
                    std::vector<uint8_t>(page.begin(), page.end())); // from an earlier attempt
                r.sim.web.fail(kPage);
            },
            {kPage, packageUrl(45), packageUrl(43)}, Install::Failed},
        {"an empty page counts as failed", [&](Rig& r) { r.sim.web.serve(kPage, ""); },
            {kPage, packageUrl(45), packageUrl(43)}, Install::Failed},
        {"the first good package ends the search even when it holds no installer",
            [&](Rig& r) {
                r.sim.processes.script(kTar, {.exitCode = 1});
                r.sim.web.serve(packageUrl(45), bytes(150000));
                r.sim.web.serve(packageUrl(43), bytes(150000));
            },
            {kPage, packageUrl(45)}, Install::Failed},
        {"candidates on a download host that is not secure are skipped", [&](Rig& r) { r.sim.web.serve(kPage, page); },
            {kPage}, Install::Failed, L"http://download.vendor.test"},
        {"an installer found by the worker skips the download",
            [&](Rig& r) { r.files.put(kFolder + L"\\pack\\VBCABLE_Setup.exe", bytes(10)); }, {}, Install::Installing},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Rig rig(row.host);
        ASSERT_EQ(rig.cable().requestInstall(), cable::Cable::Next::Download);
        EXPECT_EQ(rig.state(), Install::Downloading);
        row.setUp(rig);
        rig.cable().downloadPackage();
        EXPECT_EQ(rig.sim.web.downloads(), row.downloads);
        expectFreshDownloads(rig.sim.web);
        EXPECT_EQ(rig.state(), row.end);
        if (row.end == Install::Failed) {
            EXPECT_EQ(rig.cable().requestInstall(), cable::Cable::Next::Download) << "a new request is accepted";
        }
    }
}

TEST(CableDownload, ARequestStartsNothingWhileADownloadOrAnInstallerRuns)
{
    Rig rig;
    EXPECT_EQ(rig.cable().requestInstall(), cable::Cable::Next::Download);
    EXPECT_EQ(rig.cable().requestInstall(), cable::Cable::Next::Nothing);
    rig.files.put(kInstaller, bytes(10)); // extracted while the download still runs
    EXPECT_EQ(rig.cable().requestInstall(), cable::Cable::Next::Nothing) << "the download starts the installer";
    rig.cable().downloadPackage();
    EXPECT_EQ(rig.state(), Install::Installing);
    EXPECT_EQ(rig.cable().requestInstall(), cable::Cable::Next::Nothing);

    Rig found;
    found.files.put(kInstaller, bytes(10));
    EXPECT_EQ(found.cable().requestInstall(), cable::Cable::Next::StartInstaller);
    EXPECT_EQ(found.state(), Install::Installing);
    EXPECT_TRUE(found.sim.web.log().empty());
}

TEST(CableExtract, TheSystemsTarUnpacksIntoTheFolderWithoutAWindowAndMustEndWithZero)
{
    Rig rig;
    EXPECT_TRUE(rig.cable().extractPackage(kPackage, kFolder));
    const auto starts = rig.sim.processes.starts();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].kind, SimProcesses::Start::Kind::Run);
    EXPECT_EQ(starts[0].commandLine, L"\"" + kTar + L"\" -xf \"" + kPackage + L"\" -C \"" + kFolder + L"\"");
    EXPECT_EQ(starts[0].folder, kFolder);

    rig.sim.processes.script(kTar, {.exitCode = 2});
    EXPECT_FALSE(rig.cable().extractPackage(kPackage, kFolder));
    rig.sim.processes.script(kTar, {.refuses = true});
    EXPECT_FALSE(rig.cable().extractPackage(kPackage, kFolder));
    EXPECT_EQ(rig.sim.clock.nowMicros(), 0) << "tar is never waited for on the clock when it ends";
}

TEST(CableExtract, WithoutTarTheShellsCopyCountsAfterSixSteadyPollsWithAnInstaller)
{
    struct Row {
        const char* what;
        // What the copy does before each poll (from 1); 0 is the copy's call.
        std::function<void(platform::sim::MemoryFiles&, int poll)> progress;
        bool done;
        int64_t endMillis;
    };
    const std::wstring inner = kFolder + L"\\VBCABLE_Driver_Pack45";
    const std::vector<Row> rows = {
        {"copied at once: six polls of 500 ms",
            [&](auto& files, int poll) {
                if (poll == 0)
                    files.put(inner + L"\\VBCABLE_Setup_x64.exe", bytes(5000));
            },
            true, 3000},
        {"the folder still grows at poll 3: six more from there",
            [&](auto& files, int poll) {
                if (poll == 0)
                    files.put(inner + L"\\VBCABLE_Setup_x64.exe", bytes(5000));
                if (poll == 3)
                    files.put(inner + L"\\deep\\vbMmeCable64_win7.sys", bytes(700));
            },
            true, 4000},
        {"the installer arrives at poll 4 after the rest",
            [&](auto& files, int poll) {
                if (poll == 0)
                    files.put(inner + L"\\readme.txt", bytes(100));
                if (poll == 4)
                    files.put(inner + L"\\VBCABLE_Setup.exe", bytes(5000));
            },
            true, 4500},
        {"no installer ever: 240 polls",
            [&](auto& files, int poll) {
                if (poll == 0)
                    files.put(inner + L"\\readme.txt", bytes(100));
            },
            false, 120000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Rig rig;
        rig.files.removeFile(kTar);
        int poll = 0;
        rig.sim.processes.scriptArchiveCopy([&](const std::wstring& archive, const std::wstring& folder) {
            EXPECT_EQ(archive, kPackage);
            EXPECT_EQ(folder, kFolder);
            row.progress(rig.files, poll);
            return true;
        });
        bool done = false;
        runOnClock(
            rig.sim.clock, 500'000, [&] { done = rig.cable().extractPackage(kPackage, kFolder); },
            [&] { row.progress(rig.files, ++poll); });
        EXPECT_EQ(done, row.done);
        EXPECT_EQ(rig.sim.clock.nowMillis(), row.endMillis);
    }

    Rig refused;
    refused.files.removeFile(kTar);
    EXPECT_FALSE(refused.cable().extractPackage(kPackage, kFolder)) << "the shell refused to copy";
    EXPECT_EQ(refused.sim.clock.blockedWaits(), 0);
}

TEST(CableInstall, FindInstallerPrefersTheX64NameAndLooksOneFolderDownButNotIntoDotFolders)
{
    Rig rig;
    EXPECT_EQ(rig.cable().findInstaller(kFolder), L"");
    rig.files.put(kFolder + L"\\.git\\VBCABLE_Setup_x64.exe", bytes(10));
    EXPECT_EQ(rig.cable().findInstaller(kFolder), L"");
    rig.files.put(kFolder + L"\\pack\\VBCABLE_Setup.exe", bytes(10));
    EXPECT_EQ(rig.cable().findInstaller(kFolder), kFolder + L"\\pack\\VBCABLE_Setup.exe");
    rig.files.put(kFolder + L"\\VBCABLE_Setup.exe", bytes(10));
    EXPECT_EQ(rig.cable().findInstaller(kFolder), kFolder + L"\\VBCABLE_Setup.exe") << "the folder itself first";
    rig.files.put(kInstaller, bytes(10));
    EXPECT_EQ(rig.cable().findInstaller(kFolder), kInstaller);
}

TEST(CableInstall, WithoutElevationTheProgramItselfIsStartedElevatedAndWaitedForWithoutLimit)
{
    Rig rig;
    rig.files.put(kInstaller, bytes(10));
    ASSERT_EQ(rig.cable().requestInstall(), cable::Cable::Next::StartInstaller);
    rig.sim.processes.script(kExe, {.keepsRunning = true});
    auto wait = rig.cable().startInstaller();
    ASSERT_TRUE(wait);
    const auto starts = rig.sim.processes.starts();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].kind, SimProcesses::Start::Kind::Shell);
    EXPECT_EQ(starts[0].verb, L"runas");
    EXPECT_EQ(starts[0].program, kExe);
    EXPECT_EQ(starts[0].commandLine, L"--install-cable \"" + kInstaller + L"\"");
    EXPECT_TRUE(starts[0].hidden);

    std::thread waiter(wait);
    rig.sim.clock.awaitWaiters(1);
    rig.sim.clock.advanceMillis(3'600'000);
    EXPECT_EQ(rig.state(), Install::Installing) << "still running after an hour";
    EXPECT_FALSE(rig.reopenRequested());
    rig.sim.processes.finish(kExe, 2);
    waiter.join();
    EXPECT_EQ(rig.state(), Install::Idle);
    EXPECT_TRUE(rig.reopenRequested());
}

TEST(CableInstall, ADeclinedElevationOrAMissingInstallerEndsAtOnce)
{
    Rig declined;
    declined.files.put(kInstaller, bytes(10));
    declined.sim.processes.script(kExe, {.refuses = true});
    ASSERT_EQ(declined.cable().requestInstall(), cable::Cable::Next::StartInstaller);
    EXPECT_FALSE(declined.cable().startInstaller());
    EXPECT_EQ(declined.state(), Install::Idle);
    EXPECT_FALSE(declined.reopenRequested());

    Rig missing;
    EXPECT_FALSE(missing.cable().startInstaller());
    EXPECT_EQ(missing.state(), Install::Failed);
    EXPECT_TRUE(missing.sim.processes.starts().empty());
}

TEST(CableInstall, WhenElevatedTheInstallerIsCheckedAndRunDirectly)
{
    Rig rig;
    rig.files.put(kInstaller, bytes(10));
    rig.sim.processes.setElevated(true);
    rig.sim.signatures.sign(kInstaller, L"VB-Audio Software");
    ASSERT_EQ(rig.cable().requestInstall(), cable::Cable::Next::StartInstaller);
    auto wait = rig.cable().startInstaller();
    ASSERT_TRUE(wait);
    EXPECT_TRUE(rig.sim.processes.starts().empty()) << "nothing runs before the wait job";
    // The job looks for the new cable every 100 ms after the installer ends.
    runOnClock(rig.sim.clock, 100'000, wait);
    const auto starts = rig.sim.processes.starts();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].verb, L"open");
    EXPECT_EQ(starts[0].program, kInstaller);
    EXPECT_EQ(rig.state(), Install::Idle);
    EXPECT_TRUE(rig.reopenRequested());
}

TEST(CableInstall, OnlyTheVendorsSignedInstallerRunsAndWhileItIsHeld)
{
    struct Row {
        const char* what;
        std::wstring path;
        std::function<void(Rig&)> setUp;
        int result;
        bool opened; // the file was held for the check
        bool started;
    };
    const std::wstring other = kFolder + L"\\VBCABLE_Setup.exe";
    const std::vector<Row> rows = {
        {"the vendor's signer", kInstaller, [&](Rig& r) { r.sim.signatures.sign(kInstaller, L"VB-Audio Software"); },
            cable::kInstallerRan, true, true},
        {"the other name, another spelling of the signer", other,
            [&](Rig& r) {
                r.files.put(other, bytes(10));
                r.sim.signatures.sign(other, L"Vincent Burel (KARDEL)");
            },
            cable::kInstallerRan, true, true},
        {"another signer", kInstaller, [&](Rig& r) { r.sim.signatures.sign(kInstaller, L"Contoso Drivers"); },
            cable::kInstallerRefused, true, false},
        {"unsigned", kInstaller, [](Rig&) {}, cable::kInstallerRefused, true, false},
        {"a file that cannot be held", kInstaller,
            [&](Rig& r) {
                r.sim.signatures.sign(kInstaller, L"VB-Audio Software");
                r.sim.signatures.failHold(kInstaller);
            },
            cable::kInstallerRefused, false, false},
        {"a wrong name, checked before anything is opened", kFolder + L"\\setup.exe",
            [&](Rig& r) {
                r.files.put(kFolder + L"\\setup.exe", bytes(10));
                r.sim.signatures.sign(kFolder + L"\\setup.exe", L"VB-Audio Software");
            },
            cable::kInstallerRefused, false, false},
        {"a missing file", kFolder + L"\\sub\\VBCABLE_Setup_x64.exe", [](Rig&) {}, cable::kInstallerRefused, false,
            false},
        {"an installer that cannot start", kInstaller,
            [&](Rig& r) {
                r.sim.signatures.sign(kInstaller, L"VB-Audio Software");
                r.sim.processes.script(kInstaller, {.refuses = true});
            },
            cable::kInstallerNotStarted, true, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Rig rig;
        rig.files.put(kInstaller, bytes(10));
        int heldAtStart = -1;
        rig.sim.processes.script(row.path, {.onStart = [&] { heldAtStart = rig.sim.signatures.heldNow(); }});
        row.setUp(rig);
        int detects = 0;
        const int result = cable::verifyAndRunInstaller(
            rig.sim.clock, rig.files, rig.sim.processes, rig.sim.signatures, row.path, [&] { return ++detects > 0; });
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(rig.sim.signatures.heldEver() > 0, row.opened);
        EXPECT_EQ(rig.sim.signatures.heldNow(), 0) << "released in every case";
        const auto starts = rig.sim.processes.starts();
        EXPECT_EQ(!starts.empty() && heldAtStart >= 0, row.started);
        if (row.started) {
            EXPECT_EQ(heldAtStart, 1) << "still held when the installer starts";
            EXPECT_EQ(starts[0].verb, L"open");
            EXPECT_FALSE(starts[0].hidden);
            EXPECT_EQ(starts[0].folder, kFolder);
            EXPECT_EQ(detects, 1);
        }
    }
}

TEST(CableInstall, AfterTheInstallerTheCableIsLookedForEvery100MsAtMost200Times)
{
    for (const int foundAt : {3, 0}) {
        Rig rig;
        rig.files.put(kInstaller, bytes(10));
        rig.sim.signatures.sign(kInstaller, L"VB-Audio Software");
        int detects = 0;
        int result = -1;
        runOnClock(rig.sim.clock, 100'000, [&] {
            result = cable::verifyAndRunInstaller(rig.sim.clock, rig.files, rig.sim.processes, rig.sim.signatures,
                kInstaller, [&] { return ++detects == foundAt; });
        });
        EXPECT_EQ(result, cable::kInstallerRan);
        EXPECT_EQ(detects, foundAt ? foundAt : 200);
        EXPECT_EQ(rig.sim.clock.nowMillis(), foundAt ? (foundAt - 1) * 100 : 19900) << "no wait after the last look";
    }
}

} // namespace
