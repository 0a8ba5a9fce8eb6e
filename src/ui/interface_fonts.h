#pragma once
// The interface typefaces: the built-in faces the system really has, plus the
// font files the user added. Added files are copied into the fonts folder and
// registered for this process only; removing one leaves a marker beside it so
// that later starts skip it (the file itself may still be held open).

#include "platform/files.h"
#include "settings/registry_settings.h"
#include "settings/settings.h"

#include <optional>
#include <string>
#include <vector>

namespace ui {

inline constexpr wchar_t kFallbackFace[] = L"Tahoma";
// The built-in candidates, in the order the face list offers them.
inline constexpr const wchar_t* kBuiltInFaces[] = {L"Tahoma", L"Segoe UI", L"Calibri", L"Trebuchet MS", L"Arial",
    L"Verdana", L"Candara", L"Corbel", L"Cambria", L"Consolas"};
inline constexpr wchar_t kRemovalMarkerSuffix[] = L".removed";
// Face names must fit the system's 32-character face field with its terminator.
inline constexpr size_t kMaxFaceLength = 31;

// The add dialog's filter rows.
inline constexpr wchar_t kFontFilterName[] = L"Font Files (*.ttf;*.otf;*.ttc)";
inline constexpr wchar_t kFontFilterPattern[] = L"*.ttf;*.otf;*.ttc";
inline constexpr wchar_t kAllFilesFilterName[] = L"All Files";
inline constexpr wchar_t kAllFilesFilterPattern[] = L"*.*";

inline constexpr wchar_t kFontLoadFailedText[] = L"Could not load that font file";
inline constexpr wchar_t kFontAddedText[] = L"Added font: ";
inline constexpr wchar_t kFontRemovedText[] = L"Removed font: ";
inline constexpr wchar_t kFontRemoveFailedText[] = L"Could not remove that font file";

// What the system does with faces and font files; the window implements it
// with GDI, tests with a fake. Called from the interface thread, and from the
// fonts worker during the start-up scan.
class FontSystem {
public:
    virtual ~FontSystem() = default;
    // Whether a font made with this face name (height -12, weight 400) reads
    // back the same face name, ignoring case; a substituted face does not.
    virtual bool faceExists(const std::wstring& face) = 0;
    // Registers a font file for this process only (not enumerable by others).
    virtual bool registerFile(const std::wstring& path) = 0;
    virtual void unregisterFile(const std::wstring& path) = 0;
    // Every installed family for the default character set, as enumerated.
    virtual std::vector<std::wstring> installedFamilies() = 0;
    // The open-file dialog with the font filter rows above; nullopt when the
    // user cancels.
    virtual std::optional<std::wstring> chooseFontFile() = 0;
};

// One added font file and the families it gave.
struct AddedFont {
    std::wstring path;
    std::vector<std::wstring> families;
};

// What the start-up work found: the built-in faces that pass the face check
// (the fallback face alone when none does) and the added files, in folder
// order, whose families survived.
struct FontScan {
    std::vector<std::wstring> builtIns;
    std::vector<AddedFont> added;
};

// The application-data folder followed by "\fonts".
std::wstring fontsFolder(const std::wstring& appDataFolder);
// The start-up work: the face check of every candidate and the scan of the
// fonts folder (registering each unmarked font file). Touches only files and
// fonts, so the fonts worker may run it; the interface then adopts the result.
FontScan scanInterfaceFonts(platform::Files& files, FontSystem& system, const std::wstring& fontsFolder);

// What an add or remove leaves for the window.
struct FontChange {
    std::wstring toast;       // the status toast's text; empty: nothing to show
    bool faceChanged = false; // settings.font changed: recreate the interface fonts
};

// The face list and the add and remove flows. Interface thread only.
class InterfaceFonts {
public:
    InterfaceFonts(platform::Files& files, FontSystem& system, settings::Settings& settings,
        settings::RegistrySettings& store, std::wstring appDataFolder);

    // Takes over a scan's result and rebuilds the face list.
    void adopt(FontScan scan);
    // The scan and the adoption in one, for callers without a worker.
    void loadNow() { adopt(scanInterfaceFonts(files_, system_, folder_)); }

    // Built-in faces first, then the families of added files; each name once.
    const std::vector<std::wstring>& faces() const { return faces_; }
    const std::vector<AddedFont>& addedFonts() const { return added_; }
    // Whether name is a family of an added file (the page offers removal then).
    bool isAdded(const std::wstring& family) const;
    const std::wstring& folder() const { return folder_; }

    // Asks for a file and adds it; a cancelled dialog changes nothing.
    FontChange addFontFromDialog();
    // Copies the file into the fonts folder under its own name (unless it is
    // that file), reads its families, registers it and lists them.
    FontChange addFont(const std::wstring& sourcePath);
    // Removes the added file that gave family, with all its families; the
    // interface face falls back to Tahoma when it goes.
    FontChange removeFont(const std::wstring& family);

private:
    void rebuildFaces();

    platform::Files& files_;
    FontSystem& system_;
    settings::Settings& settings_;
    settings::RegistrySettings& store_;
    const std::wstring folder_;
    std::vector<std::wstring> builtIns_{kFallbackFace};
    std::vector<AddedFont> added_;
    std::vector<std::wstring> faces_{kFallbackFace};
};

} // namespace ui
