#pragma once
// Signatures as a test scripts them: a signer's display name per path
// (anything else is unsigned), paths that cannot be opened, and a count of
// the files held right now and ever, so a test sees whether a file was
// opened at all and whether it was still held when its program started.

#include "platform/signatures.h"

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace platform::sim {

class SimSignatures final : public Signatures {
public:
    SimSignatures() : counts_(std::make_shared<Counts>()) { }

    std::unique_ptr<HeldFile> hold(const std::wstring& path) override;
    std::optional<std::wstring> verifiedSigner(HeldFile& file, const std::wstring& path) override;

    // Test controls.
    void sign(const std::wstring& path, std::wstring signer);
    void failHold(const std::wstring& path);
    int heldNow() const;
    int heldEver() const;

private:
    struct Counts {
        std::mutex mutex;
        int now = 0;  // guarded by mutex
        int ever = 0; // guarded by mutex
    };
    class Held;

    // Shared with the held files, which may outlive this object.
    std::shared_ptr<Counts> counts_;
    mutable std::mutex mutex_;
    std::map<std::wstring, std::wstring> signers_; // guarded by mutex_
    std::set<std::wstring> unopenable_;            // guarded by mutex_
};

} // namespace platform::sim
