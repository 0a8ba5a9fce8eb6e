#pragma once
// The mouse messages of a window whose model takes pointer events in
// logical units: the main window and the tone window route them alike.

#include "ui/geometry.h"

#include <shellapi.h>
#include <windows.h>
#include <windowsx.h>

#include <string>
#include <vector>

namespace ui::win32 {

// Feeds model (absent: nothing is fed) the mouse message, with the capture
// held from press to release and the leave tracked. True when message was
// one of them.
template <class Model>
bool routePointer(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, float scale, bool& trackingLeave, Model* model)
{
    const auto logical = [scale](int x, int y) {
        return Point{static_cast<float>(x) / scale, static_cast<float>(y) / scale};
    };
    const Point p = logical(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
    switch (message) {
    case WM_MOUSEMOVE:
        if (!trackingLeave) {
            TRACKMOUSEEVENT track{};
            track.cbSize = sizeof(track);
            track.dwFlags = TME_LEAVE;
            track.hwndTrack = hwnd;
            trackingLeave = TrackMouseEvent(&track) != FALSE;
        }
        if (model)
            model->pointerMove(p);
        return true;
    case WM_MOUSELEAVE:
        trackingLeave = false;
        if (model)
            model->pointerLeave();
        return true;
    case WM_LBUTTONDOWN:
        SetCapture(hwnd);
        if (model)
            model->pointerDown(p);
        return true;
    case WM_LBUTTONUP:
        if (GetCapture() == hwnd)
            ReleaseCapture();
        if (model)
            model->pointerUp(p);
        return true;
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        // A model that takes no secondary press leaves these to the window.
        if constexpr (requires { model->secondaryDown(p); }) {
            SetCapture(hwnd);
            if (model)
                model->secondaryDown(p);
            return true;
        }
        return false;
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
        if constexpr (requires { model->secondaryDown(p); }) {
            if (GetCapture() == hwnd)
                ReleaseCapture();
            if (model)
                model->pointerUp(p);
            return true;
        }
        return false;
    case WM_LBUTTONDBLCLK:
        if (model)
            model->doubleClick(p);
        return true;
    case WM_MOUSEWHEEL: {
        // Wheel messages carry screen coordinates.
        POINT screen{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ScreenToClient(hwnd, &screen);
        if (model)
            model->wheel(logical(screen.x, screen.y), static_cast<float>(GET_WHEEL_DELTA_WPARAM(wParam)) / WHEEL_DELTA);
        return true;
    }
    default:
        return false;
    }
}

// The paths of a WM_DROPFILES message's files, the drop released.
inline std::vector<std::wstring> takeDroppedFiles(HDROP drop)
{
    std::vector<std::wstring> paths;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        std::wstring path(DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
        path.resize(DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size())));
        if (!path.empty())
            paths.push_back(std::move(path));
    }
    DragFinish(drop);
    return paths;
}

} // namespace ui::win32
