#pragma once
// Downloads over the web as the program makes them: a whole resource to a
// file, through the system's download cache, whose entry for an address can
// be dropped first so that a fresh copy is fetched.

#include <cstdint>
#include <string>

namespace platform {

// Watches one download as it goes: told the bytes so far and the size the
// server announced (0: none yet); returning false aborts the transfer.
class DownloadWatch {
public:
    virtual ~DownloadWatch() = default;
    virtual bool progress(uint64_t bytesSoFar, uint64_t announcedTotal) = 0;
};

// The platform's result code of a download that was aborted by its watch.
inline constexpr uint32_t kDownloadAborted = 0x80004004u; // E_ABORT

class Web {
public:
    virtual ~Web() = default;
    // Drops the address's entry from the system download cache, if it has one.
    virtual void forgetCached(const std::wstring& url) = 0;
    // Fetches url into the file at path, replacing it; blocks until done.
    // True when the transfer reported success (the caller still checks the file).
    virtual bool downloadToFile(const std::wstring& url, const std::wstring& path) = 0;
    // The same, watched: the platform's result code (0: success;
    // kDownloadAborted when the watch said stop). The file may hold a part
    // of the resource after a failure: the caller deletes it.
    virtual uint32_t downloadWatched(const std::wstring& url, const std::wstring& path, DownloadWatch& watch) = 0;
};

} // namespace platform
