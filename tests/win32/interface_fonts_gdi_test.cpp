// The font add and remove flows against wine's GDI and file system, with a
// whole font the test builds: the added file is registered for this process
// and listed, and its removal leaves the marker and falls back to Tahoma.

#include "platform/sim/memory_registry.h"
#include "platform/text.h"
#include "platform/win32/win32_platform.h"
#include "support/font_image.h"
#include "ui/interface_fonts.h"
#include "ui/win32/gdi_font_system.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>

namespace {

bool lists(const std::vector<std::wstring>& names, const std::wstring& name)
{
    return std::any_of(
        names.begin(), names.end(), [&](const std::wstring& n) { return platform::equalsNoCase(n, name); });
}

// Removes the files of folder and of its direct subfolders, then the folders.
void removeTestFolder(platform::Files& files, const std::wstring& folder)
{
    if (const auto entries = files.listFolder(folder))
        for (const platform::FolderEntry& entry : *entries) {
            const std::wstring path = folder + L"\\" + entry.name;
            if (entry.isFolder)
                removeTestFolder(files, path);
            else
                files.removeFile(path);
        }
    RemoveDirectoryW(folder.c_str());
}

} // namespace

TEST(InterfaceFontsUnderGdi, AnAddedFontIsRegisteredAndListedAndItsRemovalFallsBackToTahoma)
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    const std::wstring appData = std::wstring(temp) + L"ovix-fonts-" + std::to_wstring(GetCurrentProcessId()) + L"-"
        + std::to_wstring(now.QuadPart);
    const auto files = platform::win32::makeFiles();
    ASSERT_TRUE(files->createFolders(appData));

    const std::wstring family = L"Ovix Built Face";
    const std::wstring source = appData + L"\\OvixBuilt.ttf";
    ASSERT_TRUE(platform::replaceFile(*files, source, test_support::completeFontImage(family)));

    platform::sim::MemoryRegistry registry;
    settings::RegistrySettings store{registry, L"Software\\FontTest"};
    settings::Settings settings;
    ui::win32::GdiFontSystem system;
    ui::InterfaceFonts fonts{*files, system, settings, store, appData};
    fonts.loadNow();
    ASSERT_FALSE(lists(system.installedFamilies(), family));

    const ui::FontChange added = fonts.addFont(source);
    EXPECT_EQ(added.toast, ui::kFontAddedText + family);
    const std::wstring copy = ui::fontsFolder(appData) + L"\\OvixBuilt.ttf";
    EXPECT_TRUE(files->exists(copy));
    EXPECT_TRUE(lists(fonts.faces(), family));
    EXPECT_TRUE(fonts.isAdded(family));
    EXPECT_TRUE(lists(system.installedFamilies(), family));
    EXPECT_TRUE(system.faceExists(family));
    // Registered for this process only: a public removal of the file finds nothing.
    EXPECT_FALSE(RemoveFontResourceExW(copy.c_str(), 0, nullptr));
    EXPECT_TRUE(lists(system.installedFamilies(), family));

    settings.setFont(family);
    const ui::FontChange removed = fonts.removeFont(family);
    EXPECT_EQ(removed.toast, ui::kFontRemovedText + family);
    EXPECT_TRUE(removed.faceChanged);
    EXPECT_EQ(settings.font(), ui::kFallbackFace);
    EXPECT_TRUE(files->exists(copy + ui::kRemovalMarkerSuffix));
    EXPECT_FALSE(lists(fonts.faces(), family));
    // Not the face check: wine keeps answering with a face it has already
    // made a font of after the file is unregistered; the enumeration drops it.
    EXPECT_FALSE(lists(system.installedFamilies(), family));

    // The next start sees the marker and leaves the file unregistered.
    ui::InterfaceFonts restarted{*files, system, settings, store, appData};
    restarted.loadNow();
    EXPECT_FALSE(lists(restarted.faces(), family));
    EXPECT_FALSE(lists(system.installedFamilies(), family));

    removeTestFolder(*files, appData);
}
