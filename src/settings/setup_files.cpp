#include "settings/setup_files.h"

#include "platform/text.h"
#include "settings/decimal.h"
#include "settings/eq_presets.h"
#include "settings/fields.h"

#include <algorithm>
#include <cwctype>
#include <deque>

namespace settings {
namespace {

// Lines are read into a buffer of this many bytes; a longer line is read as several.
constexpr size_t kLineBuffer = 2048;
constexpr size_t kHeaderBytes = 31;
constexpr size_t kMinSetupFileBytes = 18;
constexpr int64_t kSearchMicros = 3'000'000;
constexpr int kSearchDepth = 3;
constexpr int kSearchVisitsPerRoot = 1500;

bool endsWithNoCase(std::wstring_view text, std::wstring_view suffix)
{
    return text.size() >= suffix.size() && platform::equalsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

bool startsWithNoCase(std::wstring_view text, std::wstring_view prefix)
{
    return text.size() >= prefix.size() && platform::equalsNoCase(text.substr(0, prefix.size()), prefix);
}

// An "*.ini" entry with a name beyond its extension.
bool isSetupEntry(const platform::FolderEntry& entry)
{
    return !entry.isFolder && entry.name.size() > 4 && endsWithNoCase(entry.name, L".ini");
}

std::wstring join(const std::wstring& folder, const std::wstring& name)
{
    return folder + L"\\" + name;
}

const platform::FolderEntry* findNoCase(const std::vector<platform::FolderEntry>& entries, const std::wstring& name)
{
    for (const auto& entry : entries) {
        if (!entry.isFolder && platform::equalsNoCase(entry.name, name))
            return &entry;
    }
    return nullptr;
}

std::vector<platform::FolderEntry> setupEntries(platform::Files& files, const std::wstring& folder)
{
    std::vector<platform::FolderEntry> entries
        = files.listFolder(folder).value_or(std::vector<platform::FolderEntry>{});
    std::erase_if(entries, [](const auto& entry) { return !isSetupEntry(entry); });
    return entries;
}

// Copies every setup file of from into to that to lacks or holds older.
void mirror(platform::Files& files, const std::wstring& from, const std::wstring& to, bool checkHeader)
{
    const auto targets = setupEntries(files, to);
    for (const auto& source : setupEntries(files, from)) {
        const auto* target = findNoCase(targets, source.name);
        if (target && source.lastWrite <= target->lastWrite)
            continue;
        if (checkHeader) {
            const auto bytes = files.readAll(join(from, source.name));
            if (!bytes || !hasSetupHeader(*bytes))
                continue;
        }
        files.copyFile(join(from, source.name), join(to, source.name));
    }
}

void appendLine(std::string& out, std::string_view key, std::string_view value)
{
    out.append(key).append("=").append(value).append("\n");
}

} // namespace

std::wstring sanitizeSetupName(std::wstring_view text)
{
    static constexpr std::wstring_view kForbidden = L"\\/:*?\"<>|";
    std::wstring name;
    for (wchar_t c : text) {
        if (static_cast<uint32_t>(c) >= 32 && kForbidden.find(c) == std::wstring_view::npos)
            name += c;
    }
    while (!name.empty() && name.back() == L' ')
        name.pop_back();
    name.erase(0, name.find_first_not_of(L' ') == std::wstring::npos ? name.size() : name.find_first_not_of(L' '));
    if (name.size() > kSetupNameLength) {
        // Never cut a UTF-16 surrogate pair in half.
        size_t cut = kSetupNameLength;
        if (sizeof(wchar_t) == 2 && name[cut - 1] >= 0xD800 && name[cut - 1] <= 0xDBFF)
            --cut;
        name.resize(cut);
    }
    static constexpr std::wstring_view kReserved[]
        = {L"CON", L"PRN", L"AUX", L"NUL", L"COM1", L"COM2", L"COM3", L"COM4", L"COM5", L"COM6", L"COM7", L"COM8",
            L"COM9", L"LPT1", L"LPT2", L"LPT3", L"LPT4", L"LPT5", L"LPT6", L"LPT7", L"LPT8", L"LPT9"};
    for (auto reserved : kReserved) {
        if (platform::equalsNoCase(name, reserved)) {
            name += L'_';
            break;
        }
    }
    return name;
}

std::wstring applicationDataFolder(const std::optional<std::wstring>& appData, const std::wstring& executableFolder)
{
    if (!appData || appData->empty() || appData->size() > 259)
        return executableFolder;
    return *appData + L"\\VantorOvix";
}

std::string formatSetupFile(const Settings& settings)
{
    std::string out;
    out.append(kSetupHeader).append("\n");
    appendLine(out, "mic", platform::utf8FromWide(deviceName(settings, DeviceKind::Mic)));
    appendLine(out, "spk", platform::utf8FromWide(deviceName(settings, DeviceKind::Spk)));
    std::string bands;
    for (const auto& field : recordFields()) {
        if (field.key == "eq_bands") {
            bands.append(bands.empty() ? "" : ",").append(std::to_string(field.load(settings)));
            continue;
        }
        if (field.key == "font_bold")
            appendLine(out, "font", platform::utf8FromWide(settings.font()));
        appendLine(out, field.key, std::to_string(field.load(settings)));
    }
    appendLine(out, "eq_bands", bands);
    return out;
}

bool hasSetupHeader(std::span<const uint8_t> bytes)
{
    if (bytes.size() < kMinSetupFileBytes)
        return false;
    const std::string_view head(reinterpret_cast<const char*>(bytes.data()), std::min(bytes.size(), kHeaderBytes));
    return head.starts_with("# Vantor Ovix") || head.starts_with("# VantorOvix");
}

SetupApplied applySetupText(std::span<const uint8_t> bytes, Settings& settings, const SetupEnvironment& environment)
{
    SetupApplied applied;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    // The whole file is one transaction: the engine sees the setup or the old state.
    Settings::Transaction transaction(settings);
    std::optional<std::wstring> face;
    int64_t bold = settings.font_bold.load(std::memory_order_relaxed);
    int64_t size = settings.font_size.load(std::memory_order_relaxed);

    size_t start = 0;
    while (start < text.size()) {
        // One buffer's worth: through the next line feed, at most 2047 bytes.
        size_t end = std::min(text.size(), start + kLineBuffer - 1);
        const size_t feed = text.substr(start, end - start).find('\n');
        if (feed != std::string_view::npos)
            end = start + feed + 1;
        std::string_view line = text.substr(start, end - start);
        start = end;
        // The buffer is a C string: a zero byte ends it.
        line = line.substr(0, line.find('\0'));
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.remove_suffix(1);
        if (line.empty() || line.front() == '#')
            continue;
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::string_view key = line.substr(0, equals);
        const std::string_view value = line.substr(equals + 1);

        if (key == "mic" || key == "spk") {
            const bool mic = key == "mic";
            const std::wstring id = platform::wideFromUtf8(value);
            const auto& ids = mic ? environment.captureIds : environment.renderIds;
            for (size_t i = 0; i < ids.size(); ++i) {
                if (ids[i] == id) {
                    (mic ? applied.micIndex : applied.spkIndex) = static_cast<int>(i);
                    setDeviceName(settings, mic ? DeviceKind::Mic : DeviceKind::Spk, id);
                }
            }
        } else if (key == "font") {
            face = platform::wideFromUtf8(value);
        } else if (key == "font_bold") {
            bold = readDecimal(value);
        } else if (key == "font_size") {
            size = readDecimal(value);
        } else if (key == "eq_bands") {
            const EqGains gains = parseEqGains(value);
            for (int band = 0; band < kEqBandCount; ++band)
                settings.setEqBand(band, gains[band]);
            applied.equalizerSeen = true;
        } else if (key == "fx_route") {
            // Older versions kept one routing number instead of echo_on's bits.
            const int64_t route = readDecimal(value);
            settings.set(&Settings::echo_on, route >= 2 ? 7 : route == 1 ? 6 : 3);
        } else if (const FieldInfo* field = findField(key)) {
            // eq_preset's load clamp first: a file never restores "Custom".
            settings.set(
                *field, clampField(*field, readDecimal(value), static_cast<int>(settings.userEqPresets().size())));
            applied.presetSeen |= key == "preset";
            applied.glitchStyleSeen |= key == "glitch_style";
            applied.equalizerSeen |= field->registryKey == RegistryKey::Equalizer;
        }
    }

    if (face) {
        for (const auto& installed : environment.installedFaces) {
            if (platform::equalsNoCase(installed, *face)) {
                settings.setFont(installed);
                break;
            }
        }
    }
    settings.set(&Settings::font_bold, bold);
    settings.set(&Settings::font_size, size);
    if (applied.equalizerSeen)
        settings.touch(Counter::Eq);
    settings.touch(Counter::Tone);
    applied.opacity = static_cast<uint8_t>(settings.alpha.load(std::memory_order_relaxed) * 255 / 100);
    return applied;
}

std::wstring savedSetupMessage(const std::wstring& name)
{
    return L"Saved setup \"" + name + L"\"";
}

std::vector<std::wstring> findOtherInstallations(
    platform::Files& files, platform::Clock& clock, platform::KnownFolders& knownFolders)
{
    std::vector<std::wstring> found;
    const int64_t deadline = clock.nowMicros() + kSearchMicros;
    for (auto root :
        {platform::KnownFolder::Desktop, platform::KnownFolder::Downloads, platform::KnownFolder::Documents}) {
        const auto rootPath = knownFolders.path(root);
        if (!rootPath || rootPath->empty())
            continue;
        std::deque<std::pair<std::wstring, int>> queue{{*rootPath, kSearchDepth}};
        for (int visits = 0; !queue.empty() && visits < kSearchVisitsPerRoot; ++visits) {
            if (clock.nowMicros() >= deadline)
                return found;
            auto [folder, depth] = std::move(queue.front());
            queue.pop_front();
            const auto entries = files.listFolder(folder);
            if (!entries)
                continue;
            bool program = false;
            bool setups = false;
            for (const auto& entry : *entries) {
                if (!entry.isFolder) {
                    program |= entry.name.size() > 4 && endsWithNoCase(entry.name, L".exe")
                        && (startsWithNoCase(entry.name, L"Vantor Ovix")
                            || startsWithNoCase(entry.name, L"VantorOvix"));
                } else if (entry.name.starts_with(L'.') || entry.hidden || entry.system || entry.reparsePoint) {
                    continue;
                } else if (platform::equalsNoCase(entry.name, L"setups")) {
                    setups = true;
                } else if (depth > 0) {
                    queue.emplace_back(join(folder, entry.name), depth - 1);
                }
            }
            if (program && setups)
                found.push_back(join(folder, L"setups"));
        }
        if (clock.nowMicros() >= deadline)
            break;
    }
    return found;
}

Setups::Setups(platform::Files& files, RegistrySettings& store, Settings& settings, std::wstring appDataFolder)
    : files_(files), store_(store), settings_(settings), appDataFolder_(std::move(appDataFolder))
{ }

std::wstring Setups::setupsFolder()
{
    const std::wstring folder = join(appDataFolder_, L"setups");
    files_.createFolders(folder);
    return folder;
}

std::wstring Setups::setupPath(const std::wstring& name)
{
    return join(setupsFolder(), name + L".ini");
}

std::vector<std::wstring> Setups::listSetups()
{
    std::vector<std::wstring> names;
    for (const auto& entry : setupEntries(files_, setupsFolder()))
        names.push_back(entry.name.substr(0, entry.name.size() - 4));
    std::sort(names.begin(), names.end());
    return names;
}

bool Setups::saveSetupFile(const std::wstring& path)
{
    const std::string text = formatSetupFile(settings_);
    return platform::replaceFile(
        files_, path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), L".part");
}

std::optional<SetupApplied> Setups::applySetupFile(const std::wstring& path, const SetupEnvironment& environment)
{
    const auto bytes = files_.readAll(path);
    if (!bytes)
        return std::nullopt;
    const SetupApplied applied = applySetupText(*bytes, settings_, environment);
    if (applied.equalizerSeen)
        store_.saveEqualizer(settings_);
    store_.saveRegistrySettings(settings_);
    return applied;
}

void Setups::makeCurrent(const std::wstring& name)
{
    current_ = name;
    settings_.setLastSetup(name);
    store_.storeLastSetup(name);
}

std::optional<SetupApplied> Setups::loadSetup(const std::wstring& name, const SetupEnvironment& environment)
{
    const std::wstring path = setupPath(name);
    if (name.empty() || !files_.exists(path))
        return std::nullopt;
    auto applied = applySetupFile(path, environment);
    if (applied)
        makeCurrent(name);
    return applied;
}

bool Setups::saveCurrentSetupAs(const std::wstring& answer)
{
    const std::wstring name = sanitizeSetupName(answer);
    if (name.empty() || !saveSetupFile(setupPath(name)))
        return false;
    for (const auto& folder : syncFolders_)
        files_.copyFile(setupPath(name), join(folder, name + L".ini"));
    makeCurrent(name);
    list_ = listSetups();
    return true;
}

bool Setups::deleteCurrentSetup()
{
    if (current_.empty())
        return false;
    files_.removeFile(setupPath(current_));
    for (const auto& folder : syncFolders_)
        files_.removeFile(join(folder, current_ + L".ini"));
    makeCurrent(L"");
    list_ = listSetups();
    return true;
}

std::optional<SetupApplied> Setups::cycleSetup(int step, const SetupEnvironment& environment)
{
    syncSetups();
    const auto& names = list_;
    if (names.empty())
        return std::nullopt;
    const int count = static_cast<int>(names.size());
    int position = -1;
    for (int i = 0; i < count; ++i) {
        if (names[i] == current_)
            position = i; // the later one when a name occurs twice
    }
    int next = 0;
    if (step >= 0)
        next = position < 0 ? 0 : (position + 1) % count;
    else
        next = position < 0 ? count - 1 : (position + count - 1) % count;
    return loadSetup(names[next], environment);
}

std::optional<SetupApplied> Setups::restoreCurrentSetup(
    bool firstRun, const std::wstring& executableFolder, const SetupEnvironment& environment)
{
    if (!settings_.lastSetup().empty() && files_.exists(setupPath(settings_.lastSetup())))
        return loadSetup(settings_.lastSetup(), environment);
    if (firstRun)
        return applySetupFile(join(executableFolder, L"VantorOvix.ini"), environment);
    return std::nullopt;
}

void Setups::buildSyncFolders(const std::optional<std::wstring>& autostartFolder)
{
    std::vector<std::wstring> folders = store_.readCopyFolders();
    if (autostartFolder && !autostartFolder->empty()
        && std::none_of(folders.begin(), folders.end(),
            [&](const auto& folder) { return platform::equalsNoCase(folder, *autostartFolder); })) {
        folders.push_back(*autostartFolder);
        if (folders.size() > kMaxCopyFolders)
            folders.erase(folders.begin(), folders.end() - kMaxCopyFolders);
        store_.writeCopyFolders(folders);
    }
    settings_.setCopyFolders(folders);
    for (const auto& folder : folders) {
        const std::wstring setups = join(folder, L"setups");
        if (files_.isFolder(setups))
            addSyncFolder(setups);
    }
}

bool Setups::addSyncFolder(const std::wstring& folder)
{
    if (folder.empty() || platform::equalsNoCase(folder, setupsFolder()))
        return false;
    for (const auto& known : syncFolders_) {
        if (platform::equalsNoCase(known, folder))
            return false;
    }
    syncFolders_.push_back(folder);
    return true;
}

void Setups::syncSetups()
{
    const std::wstring own = setupsFolder();
    for (const auto& folder : syncFolders_)
        mirror(files_, folder, own, true);
    for (const auto& folder : syncFolders_)
        mirror(files_, own, folder, false);
    list_ = listSetups();
}

} // namespace settings
