// VantorOvix.exe: the program's entry. Decides whether this process is an
// installer run or a second instance, brings the services up in a fixed
// order, restores the settings, makes the main window, starts the engine,
// runs the message loop and tears it all down in the reverse order.

#include "cable/cable.h"
#include "console/background_workers.h"
#include "console/console.h"
#include "engine/endpoints.h"
#include "engine/engine_state.h"
#include "platform/win32/win32_audio.h"
#include "platform/win32/win32_known_folders.h"
#include "platform/win32/win32_platform.h"
#include "settings/setup_files.h"
#include "soundboard/hotkeys.h"
#include "ui/interface_fonts.h"
#include "ui/main_window.h"
#include "ui/win32/gdi_font_system.h"
#include "ui/win32/gdiplus_painter.h"
#include "ui/win32/main_frame.h"
#include "ui/window_placement.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr wchar_t kMutexName[] = L"Local\\VantorOvix.Running";
constexpr wchar_t kInstallCableSwitch[] = L"--install-cable";
constexpr int kNoWindow = 1;

void say(const std::wstring& text)
{
    std::string line = "VantorOvix: ";
    for (wchar_t c : text)
        line += c < 0x80 ? static_cast<char>(c) : '?';
    line += '\n';
    OutputDebugStringA(line.c_str());
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

// The folder of the executable: the module path cut at its last backslash.
std::wstring folderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::optional<std::wstring> environmentVariable(const wchar_t* name)
{
    std::wstring value(32768, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (length == 0 || length >= value.size())
        return std::nullopt;
    value.resize(length);
    return value;
}

// The cable installer's elevated step, started by the program itself through
// the elevation prompt: checks and runs the vendor's installer, then looks
// for the new capture endpoint (renaming it, since this process is elevated).
// No window, no mutex, no settings of the user's.
int runCableInstaller(const std::wstring& installer)
{
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int code = cable::kInstallerNotStarted;
    {
        auto clock = platform::win32::makeClock();
        auto devices = platform::win32::makeAudioDevices();
        auto files = platform::win32::makeFiles();
        auto machine = platform::win32::makeRegistry(platform::Hive::LocalMachine);
        auto processes = platform::win32::makeProcesses();
        auto signatures = platform::win32::makeSignatures();
        settings::Settings settings;
        engine::EngineState state;
        const auto localAppData = environmentVariable(L"LOCALAPPDATA");
        cable::Cable cable({.clock = *clock,
            .devices = *devices,
            .settings = settings,
            .engine = state,
            .machine = machine.get(),
            .files = files.get(),
            .processes = processes.get(),
            .signatures = signatures.get(),
            .cableFolder = cable::cableFolderFor(localAppData ? &*localAppData : nullptr),
            .site = {}});
        // What counts as "found" after the installer ended; one place to change it.
        const auto detect = [&cable] { return cable.detectCableCapture(); };
        code = cable::verifyAndRunInstaller(*clock, *files, *processes, *signatures, installer, detect);
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return code;
}

// Per-monitor awareness v2 (Windows 10 1703 on), looked up so older systems still start.
void becomePerMonitorDpiAware()
{
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    if (HMODULE user32 = GetModuleHandleW(L"user32.dll")) {
        if (auto set = reinterpret_cast<SetContextFn>(
                reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")))) {
            // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
            if (set(reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-4))))
                return;
        }
    }
    SetProcessDPIAware();
}

void activateRunningInstance()
{
    if (HWND running = FindWindowW(ui::win32::kMainClass, nullptr)) {
        ShowWindow(running, SW_RESTORE);
        SetForegroundWindow(running);
    }
}

// Media Foundation is started only when its libraries are in the system
// folder; it is reached through the loader so that the program still starts
// on systems without it (editions without the media features).
class MediaFoundation {
public:
    MediaFoundation()
    {
        std::wstring system(MAX_PATH, L'\0');
        system.resize(GetSystemDirectoryW(system.data(), MAX_PATH));
        if (GetFileAttributesW((system + L"\\mfplat.dll").c_str()) == INVALID_FILE_ATTRIBUTES
            || GetFileAttributesW((system + L"\\mfreadwrite.dll").c_str()) == INVALID_FILE_ATTRIBUTES)
            return;
        module_ = LoadLibraryW(L"mfplat.dll");
        using StartupFn = HRESULT(WINAPI*)(ULONG, DWORD);
        auto startup = module_
            ? reinterpret_cast<StartupFn>(reinterpret_cast<void*>(GetProcAddress(module_, "MFStartup")))
            : nullptr;
        constexpr ULONG kVersion = 0x00020070; // MF_VERSION
        constexpr DWORD kFull = 0;             // MFSTARTUP_FULL
        started_ = startup && SUCCEEDED(startup(kVersion, kFull));
    }
    void shutdown()
    {
        using ShutdownFn = HRESULT(WINAPI*)();
        if (started_)
            if (auto stop
                = reinterpret_cast<ShutdownFn>(reinterpret_cast<void*>(GetProcAddress(module_, "MFShutdown"))))
                stop();
        started_ = false;
    }
    bool started() const { return started_; }

private:
    HMODULE module_ = nullptr;
    bool started_ = false;
};

std::wstring nameOf(const engine::EndpointList& list, int index)
{
    return index >= 0 ? list[static_cast<size_t>(index)].name : L"(none)";
}

double threadCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user))
        return 0.0;
    auto seconds = [](FILETIME t) {
        return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

// Since the system made the process (before the loader and the runtime ran).
int64_t millisSinceProcessStart()
{
    FILETIME created, exited, kernel, user, now;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return -1;
    GetSystemTimeAsFileTime(&now);
    auto ticks = [](FILETIME t) { return (static_cast<int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return (ticks(now) - ticks(created)) / 10000;
}

// Ctrl+C or Ctrl+Break in the console that started us: close the window,
// which ends the message loop on the interface thread.
HWND gMainWindow = nullptr;
BOOL WINAPI consoleHandler(DWORD)
{
    if (gMainWindow)
        PostMessageW(gMainWindow, WM_CLOSE, 0, 0);
    return TRUE;
}

// The message a key capture takes first: key-down, system-key-down, the
// middle button (key 4) and the extra buttons (keys 5 and 6).
std::optional<std::pair<soundboard::CaptureInput, uint16_t>> captureInputOf(const MSG& message)
{
    using soundboard::CaptureInput;
    switch (message.message) {
    case WM_KEYDOWN:
        return std::pair{CaptureInput::KeyDown, static_cast<uint16_t>(message.wParam)};
    case WM_SYSKEYDOWN:
        return std::pair{CaptureInput::SystemKeyDown, static_cast<uint16_t>(message.wParam)};
    case WM_MBUTTONDOWN:
        return std::pair{CaptureInput::MiddleButton, uint16_t{VK_MBUTTON}};
    case WM_XBUTTONDOWN:
        return GET_XBUTTON_WPARAM(message.wParam) == XBUTTON1
            ? std::pair{CaptureInput::ExtraButton1, uint16_t{VK_XBUTTON1}}
            : std::pair{CaptureInput::ExtraButton2, uint16_t{VK_XBUTTON2}};
    default:
        return std::nullopt;
    }
}

// The modifiers as they were when the message was queued (GetKeyState
// follows the thread's messages; GetAsyncKeyState would be the state now).
uint32_t captureModifiers()
{
    uint32_t modifiers = 0;
    if (GetKeyState(VK_CONTROL) < 0)
        modifiers |= platform::kKeyControl;
    if (GetKeyState(VK_MENU) < 0)
        modifiers |= platform::kKeyAlt;
    if (GetKeyState(VK_SHIFT) < 0)
        modifiers |= platform::kKeyShift;
    if (GetKeyState(VK_LWIN) < 0 || GetKeyState(VK_RWIN) < 0)
        modifiers |= platform::kKeyWin;
    return modifiers;
}

// After a capture took a message: the main window and the soundboard window
// both show bindings, so every window of this thread repaints.
void repaintThreadWindows()
{
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM) {
            InvalidateRect(window, nullptr, FALSE);
            return TRUE;
        },
        0);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    // Messages go to the console that started us, when there is one.
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        FILE* ignored = nullptr;
        freopen_s(&ignored, "CONOUT$", "w", stderr);
    }
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);

    // The command line: an installer run does nothing else.
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const bool installerRun = argv && argc >= 3 && std::wcscmp(argv[1], kInstallCableSwitch) == 0;
    const std::wstring installer = installerRun ? argv[2] : L"";
    LocalFree(argv);
    if (installerRun) {
        const int code = runCableInstaller(installer);
        say(L"cable installer run: " + std::to_wstring(code));
        return code;
    }

    becomePerMonitorDpiAware();

    HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        activateRunningInstance();
        CloseHandle(mutex);
        say(L"already running; the first window was brought to the front");
        return 0;
    }

    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    auto clock = platform::win32::makeClock();
    auto devices = platform::win32::makeAudioDevices();
    // The glitch key is polled by the engine, whichever window has the focus.
    const auto keys = platform::win32::makeKeyState();
    auto files = platform::win32::makeFiles();
    auto registry = platform::win32::makeRegistry(platform::Hive::CurrentUser);
    // The cable's services: its driver key, the package download, the
    // installer's start and its signature check.
    auto machineRegistry = platform::win32::makeRegistry(platform::Hive::LocalMachine);
    auto web = platform::win32::makeWeb();
    auto processes = platform::win32::makeProcesses();
    auto signatures = platform::win32::makeSignatures();
    // The download helper runs only when its checksum matches.
    auto hashes = platform::win32::makeHashes();
    // Another program's sound for the "Program on Mic" tab.
    auto appAudio = platform::win32::makeAppAudio();
    const auto localAppData = environmentVariable(L"LOCALAPPDATA");
    const bool firstRun = !registry->keyExists(std::wstring(settings::kStoreRoot) + L"\\Settings");

    MediaFoundation mediaFoundation;
    // Clips and exports decode and encode through it; the media log lies in the tools folder.
    auto media = platform::win32::makeMedia();
    const auto programData = environmentVariable(L"ProgramData");
    // The system's hotkeys, made and used on this (the interface) thread;
    // they post to the main window once it exists.
    auto globalHotkeys = platform::win32::makeGlobalHotkeys();

    INITCOMMONCONTROLSEX controls{sizeof(controls),
        ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES
            | ICC_UPDOWN_CLASS | ICC_PROGRESS_CLASS | ICC_HOTKEY_CLASS | ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&controls);
    std::optional<ui::win32::GdiPlusSession> gdiplus(std::in_place);

    // The artwork is drawn in code by the pages; the theme is their palette.
    const std::wstring exePath = processes->ownExecutable();
    const std::wstring exeFolder = folderOf(exePath);
    std::optional<console::Console> console(std::in_place,
        console::Platform{.clock = *clock,
            .devices = *devices,
            .keys = keys.get(),
            .files = files.get(),
            .responseFolder = exeFolder,
            .registry = registry.get(),
            .machineRegistry = machineRegistry.get(),
            .web = web.get(),
            .processes = processes.get(),
            .signatures = signatures.get(),
            .cableFolder = cable::cableFolderFor(localAppData ? &*localAppData : nullptr),
            .vendorSite = {},
            .media = media.get(),
            .toolsFolder = clip::toolsFolderFor(programData ? &*programData : nullptr),
            .hotkeys = globalHotkeys.get(),
            .hashes = hashes.get(),
            .appAudio = appAudio.get()});
    auto& settings = console->settings();
    auto& store = *console->registrySettings();

    // The interface faces come first: the stored face is checked against them.
    const std::wstring appData = settings::applicationDataFolder(environmentVariable(L"APPDATA"), exeFolder);
    ui::win32::GdiFontSystem fontSystem;
    ui::InterfaceFonts interfaceFonts(*files, fontSystem, settings, store, appData);
    interfaceFonts.loadNow();

    // The stores, in their order: equalizer presets and state, the settings, autostart.
    store.loadUserEqPresets(settings);
    store.loadEqualizer(settings);
    store.loadRegistrySettings(settings, interfaceFonts.faces());
    store.refreshAutostart(exePath);
    const bool autostart = store.autostartEnabled();

    std::optional<ui::win32::InterfaceFonts> fonts(std::in_place);
    fonts->update(settings);

    HICON icon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    HICON smallIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, 16, 16, 0));
    if (!ui::win32::MainFrame::registerClasses(instance, icon, smallIcon)) {
        say(L"cannot register the window class");
        return kNoWindow;
    }

    const ui::WorkArea area = ui::win32::primaryWorkArea();
    const int dpi = ui::win32::primaryMonitorDpi();
    const float scale = ui::windowScale(area, dpi, settings.UiZoom);
    const bool remember = settings.UiPlace && settings.WinSet;
    const ui::WindowPosition place
        = ui::windowPosition(area, ui::windowSize(scale), remember, settings.WinX, settings.WinY);

    std::optional<ui::win32::MainFrame> frame(std::in_place, *console, *clock, *fonts);
    if (!frame->create(instance, scale, place, icon, smallIcon)) {
        // Like the real start-up, the engine starts only after the main window exists.
        say(L"no window could be created (is there a display?); nothing to run");
        return kNoWindow;
    }
    gMainWindow = frame->handle();
    globalHotkeys->setWindow(frame->handle());
    SetConsoleCtrlHandler(consoleHandler, TRUE);

    fontSystem.setOwner(frame->handle());
    settings::Setups setups(*files, store, settings, appData);
    // Outlives the model: the installations search walks these folders.
    const auto knownFolders = platform::win32::makeKnownFolders();
    std::optional<ui::MainWindow> model(
        std::in_place, *console, *frame, ui::Services{&setups, {}, &interfaceFonts, exePath});
    frame->attach(*model);
    model->setInstallationsSearch(*files, *knownFolders);
    // The setup restore, the portable file on a first run, the installations
    // search and the environment list's scroll row.
    model->start({firstRun, exeFolder});
    // The pads, whose sounds load now that the window takes the results, and
    // every binding registered once the settings and the pads are in.
    console->soundboard().load();
    console->soundboard().startPendingLoads();
    console->hotkeys().registerAllHotkeys();

    const auto lists = engine::populateDeviceLists(*devices, settings);
    const auto cable = engine::findCableEndpoint(*devices);
    say(L"microphone: " + nameOf(lists.captureList, lists.micIndex));
    say(L"speaker: " + nameOf(lists.renderList, lists.spkIndex));
    say(L"cable: " + (cable.id.empty() ? std::wstring(L"(none)") : cable.name));
    say(std::wstring(L"scale ") + std::to_wstring(scale) + L" at " + std::to_wstring(dpi) + L" dpi"
        + (firstRun ? L", first run" : L"") + (autostart ? L", starts with Windows" : L"")
        + (mediaFoundation.started() ? L"" : L", no Media Foundation"));
    // The cable's status worker before the engine, in its own apartment for
    // the endpoint enumeration.
    auto cableCom = std::make_shared<HRESULT>(E_FAIL);
    console->startCableWorker([cableCom] { *cableCom = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); },
        [cableCom] {
            if (SUCCEEDED(*cableCom))
                CoUninitialize();
        });
    console->startEngineThread();

    frame->startTimers();
    frame->show(showCommand);
    LARGE_INTEGER shown{};
    QueryPerformanceCounter(&shown);
    const double cpuAtShow = threadCpuSeconds();
    say(L"window shown " + std::to_wstring(millisSinceProcessStart()) + L" ms after the process started");
    say(L"running; close the window or press Ctrl+C to stop");

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // A running key capture takes keys and the middle and extra buttons
        // before any window does; Escape then only ends the capture.
        if (model->capturing()) {
            if (const auto input = captureInputOf(message)) {
                const bool escape = message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE;
                if (model->captureInput(input->first, input->second, captureModifiers()) || escape) {
                    repaintThreadWindows();
                    continue;
                }
            }
        }
        // Escape closes an open pop-up of the model also while a child of the
        // window has the focus (the window passes its own keys to the model).
        const HWND main = frame->handle();
        if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE && main && IsChild(main, message.hwnd)
            && frame->routeEscape())
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }

    LARGE_INTEGER ended{};
    QueryPerformanceCounter(&ended);
    const double shownSeconds = static_cast<double>(ended.QuadPart - shown.QuadPart) / frequency.QuadPart;
    const auto& times = frame->paintTimes();
    wchar_t figures[300];
    std::swprintf(figures, 300,
        L"interface thread %.0f ms CPU in %.1f s shown; %d paints in %.0f ms (the model drawing %.0f ms); first "
        L"full paint %.1f ms, %d full repaints %.2f ms mean",
        (threadCpuSeconds() - cpuAtShow) * 1000.0, shownSeconds, times.paints, times.paintMillis, times.modelMillis,
        times.firstFullMillis, times.repaints, times.repaints ? times.repaintMillis / times.repaints : 0.0);
    say(figures);

    // Shutdown: the engine first, then the window's resources, then the bounded waits.
    SetConsoleCtrlHandler(consoleHandler, FALSE);
    gMainWindow = nullptr;
    console->stopEngineThread();
    console->stopCableWorker();
    model.reset();
    frame.reset();
    fonts.reset();
    gdiplus.reset();
    const bool idle = console::waitForBackgroundWork(*clock, console->fetches(), console->workers());
    CloseHandle(mutex);
    say(L"stopped");
    if (!idle) {
        // A worker still runs: end now rather than free what it uses.
        TerminateProcess(GetCurrentProcess(), 0);
    }
    console.reset();
    mediaFoundation.shutdown();
    if (SUCCEEDED(com))
        CoUninitialize();
    return 0;
}
