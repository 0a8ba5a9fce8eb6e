#include "ui/win32/gdi_font_system.h"

#include <commdlg.h>

#include <string>

namespace ui::win32 {

bool GdiFontSystem::faceExists(const std::wstring& face)
{
    if (face.empty() || face.size() > kMaxFaceLength)
        return false;
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc)
        return false;
    bool same = false;
    HFONT font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
        CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, face.c_str());
    if (font) {
        HGDIOBJ old = SelectObject(dc, font);
        wchar_t shown[32] = {};
        GetTextFaceW(dc, 32, shown);
        SelectObject(dc, old);
        DeleteObject(font);
        same = _wcsicmp(shown, face.c_str()) == 0;
    }
    DeleteDC(dc);
    return same;
}

bool GdiFontSystem::registerFile(const std::wstring& path)
{
    return AddFontResourceExW(path.c_str(), FR_PRIVATE, nullptr) > 0;
}

void GdiFontSystem::unregisterFile(const std::wstring& path)
{
    RemoveFontResourceExW(path.c_str(), FR_PRIVATE, nullptr);
}

std::vector<std::wstring> GdiFontSystem::installedFamilies()
{
    std::vector<std::wstring> families;
    HDC dc = GetDC(nullptr);
    if (!dc)
        return families;
    LOGFONTW query{};
    query.lfCharSet = DEFAULT_CHARSET;
    EnumFontFamiliesExW(
        dc, &query,
        [](const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM out) -> int {
            // Vertical-writing variants carry a leading at sign.
            if (font->lfFaceName[0] != L'@')
                reinterpret_cast<std::vector<std::wstring>*>(out)->emplace_back(font->lfFaceName);
            return 1;
        },
        reinterpret_cast<LPARAM>(&families), 0);
    ReleaseDC(nullptr, dc);
    return families;
}

std::optional<std::wstring> GdiFontSystem::chooseFontFile()
{
    // The filter rows, each name and pattern ending in a null, the list in two.
    std::wstring filter;
    for (const wchar_t* part : {kFontFilterName, kFontFilterPattern, kAllFilesFilterName, kAllFilesFilterPattern}) {
        filter += part;
        filter.push_back(L'\0');
    }
    filter.push_back(L'\0');
    std::wstring file(32768, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner_;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_EXPLORER;
    if (!GetOpenFileNameW(&dialog))
        return std::nullopt;
    file.resize(wcsnlen(file.c_str(), file.size()));
    return file;
}

} // namespace ui::win32
