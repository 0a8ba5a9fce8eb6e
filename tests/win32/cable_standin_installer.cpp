// A stand-in for the cable vendor's installer: leaves a marker file beside
// itself and exits 0. The marker lists the visible top-level windows of the
// program that started it, so a test can tell that an installer run of
// VantorOvix.exe showed none.

#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <string>

namespace {

struct Parent {
    DWORD id = 0;
    std::wstring executable;
};

Parent parentProcess()
{
    Parent parent;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return parent;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID == GetCurrentProcessId())
            parent.id = entry.th32ParentProcessID;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (parent.id && entry.th32ProcessID == parent.id)
            parent.executable = entry.szExeFile;
    CloseHandle(snapshot);
    return parent;
}

struct Listing {
    DWORD owner = 0;
    FILE* out = nullptr;
};

BOOL CALLBACK listWindow(HWND window, LPARAM param)
{
    auto& listing = *reinterpret_cast<Listing*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != listing.owner || !IsWindowVisible(window))
        return TRUE;
    wchar_t className[256] = {};
    GetClassNameW(window, className, 256);
    std::fprintf(listing.out, "visible window %ls\n", className);
    return TRUE;
}

} // namespace

int wmain(int, wchar_t** argv)
{
    std::wstring marker = argv[0];
    const size_t slash = marker.find_last_of(L"\\/");
    marker = (slash == std::wstring::npos ? std::wstring() : marker.substr(0, slash + 1)) + L"installer-ran.txt";
    FILE* out = _wfopen(marker.c_str(), L"w");
    if (!out)
        return 1;
    const Parent parent = parentProcess();
    Listing listing{parent.id, out};
    std::fprintf(out, "ran, started by %ls\n", parent.executable.c_str());
    EnumWindows(listWindow, reinterpret_cast<LPARAM>(&listing));
    std::fclose(out);
    return 0;
}
