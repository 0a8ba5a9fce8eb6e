#include "platform/sim/sim_web.h"

#include <algorithm>

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

uint32_t SimWeb::downloadWatched(const std::wstring& url, const std::wstring& path, DownloadWatch& watch)
{
    constexpr uint32_t kFailed = 0x80004005u; // E_FAIL
    Resource resource;
    size_t pieceBytes = 0;
    {
        std::lock_guard lock(mutex_);
        log_.push_back({Request::Kind::Download, url});
        if (auto it = resources_.find(url); it != resources_.end())
            resource = it->second;
        pieceBytes = pieceBytes_;
    }
    if (!files_ || !resource.served)
        return kFailed;
    const uint64_t announced = resource.announced.value_or(resource.bytes.size());
    size_t sent = 0;
    do {
        sent = std::min(resource.bytes.size(), sent + pieceBytes);
        if (!watch.progress(sent, announced)) {
            // What arrived so far stays behind, as after a real transfer.
            std::span<const uint8_t> part(resource.bytes.data(), sent);
            replaceFile(*files_, path, part);
            return kDownloadAborted;
        }
    } while (sent < resource.bytes.size());
    const bool written = replaceFile(*files_, path, resource.bytes);
    return written && !resource.fails ? 0u : kFailed;
}

void SimWeb::announce(const std::wstring& url, uint64_t size)
{
    std::lock_guard lock(mutex_);
    resources_[url].announced = size;
}

void SimWeb::setPieceBytes(size_t bytes)
{
    std::lock_guard lock(mutex_);
    pieceBytes_ = std::max<size_t>(bytes, 1);
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
