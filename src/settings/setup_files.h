#pragma once
// Setups: named snapshots of the settings record kept as small UTF-8 text
// files in the setups folder, mirrored into the setups folders of other
// copies of the program (the sync folders). Everything here runs on the
// interface thread except findOtherInstallations, which runs on a worker and
// touches only the file system.

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/known_folders.h"
#include "settings/registry_settings.h"
#include "settings/settings.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace settings {

inline constexpr std::string_view kSetupHeader = "# Vantor Ovix Settings";
inline constexpr size_t kSetupNameLength = 40;

// What the interface knows that a setup load needs.
struct SetupEnvironment {
    std::vector<std::wstring> captureIds;     // endpoint identifiers of the microphone drop-down, in its order
    std::vector<std::wstring> renderIds;      // endpoint identifiers of the output drop-down, in its order
    std::vector<std::wstring> installedFaces; // the interface's face list
};

// What a load leaves for the interface to do.
struct SetupApplied {
    int micIndex = -1; // drop-down entry to select; -1 keeps the selection
    int spkIndex = -1;
    bool presetSeen = false;      // select row `preset` of the environment list
    bool glitchStyleSeen = false; // update the glitch style drop-down
    bool equalizerSeen = false;   // select `eq_preset` in the equalizer drop-down
    uint8_t opacity = 255;        // window opacity from `alpha`, unless the window state does not use it
};

// The name prompt's rule: forbidden characters out, blanks trimmed, at most
// 40 characters, device names such as CON or LPT1 made safe with "_". An
// empty result means "no name" and keeps the prompt open.
std::wstring sanitizeSetupName(std::wstring_view text);
// The APPDATA folder followed by "\VantorOvix", or the executable's folder
// when APPDATA is unknown or longer than 259 characters.
std::wstring applicationDataFolder(const std::optional<std::wstring>& appData, const std::wstring& executableFolder);
// The whole file as saveSetupFile writes it.
std::string formatSetupFile(const Settings& settings);
// Applies setup-file bytes to the record: every reading rule, and the font,
// but none of the saves that end a load.
SetupApplied applySetupText(std::span<const uint8_t> bytes, Settings& settings, const SetupEnvironment& environment);
// Whether a sync folder's file is a setup file: 18 bytes or more, starting
// with "# Vantor Ovix" or "# VantorOvix".
bool hasSetupHeader(std::span<const uint8_t> bytes);
// "Saved setup "Night"", the status after a save.
std::wstring savedSetupMessage(const std::wstring& name);

// Folders that hold "setups" beside a "VantorOvix*.exe" below the Desktop,
// Downloads and Documents folders: breadth first, three levels deep, at most
// 1500 folders per root, and all of it within 3 seconds of clock time.
std::vector<std::wstring> findOtherInstallations(
    platform::Files& files, platform::Clock& clock, platform::KnownFolders& knownFolders);

class Setups {
public:
    // appDataFolder: see applicationDataFolder.
    Setups(platform::Files& files, RegistrySettings& store, Settings& settings, std::wstring appDataFolder);

    // The setups folder, created when missing.
    std::wstring setupsFolder();
    std::wstring setupPath(const std::wstring& name);
    // Setup names sorted by code unit (capitals before small letters).
    std::vector<std::wstring> listSetups();

    // Writes path + ".part", then moves it over path; a failure leaves the
    // old file and no temporary behind.
    bool saveSetupFile(const std::wstring& path);
    // Applies the file, then saves the equalizer key (when the file had
    // equalizer keys) and the registry settings. Nothing when it cannot be read.
    std::optional<SetupApplied> applySetupFile(const std::wstring& path, const SetupEnvironment& environment);
    // Applies a saved setup and makes it current. On success the caller
    // raises the engine's reopen request (the file may name other devices)
    // and re-applies the application-audio routing.
    std::optional<SetupApplied> loadSetup(const std::wstring& name, const SetupEnvironment& environment);
    // The save flow after the name prompt: answer is the prompt's text.
    bool saveCurrentSetupAs(const std::wstring& answer);
    // Deletes the current setup here and in every sync folder.
    bool deleteCurrentSetup();
    // +1 next, -1 previous, wrapping; loads the setup it lands on.
    std::optional<SetupApplied> cycleSetup(int step, const SetupEnvironment& environment);

    // Start-up: the current setup from LastSetup, else (first run only) the
    // portable "VantorOvix.ini" beside the executable.
    std::optional<SetupApplied> restoreCurrentSetup(
        bool firstRun, const std::wstring& executableFolder, const SetupEnvironment& environment);

    // Start-up: CopyFolders (plus the autostart entry's folder, remembered
    // when new) gives the sync folders whose "setups" subfolder exists.
    void buildSyncFolders(const std::optional<std::wstring>& autostartFolder);
    // Adds a folder unless it is ours or already listed (ignoring case).
    bool addSyncFolder(const std::wstring& folder);
    const std::vector<std::wstring>& syncFolders() const { return syncFolders_; }
    // Two-way mirror by last-write time; only files with a setup header come in.
    void syncSetups();

    const std::wstring& currentSetup() const { return current_; }
    // The list as last rebuilt (after a save, delete, sync or cycle).
    const std::vector<std::wstring>& setupList() const { return list_; }

private:
    void makeCurrent(const std::wstring& name);

    platform::Files& files_;
    RegistrySettings& store_;
    Settings& settings_;
    const std::wstring appDataFolder_;
    std::wstring current_;
    std::vector<std::wstring> list_;
    std::vector<std::wstring> syncFolders_;
};

} // namespace settings
