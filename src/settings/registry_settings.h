#pragma once
// The registry store: the per-user settings that survive a restart without a
// setup file. Values are read only when their type and size match; anything
// else counts as missing and its field takes its default. Stored numbers are
// clamped to the stored range, then converted (several fields are kept with an
// offset so that the stored number is never negative). All of it runs on the
// interface thread.

#include "platform/clock.h"
#include "platform/registry_store.h"
#include "settings/eq_presets.h"
#include "settings/settings.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace settings {

inline constexpr wchar_t kStoreRoot[] = L"Software\\VantorOvix";
inline constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t kAutostartValue[] = L"Vantor Ovix Settings";
inline constexpr size_t kMaxCopyFolders = 32;
inline constexpr size_t kMaxEqPresetName = 63;

// Keeps a hotkey code only when it is a usable global hotkey: key 1..254, no
// bits beyond Alt, Control and Shift, and not a bare typing key.
bool isValidHotkey(int32_t code);

class RegistrySettings {
public:
    // root holds Settings, Equalizer and Equalizer\Presets; runKey the
    // autostart value. Tests point both at keys of their own.
    explicit RegistrySettings(
        platform::RegistryStore& registry, std::wstring root = kStoreRoot, std::wstring runKey = kRunKey);

    std::wstring settingsKey() const { return root_ + L"\\Settings"; }
    std::wstring equalizerKey() const { return root_ + L"\\Equalizer"; }
    std::wstring presetsKey() const { return root_ + L"\\Equalizer\\Presets"; }

    // Reads the settings key into the record; a missing key changes nothing.
    // installedFaces is the interface's face list (the UiFont value is taken
    // only when it names one of them, spelled as the installed face is).
    void loadRegistrySettings(Settings& settings, std::span<const std::wstring> installedFaces);
    // Every value of the settings key except LastSetup and CopyFolders, which
    // have their own operations. A key that cannot be written makes it a no-op.
    void saveRegistrySettings(const Settings& settings);

    // The equalizer key; Preset reads against the user presets already loaded.
    void loadEqualizer(Settings& settings);
    void saveEqualizer(const Settings& settings);

    // Replaces the user preset list with the presets key's usable values.
    void loadUserEqPresets(Settings& settings);
    // Stores gains under name (an existing preset of that name, ignoring case,
    // is renamed and updated), selects the first preset named so and saves the
    // equalizer key. An empty or over-long name does nothing and returns false.
    bool saveUserEqPreset(Settings& settings, const std::wstring& name, const EqGains& gains);
    // Deletes preset-list entry index when it is a user preset, then selects
    // built-in preset 0 and saves the equalizer key.
    bool deleteUserEqPreset(Settings& settings, int index);

    void storeLastSetup(const std::wstring& name);
    // At most the 32 newest entries (the end of the list is the newest).
    std::vector<std::wstring> readCopyFolders();
    void writeCopyFolders(const std::vector<std::wstring>& folders);

    // Whether the autostart value exists as a string.
    bool autostartEnabled();
    // On writes the quoted executable path; off deletes the value (already
    // absent counts as success).
    bool setAutostart(bool on, const std::wstring& executablePath);
    // Rewrites an existing autostart value that names another executable.
    void refreshAutostart(const std::wstring& executablePath);
    // The folder of the executable the autostart value names: its leading
    // quoted path (or the whole value when unquoted) up to the last backslash.
    std::optional<std::wstring> autostartFolder();

private:
    platform::RegistryStore& registry_;
    const std::wstring root_;
    const std::wstring runKey_;
};

// The throttle in front of saveRegistrySettings for interface controls, timed
// on the platform clock. Used from the interface thread only.
class RegistrySaveThrottle {
public:
    static constexpr int64_t kMinGapMillis = 250;
    static constexpr int64_t kTickPeriodMillis = 501;

    RegistrySaveThrottle(RegistrySettings& store, const Settings& settings, platform::Clock& clock);

    // windowHasCapture: the main window holds the mouse capture (a drag is in
    // progress). Then, or within 250 ms of the previous throttled save, the
    // save is only marked pending; otherwise it happens now.
    void saveRegistrySettingsSoon(bool windowHasCapture);
    // The interface tick: at most once per 501 ms, saves a pending save.
    void tick();
    // Window close: saves unconditionally.
    void saveNow();
    bool pending() const { return pending_; }

private:
    RegistrySettings& store_;
    const Settings& settings_;
    platform::Clock& clock_;
    bool pending_ = false;
    std::optional<int64_t> lastSoonSave_; // milliseconds on clock_
    std::optional<int64_t> lastTickSave_; // milliseconds on clock_
};

} // namespace settings
