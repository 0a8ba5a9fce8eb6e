#include "platform/win32/win32_audio.h"
#include "platform/win32/win32_platform.h"

#include "platform/win32/com_ptr.h"

#include <windows.h>

#include <audioclient.h>
#include <audiopolicy.h>
#include <mmdeviceapi.h>
#include <propidl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <utility>

namespace platform::win32 {
namespace {

// The process-loopback activation parameters; the SDK header that declares
// them is not part of every tool chain.
struct ProcessLoopbackParams {
    DWORD targetProcessId;
    int32_t mode; // 0: include the target's process tree
};
struct LoopbackActivationParams {
    int32_t type; // 1: process loopback
    ProcessLoopbackParams loopback;
};
static_assert(sizeof(LoopbackActivationParams) == 12);
constexpr int32_t kActivationProcessLoopback = 1;
constexpr int32_t kIncludeTargetProcessTree = 0;

using ActivateAsyncFn = HRESULT(WINAPI*)(
    LPCWSTR, REFIID, PROPVARIANT*, IActivateAudioInterfaceCompletionHandler*, IActivateAudioInterfaceAsyncOperation**);

// Windows Runtime strings, held as the opaque handles they are.
using RtString = void*;
using RoGetActivationFactoryFn = HRESULT(WINAPI*)(RtString, REFIID, void**);
using WindowsCreateStringFn = HRESULT(WINAPI*)(LPCWSTR, UINT32, RtString*);
using WindowsDeleteStringFn = HRESULT(WINAPI*)(RtString);
using WindowsGetStringRawBufferFn = LPCWSTR(WINAPI*)(RtString, UINT32*);
using DllGetActivationFactoryFn = HRESULT(WINAPI*)(RtString, IUnknown**);

// The policy interface's two methods, by their place in its method table.
using SetPersistedEndpointFn = HRESULT(STDMETHODCALLTYPE*)(void*, UINT32, EDataFlow, ERole, RtString);
using GetPersistedEndpointFn = HRESULT(STDMETHODCALLTYPE*)(void*, UINT32, EDataFlow, ERole, RtString*);
constexpr size_t kSetPersistedEntry = 25;
constexpr size_t kGetPersistedEntry = 26;

constexpr wchar_t kPolicyClass[] = L"Windows.Media.Internal.AudioPolicyConfig";
// The policy interface's identifiers across system versions, newest first.
constexpr GUID kPolicyInterfaces[] = {
    {0xab3d4648, 0xe242, 0x459f, {0xb0, 0x2f, 0x54, 0x1c, 0x70, 0x30, 0x63, 0x24}},
    {0x2a59116d, 0x6c4f, 0x45e0, {0xa7, 0x4f, 0x70, 0x7e, 0x3f, 0xef, 0x92, 0x58}},
    {0x32aa8e18, 0x6496, 0x4e24, {0x9f, 0x94, 0xb8, 0x00, 0xe7, 0xec, 0xcc, 0x45}},
};

constexpr DWORD kGenericFailure = static_cast<DWORD>(E_FAIL);

// A library from the system folder, never one lying next to the program.
HMODULE systemLibrary(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    return LoadLibraryW((std::wstring(folder, length) + L"\\" + name).c_str());
}

template <class Fn> Fn lookUp(HMODULE module, const char* name)
{
    return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// Modules stay loaded for the life of the process once looked up.
ActivateAsyncFn activateFunction()
{
    static const ActivateAsyncFn fn
        = lookUp<ActivateAsyncFn>(systemLibrary(L"mmdevapi.dll"), "ActivateAudioInterfaceAsync");
    return fn;
}

struct RuntimeFunctions {
    RoGetActivationFactoryFn getFactory = nullptr;
    WindowsCreateStringFn createString = nullptr;
    WindowsDeleteStringFn deleteString = nullptr;
    WindowsGetStringRawBufferFn rawBuffer = nullptr;
    DllGetActivationFactoryFn audioSesFactory = nullptr;

    bool strings() const { return createString && deleteString && rawBuffer; }
};

const RuntimeFunctions& runtime()
{
    static const RuntimeFunctions functions = [] {
        RuntimeFunctions f;
        const HMODULE combase = systemLibrary(L"combase.dll");
        f.getFactory = lookUp<RoGetActivationFactoryFn>(combase, "RoGetActivationFactory");
        f.createString = lookUp<WindowsCreateStringFn>(combase, "WindowsCreateString");
        f.deleteString = lookUp<WindowsDeleteStringFn>(combase, "WindowsDeleteString");
        f.rawBuffer = lookUp<WindowsGetStringRawBufferFn>(combase, "WindowsGetStringRawBuffer");
        f.audioSesFactory
            = lookUp<DllGetActivationFactoryFn>(systemLibrary(L"AudioSes.dll"), "DllGetActivationFactory");
        return f;
    }();
    return functions;
}

class RuntimeString {
public:
    RuntimeString() = default;
    RuntimeString(const RuntimeFunctions& fn, const std::wstring& text) : fn_(&fn)
    {
        if (FAILED(fn.createString(text.c_str(), static_cast<UINT32>(text.size()), &handle_)))
            handle_ = nullptr;
    }
    ~RuntimeString()
    {
        if (handle_ && fn_)
            fn_->deleteString(handle_);
    }
    RuntimeString(const RuntimeString&) = delete;
    RuntimeString& operator=(const RuntimeString&) = delete;

    RtString get() const { return handle_; }
    // For a call that returns a string; fn is the set that will free it.
    RtString* put(const RuntimeFunctions& fn)
    {
        fn_ = &fn;
        return &handle_;
    }
    std::wstring text() const
    {
        if (!handle_ || !fn_)
            return {};
        UINT32 length = 0;
        const LPCWSTR raw = fn_->rawBuffer(handle_, &length);
        return raw ? std::wstring(raw, length) : std::wstring();
    }

private:
    const RuntimeFunctions* fn_ = nullptr;
    RtString handle_ = nullptr;
};

// The policy object, asked for afresh on the calling thread each time so
// that no reference outlives the thread's COM.
ComPtr<IUnknown> policyObject()
{
    const auto& fn = runtime();
    if (!fn.strings())
        return nullptr;
    ensureCom();
    RuntimeString name(fn, kPolicyClass);
    if (!name.get())
        return nullptr;
    ComPtr<IUnknown> policy;
    if (fn.getFactory)
        for (const GUID& iid : kPolicyInterfaces)
            if (SUCCEEDED(fn.getFactory(name.get(), iid, policy.putVoid())) && policy)
                return policy;
    if (!fn.audioSesFactory)
        return nullptr;
    ComPtr<IUnknown> factory;
    if (FAILED(fn.audioSesFactory(name.get(), factory.put())) || !factory)
        return nullptr;
    for (const GUID& iid : kPolicyInterfaces)
        if (SUCCEEDED(factory->QueryInterface(iid, policy.putVoid())) && policy)
            return policy;
    return nullptr;
}

template <class Fn> Fn policyMethod(IUnknown* policy, size_t entry)
{
    return reinterpret_cast<Fn>((*reinterpret_cast<void***>(policy))[entry]);
}

ERole roleOf(EndpointRole role)
{
    switch (role) {
    case EndpointRole::Multimedia:
        return eMultimedia;
    case EndpointRole::Communications:
        return eCommunications;
    case EndpointRole::Console:
    default:
        return eConsole;
    }
}

class Handle {
public:
    explicit Handle(HANDLE h = nullptr) : h_(h) { }
    ~Handle()
    {
        if (h_)
            CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }

private:
    HANDLE h_;
};

// Takes the activation's result and client and signals; reference counted,
// since the answer may come after the waiter has given up. (Released, never
// deleted through a base.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class ActivationHandler final : public IActivateAudioInterfaceCompletionHandler, public IAgileObject {
public:
    ActivationHandler() : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) { }

    HANDLE done() const { return done_.get(); }
    // After done is signalled.
    HRESULT result() const { return result_; }
    IAudioClient* takeClient() { return std::exchange(client_, nullptr); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IActivateAudioInterfaceCompletionHandler)))
            *out = static_cast<IActivateAudioInterfaceCompletionHandler*>(this);
        else if (IsEqualIID(iid, __uuidof(IAgileObject)))
            *out = static_cast<IAgileObject*>(this);
        else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE ActivateCompleted(IActivateAudioInterfaceAsyncOperation* operation) override
    {
        HRESULT hr = E_FAIL;
        ComPtr<IUnknown> activated;
        if (operation && SUCCEEDED(operation->GetActivateResult(&hr, activated.put())) && SUCCEEDED(hr) && activated) {
            IAudioClient* client = nullptr;
            hr = activated->QueryInterface(__uuidof(IAudioClient), reinterpret_cast<void**>(&client));
            client_ = SUCCEEDED(hr) ? client : nullptr;
        } else if (SUCCEEDED(hr)) {
            hr = E_FAIL;
        }
        result_ = hr;
        SetEvent(done_.get());
        return S_OK;
    }

private:
    ~ActivationHandler()
    {
        if (client_)
            client_->Release();
    }

    std::atomic<ULONG> refs_{1};
    Handle done_;
    HRESULT result_ = E_FAIL;
    IAudioClient* client_ = nullptr;
};
#pragma GCC diagnostic pop

class Win32Session final : public AudioSession {
public:
    Win32Session(ComPtr<IAudioSessionControl2> control, ComPtr<ISimpleAudioVolume> volume)
        : control_(std::move(control)), volume_(std::move(volume))
    { }

    uint32_t processId() override
    {
        DWORD id = 0;
        // A session of several processes answers with a status, not a failure.
        return SUCCEEDED(control_->GetProcessId(&id)) ? id : 0;
    }
    bool expired() override
    {
        AudioSessionState state = AudioSessionStateInactive;
        return SUCCEEDED(control_->GetState(&state)) && state == AudioSessionStateExpired;
    }
    std::optional<float> volume() override
    {
        float level = 0.0f;
        if (!volume_ || FAILED(volume_->GetMasterVolume(&level)))
            return std::nullopt;
        return level;
    }
    bool setVolume(float level) override { return volume_ && SUCCEEDED(volume_->SetMasterVolume(level, nullptr)); }
    std::optional<bool> muted() override
    {
        BOOL mute = FALSE;
        if (!volume_ || FAILED(volume_->GetMute(&mute)))
            return std::nullopt;
        return mute != FALSE;
    }
    bool setMuted(bool mute) override { return volume_ && SUCCEEDED(volume_->SetMute(mute ? TRUE : FALSE, nullptr)); }

private:
    ComPtr<IAudioSessionControl2> control_;
    ComPtr<ISimpleAudioVolume> volume_;
};

class Win32WatchedProcess final : public WatchedProcess {
public:
    explicit Win32WatchedProcess(HANDLE process) : process_(process) { }
    bool exited() override { return WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0; }

private:
    Handle process_;
};

BOOL CALLBACK collectWindowProcess(HWND window, LPARAM param)
{
    auto& ids = *reinterpret_cast<std::vector<uint32_t>*>(param);
    if (!IsWindowVisible(window) || GetWindow(window, GW_OWNER)
        || (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) || GetWindowTextLengthW(window) <= 0)
        return TRUE;
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    if (id)
        ids.push_back(id);
    return TRUE;
}

void addSessions(IMMDevice& device, std::vector<std::unique_ptr<AudioSession>>& out)
{
    ComPtr<IAudioSessionManager2> manager;
    if (FAILED(device.Activate(__uuidof(IAudioSessionManager2), CLSCTX_ALL, nullptr, manager.putVoid())))
        return;
    ComPtr<IAudioSessionEnumerator> sessions;
    int count = 0;
    if (FAILED(manager->GetSessionEnumerator(sessions.put())) || FAILED(sessions->GetCount(&count)))
        return;
    for (int i = 0; i < count; ++i) {
        ComPtr<IAudioSessionControl> control;
        ComPtr<IAudioSessionControl2> control2;
        if (FAILED(sessions->GetSession(i, control.put())) || FAILED(control.as(control2)))
            continue;
        ComPtr<ISimpleAudioVolume> volume;
        control.as(volume); // without it the volume reads as unknown
        out.push_back(std::make_unique<Win32Session>(std::move(control2), std::move(volume)));
    }
}

class Win32AppAudio final : public AppAudio {
public:
    uint32_t systemBuild() override
    {
        using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
        const auto getVersion = lookUp<RtlGetVersionFn>(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
        OSVERSIONINFOW info{};
        info.dwOSVersionInfoSize = sizeof(info);
        if (!getVersion || getVersion(&info) < 0)
            return 0;
        return info.dwBuildNumber;
    }

    uint32_t ownProcessId() override { return GetCurrentProcessId(); }

    std::vector<ProcessEntry> processes() override
    {
        std::vector<ProcessEntry> list;
        const HANDLE taken = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (taken == INVALID_HANDLE_VALUE)
            return list;
        Handle snapshot(taken);
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
            list.push_back({entry.th32ProcessID, entry.th32ParentProcessID, entry.szExeFile});
        return list;
    }

    std::optional<int64_t> creationTime(uint32_t processId) override
    {
        Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
        FILETIME created{}, exited{}, kernel{}, user{};
        if (!process || !GetProcessTimes(process.get(), &created, &exited, &kernel, &user))
            return std::nullopt;
        return static_cast<int64_t>((uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime);
    }

    std::vector<uint32_t> windowProcesses() override
    {
        std::vector<uint32_t> ids;
        EnumWindows(collectWindowProcess, reinterpret_cast<LPARAM>(&ids));
        return ids;
    }

    std::vector<std::unique_ptr<AudioSession>> sessions() override
    {
        std::vector<std::unique_ptr<AudioSession>> list;
        ensureCom();
        ComPtr<IMMDeviceEnumerator> enumerator;
        if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                enumerator.putVoid())))
            return list;
        ComPtr<IMMDeviceCollection> devices;
        UINT count = 0;
        if (FAILED(enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, devices.put()))
            || FAILED(devices->GetCount(&count)))
            return list;
        for (UINT i = 0; i < count; ++i) {
            ComPtr<IMMDevice> device;
            if (SUCCEEDED(devices->Item(i, device.put())))
                addSessions(*device.get(), list);
        }
        return list;
    }

    std::unique_ptr<WatchedProcess> openProcess(uint32_t processId) override
    {
        const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
        return process ? std::make_unique<Win32WatchedProcess>(process) : nullptr;
    }

    bool processExists(uint32_t processId) override
    {
        Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
        if (!process)
            return GetLastError() == ERROR_ACCESS_DENIED; // there, but not ours to look at
        DWORD code = 0;
        return !GetExitCodeProcess(process.get(), &code) || code == STILL_ACTIVE;
    }

    std::unique_ptr<AudioClient> activateProcessLoopback(
        uint32_t processId, int64_t timeoutMicros, uint32_t& error) override
    {
        const auto activate = activateFunction();
        if (!activate) {
            error = kAppNotImplemented;
            return nullptr;
        }
        ensureCom();
        LoopbackActivationParams params{kActivationProcessLoopback, {processId, kIncludeTargetProcessTree}};
        PROPVARIANT blob;
        PropVariantInit(&blob);
        blob.vt = VT_BLOB;
        blob.blob.cbSize = sizeof(params);
        blob.blob.pBlobData = reinterpret_cast<BYTE*>(&params);

        auto* handler = new ActivationHandler();
        if (!handler->done()) {
            handler->Release();
            error = kGenericFailure;
            return nullptr;
        }
        ComPtr<IActivateAudioInterfaceAsyncOperation> operation;
        const HRESULT started
            = activate(L"VAD\\Process_Loopback", __uuidof(IAudioClient), &blob, handler, operation.put());
        if (FAILED(started)) {
            handler->Release();
            error = static_cast<uint32_t>(started);
            return nullptr;
        }
        const DWORD waitMillis = static_cast<DWORD>(std::max<int64_t>(timeoutMicros / 1000, 0));
        std::unique_ptr<AudioClient> client;
        if (WaitForSingleObject(handler->done(), waitMillis) != WAIT_OBJECT_0)
            error = kAppTimeout;
        else if (FAILED(handler->result()))
            error = static_cast<uint32_t>(handler->result());
        else if (IAudioClient* activated = handler->takeClient())
            client = adoptAudioClient(activated);
        else
            error = kGenericFailure;
        handler->Release();
        return client;
    }

    std::optional<std::wstring> persistedDefaultEndpoint(uint32_t processId, EndpointRole role) override
    {
        const auto policy = policyObject();
        if (!policy)
            return std::nullopt;
        RuntimeString path;
        const auto get = policyMethod<GetPersistedEndpointFn>(policy.get(), kGetPersistedEntry);
        if (FAILED(get(policy.get(), processId, eRender, roleOf(role), path.put(runtime()))))
            return std::nullopt;
        return path.text();
    }

    bool setPersistedDefaultEndpoint(uint32_t processId, EndpointRole role, const std::wstring& devicePath) override
    {
        const auto policy = policyObject();
        if (!policy)
            return false;
        // An empty path is the null string, which clears the setting.
        RuntimeString path(runtime(), devicePath);
        if (!devicePath.empty() && !path.get())
            return false;
        const auto set = policyMethod<SetPersistedEndpointFn>(policy.get(), kSetPersistedEntry);
        return SUCCEEDED(set(policy.get(), processId, eRender, roleOf(role), path.get()));
    }

    std::shared_ptr<void> enterWorkerThread() override { return std::make_shared<ComScope>(); }
};

} // namespace

std::unique_ptr<AppAudio> makeAppAudio()
{
    return std::make_unique<Win32AppAudio>();
}

} // namespace platform::win32
