#include "platform/win32/win32_platform.h"

#include <windows.h>

#include <urlmon.h>
#include <wininet.h>

namespace platform::win32 {
namespace {

class WinWeb final : public Web {
public:
    void forgetCached(const std::wstring& url) override { DeleteUrlCacheEntryW(url.c_str()); }

    uint32_t downloadWatched(const std::wstring&, const std::wstring&, DownloadWatch&) override
    {
        return 0x80004005u; // E_FAIL
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
