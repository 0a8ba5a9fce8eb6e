#pragma once
// File checksums from the platform's cryptographic provider.

#include <optional>
#include <string>

namespace platform {

class Hashes {
public:
    virtual ~Hashes() = default;
    // The file's SHA-256 as 64 lower-case hex digits; nothing when the file
    // cannot be read or the provider fails.
    virtual std::optional<std::string> sha256File(const std::wstring& path) = 0;
};

} // namespace platform
