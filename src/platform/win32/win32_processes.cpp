#include "platform/win32/com_ptr.h"
#include "platform/win32/win32_platform.h"

#include <windows.h>

#include <aclapi.h>
#include <oleauto.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

namespace platform::win32 {
namespace {

std::optional<uint32_t> waitForExit(HANDLE process, int64_t timeoutMicros)
{
    if (!process)
        return std::nullopt;
    DWORD millis = INFINITE;
    if (timeoutMicros != kWaitForever)
        millis
            = static_cast<DWORD>(std::min<int64_t>((std::max<int64_t>(timeoutMicros, 0) + 999) / 1000, INFINITE - 1));
    if (WaitForSingleObject(process, millis) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    if (!GetExitCodeProcess(process, &code))
        return std::nullopt;
    return code;
}

class WinChild final : public ChildProcess {
public:
    explicit WinChild(HANDLE process) : process_(process) { }
    ~WinChild() override
    {
        if (process_)
            CloseHandle(process_);
    }
    WinChild(const WinChild&) = delete;
    WinChild& operator=(const WinChild&) = delete;

    std::optional<uint32_t> wait(int64_t timeoutMicros) override { return waitForExit(process_, timeoutMicros); }

private:
    HANDLE process_;
};

// The job (kill on close) or, without one, a duplicate of the process handle.
class WinRunKiller final : public RunKiller {
public:
    WinRunKiller(HANDLE handle, bool job) : handle_(handle), job_(job) { }
    ~WinRunKiller() override { CloseHandle(handle_); }
    WinRunKiller(const WinRunKiller&) = delete;
    WinRunKiller& operator=(const WinRunKiller&) = delete;

    void terminate() override
    {
        if (!job_ || !TerminateJobObject(handle_, 1))
            TerminateProcess(handle_, 1);
    }

private:
    HANDLE handle_;
    bool job_;
};

// A job that ends every process in it when its last handle closes; null when
// the system refuses one (the caller falls back to the process handle).
HANDLE killOnCloseJob(HANDLE process)
{
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (!job)
        return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits))
        || !AssignProcessToJobObject(job, process)) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

class WinHiddenRun final : public HiddenRun {
public:
    WinHiddenRun(PROCESS_INFORMATION started, HANDLE output, std::unique_ptr<RunKiller> killer)
        : process_(started.hProcess), thread_(started.hThread), output_(output), killer_(std::move(killer))
    { }
    // A killer never taken out ends the run here, with its job.
    ~WinHiddenRun() override
    {
        killer_.reset();
        CloseHandle(output_);
        CloseHandle(thread_);
        CloseHandle(process_);
    }
    WinHiddenRun(const WinHiddenRun&) = delete;
    WinHiddenRun& operator=(const WinHiddenRun&) = delete;

    std::unique_ptr<RunKiller> takeKiller() override { return std::move(killer_); }
    void resume() override { ResumeThread(thread_); }

    size_t readOutput(uint8_t* buffer, size_t max) override
    {
        DWORD got = 0;
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(max, 1u << 20));
        // A broken pipe (every writer gone) is the end of the output.
        if (ask == 0 || !ReadFile(output_, buffer, ask, &got, nullptr))
            return 0;
        return got;
    }

    std::optional<uint32_t> wait(int64_t timeoutMicros) override { return waitForExit(process_, timeoutMicros); }

private:
    HANDLE process_;
    HANDLE thread_;
    HANDLE output_;
    std::unique_ptr<RunKiller> killer_;
};

// A BSTR owned for one call.
class Bstr {
public:
    explicit Bstr(const std::wstring& text) : text_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) { }
    ~Bstr() { SysFreeString(text_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return text_; }

private:
    BSTR text_;
};

ComPtr<Folder> shellFolder(IShellDispatch& shell, const std::wstring& path)
{
    Bstr name(path);
    VARIANT where;
    VariantInit(&where);
    where.vt = VT_BSTR;
    where.bstrVal = name.get();
    ComPtr<Folder> folder;
    if (!name.get() || FAILED(shell.NameSpace(where, folder.put())))
        return {};
    return folder;
}

bool enablePrivilege(HANDLE token, const wchar_t* name)
{
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid))
        return false;
    // Succeeds also when the token lacks the privilege; the last error tells.
    return AdjustTokenPrivileges(token, FALSE, &privileges, sizeof(privileges), nullptr, nullptr)
        && GetLastError() == ERROR_SUCCESS;
}

class WinProcesses final : public Processes {
public:
    std::unique_ptr<ChildProcess> run(const std::wstring& commandLine, const std::wstring& workingFolder) override
    {
        // CreateProcessW may write into the command line.
        std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
        line.push_back(L'\0');
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION started{};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &started))
            return nullptr;
        CloseHandle(started.hThread);
        return std::make_unique<WinChild>(started.hProcess);
    }

    std::unique_ptr<HiddenRun> startHidden(const std::wstring& commandLine, const std::wstring& workingFolder) override
    {
        // Only the write end is inheritable: the child must not hold the
        // read end, or the output would never end.
        SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
        HANDLE readEnd = nullptr;
        HANDLE writeEnd = nullptr;
        if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0))
            return nullptr;
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

        std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
        line.push_back(L'\0');
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
        startup.wShowWindow = SW_HIDE;
        startup.hStdInput = nullptr;
        startup.hStdOutput = writeEnd;
        startup.hStdError = writeEnd;
        PROCESS_INFORMATION started{};
        const bool ok
            = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr,
                workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &started);
        CloseHandle(writeEnd);
        if (!ok) {
            CloseHandle(readEnd);
            return nullptr;
        }

        // Still suspended: nothing it starts can escape the job.
        std::unique_ptr<RunKiller> killer;
        if (HANDLE job = killOnCloseJob(started.hProcess))
            killer = std::make_unique<WinRunKiller>(job, true);
        else {
            HANDLE process = nullptr;
            if (DuplicateHandle(GetCurrentProcess(), started.hProcess, GetCurrentProcess(), &process, 0, FALSE,
                    DUPLICATE_SAME_ACCESS))
                killer = std::make_unique<WinRunKiller>(process, false);
        }
        if (!killer) {
            // Nothing could end it later: it never runs.
            TerminateProcess(started.hProcess, 1);
            CloseHandle(started.hThread);
            CloseHandle(started.hProcess);
            CloseHandle(readEnd);
            return nullptr;
        }
        return std::make_unique<WinHiddenRun>(started, readEnd, std::move(killer));
    }

    std::unique_ptr<ChildProcess> shellStart(const ShellStart& start) override
    {
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof(info);
        // No error dialog of the shell's own: the caller reports the failure.
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
        info.lpVerb = start.verb.c_str();
        info.lpFile = start.file.c_str();
        info.lpParameters = start.parameters.empty() ? nullptr : start.parameters.c_str();
        info.lpDirectory = start.workingFolder.empty() ? nullptr : start.workingFolder.c_str();
        info.nShow = start.hidden ? SW_HIDE : SW_SHOWNORMAL;
        // A declined elevation prompt fails here with ERROR_CANCELLED.
        if (!ShellExecuteExW(&info))
            return nullptr;
        // Started without a handle of its own (handed to a running program):
        // it cannot be waited for, yet it did start.
        return std::make_unique<WinChild>(info.hProcess);
    }

    bool shellOpen(const std::wstring& target, const std::wstring& parameters) override
    {
        const auto result = ShellExecuteW(nullptr, L"open", target.c_str(),
            parameters.empty() ? nullptr : parameters.c_str(), nullptr, SW_SHOWNORMAL);
        return reinterpret_cast<INT_PTR>(result) > 32;
    }

    bool shellCopyFromArchive(const std::wstring& archive, const std::wstring& folder) override
    {
        ComScope com;
        if (!com.ok())
            return false;
        ComPtr<IShellDispatch> shell;
        if (FAILED(CoCreateInstance(CLSID_Shell, nullptr, CLSCTX_INPROC_SERVER, IID_IShellDispatch, shell.putVoid())))
            return false;
        ComPtr<Folder> source = shellFolder(*shell.get(), archive);
        ComPtr<Folder> target = shellFolder(*shell.get(), folder);
        ComPtr<FolderItems> items;
        if (!source || !target || FAILED(source->Items(items.put())) || !items)
            return false;
        VARIANT what;
        VariantInit(&what);
        what.vt = VT_DISPATCH;
        what.pdispVal = items.get();
        VARIANT options;
        VariantInit(&options);
        options.vt = VT_I4;
        options.lVal = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_NOCONFIRMMKDIR;
        return SUCCEEDED(target->CopyHere(what, options));
    }

    std::wstring systemFolder() override
    {
        std::wstring path(MAX_PATH, L'\0');
        UINT length = GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
        if (length >= path.size()) {
            path.resize(length);
            length = GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
        }
        path.resize(length < path.size() ? length : 0);
        while (!path.empty() && path.back() == L'\\')
            path.pop_back();
        return path;
    }

    std::wstring ownExecutable() override
    {
        std::wstring path(MAX_PATH, L'\0');
        DWORD length = 0;
        while ((length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()))) == path.size())
            path.resize(path.size() * 2);
        path.resize(length);
        return path;
    }

    bool elevated() override
    {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
            return false;
        TOKEN_ELEVATION elevation{};
        DWORD size = 0;
        const bool ok = GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size);
        CloseHandle(token);
        return ok && elevation.TokenIsElevated != 0;
    }

    bool takeOwnershipOfKey(const std::wstring& objectName) override
    {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
            return false;
        const bool privileged
            = enablePrivilege(token, L"SeTakeOwnershipPrivilege") && enablePrivilege(token, L"SeRestorePrivilege");
        CloseHandle(token);
        if (!privileged)
            return false;

        // S-1-5-32-544, the local Administrators group.
        BYTE sidBytes[SECURITY_MAX_SID_SIZE];
        DWORD sidSize = sizeof(sidBytes);
        PSID administrators = sidBytes;
        if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize))
            return false;
        std::vector<wchar_t> name(objectName.begin(), objectName.end());
        name.push_back(L'\0');
        if (SetNamedSecurityInfoW(
                name.data(), SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, administrators, nullptr, nullptr, nullptr)
            != ERROR_SUCCESS)
            return false;

        PACL oldAcl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (GetNamedSecurityInfoW(name.data(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &oldAcl,
                nullptr, &descriptor)
            != ERROR_SUCCESS)
            return false;
        EXPLICIT_ACCESSW access{};
        access.grfAccessPermissions = KEY_ALL_ACCESS;
        access.grfAccessMode = SET_ACCESS;
        access.grfInheritance = CONTAINER_INHERIT_ACE;
        access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        access.Trustee.TrusteeType = TRUSTEE_IS_GROUP;
        access.Trustee.ptstrName = static_cast<LPWSTR>(administrators);
        PACL newAcl = nullptr;
        const bool merged = SetEntriesInAclW(1, &access, oldAcl, &newAcl) == ERROR_SUCCESS;
        const bool written = merged
            && SetNamedSecurityInfoW(
                   name.data(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, newAcl, nullptr)
                == ERROR_SUCCESS;
        LocalFree(newAcl);
        LocalFree(descriptor);
        return written;
    }
};

} // namespace

std::unique_ptr<Processes> makeProcesses()
{
    return std::make_unique<WinProcesses>();
}

} // namespace platform::win32
