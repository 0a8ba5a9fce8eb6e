#pragma once
// A web of a test's own: resources by address, served into a Files (such as
// MemoryFiles), with addresses whose transfer fails, a watched transfer that
// reports its progress in pieces with the size its server announces (which
// may differ from what it sends), and a log of what the
// program asked for, cache entries dropped included, in order. Any thread may
// download while a test scripts or reads the log.

#include "platform/files.h"
#include "platform/web.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::sim {

class SimWeb final : public Web {
public:
    // Downloads land in files; none: every download fails.
    explicit SimWeb(Files* files = nullptr) : files_(files) { }

    void forgetCached(const std::wstring& url) override;
    bool downloadToFile(const std::wstring& url, const std::wstring& path) override;
    uint32_t downloadWatched(const std::wstring& url, const std::wstring& path, DownloadWatch& watch) override;

    // Test controls. An address never served fails without writing anything.
    void serve(const std::wstring& url, std::vector<uint8_t> bytes);
    void serve(const std::wstring& url, std::string_view text);
    // The transfer reports failure (after writing the resource, if one is served).
    void fail(const std::wstring& url);
    // The size a watched transfer of url announces (0: none); by default its real size.
    void announce(const std::wstring& url, uint64_t size);
    // The bytes a watched transfer delivers between two progress reports.
    void setPieceBytes(size_t bytes);

    struct Request {
        enum class Kind { Forget, Download };
        Kind kind;
        std::wstring url;
        bool operator==(const Request&) const = default;
    };
    std::vector<Request> log() const;
    // The addresses downloaded, in order.
    std::vector<std::wstring> downloads() const;

private:
    struct Resource {
        std::vector<uint8_t> bytes;
        bool served = false;
        bool fails = false;
        std::optional<uint64_t> announced;
    };

    Files* const files_;
    mutable std::mutex mutex_;
    std::map<std::wstring, Resource> resources_; // guarded by mutex_
    std::vector<Request> log_;                   // guarded by mutex_
    size_t pieceBytes_ = 65536;                  // guarded by mutex_
};

} // namespace platform::sim
