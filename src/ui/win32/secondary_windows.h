#pragma once
// The main window's small companions: the About window and the one-line
// text prompt, both drawn in the interface's faces.

#include "ui/win32/gdiplus_painter.h"

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace ui::win32 {

// The outer size of a window whose client holds a logical canvas at scale.
SIZE outerSize(float width, float height, float scale, DWORD style);
// Where a window of that size sits centred over owner.
POINT centredOver(HWND owner, SIZE size);

// Registers a window class with the arrow cursor; false when it fails.
bool registerWindowClass(
    HINSTANCE instance, const wchar_t* name, WNDPROC proc, HICON icon, HICON smallIcon, UINT style = 0);
void registerSecondaryClasses(HINSTANCE instance, HICON icon, HICON smallIcon);

// Opens the About window (class VantorOvixAbout) beside owner; its handle.
HWND openAbout(HINSTANCE instance, HWND owner, InterfaceFonts& fonts, float scale);

// A modal prompt with one edit field, OK and Cancel; nothing when cancelled.
std::optional<std::wstring> runPrompt(HINSTANCE instance, HWND owner, InterfaceFonts& fonts, float scale,
    std::wstring_view title, std::wstring_view label, std::wstring_view initial);

} // namespace ui::win32
