#pragma once
// The virtual cable as the program looks after it: whether it is there and
// healthy (the status worker's passes, with the plain-words message it
// leaves in the settings record's cable texts), the rename of its capture
// side to "Omnimix", and the install flow that fetches, checks and runs the
// vendor's signed installer. Every outside service comes through the
// platform seam, so the whole flow runs on the simulated platform.

#include "cable/cable_contract.h"
#include "engine/engine_report.h"
#include "engine/engine_state.h"
#include "platform/audio_endpoints.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/registry_store.h"
#include "platform/signatures.h"
#include "platform/web.h"
#include "settings/settings.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace cable {

// Install state.
enum class Install : int32_t { Idle = 0, Downloading = 1, Extracting = 2, Installing = 3, Failed = 4 };
// Health state, written by the status worker.
enum class Health : int32_t { Missing = 0, RestartNeeded = 1, Ready = 2, Blocked = 3 };

// Where the vendor's page and packages come from: configuration, so tests
// point them at a server of their own.
struct VendorSite {
    std::wstring webSite = L"https://vb-audio.com";               // the page under "/Cable/"
    std::wstring downloadHost = L"https://download.vb-audio.com"; // packages under "/Download_CABLE/"
};

// What the cable needs of the platform and the rest of the program; the
// services outlive the cable. A missing service disables what needs it.
struct CableServices {
    platform::Clock& clock;
    platform::AudioDevices& devices;
    settings::Settings& settings;               // the cable texts, under deviceNameLock
    engine::EngineState& engine;                // engineReopenRequest, cableRetryRequest
    platform::RegistryStore* machine = nullptr; // local machine, 64-bit view
    platform::Files* files = nullptr;
    platform::Web* web = nullptr;
    platform::Processes* processes = nullptr;
    platform::Signatures* signatures = nullptr;
    std::wstring cableFolder; // cableFolderFor(LOCALAPPDATA)
    VendorSite site;
    // The engine's report (its cableStatus and whether it runs); none: the
    // engine counts as not running.
    const engine::EngineReports* reports = nullptr;
};

// The status worker's messages (the cable problem text).
inline constexpr wchar_t kDownloadingMessage[] = L"Downloading VB-CABLE...";
inline constexpr wchar_t kInstallingMessage[]
    = L"Installing VB-CABLE. Finish the installer window, then restart your PC.";
inline constexpr wchar_t kHeldMessage[]
    = L"Another app is holding CABLE Input (Voicemeeter or OBS?). Close it or change its output.";
inline constexpr wchar_t kReadyMessage[] = L"Virtual mic ready";
inline constexpr wchar_t kRenderOffMessage[]
    = L"CABLE Input is turned off. Turn it back on in Windows Sound settings, Playback tab.";
inline constexpr wchar_t kIncompleteMessage[] = L"VB-CABLE didn't install completely. Click here to install it again.";
inline constexpr wchar_t kMicOffMessage[]
    = L"The virtual mic is turned off. Turn on CABLE Output and CABLE Input in Windows Sound settings.";
inline constexpr wchar_t kNotInstalledMessage[] = L"No virtual mic yet. Click here to install VB-CABLE.";
inline constexpr wchar_t kRestartMessage[] = L"Restart your PC to finish installing VB-CABLE.";

// Passes in a row in which another program holds the cable before the engine
// is asked to try it again.
inline constexpr int kHeldPassesBeforeRetry = 5;
// Renames that may fail before the capture side keeps its vendor name.
inline constexpr int kMaxRenameFailures = 20;
// The status worker's rhythm: a pass, then this many waits of kStatusWaitMicros.
inline constexpr int kStatusWaits = 30;
inline constexpr int64_t kStatusWaitMicros = 100'000;

// The capture endpoints' registry home (local machine) and the value that
// holds an endpoint's device description, which its shown name comes from.
inline constexpr std::wstring_view kCaptureEndpointsKey
    = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Capture\\";
inline constexpr std::wstring_view kDescriptionValue = L"{a45c254e-df1c-4efd-8020-67d146a850e0},2";

// Where the rename of the cable's capture side stands, for the diagnostics.
enum class Rename : int32_t {
    NoCable,    // no cable capture endpoint found
    Named,      // it carries the new name (or was just renamed)
    OwnName,    // its name is neither the vendor's nor the new one: left alone
    NeedsAdmin, // only an elevated process renames it
    Failing,    // renames failed; tried again on the next passes
    GaveUp,     // kMaxRenameFailures renames failed; it keeps the vendor's name
};

// The cable folder: LOCALAPPDATA (or "C:\Users\Public" when it is missing or
// 260 characters or longer) + "\VantorOvix\vbcable".
std::wstring cableFolderFor(const std::wstring* localAppData);

// The command-line switch of the elevated half: "--install-cable" "PATH".
inline constexpr std::wstring_view kInstallCableSwitch = L"--install-cable";

// Result codes of verifyAndRunInstaller (and of "--install-cable").
inline constexpr int kInstallerRan = 0;
inline constexpr int kInstallerNotStarted = 1;
inline constexpr int kInstallerRefused = 2;

// The elevated half: checks the file name, holds the file, verifies its
// signature and signer, runs it, waits for it, then calls detect every
// 100 ms (at most 200 times) until it finds the cable. 0 ran, 1 could not
// start, 2 refused (nothing run).
int verifyAndRunInstaller(platform::Clock& clock, platform::Files& files, platform::Processes& processes,
    platform::Signatures& signatures, const std::wstring& path, const std::function<bool()>& detect);

class Cable {
public:
    explicit Cable(CableServices services);
    ~Cable(); // stops the status worker
    Cable(const Cable&) = delete;
    Cable& operator=(const Cable&) = delete;

    Install installState() const { return static_cast<Install>(install_.load()); }
    Health health() const { return static_cast<Health>(health_.load()); }
    Rename renameState() const { return static_cast<Rename>(rename_.load()); }
    // Whether a pass has judged the cable yet (the health means something).
    bool checked() const { return checked_.load(); }
    const CableServices& services() const { return services_; }

    // --- Status (cable_status.cpp) ---
    // Finds the cable's capture endpoint, keeps its name in the cable texts
    // (or clears it) and renames it when allowed; true when found.
    bool detectCableCapture();
    // One pass of the status worker: the message, the health and the requests.
    // Status worker only (or a test stepping it).
    void statusPass();
    // The status worker on its own thread: a pass, then 30 waits of 100 ms,
    // until stopStatusWorker. COM is the thread's own business (initThread).
    void startStatusWorker(std::function<void()> initThread = {}, std::function<void()> endThread = {});
    void stopStatusWorker();
    // Renames a capture endpoint through its registry properties.
    bool renameCableCapture(const std::wstring& endpointId, const std::wstring& newName);

    // --- Install (cable_install.cpp) ---
    // What a request asks the caller to do next.
    enum class Next { Nothing, Download, StartInstaller };
    // "Download & Install", only from idle or failed (otherwise Nothing):
    // StartInstaller (install state now 3) when an installer is already in
    // the cable folder, else Download (install state now 1).
    Next requestInstall();
    // The download worker's body (blocking; run it on a worker thread). Ends in
    // install state 3, when the caller goes on with startInstaller on the
    // interface thread, or 4.
    void downloadPackage();
    // The system's tar when there is one (exit code 0 within 120 s), else the
    // shell's archive copy, polled on the clock until it has settled.
    bool extractPackage(const std::wstring& zip, const std::wstring& folder);
    // Either installer name in folder, then in each subfolder not starting
    // with "."; empty when there is none.
    std::wstring findInstaller(const std::wstring& folder);
    // Starts the installer (elevated through the shell when this process is
    // not). Returns the wait that must run on a worker thread (the elevated
    // run, or the waiter), which ends in install state 0 and the engine's
    // reopen request; empty when nothing is left to wait for.
    std::function<void()> startInstaller();

private:
    CableServices services_;
    std::atomic<int32_t> install_{0};
    std::atomic<int32_t> health_{0};
    std::atomic<int32_t> rename_{0};
    std::atomic<bool> checked_{false};
    struct Status;
    std::unique_ptr<Status> status_;
};

} // namespace cable
