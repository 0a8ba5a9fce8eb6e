#include "settings/registry_settings.h"

#include "platform/text.h"
#include "settings/fields.h"

#include <algorithm>
#include <iterator>

namespace settings {
namespace {

// Fields kept in the registry with an offset, so that the stored number is
// never negative: stored = field + offset. Every other value is stored as is.
struct StoredOffset {
    std::wstring_view name;
    int32_t offset;
};

constexpr StoredOffset kStoredOffsets[] = {
    {L"GateLo", 120},
    {L"GateMid", 120},
    {L"GateHi", 120},
    {L"GateOut", 120},
    {L"ToneLo", 120},
    {L"ToneMid", 120},
    {L"ToneHi", 120},
    {L"TonePadX", 100},
    {L"TonePadY", 100},
    {L"ToneBaseLo", 120},
    {L"ToneBaseMid", 120},
    {L"ToneBaseHi", 120},
    {L"PitchHz", 150},
    {L"VoiceMacro", 100},
    {L"VoiceMask", 1},
    {L"Band0", 12},
    {L"Band1", 12},
    {L"Band2", 12},
    {L"Band3", 12},
    {L"Band4", 12},
    {L"Band5", 12},
    {L"Band6", 12},
    {L"Preset", 1},
};

// Values of the settings key with rules of their own.
constexpr std::wstring_view kWinX = L"WinX";
constexpr std::wstring_view kWinY = L"WinY";
constexpr std::wstring_view kKeepLast = L"KeepLast";
constexpr std::wstring_view kPresetTop = L"PresetTop";
constexpr int32_t kKeepLastFallback = 60;

constexpr size_t kUiFontChars = 30;
constexpr size_t kClipsFolderChars = 258;
constexpr size_t kLastSetupChars = 254;
constexpr size_t kCopyFoldersBytes = 32764;
constexpr size_t kEqPresetDataChars = 126;
// Long enough for any path a Run value holds.
constexpr size_t kRunValueChars = 32767;

int32_t storedOffset(std::wstring_view name)
{
    for (const auto& row : kStoredOffsets) {
        if (row.name == name)
            return row.offset;
    }
    return 0;
}

bool isHotkey(std::wstring_view name)
{
    return std::find(std::begin(kHotkeyNames), std::end(kHotkeyNames), name) != std::end(kHotkeyNames);
}

bool hasOwnRule(std::wstring_view name)
{
    return name == kWinX || name == kWinY || name == kKeepLast || name == kPresetTop || isHotkey(name);
}

// Registry numbers are 32-bit patterns; the program reads them as signed.
std::optional<int32_t> readNumber(platform::RegistryStore& registry, const std::wstring& key, std::wstring_view name)
{
    if (auto raw = registry.readDword(key, std::wstring(name)))
        return static_cast<int32_t>(*raw);
    return std::nullopt;
}

// The field value a stored number gives: clamped to the stored range (the
// field's range shifted by its offset), then converted.
int32_t fieldFromStored(int32_t stored, int32_t offset, int32_t minimum, int32_t maximum)
{
    return static_cast<int32_t>(
        std::clamp<int64_t>(stored, int64_t{minimum} + offset, int64_t{maximum} + offset) - offset);
}

void loadPlain(platform::RegistryStore& registry, const std::wstring& key, Settings& settings, const FieldInfo& field,
    int32_t maximum)
{
    const auto stored = readNumber(registry, key, field.registryName);
    const int32_t value = stored ? fieldFromStored(*stored, storedOffset(field.registryName), field.minimum, maximum)
                                 : field.defaultValue;
    settings.set(field, value);
}

bool isBareTypingKey(uint32_t key)
{
    return key == 0x09 || key == 0x0D || key == 0x20 || (key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z')
        || (key >= 186 && key <= 192) || (key >= 219 && key <= 223) || key == 226;
}

std::wstring quoted(const std::wstring& path)
{
    return L"\"" + path + L"\"";
}

} // namespace

bool isValidHotkey(int32_t code)
{
    if (code <= 0)
        return false;
    const uint32_t bits = static_cast<uint32_t>(code);
    const uint32_t key = bits & 0xFFFF;
    const uint32_t modifiers = bits >> 16;
    if (key < 1 || key > 254 || (modifiers & ~0x7u) != 0)
        return false;
    return modifiers != 0 || !isBareTypingKey(key);
}

RegistrySettings::RegistrySettings(platform::RegistryStore& registry, std::wstring root, std::wstring runKey)
    : registry_(registry), root_(std::move(root)), runKey_(std::move(runKey))
{ }

void RegistrySettings::loadRegistrySettings(Settings& settings, std::span<const std::wstring> installedFaces)
{
    const std::wstring key = settingsKey();
    if (!registry_.keyExists(key))
        return;
    Settings::Transaction transaction(settings, false);

    for (auto table : {recordFields(), registryOnlyFields()}) {
        for (const auto& field : table) {
            if (field.registryKey == RegistryKey::Settings && !hasOwnRule(field.registryName))
                loadPlain(registry_, key, settings, field, field.maximum);
        }
    }

    // The window position counts only as a pair.
    const auto x = readNumber(registry_, key, kWinX);
    const auto y = readNumber(registry_, key, kWinY);
    settings.setWindowPosition(x && y, x ? *x : 0, y ? *y : 0);

    int32_t keepLast = std::clamp(readNumber(registry_, key, kKeepLast).value_or(kKeepLastFallback), 0, 600);
    if (!isAllowedKeepLast(keepLast))
        keepLast = kKeepLastFallback;
    settings.set(&Settings::KeepLast, keepLast);

    const auto top = readNumber(registry_, key, kPresetTop);
    settings.set(&Settings::PresetTop, top ? std::clamp(*top, 0, 14) : Settings::kUnset);

    // Hotkeys in table order: an earlier hotkey keeps a key that a later one repeats.
    for (int i = 0; i < kHotkeyCount; ++i) {
        int32_t code = readNumber(registry_, key, kHotkeyNames[i]).value_or(0);
        if (!isValidHotkey(code))
            code = 0;
        for (int earlier = 0; earlier < i && code != 0; ++earlier) {
            if (settings.hotkeys[earlier].load(std::memory_order_relaxed) == code)
                code = 0;
        }
        settings.setHotkey(i, code);
    }

    if (auto face = registry_.readString(key, L"UiFont", kUiFontChars)) {
        for (const auto& installed : installedFaces) {
            if (platform::equalsNoCase(installed, *face)) {
                settings.setFont(installed);
                break;
            }
        }
    }
    if (auto folder = registry_.readString(key, L"ClipsFolder", kClipsFolderChars))
        settings.setClipsFolder(*folder);
    if (auto last = registry_.readString(key, L"LastSetup", kLastSetupChars))
        settings.setLastSetup(*last);
    settings.setCopyFolders(readCopyFolders());

    settings.touch(Counter::Tone);
    settings.touch(Counter::Isolation);
}

void RegistrySettings::saveRegistrySettings(const Settings& settings)
{
    const std::wstring key = settingsKey();
    for (auto table : {recordFields(), registryOnlyFields()}) {
        for (const auto& field : table) {
            if (field.registryKey != RegistryKey::Settings)
                continue;
            const std::wstring_view name = field.registryName;
            if ((name == kWinX || name == kWinY) && !settings.WinSet.load(std::memory_order_relaxed))
                continue;
            if (name == kPresetTop && settings.PresetTop.load(std::memory_order_relaxed) == Settings::kUnset)
                continue;
            registry_.writeDword(
                key, std::wstring(name), static_cast<uint32_t>(field.load(settings) + storedOffset(name)));
        }
    }
    registry_.writeString(key, L"UiFont", settings.font());
    registry_.writeString(key, L"ClipsFolder", settings.clipsFolder());
}

void RegistrySettings::loadEqualizer(Settings& settings)
{
    const std::wstring key = equalizerKey();
    if (!registry_.keyExists(key))
        return;
    Settings::Transaction transaction(settings, false);
    const int32_t presetTop = kBuiltInEqPresets - 1 + static_cast<int32_t>(settings.userEqPresets().size());
    for (const auto& field : recordFields()) {
        if (field.registryKey == RegistryKey::Equalizer)
            loadPlain(registry_, key, settings, field, field.key == "eq_preset" ? presetTop : field.maximum);
    }
    settings.touch(Counter::Eq);
}

void RegistrySettings::saveEqualizer(const Settings& settings)
{
    const std::wstring key = equalizerKey();
    for (const auto& field : recordFields()) {
        if (field.registryKey != RegistryKey::Equalizer)
            continue;
        // "Custom" (-1) is stored as 0 and comes back as built-in preset 0.
        const int64_t stored = std::max<int64_t>(0, int64_t{field.load(settings)} + storedOffset(field.registryName));
        registry_.writeDword(key, std::wstring(field.registryName), static_cast<uint32_t>(stored));
    }
}

void RegistrySettings::loadUserEqPresets(Settings& settings)
{
    std::vector<EqPreset> presets;
    const std::wstring key = presetsKey();
    for (const auto& value : registry_.listValues(key)) {
        if (value.type != platform::ValueType::String || value.name.empty() || value.name.size() > kMaxEqPresetName)
            continue;
        auto data = registry_.readString(key, value.name, kEqPresetDataChars);
        if (!data)
            continue;
        presets.push_back({value.name, parseEqGains(std::wstring_view(*data))});
    }
    settings.setUserEqPresets(std::move(presets));
}

bool RegistrySettings::saveUserEqPreset(Settings& settings, const std::wstring& name, const EqGains& gains)
{
    if (name.empty() || name.size() > kMaxEqPresetName)
        return false;
    EqGains clamped{};
    for (int band = 0; band < kEqBandCount; ++band)
        clamped[band] = std::clamp(gains[band], -12, 12);

    std::vector<EqPreset> presets = settings.userEqPresets();
    auto existing = std::find_if(presets.begin(), presets.end(),
        [&](const EqPreset& preset) { return platform::equalsNoCase(preset.name, name); });
    if (existing != presets.end()) {
        // Value names ignore case; a rename to other letters needs the old value gone.
        if (existing->name != name)
            registry_.deleteValue(presetsKey(), existing->name);
        existing->name = name;
        existing->gains = clamped;
    } else {
        presets.push_back({name, clamped});
    }
    settings.setUserEqPresets(std::move(presets));
    registry_.writeString(presetsKey(), name, formatEqGains(clamped));

    // A user preset named like a built-in one is stored, but the built-in one is selected.
    selectEqPreset(settings, findEqPreset(settings, name));
    saveEqualizer(settings);
    return true;
}

bool RegistrySettings::deleteUserEqPreset(Settings& settings, int index)
{
    const int user = index - kBuiltInEqPresets;
    if (user < 0 || user >= static_cast<int>(settings.userEqPresets().size()))
        return false;
    registry_.deleteValue(presetsKey(), settings.userEqPresets()[user].name);
    std::vector<EqPreset> presets = settings.userEqPresets();
    presets.erase(presets.begin() + user);
    settings.setUserEqPresets(std::move(presets));
    selectEqPreset(settings, 0);
    saveEqualizer(settings);
    return true;
}

void RegistrySettings::storeLastSetup(const std::wstring& name)
{
    registry_.writeString(settingsKey(), L"LastSetup", name);
}

std::vector<std::wstring> RegistrySettings::readCopyFolders()
{
    auto folders = registry_.readMultiString(settingsKey(), L"CopyFolders", kCopyFoldersBytes);
    if (!folders)
        return {};
    if (folders->size() > kMaxCopyFolders)
        folders->erase(folders->begin(), folders->end() - kMaxCopyFolders);
    return *folders;
}

void RegistrySettings::writeCopyFolders(const std::vector<std::wstring>& folders)
{
    const size_t skip = folders.size() > kMaxCopyFolders ? folders.size() - kMaxCopyFolders : 0;
    registry_.writeMultiString(settingsKey(), L"CopyFolders",
        std::vector<std::wstring>(folders.begin() + static_cast<ptrdiff_t>(skip), folders.end()));
}

bool RegistrySettings::autostartEnabled()
{
    for (const auto& value : registry_.listValues(runKey_)) {
        if (platform::equalsNoCase(value.name, kAutostartValue))
            return value.type == platform::ValueType::String;
    }
    return false;
}

bool RegistrySettings::setAutostart(bool on, const std::wstring& executablePath)
{
    if (on)
        return registry_.writeString(runKey_, kAutostartValue, quoted(executablePath));
    return registry_.deleteValue(runKey_, kAutostartValue) != platform::DeleteResult::Failed;
}

void RegistrySettings::refreshAutostart(const std::wstring& executablePath)
{
    const auto current = registry_.readString(runKey_, kAutostartValue, kRunValueChars);
    if (current && !platform::equalsNoCase(*current, quoted(executablePath)))
        registry_.writeString(runKey_, kAutostartValue, quoted(executablePath));
}

std::optional<std::wstring> RegistrySettings::autostartFolder()
{
    const auto command = registry_.readString(runKey_, kAutostartValue, kRunValueChars);
    if (!command)
        return std::nullopt;
    std::wstring path = *command;
    if (!path.empty() && path.front() == L'"') {
        const size_t close = path.find(L'"', 1);
        path = path.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    }
    const size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos || slash == 0)
        return std::nullopt;
    return path.substr(0, slash);
}

RegistrySaveThrottle::RegistrySaveThrottle(RegistrySettings& store, const Settings& settings, platform::Clock& clock)
    : store_(store), settings_(settings), clock_(clock)
{ }

void RegistrySaveThrottle::saveRegistrySettingsSoon(bool windowHasCapture)
{
    const int64_t now = clock_.nowMillis();
    if (windowHasCapture || (lastSoonSave_ && now - *lastSoonSave_ < kMinGapMillis)) {
        pending_ = true;
        return;
    }
    lastSoonSave_ = now;
    pending_ = false;
    store_.saveRegistrySettings(settings_);
}

void RegistrySaveThrottle::tick()
{
    const int64_t now = clock_.nowMillis();
    if (!pending_ || (lastTickSave_ && now - *lastTickSave_ < kTickPeriodMillis))
        return;
    lastTickSave_ = now;
    pending_ = false;
    store_.saveRegistrySettings(settings_);
}

void RegistrySaveThrottle::saveNow()
{
    pending_ = false;
    store_.saveRegistrySettings(settings_);
}

} // namespace settings
