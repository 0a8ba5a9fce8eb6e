#pragma once
// The interface fonts' system side on Windows: the face check through a
// screen-compatible device context, font files registered for this process
// only, the family enumeration and the open-file dialog.

#include "ui/interface_fonts.h"

#include <windows.h>

namespace ui::win32 {

class GdiFontSystem final : public FontSystem {
public:
    // owner: the dialog's owner window; null before the window exists.
    void setOwner(HWND owner) { owner_ = owner; }

    bool faceExists(const std::wstring& face) override;
    bool registerFile(const std::wstring& path) override;
    void unregisterFile(const std::wstring& path) override;
    std::vector<std::wstring> installedFamilies() override;
    std::optional<std::wstring> chooseFontFile() override;

private:
    HWND owner_ = nullptr;
};

} // namespace ui::win32
