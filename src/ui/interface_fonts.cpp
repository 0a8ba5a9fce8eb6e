#include "ui/interface_fonts.h"

#include "platform/text.h"
#include "ui/font_names.h"

#include <algorithm>

namespace ui {

namespace {

bool contains(const std::vector<std::wstring>& names, const std::wstring& name)
{
    return std::any_of(
        names.begin(), names.end(), [&](const std::wstring& n) { return platform::equalsNoCase(n, name); });
}

void appendOnce(std::vector<std::wstring>& names, const std::wstring& name)
{
    if (!contains(names, name))
        names.push_back(name);
}

size_t nameStart(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? 0 : slash + 1;
}

bool isFontFileName(const std::wstring& name)
{
    const size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos)
        return false;
    const std::wstring_view extension = std::wstring_view(name).substr(dot + 1);
    return platform::equalsNoCase(extension, L"ttf") || platform::equalsNoCase(extension, L"otf")
        || platform::equalsNoCase(extension, L"ttc");
}

bool samePath(std::wstring a, std::wstring b)
{
    std::replace(a.begin(), a.end(), L'/', L'\\');
    std::replace(b.begin(), b.end(), L'/', L'\\');
    return platform::equalsNoCase(a, b);
}

std::vector<std::wstring> horizontalFamilies(FontSystem& system)
{
    std::vector<std::wstring> families;
    for (const std::wstring& family : system.installedFamilies())
        if (!family.empty() && family[0] != L'@')
            appendOnce(families, family);
    return families;
}

// The families a registered file gave: its name table's, when any of them is
// usable as a face; otherwise the families that appear only while it is
// registered (a file whose names the reader cannot find, such as one with
// Macintosh-only records, still shows up in the system's enumeration).
std::vector<std::wstring> scannedFamilies(platform::Files& files, FontSystem& system, const std::wstring& path)
{
    std::vector<std::wstring> families;
    if (const auto bytes = files.readAll(path))
        for (const std::wstring& name : readFamilyNames(*bytes))
            if (name.size() <= kMaxFaceLength && system.faceExists(name))
                families.push_back(name);
    if (!families.empty())
        return families;
    system.unregisterFile(path);
    const auto before = horizontalFamilies(system);
    if (!system.registerFile(path))
        return families;
    for (const std::wstring& family : horizontalFamilies(system))
        if (!contains(before, family))
            families.push_back(family);
    return families;
}

} // namespace

std::wstring fontsFolder(const std::wstring& appDataFolder)
{
    return appDataFolder + L"\\fonts";
}

FontScan scanInterfaceFonts(platform::Files& files, FontSystem& system, const std::wstring& folder)
{
    FontScan scan;
    for (const wchar_t* face : kBuiltInFaces)
        if (system.faceExists(face))
            scan.builtIns.emplace_back(face);
    if (scan.builtIns.empty())
        scan.builtIns.emplace_back(kFallbackFace);

    const auto entries = files.listFolder(folder);
    if (!entries)
        return scan;
    for (const platform::FolderEntry& entry : *entries) {
        if (entry.isFolder || !isFontFileName(entry.name))
            continue;
        const std::wstring path = folder + L"\\" + entry.name;
        if (files.exists(path + kRemovalMarkerSuffix) || !system.registerFile(path))
            continue;
        auto families = scannedFamilies(files, system, path);
        if (!families.empty())
            scan.added.push_back({path, std::move(families)});
    }
    return scan;
}

InterfaceFonts::InterfaceFonts(platform::Files& files, FontSystem& system, settings::Settings& settings,
    settings::RegistrySettings& store, std::wstring appDataFolder)
    : files_(files), system_(system), settings_(settings), store_(store), folder_(fontsFolder(appDataFolder))
{ }

void InterfaceFonts::adopt(FontScan scan)
{
    builtIns_ = std::move(scan.builtIns);
    added_ = std::move(scan.added);
    rebuildFaces();
}

void InterfaceFonts::rebuildFaces()
{
    faces_.clear();
    for (const std::wstring& face : builtIns_)
        appendOnce(faces_, face);
    for (const AddedFont& font : added_)
        for (const std::wstring& family : font.families)
            appendOnce(faces_, family);
}

bool InterfaceFonts::isAdded(const std::wstring& family) const
{
    return std::any_of(
        added_.begin(), added_.end(), [&](const AddedFont& font) { return contains(font.families, family); });
}

FontChange InterfaceFonts::addFontFromDialog()
{
    const auto path = system_.chooseFontFile();
    if (!path)
        return {};
    return addFont(*path);
}

FontChange InterfaceFonts::addFont(const std::wstring& sourcePath)
{
    const FontChange failed{kFontLoadFailedText, false};
    const std::wstring target = folder_ + L"\\" + sourcePath.substr(nameStart(sourcePath));
    const auto bytes = files_.readAll(sourcePath);
    if (!bytes)
        return failed;
    if (!samePath(sourcePath, target)
        && (!files_.createFolders(folder_) || !platform::replaceFile(files_, target, *bytes, L".part")))
        return failed;
    std::vector<std::wstring> families;
    for (const std::wstring& name : readFamilyNames(*bytes))
        if (name.size() <= kMaxFaceLength)
            families.push_back(name);
    if (families.empty() || !system_.registerFile(target))
        return failed;
    // Adding a file again takes back an earlier removal, or the next start
    // would skip the file the user just chose.
    files_.removeFile(target + kRemovalMarkerSuffix);

    auto same = std::find_if(
        added_.begin(), added_.end(), [&](const AddedFont& font) { return samePath(font.path, target); });
    if (same != added_.end())
        same->families = families;
    else
        added_.push_back({target, families});
    rebuildFaces();
    store_.saveRegistrySettings(settings_);
    return {kFontAddedText + families.front(), false};
}

FontChange InterfaceFonts::removeFont(const std::wstring& family)
{
    auto font = std::find_if(
        added_.begin(), added_.end(), [&](const AddedFont& added) { return contains(added.families, family); });
    if (font == added_.end())
        return {};
    // The marker first: without it the file would come back at the next start,
    // so a failed marker leaves the font as it is.
    if (!platform::replaceFile(files_, font->path + kRemovalMarkerSuffix, std::span<const uint8_t>{}, L".part"))
        return {kFontRemoveFailedText, false};
    system_.unregisterFile(font->path);
    const AddedFont removed = *font;
    added_.erase(font);
    rebuildFaces();

    FontChange change{kFontRemovedText + family, false};
    if (contains(removed.families, settings_.font()) && !contains(faces_, settings_.font())) {
        settings_.setFont(kFallbackFace);
        change.faceChanged = true;
    }
    store_.saveRegistrySettings(settings_);
    return change;
}

} // namespace ui
