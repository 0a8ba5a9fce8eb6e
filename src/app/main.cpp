// VantorOvix.exe, the temporary entry until the start-up module arrives: it
// picks the default microphone and speaker, starts the engine thread, runs
// until its (hidden) window is closed or Ctrl+C is pressed in the console it
// was started from, and then stops the engine before it returns.

#include "console/console.h"
#include "engine/endpoints.h"
#include "platform/win32/win32_audio.h"
#include "platform/win32/win32_platform.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

HWND gWindow = nullptr;

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) {
        DestroyWindow(hwnd);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// Ctrl+C, Ctrl+Break or the console closing: ask the window to close, which
// ends the message loop on the main thread.
BOOL WINAPI consoleHandler(DWORD)
{
    if (gWindow)
        PostMessageW(gWindow, WM_CLOSE, 0, 0);
    return TRUE;
}

void say(const std::wstring& text)
{
    const std::string line = "VantorOvix: " + std::string(text.begin(), text.end()) + "\n";
    OutputDebugStringA(line.c_str());
    if (FILE* out = stderr) {
        std::fputs(line.c_str(), out);
        std::fflush(out);
    }
}

std::wstring executableFolder()
{
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = 0;
    while ((length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()))) == path.size())
        path.resize(path.size() * 2);
    path.resize(length);
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring nameOf(const engine::EndpointList& list, int index)
{
    return index >= 0 ? list[static_cast<size_t>(index)].name : L"(none)";
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    // Messages go to the console that started us, when there is one.
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        FILE* ignored = nullptr;
        freopen_s(&ignored, "CONOUT$", "w", stderr);
    }

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"VantorOvixWnd";
    if (!RegisterClassW(&windowClass)) {
        say(L"cannot register the window class");
        return 1;
    }
    gWindow = CreateWindowExW(0, windowClass.lpszClassName, L"Vantor Ovix", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
        CW_USEDEFAULT, 320, 120, nullptr, nullptr, instance, nullptr);
    if (!gWindow) {
        // Like the real start-up, the engine starts only after the main window exists.
        say(L"no window could be created (is there a display?); nothing to run");
        return 1;
    }
    SetConsoleCtrlHandler(consoleHandler, TRUE);

    auto clock = platform::win32::makeClock();
    auto devices = platform::win32::makeAudioDevices();
    // The glitch key is polled by the engine, whichever window has the focus.
    const auto keys = platform::win32::makeKeyState();
    // The cavern's impulse response is looked for beside the executable.
    auto files = platform::win32::makeFiles();
    // Settings are not read from it yet: the start-up module will load them.
    auto registry = platform::win32::makeRegistry(platform::Hive::CurrentUser);
    console::Console console({*clock, *devices, keys.get(), files.get(), executableFolder(), registry.get()});

    const auto lists = engine::populateDeviceLists(*devices, console.settings());
    const auto cable = engine::findCableEndpoint(*devices);
    say(L"microphone: " + nameOf(lists.captureList, lists.micIndex));
    say(L"speaker: " + nameOf(lists.renderList, lists.spkIndex));
    say(L"cable: " + (cable.id.empty() ? std::wstring(L"(none)") : cable.name));
    console.startEngineThread();
    say(L"running; close the window or press Ctrl+C to stop");

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }

    SetConsoleCtrlHandler(consoleHandler, FALSE);
    gWindow = nullptr;
    console.stopEngineThread();
    say(L"stopped");
    return 0;
}
