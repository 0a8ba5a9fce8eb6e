// The install flow: the request, the download worker (the vendor's page, the
// package candidates, the size rule), the extraction with the system's tar or
// the shell's archive copy, the search for the installer and its start,
// elevated through the program's own "--install-cable" when needed.
#include "cable/cable.h"
#include "cable/vendor_page.h"

#include "platform/text.h"

#include <optional>

namespace cable {
namespace {

constexpr std::wstring_view kPageFile = L"vb-cable.htm";
constexpr std::wstring_view kPackageFile = L"VBCABLE_Driver_Pack.zip";
constexpr std::wstring_view kSecureScheme = L"https://";
// A smaller download is an error page or a cut-off transfer, never the package.
constexpr uint64_t kMinPackageBytes = 100000;

constexpr int64_t kTarLimitMicros = int64_t{120} * 1'000'000;
// The shell's copy runs on after its call returns: it is done once the folder
// has kept its size, with an installer in it, for kSteadyPolls polls in a row.
constexpr int64_t kCopyPollMicros = 500'000;
constexpr int kCopyPolls = 240;
constexpr int kSteadyPolls = 6;

std::wstring inFolder(const std::wstring& folder, std::wstring_view name)
{
    return folder + L"\\" + std::wstring(name);
}

std::wstring quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

// host + path, with one "/" between them however the host was configured.
std::wstring address(std::wstring host, std::wstring_view path)
{
    while (!host.empty() && host.back() == L'/')
        host.pop_back();
    return host + std::wstring(path);
}

bool isSecure(const std::wstring& url)
{
    return url.size() > kSecureScheme.size()
        && platform::equalsNoCase(std::wstring_view(url).substr(0, kSecureScheme.size()), kSecureScheme);
}

std::optional<uint64_t> fileSize(platform::Files& files, const std::wstring& folder, std::wstring_view name)
{
    if (const auto entries = files.listFolder(folder)) {
        for (const auto& entry : *entries) {
            if (!entry.isFolder && platform::equalsNoCase(entry.name, name))
                return entry.sizeBytes;
        }
    }
    return std::nullopt;
}

// Every file below folder; links are not followed.
uint64_t folderBytes(platform::Files& files, const std::wstring& folder)
{
    uint64_t total = 0;
    if (const auto entries = files.listFolder(folder)) {
        for (const auto& entry : *entries) {
            if (!entry.isFolder)
                total += entry.sizeBytes;
            else if (!entry.reparsePoint)
                total += folderBytes(files, inFolder(folder, entry.name));
        }
    }
    return total;
}

} // namespace

Cable::Next Cable::requestInstall()
{
    // Without the services the download fails at once and says so (state 4).
    // Only from idle or failed: a second click while a download or an
    // installer runs must not start another one.
    int32_t from = install_.load();
    if (from != static_cast<int32_t>(Install::Idle) && from != static_cast<int32_t>(Install::Failed))
        return Next::Nothing;
    if (!findInstaller(services_.cableFolder).empty()) {
        return install_.compare_exchange_strong(from, static_cast<int32_t>(Install::Installing)) ? Next::StartInstaller
                                                                                                 : Next::Nothing;
    }
    return install_.compare_exchange_strong(from, static_cast<int32_t>(Install::Downloading)) ? Next::Download
                                                                                              : Next::Nothing;
}

void Cable::downloadPackage()
{
    auto* files = services_.files;
    auto* web = services_.web;
    const std::wstring& folder = services_.cableFolder;
    if (!files || !web || folder.empty() || !files->createFolders(folder)) {
        install_ = static_cast<int32_t>(Install::Failed);
        return;
    }

    std::wstring installer = findInstaller(folder);
    if (installer.empty()) {
        // The page names the versions on offer; without it the known ones are tried.
        const std::wstring pageUrl = address(services_.site.webSite, kVersionsPagePath);
        const std::wstring pageFile = inFolder(folder, kPageFile);
        web->forgetCached(pageUrl);
        files->removeFile(pageFile);
        std::optional<std::vector<uint8_t>> page;
        if (web->downloadToFile(pageUrl, pageFile))
            page = files->readAll(pageFile);
        const std::vector<int> versions = page && !page->empty()
            ? packageVersions(std::string_view(reinterpret_cast<const char*>(page->data()), page->size()))
            : std::vector<int>(std::begin(kFallbackVersions), std::end(kFallbackVersions));

        const std::wstring package = inFolder(folder, kPackageFile);
        for (const int version : versions) {
            const std::wstring url = address(
                services_.site.downloadHost, std::wstring(kDownloadPath) + packageFileName(std::to_wstring(version)));
            if (!isSecure(url))
                continue;
            web->forgetCached(url);
            files->removeFile(package);
            if (!web->downloadToFile(url, package)
                || fileSize(*files, folder, kPackageFile).value_or(0) <= kMinPackageBytes)
                continue;
            install_ = static_cast<int32_t>(Install::Extracting);
            extractPackage(package, folder);
            installer = findInstaller(folder);
            break;
        }
    }
    install_ = static_cast<int32_t>(installer.empty() ? Install::Failed : Install::Installing);
}

bool Cable::extractPackage(const std::wstring& zip, const std::wstring& folder)
{
    auto* files = services_.files;
    auto* processes = services_.processes;
    if (!files || !processes)
        return false;

    const std::wstring tar = processes->systemFolder() + L"\\tar.exe";
    if (files->exists(tar)) {
        auto child = processes->run(quoted(tar) + L" -xf " + quoted(zip) + L" -C " + quoted(folder), folder);
        const auto exitCode = child ? child->wait(kTarLimitMicros) : std::nullopt;
        return exitCode == 0u;
    }

    if (!processes->shellCopyFromArchive(zip, folder))
        return false;
    int steady = 0; // polls in a row with an installer and this size
    uint64_t steadySize = 0;
    for (int poll = 0; poll < kCopyPolls; ++poll) {
        services_.clock.sleepMicros(kCopyPollMicros);
        const uint64_t size = folderBytes(*files, folder);
        if (findInstaller(folder).empty()) {
            steady = 0;
            continue;
        }
        steady = steady > 0 && size == steadySize ? steady + 1 : 1;
        steadySize = size;
        if (steady == kSteadyPolls)
            return true;
    }
    return false;
}

std::wstring Cable::findInstaller(const std::wstring& folder)
{
    auto* files = services_.files;
    if (!files || folder.empty())
        return {};
    auto findIn = [&](const std::wstring& where) -> std::wstring {
        for (const auto name : kInstallers) {
            std::wstring path = inFolder(where, name);
            if (files->exists(path))
                return path;
        }
        return {};
    };
    if (auto path = findIn(folder); !path.empty())
        return path;
    if (const auto entries = files->listFolder(folder)) {
        for (const auto& entry : *entries) {
            if (!entry.isFolder || entry.name.empty() || entry.name.front() == L'.')
                continue;
            if (auto path = findIn(inFolder(folder, entry.name)); !path.empty())
                return path;
        }
    }
    return {};
}

std::function<void()> Cable::startInstaller()
{
    auto* processes = services_.processes;
    const std::wstring installer = findInstaller(services_.cableFolder);
    if (installer.empty() || !processes || !services_.signatures) {
        install_ = static_cast<int32_t>(Install::Failed);
        return {};
    }
    // Whatever the installer did, the endpoints may have changed.
    auto finished = [this] {
        install_ = static_cast<int32_t>(Install::Idle);
        engine::requestOpen(services_.engine);
    };

    if (processes->elevated()) {
        return [this, installer, finished] {
            verifyAndRunInstaller(services_.clock, *services_.files, *services_.processes, *services_.signatures,
                installer, [this] { return detectCableCapture(); });
            finished();
        };
    }

    // The elevated copy of this program checks and runs the installer.
    platform::ShellStart start;
    start.verb = L"runas";
    start.file = processes->ownExecutable();
    start.parameters = std::wstring(kInstallCableSwitch) + L" " + quoted(installer);
    start.hidden = true;
    std::shared_ptr<platform::ChildProcess> elevated = processes->shellStart(start);
    if (!elevated) {
        // Declined or refused: back to idle without a word.
        install_ = static_cast<int32_t>(Install::Idle);
        return {};
    }
    return [elevated, finished] {
        elevated->wait(platform::kWaitForever);
        finished();
    };
}

} // namespace cable
