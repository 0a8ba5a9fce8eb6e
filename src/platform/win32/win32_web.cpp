#include "platform/win32/win32_platform.h"

#include <windows.h>

#include <urlmon.h>
#include <wininet.h>

#include <atomic>

namespace platform::win32 {
namespace {

// Hands URLDownloadToFileW's progress to a DownloadWatch. It lives on the
// caller's stack for one download: the moniker's references are counted but
// never free it. (A COM interface is released, never deleted through its
// base, so its destructor need not be virtual.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class WatchCallback final : public IBindStatusCallback {
public:
    explicit WatchCallback(DownloadWatch& watch) : watch_(watch) { }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IBindStatusCallback)) {
            *out = static_cast<IBindStatusCallback*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }

    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG, LPCWSTR) override
    {
        if (watch_.progress(progress, progressMax))
            return S_OK;
        stopped_ = true;
        return E_ABORT;
    }
    bool stopped() const { return stopped_; }

    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

private:
    DownloadWatch& watch_;
    std::atomic<ULONG> references_{1};
    bool stopped_ = false;
};
#pragma GCC diagnostic pop

class WinWeb final : public Web {
public:
    void forgetCached(const std::wstring& url) override { DeleteUrlCacheEntryW(url.c_str()); }

    uint32_t downloadWatched(const std::wstring& url, const std::wstring& path, DownloadWatch& watch) override
    {
        WatchCallback callback(watch);
        const HRESULT result = URLDownloadToFileW(nullptr, url.c_str(), path.c_str(), 0, &callback);
        // Wine tells the progress only as the data begins and ends, and
        // ignores a stop at the end: a stop is a stop all the same.
        return callback.stopped() ? kDownloadAborted : static_cast<uint32_t>(result);
    }

    bool downloadToFile(const std::wstring& url, const std::wstring& path) override
    {
        return SUCCEEDED(URLDownloadToFileW(nullptr, url.c_str(), path.c_str(), 0, nullptr));
    }
};

} // namespace

std::unique_ptr<Web> makeWeb()
{
    return std::make_unique<WinWeb>();
}

} // namespace platform::win32
