// Stands in for the download helper in the web fetch tests. It takes the
// helper's command line (... -o "FOLDER\clip_TAG.%(ext)s" -- "LINK") and does
// what the link asks for by a word in it:
//   "sound"  copies page-sound.wav from its own folder to the -o template as .wav
//   "fail"   prints an error line and exits with 1
//   "packer" prints its packer's unpacking failure and exits with 0
//   "hang"   starts itself again as "child" and both wait forever
// Every start, the child's too, first appends "helper PID" or "child PID" to
// standin-runs.txt in its own folder, so a test can tell whether it ran and
// which processes to look for afterwards.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

// The fetch refuses a helper below 4 000 000 bytes: this makes the file
// larger (external, so that it is kept although nothing reads it).
extern const unsigned char kStandinPadding[4200000];
const unsigned char kStandinPadding[4200000] = {'p'};

namespace {

std::wstring ownFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.find_last_of(L'\\'));
}

void mark(const char* role)
{
    const std::wstring marker = ownFolder() + L"\\standin-runs.txt";
    HANDLE file = CreateFileW(marker.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    char line[64];
    const int length = std::snprintf(line, sizeof line, "%s %lu\n", role, GetCurrentProcessId());
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
}

void say(const char* text)
{
    std::fputs(text, stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 2 && std::wcscmp(argv[1], L"child") == 0) {
        mark("child");
        Sleep(INFINITE);
        return 0;
    }
    mark("helper");
    std::wstring output;
    std::wstring link;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::wcscmp(argv[i], L"-o") == 0)
            output = argv[i + 1];
        else if (std::wcscmp(argv[i], L"--") == 0)
            link = argv[i + 1];
    }
    if (output.empty() || link.empty()) {
        say("Usage: yt-dlp [OPTIONS] URL [URL...]");
        return 2;
    }

    if (link.find(L"sound") != std::wstring::npos) {
        const size_t ext = output.find(L"%(ext)s");
        if (ext == std::wstring::npos)
            return 2;
        output.replace(ext, 7, L"wav");
        say("[download] Destination: the page's sound");
        return CopyFileW((ownFolder() + L"\\page-sound.wav").c_str(), output.c_str(), FALSE) ? 0 : 1;
    }
    if (link.find(L"packer") != std::wstring::npos) {
        say("[PYI-4242:ERROR] Could not load PyInstaller's embedded PKG archive from the executable");
        return 0;
    }
    if (link.find(L"hang") != std::wstring::npos) {
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring line = L"\"" + std::wstring(path) + L"\" child";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION started{};
        // Inherits the output pipe like a real helper's child would.
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started))
            return 3;
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
        say("[info] waiting for the page");
        Sleep(INFINITE);
    }
    say("ERROR: [generic] Unable to download webpage: HTTP Error 404: Not Found");
    return 1;
}
