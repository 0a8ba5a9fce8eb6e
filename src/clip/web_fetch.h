#pragma once
// A web page's sound through the download helper (yt-dlp): the helper is
// downloaded on demand from its project's release endpoint, checked against
// the SHA-256 the project publishes, pinned in the registry and in a sidecar
// file, and only a copy that matches may run. It runs hidden, inside a job
// that the player's Stop ends with everything it started, and saves the
// page's audio into the tools folder, which the player then streams. All of
// it runs on the clip player's decode thread and honours its cancellation.

#include "clip/clip_log.h"
#include "clip/player.h"
#include "platform/files.h"
#include "platform/hashes.h"
#include "platform/processes.h"
#include "platform/registry_store.h"
#include "platform/web.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace clip {

// Where the helper and its checksum list come from (https only). Tests hand
// the same code a server of their own through WebFetchServices.
inline constexpr wchar_t kHelperReleaseHost[] = L"https://github.com";
inline constexpr wchar_t kHelperPath[] = L"/yt-dlp/yt-dlp/releases/latest/download/yt-dlp.exe";
inline constexpr wchar_t kChecksumListPath[] = L"/yt-dlp/yt-dlp/releases/latest/download/SHA2-256SUMS";
inline constexpr wchar_t kToolsRegistryKey[] = L"Software\\VantorOvix\\Tools";
inline constexpr wchar_t kPinValue[] = L"YtDlpSha256";
inline constexpr uint64_t kChecksumListLimit = 1048576;
inline constexpr uint64_t kHelperLimit = 104857600;
inline constexpr uint64_t kHelperMinBytes = 4000000;
inline constexpr uint64_t kMinSavedBytes = 20000;

// The three format selectors, tried in order.
extern const std::array<std::wstring_view, 3> kFormatSelectors;

using CancelCheck = std::function<bool()>;

// Watches a download: remembers the largest announced size and aborts when
// the bytes or the announced size pass the limit, or when cancelled.
class FetchWatch final : public platform::DownloadWatch {
public:
    FetchWatch(uint64_t limit, CancelCheck cancelled) : limit_(limit), cancelled_(std::move(cancelled)) { }
    bool progress(uint64_t bytesSoFar, uint64_t announcedTotal) override;
    uint32_t largestAnnounced() const { return largestAnnounced_; }

private:
    uint64_t limit_;
    CancelCheck cancelled_;
    uint32_t largestAnnounced_ = 0;
};

// The parts with no service behind them (the fuzz target drives them).
// The published checksum of "yt-dlp.exe" in a SHA2-256SUMS list, lower-cased.
std::optional<std::string> parseChecksumList(std::string_view text);
// Controls, space, '"', '<', '>', '\' and 127 as "%XX"; the rest kept.
std::wstring encodeHelperLink(std::wstring_view link);
// The helper's argument string for one selector.
std::wstring helperArguments(
    std::wstring_view selector, const std::wstring& toolsFolder, const std::wstring& baseName, std::wstring_view link);
// The failure text of a helper run: its last non-empty output line (cut to
// 117 characters and "..." above 120), or "the helper could not fetch that link".
std::wstring helperFailureMessage(std::string_view output);
// 64 hex digits, nothing else.
bool isSha256Hex(std::string_view text);

struct WebFetchServices {
    platform::Files& files;
    platform::Web* web = nullptr;             // none: every download fails
    platform::Processes* processes = nullptr; // none: the helper cannot start
    platform::Hashes* hashes = nullptr;       // none: no checksum can be computed
    platform::RegistryStore* registry = nullptr; // the current user's; none: no pin
    ClipLog* log = nullptr;
    std::wstring toolsFolder;
    std::wstring releaseHost = kHelperReleaseHost;
};

class WebFetch {
public:
    explicit WebFetch(WebFetchServices services);

    // The player's page branch (bind it with Player::setPageFetch).
    bool fetchPageSound(const std::wstring& link, uint32_t generation, PageDecode& decode, std::wstring& message);

    // One at a time in the whole process.
    bool ensureHelper(bool force, const CancelCheck& cancelled, std::wstring& message);
    bool verifyHelper(bool& mismatch, std::wstring& message);
    std::optional<std::string> fetchChecksumList(const CancelCheck& cancelled);
    // The saved file's path, or empty with message.
    std::wstring runHelperFetch(const std::wstring& link, std::wstring_view selector, const std::wstring& tag,
        PageDecode& decode, std::wstring& message);
    bool runHelper(const std::wstring& arguments, PageDecode& decode, std::string& output, std::wstring& message);

    std::optional<std::string> readPin();
    bool writePin(const std::string& checksum);
    std::optional<std::string> readSidecar();
    bool writeSidecar(const std::string& checksum);

    std::wstring helperPath() const { return services_.toolsFolder + L"\\yt-dlp.exe"; }

private:
    void log(std::string_view text);
    void log(const std::wstring& text);
    // Lower-cased, or nothing when the provider gives no valid checksum.
    std::optional<std::string> sha256(const std::wstring& path);
    // "yt-dlp.exe" is a plain file of at least kHelperMinBytes beginning with "MZ".
    bool looksLikeHelper();
    // The release host's remotePath (https only) into path, its cache entry dropped first.
    uint32_t download(const wchar_t* remotePath, const std::wstring& path, FetchWatch& watch);

    WebFetchServices services_;
};

} // namespace clip
