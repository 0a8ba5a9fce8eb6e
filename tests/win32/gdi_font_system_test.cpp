// The interface fonts' system side against wine's GDI: the face check takes
// only faces the system really has, the enumeration leaves out vertical
// names, and a file that is no font does not register.

#include "ui/win32/gdi_font_system.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

TEST(GdiFontSystem, EnumeratedFamiliesPassTheFaceCheckAndAnUnknownOrNonFontDoesNot)
{
    ui::win32::GdiFontSystem system;
    const auto families = system.installedFamilies();
    ASSERT_FALSE(families.empty());
    int checked = 0;
    for (const auto& family : families) {
        EXPECT_NE(family.front(), L'@');
        if (checked < 5 && family.size() <= ui::kMaxFaceLength && system.faceExists(family))
            ++checked;
    }
    EXPECT_GT(checked, 0);
    EXPECT_FALSE(system.faceExists(L"Ovix Face That No System Has"));
    EXPECT_FALSE(system.faceExists(L""));

    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring path
        = std::wstring(temp) + L"ovix-not-a-font-" + std::to_wstring(GetCurrentProcessId()) + L".ttf";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, "not a font at all", 17, &written, nullptr);
    CloseHandle(file);
    EXPECT_FALSE(system.registerFile(path));
    DeleteFileW(path.c_str());
}
