#pragma once
// Downloads over the web as the program makes them: a whole resource to a
// file, through the system's download cache, whose entry for an address can
// be dropped first so that a fresh copy is fetched.

#include <string>

namespace platform {

class Web {
public:
    virtual ~Web() = default;
    // Drops the address's entry from the system download cache, if it has one.
    virtual void forgetCached(const std::wstring& url) = 0;
    // Fetches url into the file at path, replacing it; blocks until done.
    // True when the transfer reported success (the caller still checks the file).
    virtual bool downloadToFile(const std::wstring& url, const std::wstring& path) = 0;
};

} // namespace platform
