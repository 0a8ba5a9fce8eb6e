#pragma once
// The object a window procedure works for: the creation parameter, kept in
// the window's user data from WM_NCCREATE on, until the window clears it.

#include <windows.h>

namespace ui::win32 {

template <class T> T* windowObject(HWND hwnd, UINT message, LPARAM lParam)
{
    if (message == WM_NCCREATE)
        SetWindowLongPtrW(hwnd, GWLP_USERDATA,
            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    return reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

} // namespace ui::win32
