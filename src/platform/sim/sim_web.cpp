#include "platform/sim/sim_web.h"

namespace platform::sim {

void SimWeb::forgetCached(const std::wstring& url)
{
    std::lock_guard lock(mutex_);
    log_.push_back({Request::Kind::Forget, url});
}

bool SimWeb::downloadToFile(const std::wstring& url, const std::wstring& path)
{
    Resource resource;
    {
        std::lock_guard lock(mutex_);
        log_.push_back({Request::Kind::Download, url});
        if (auto it = resources_.find(url); it != resources_.end())
            resource = it->second;
    }
    // Written outside the lock: the files take their own.
    const bool written = files_ && resource.served && replaceFile(*files_, path, resource.bytes);
    return written && !resource.fails;
}

uint32_t SimWeb::downloadWatched(const std::wstring& url, const std::wstring& path, DownloadWatch&)
{
    return downloadToFile(url, path) ? 0u : 0x80004005u; // E_FAIL
}

void SimWeb::serve(const std::wstring& url, std::vector<uint8_t> bytes)
{
    std::lock_guard lock(mutex_);
    auto& resource = resources_[url];
    resource.bytes = std::move(bytes);
    resource.served = true;
}

void SimWeb::serve(const std::wstring& url, std::string_view text)
{
    serve(url, std::vector<uint8_t>(text.begin(), text.end()));
}

void SimWeb::fail(const std::wstring& url)
{
    std::lock_guard lock(mutex_);
    resources_[url].fails = true;
}

std::vector<SimWeb::Request> SimWeb::log() const
{
    std::lock_guard lock(mutex_);
    return log_;
}

std::vector<std::wstring> SimWeb::downloads() const
{
    std::lock_guard lock(mutex_);
    std::vector<std::wstring> urls;
    for (const auto& request : log_) {
        if (request.kind == Request::Kind::Download)
            urls.push_back(request.url);
    }
    return urls;
}

} // namespace platform::sim
