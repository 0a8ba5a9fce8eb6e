#include "cable/cable.h"

#include "platform/text.h"

namespace cable {
namespace {

constexpr size_t kMaxFolderChars = 260;
constexpr int64_t kInstallerWaitMicros = int64_t{30} * 60 * 1'000'000;
constexpr int kDetectTries = 200;
constexpr int64_t kDetectIntervalMicros = 100'000;

} // namespace

std::wstring cableFolderFor(const std::wstring* localAppData)
{
    const bool usable = localAppData && !localAppData->empty() && localAppData->size() < kMaxFolderChars;
    return (usable ? *localAppData : std::wstring(L"C:\\Users\\Public")) + L"\\VantorOvix\\vbcable";
}

int verifyAndRunInstaller(platform::Clock& clock, platform::Files& files, platform::Processes& processes,
    platform::Signatures& signatures, const std::wstring& path, const std::function<bool()>& detect)
{
    // The name is checked before anything is opened.
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    bool known = false;
    for (auto installer : kInstallers)
        known = known || platform::equalsNoCase(name, installer);
    if (!known || !files.exists(path))
        return kInstallerRefused;

    // Held against writers from the check until the installer has started.
    auto held = signatures.hold(path);
    if (!held)
        return kInstallerRefused;
    const auto signer = signatures.verifiedSigner(*held, path);
    if (!signer || !signerAccepted(*signer))
        return kInstallerRefused;

    platform::ShellStart start;
    start.verb = L"open";
    start.file = path;
    start.workingFolder = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
    auto installer = processes.shellStart(start);
    if (!installer)
        return kInstallerNotStarted;
    held.reset();
    installer->wait(kInstallerWaitMicros);

    // The new endpoints appear a moment after the installer ends; finding
    // them here, elevated, is when the capture side gets its new name.
    for (int i = 0; detect && !detect() && i + 1 < kDetectTries; ++i)
        clock.sleepMicros(kDetectIntervalMicros);
    return kInstallerRan;
}

} // namespace cable
