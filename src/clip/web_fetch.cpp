#include "clip/web_fetch.h"

#include "clip/messages.h"
#include "clip/source_check.h"
#include "platform/text.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <vector>

namespace clip {

const std::array<std::wstring_view, 3> kFormatSelectors = {
    L"bestaudio[ext=m4a][protocol!*=m3u8]/bestaudio[ext=mp3][protocol!*=m3u8]/"
    L"bestaudio[acodec^=mp4a][protocol!*=m3u8]/bestaudio[acodec=mp3][protocol!*=m3u8]",
    L"bestaudio[ext=webm][protocol!*=m3u8]/bestaudio[acodec=opus][protocol!*=m3u8]/bestaudio[protocol!*=m3u8]",
    L"bestaudio/best",
};

namespace {

constexpr wchar_t kHelperName[] = L"yt-dlp.exe";
constexpr wchar_t kSidecarName[] = L"yt-dlp.sha256";
constexpr wchar_t kChecksumListPart[] = L"SHA2-256SUMS.part";
constexpr wchar_t kPartSuffix[] = L".part";
constexpr size_t kPinMaxChars = 126; // 254 bytes of UTF-16 with its terminator
constexpr uint64_t kSidecarMinBytes = 64;
constexpr uint64_t kSidecarMaxBytes = 512;
constexpr size_t kSidecarReadBytes = 127;
constexpr size_t kOutputPiece = 4096;
constexpr int64_t kHelperWaitMicros = 30'000'000;
constexpr size_t kLoggedOutputLines = 6;
constexpr size_t kFailureTextLimit = 120;
constexpr size_t kFailureTextCut = 117;
constexpr uint32_t kDownloadFailed = 0x80004005u; // E_FAIL

constexpr wchar_t kGettingSound[] = L"Getting the sound from that page...";
constexpr wchar_t kFixingHelper[] = L"Fixing the download helper...";
constexpr wchar_t kUpdatingHelper[] = L"Updating the download helper...";
constexpr wchar_t kTryingAnotherFormat[] = L"No sound in that one, trying another format...";
constexpr wchar_t kNoSoundFromPage[] = L"Couldn't get any sound from that page";
constexpr wchar_t kCannotPlayNamed[] = L"Windows can't play ";
constexpr wchar_t kHelperMissing[] = L"Download helper is missing or damaged.";
constexpr wchar_t kHashFailed[] = L"Could not compute yt-dlp.exe SHA-256 checksum.";
constexpr wchar_t kPinMismatch[] = L"Security warning: yt-dlp.exe SHA-256 does not match the verified checksum.";
constexpr wchar_t kSidecarMismatch[] = L"Security warning: yt-dlp.exe SHA-256 does not match yt-dlp.sha256.";
constexpr wchar_t kNotVerified[] = L"yt-dlp.exe checksum is not yet verified.";
constexpr wchar_t kNoChecksumList[]
    = L"Couldn't verify the download helper checksum from GitHub. Check your connection and try again.";
constexpr wchar_t kDownloadFailedText[] = L"Couldn't download the helper. Check your connection and try again.";
constexpr wchar_t kDownloadMismatch[] = L"Security warning: downloaded yt-dlp.exe failed SHA-256 checksum verification.";
constexpr wchar_t kCannotSave[] = L"Couldn't save the download helper. Your antivirus may be blocking it.";
constexpr wchar_t kOnlyWebLinks[] = L"Only http:// and https:// links are supported.";
constexpr wchar_t kSavedNothing[] = L"The download helper didn't save anything";
constexpr wchar_t kSiteRefused[] = L"The site refused the download";
constexpr wchar_t kHelperFailedSilently[] = L"the helper could not fetch that link";

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::string lowerAscii(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

std::wstring wide(std::string_view ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

bool startsWithNoCase(std::wstring_view text, std::wstring_view prefix)
{
    return text.size() >= prefix.size() && platform::equalsNoCase(text.substr(0, prefix.size()), prefix);
}

bool endsWithNoCase(std::wstring_view text, std::wstring_view suffix)
{
    return text.size() >= suffix.size() && platform::equalsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

// The output's non-empty lines, split at line feeds, with trailing carriage
// returns and spaces removed.
std::vector<std::string_view> outputLines(std::string_view output)
{
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string_view::npos)
            end = output.size();
        std::string_view line = output.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.remove_suffix(1);
        if (!line.empty())
            lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// The size of name in folder when it is a plain file (neither a folder nor
// a reparse point, which could lead anywhere).
std::optional<uint64_t> plainFileSize(platform::Files& files, const std::wstring& folder, std::wstring_view name)
{
    const auto entries = files.listFolder(folder);
    if (!entries)
        return std::nullopt;
    for (const auto& entry : *entries) {
        if (platform::equalsNoCase(entry.name, name)) {
            if (entry.isFolder || entry.reparsePoint)
                return std::nullopt;
            return entry.sizeBytes;
        }
    }
    return std::nullopt;
}

bool startsWithMz(platform::Files& files, const std::wstring& path)
{
    const auto bytes = files.readAll(path);
    return bytes && bytes->size() >= 2 && (*bytes)[0] == 'M' && (*bytes)[1] == 'Z';
}

std::mutex& helperMutex()
{
    static std::mutex mutex;
    return mutex;
}

// What a published killer shares with the run that published it. The player
// deletes a killer it takes out; while gone is false under mutex the killer
// still exists, so its address cannot belong to another run's killer and a
// compare-and-swap on it takes back only our own.
struct KillerShare {
    std::mutex mutex;
    bool gone = false;
};

class PublishedKiller final : public platform::RunKiller {
public:
    PublishedKiller(std::unique_ptr<platform::RunKiller> inner, std::shared_ptr<KillerShare> share)
        : inner_(std::move(inner)), share_(std::move(share))
    {
    }
    ~PublishedKiller() override
    {
        std::lock_guard lock(share_->mutex);
        share_->gone = true;
    }
    void terminate() override { inner_->terminate(); }

private:
    std::unique_ptr<platform::RunKiller> inner_;
    std::shared_ptr<KillerShare> share_;
};

std::unique_ptr<platform::RunKiller> takeBack(
    std::atomic<platform::RunKiller*>& slot, platform::RunKiller* mine, KillerShare& share)
{
    std::lock_guard lock(share.mutex);
    platform::RunKiller* expected = mine;
    if (share.gone || !slot.compare_exchange_strong(expected, nullptr))
        return nullptr;
    return std::unique_ptr<platform::RunKiller>(mine);
}

} // namespace

bool FetchWatch::progress(uint64_t bytesSoFar, uint64_t announcedTotal)
{
    const uint64_t announced = std::min<uint64_t>(announcedTotal, std::numeric_limits<uint32_t>::max());
    largestAnnounced_ = std::max(largestAnnounced_, static_cast<uint32_t>(announced));
    if (bytesSoFar > limit_ || announcedTotal > limit_)
        return false;
    return !(cancelled_ && cancelled_());
}

bool isSha256Hex(std::string_view text)
{
    return text.size() == 64 && std::all_of(text.begin(), text.end(), isHexDigit);
}

std::optional<std::string> parseChecksumList(std::string_view text)
{
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        if (line.size() <= 65 || !isSha256Hex(line.substr(0, 64)) || (line[64] != ' ' && line[64] != '\t'))
            continue;
        std::string_view name = line.substr(65);
        while (!name.empty() && (name.front() == ' ' || name.front() == '\t'))
            name.remove_prefix(1);
        if (!name.empty() && name.front() == '*')
            name.remove_prefix(1);
        if (name == "yt-dlp.exe" || name == "./yt-dlp.exe")
            return lowerAscii(line.substr(0, 64));
    }
    return std::nullopt;
}

std::wstring encodeHelperLink(std::wstring_view link)
{
    std::wstring encoded;
    encoded.reserve(link.size());
    for (const wchar_t c : link) {
        // Nothing that could end the quoted argument or escape its quote survives.
        if (c < 33 || c == L'"' || c == L'<' || c == L'>' || c == L'\\' || c == 127) {
            wchar_t escape[4];
            std::swprintf(escape, 4, L"%%%02X", static_cast<unsigned>(c));
            encoded += escape;
        } else {
            encoded += c;
        }
    }
    return encoded;
}

std::wstring helperArguments(
    std::wstring_view selector, const std::wstring& toolsFolder, const std::wstring& baseName, std::wstring_view link)
{
    std::wstring arguments = L"--no-playlist --playlist-items 1 --no-warnings --no-progress -f \"";
    arguments.append(selector);
    arguments += L"\" -o \"" + toolsFolder + L"\\" + baseName + L".%(ext)s\" -- \"";
    arguments += encodeHelperLink(link);
    arguments += L'"';
    return arguments;
}

std::wstring helperFailureMessage(std::string_view output)
{
    const auto lines = outputLines(output);
    if (lines.empty())
        return kHelperFailedSilently;
    std::wstring text = platform::wideFromUtf8(lines.back());
    if (text.size() > kFailureTextLimit) {
        size_t cut = kFailureTextCut;
        // Never half of a surrogate pair where wide characters are UTF-16.
        if (sizeof(wchar_t) == 2 && text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF)
            --cut;
        text = text.substr(0, cut) + L"...";
    }
    return text;
}

WebFetch::WebFetch(WebFetchServices services) : services_(std::move(services)) { }

void WebFetch::log(std::string_view text)
{
    if (services_.log)
        services_.log->line(text);
}

void WebFetch::log(const std::wstring& text)
{
    if (services_.log)
        services_.log->line(text);
}

std::optional<std::string> WebFetch::sha256(const std::wstring& path)
{
    if (!services_.hashes)
        return std::nullopt;
    auto checksum = services_.hashes->sha256File(path);
    if (!checksum || !isSha256Hex(*checksum))
        return std::nullopt;
    return lowerAscii(*checksum);
}

bool WebFetch::looksLikeHelper()
{
    const auto size = plainFileSize(services_.files, services_.toolsFolder, kHelperName);
    return size && *size >= kHelperMinBytes && startsWithMz(services_.files, helperPath());
}

uint32_t WebFetch::download(const wchar_t* remotePath, const std::wstring& path, FetchWatch& watch)
{
    // The checksum is only worth what the channel that brought it is worth.
    const std::wstring url = services_.releaseHost + remotePath;
    if (!services_.web || !startsWithNoCase(url, L"https://"))
        return kDownloadFailed;
    services_.web->forgetCached(url);
    return services_.web->downloadWatched(url, path, watch);
}

std::optional<std::string> WebFetch::readPin()
{
    if (!services_.registry)
        return std::nullopt;
    const auto value = services_.registry->readString(kToolsRegistryKey, kPinValue, kPinMaxChars);
    if (!value)
        return std::nullopt;
    std::string pin = lowerAscii(platform::utf8FromWide(*value));
    return isSha256Hex(pin) ? std::optional(std::move(pin)) : std::nullopt;
}

bool WebFetch::writePin(const std::string& checksum)
{
    if (!services_.registry || !isSha256Hex(checksum))
        return false;
    return services_.registry->writeString(kToolsRegistryKey, kPinValue, wide(lowerAscii(checksum)));
}

std::optional<std::string> WebFetch::readSidecar()
{
    const auto size = plainFileSize(services_.files, services_.toolsFolder, kSidecarName);
    if (!size || *size < kSidecarMinBytes || *size > kSidecarMaxBytes)
        return std::nullopt;
    const auto bytes = services_.files.readAll(services_.toolsFolder + L"\\" + kSidecarName);
    if (!bytes)
        return std::nullopt;
    std::string_view text(reinterpret_cast<const char*>(bytes->data()), std::min(bytes->size(), kSidecarReadBytes));
    text = text.substr(0, text.find_first_of(" \t\r\n"));
    return isSha256Hex(text) ? std::optional(lowerAscii(text)) : std::nullopt;
}

bool WebFetch::writeSidecar(const std::string& checksum)
{
    if (!isSha256Hex(checksum))
        return false;
    const std::string line = lowerAscii(checksum) + "  yt-dlp.exe\n";
    const auto* bytes = reinterpret_cast<const uint8_t*>(line.data());
    return platform::replaceFile(
        services_.files, services_.toolsFolder + L"\\" + kSidecarName, {bytes, line.size()}, kPartSuffix);
}

bool WebFetch::verifyHelper(bool& mismatch, std::wstring& message)
{
    mismatch = false;
    if (!looksLikeHelper()) {
        message = kHelperMissing;
        return false;
    }
    const auto actual = sha256(helperPath());
    if (!actual) {
        message = kHashFailed;
        return false;
    }
    const auto pin = readPin();
    if (pin && *pin != *actual) {
        mismatch = true;
        message = kPinMismatch;
        log("SECURITY WARNING: yt-dlp.exe SHA-256 mismatch against registry pin");
        return false;
    }
    const auto sidecar = readSidecar();
    if (sidecar && *sidecar != *actual) {
        mismatch = true;
        message = kSidecarMismatch;
        log("SECURITY WARNING: yt-dlp.exe SHA-256 mismatch against yt-dlp.sha256");
        return false;
    }
    if (pin) {
        if (!sidecar)
            writeSidecar(*actual);
        return true;
    }
    message = kNotVerified;
    return false;
}

std::optional<std::string> WebFetch::fetchChecksumList(const CancelCheck& cancelled)
{
    services_.files.createFolders(services_.toolsFolder);
    const std::wstring part = services_.toolsFolder + L"\\" + kChecksumListPart;
    services_.files.removeFile(part);
    FetchWatch watch(kChecksumListLimit, cancelled);
    const uint32_t result = download(kChecksumListPath, part, watch);
    const auto bytes = services_.files.readAll(part);
    services_.files.removeFile(part);
    // A transfer that did not finish may hold a cut list: none of it counts.
    if (result != 0 || !bytes || bytes->empty() || bytes->size() > kChecksumListLimit)
        return std::nullopt;
    return parseChecksumList(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
}

bool WebFetch::ensureHelper(bool force, const CancelCheck& cancelled, std::wstring& message)
{
    std::lock_guard lock(helperMutex());
    const auto isCancelled = [&] { return cancelled && cancelled(); };
    if (!force && looksLikeHelper()) {
        bool mismatch = false;
        std::wstring ignored;
        if (verifyHelper(mismatch, ignored))
            return true;
        if (mismatch) {
            log("replacing tampered yt-dlp.exe from verified GitHub release");
        } else if (const auto actual = sha256(helperPath())) {
            // A copy without a pin (put there by hand) is adopted only when it is the published one.
            const auto published = fetchChecksumList(cancelled);
            if (published && *published == *actual) {
                writeSidecar(*actual);
                writePin(*actual);
                log("verified existing yt-dlp.exe against GitHub SHA2-256SUMS");
                return true;
            }
        }
    }
    if (isCancelled())
        return false;
    services_.files.createFolders(services_.toolsFolder);
    log(force ? "replacing yt-dlp.exe" : "fetching yt-dlp.exe");

    const auto published = fetchChecksumList(cancelled);
    if (!published) {
        message = kNoChecksumList;
        log(message);
        return false;
    }

    const std::wstring part = helperPath() + kPartSuffix;
    services_.files.removeFile(part);
    FetchWatch watch(kHelperLimit, cancelled);
    const uint32_t result = download(kHelperPath, part, watch);
    const auto size = plainFileSize(services_.files, services_.toolsFolder, std::wstring(kHelperName) + kPartSuffix);
    char line[128];
    std::snprintf(line, sizeof line, "fetch result 0x%08lx, %lld bytes of %lu announced",
        static_cast<unsigned long>(result), size ? static_cast<long long>(*size) : -1LL,
        static_cast<unsigned long>(watch.largestAnnounced()));
    log(std::string_view(line));
    const bool complete = result == 0 && size && *size >= kHelperMinBytes && startsWithMz(services_.files, part)
        && (watch.largestAnnounced() == 0 || *size == watch.largestAnnounced());
    if (!complete) {
        services_.files.removeFile(part);
        message = kDownloadFailedText;
        log(message);
        return false;
    }

    const auto actual = sha256(part);
    if (!actual) {
        services_.files.removeFile(part);
        message = kHashFailed;
        log(message);
        return false;
    }
    if (*actual != *published) {
        services_.files.removeFile(part);
        message = kDownloadMismatch;
        log("SECURITY WARNING: downloaded yt-dlp.exe SHA-256 mismatch (expected " + *published + ", got " + *actual
            + ")");
        return false;
    }
    uint32_t systemError = 0;
    if (!services_.files.moveReplace(part, helperPath(), systemError)) {
        services_.files.removeFile(part);
        message = kCannotSave;
        log(message);
        return false;
    }
    writeSidecar(*actual);
    writePin(*actual);
    log("verified yt-dlp.exe SHA-256: " + *actual);
    return true;
}

bool WebFetch::runHelper(const std::wstring& arguments, PageDecode& decode, std::string& output, std::wstring& message)
{
    bool mismatch = false;
    std::wstring verifyMessage;
    if (!verifyHelper(mismatch, verifyMessage)) {
        log(L"helper verification blocked execution: " + verifyMessage);
        message = verifyMessage;
        return false;
    }
    log(L"run: " + arguments);
    std::unique_ptr<platform::HiddenRun> run;
    if (services_.processes)
        run = services_.processes->startHidden(L"\"" + helperPath() + L"\" " + arguments, services_.toolsFolder);
    std::unique_ptr<platform::RunKiller> killer = run ? run->takeKiller() : nullptr;
    if (!killer) {
        // A run that Stop could not end is never resumed.
        log("could not start the helper");
        return false;
    }

    auto share = std::make_shared<KillerShare>();
    platform::RunKiller* mine = new PublishedKiller(std::move(killer), share);
    std::atomic<platform::RunKiller*>& slot = decode.helperJob();
    platform::RunKiller* empty = nullptr;
    bool live = true;
    if (!slot.compare_exchange_strong(empty, mine)) {
        // Another run holds the place: this one ends unstarted.
        std::unique_ptr<platform::RunKiller> ours(mine);
        mine = nullptr;
        ours->terminate();
        live = false;
    } else if (decode.cancelled()) {
        if (auto ours = takeBack(slot, mine, *share))
            ours->terminate();
        live = false;
    }

    if (live) {
        run->resume();
        uint8_t piece[kOutputPiece];
        while (const size_t got = run->readOutput(piece, sizeof piece))
            output.append(reinterpret_cast<const char*>(piece), got);
    }
    const std::optional<uint32_t> code = run->wait(kHelperWaitMicros);
    uint32_t exitCode = code.value_or(1);
    if (output.find("PyInstaller") != std::string::npos || output.find("PKG archive") != std::string::npos) {
        decode.markHelperSuspect();
        exitCode = 1;
    }
    if (mine) {
        if (auto ours = takeBack(slot, mine, *share)) {
            // Closing ends what the run's job still holds; a bare process handle needs telling.
            if (!code)
                ours->terminate();
        }
    }

    const auto lines = outputLines(output);
    for (size_t i = lines.size() > kLoggedOutputLines ? lines.size() - kLoggedOutputLines : 0; i < lines.size(); ++i)
        log("  | " + std::string(lines[i]));
    char line[48];
    std::snprintf(line, sizeof line, "helper exit code %lu", static_cast<unsigned long>(exitCode));
    log(std::string_view(line));
    return exitCode == 0 && live && !decode.cancelled();
}

std::wstring WebFetch::runHelperFetch(const std::wstring& link, std::wstring_view selector, const std::wstring& tag,
    PageDecode& decode, std::wstring& message)
{
    message.clear();
    if (!isWebLink(link)) {
        message = kOnlyWebLinks;
        return {};
    }
    platform::Files& files = services_.files;
    const std::wstring& folder = services_.toolsFolder;
    if (const auto entries = files.listFolder(folder)) {
        for (const auto& entry : *entries) {
            if (!entry.isFolder && startsWithNoCase(entry.name, L"clip")
                && !platform::equalsNoCase(entry.name, L"clip.log"))
                files.removeFile(folder + L"\\" + entry.name);
        }
    }

    const std::wstring baseName = L"clip_" + tag;
    std::string output;
    const bool ok = runHelper(helperArguments(selector, folder, baseName, link), decode, output, message);
    if (decode.cancelled() || !message.empty())
        return {};
    if (!ok) {
        message = helperFailureMessage(output);
        return {};
    }
    std::optional<platform::FolderEntry> saved;
    if (const auto entries = files.listFolder(folder)) {
        for (const auto& entry : *entries) {
            if (!entry.isFolder && startsWithNoCase(entry.name, baseName + L".")
                && !endsWithNoCase(entry.name, kPartSuffix))
                saved = entry;
        }
    }
    if (!saved) {
        message = kSavedNothing;
        return {};
    }
    const std::wstring path = folder + L"\\" + saved->name;
    log(L"got " + path + L" (" + std::to_wstring(saved->sizeBytes) + L" bytes)");
    if (saved->sizeBytes < kMinSavedBytes) {
        message = kSiteRefused;
        return {};
    }
    return path;
}

bool WebFetch::fetchPageSound(const std::wstring& link, uint32_t generation, PageDecode& decode, std::wstring& message)
{
    decode.setStatus(kGettingSound);
    const CancelCheck cancelled = [&decode] { return decode.cancelled(); };
    if (!ensureHelper(false, cancelled, message))
        return false;
    bool repaired = false;
    std::wstring lastDownload;
    for (size_t attempt = 0; attempt < kFormatSelectors.size(); ++attempt) {
        if (decode.cancelled())
            return false;
        const std::wstring_view selector = kFormatSelectors[attempt];
        const std::wstring tag = std::to_wstring(generation) + L"_" + std::to_wstring(attempt);
        std::wstring path = runHelperFetch(link, selector, tag, decode, message);
        if (decode.cancelled())
            return false;
        if (path.empty() && !repaired) {
            // A helper that fails may be outdated or damaged: replaced once per decode.
            repaired = true;
            decode.setStatus(decode.takeHelperSuspect() ? kFixingHelper : kUpdatingHelper);
            message.clear();
            if (!ensureHelper(true, cancelled, message) || decode.cancelled())
                return false;
            decode.setStatus(kGettingSound);
            path = runHelperFetch(link, selector, tag, decode, message);
            if (decode.cancelled())
                return false;
        }
        if (path.empty())
            continue;
        lastDownload = path;
        if (decode.streamFile(path, message))
            return true;
        if (decode.cancelled())
            return false;
        decode.setStatus(kTryingAnotherFormat);
    }
    if (message == kStoppedHalfway || message == kUnplayableFormat || message == kCannotOpenLink) {
        message = lastDownload.empty() ? std::wstring(kNoSoundFromPage)
                                       : kCannotPlayNamed + lastDownload.substr(lastDownload.rfind(L'\\') + 1);
    }
    return false;
}

} // namespace clip
