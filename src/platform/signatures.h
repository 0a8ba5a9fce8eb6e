#pragma once
// Code signatures: a file held open against writers while its Authenticode
// signature is checked and until the program it holds has been started, so
// that what was checked is what runs.

#include <memory>
#include <optional>
#include <string>

namespace platform {

// A file open for reading; others may read it but not write it. Closed when destroyed.
class HeldFile {
public:
    virtual ~HeldFile() = default;
};

class Signatures {
public:
    virtual ~Signatures() = default;
    // Opens path for reading, denying writers; nullptr when it cannot be opened.
    virtual std::unique_ptr<HeldFile> hold(const std::wstring& path) = 0;
    // Verifies the held file's Authenticode signature with the system's
    // generic policy: no user interface, no revocation check, the whole file.
    // The first signer's simple display name (at most 256 characters) when
    // the signature verifies; nothing otherwise.
    virtual std::optional<std::wstring> verifiedSigner(HeldFile& file, const std::wstring& path) = 0;
};

} // namespace platform
