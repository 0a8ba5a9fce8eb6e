#pragma once
// A small captioned window owned by the main window whose portable model
// draws on a logical canvas of its own (the soundboard window, the trim
// dialog): creation at a scale, drawing through a back buffer, pointer and
// key routing in logical units, a 16 ms tick that repaints only when the
// model's drawing changed, and the model's close request.

#include "platform/clock.h"
#include "ui/win32/gdiplus_painter.h"
#include "ui/win32/main_frame.h"
#include "ui/win32/pointer_input.h"
#include "ui/win32/secondary_windows.h"

#include <windows.h>

#include <algorithm>
#include <memory>

namespace ui::win32 {

template <class Model> class CanvasWindow {
public:
    static constexpr UINT_PTR kTick = 1; // 16 ms
    static constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

    CanvasWindow(platform::Clock& clock, InterfaceFonts& fonts) : clock_(clock), fonts_(fonts) { }
    ~CanvasWindow()
    {
        if (hwnd)
            DestroyWindow(hwnd);
    }
    CanvasWindow(const CanvasWindow&) = delete;
    CanvasWindow& operator=(const CanvasWindow&) = delete;

    std::unique_ptr<Model> model; // while the window exists
    HWND hwnd = nullptr;
    float scale = 1.0f;

    // Brings an open window forward; true when there was one.
    bool raise()
    {
        if (!hwnd)
            return false;
        ShowWindow(hwnd, SW_SHOWNORMAL);
        SetForegroundWindow(hwnd);
        return true;
    }
    // Creates the window centred over owner with the model (self is the
    // window procedure's object); false, and no model, when it fails.
    bool create(HINSTANCE instance, HWND owner, const wchar_t* windowClass, const wchar_t* title, Point canvas,
        float atScale, std::unique_ptr<Model> made, void* self, DWORD exStyle = 0)
    {
        scale = atScale;
        canvas_ = canvas;
        model = std::move(made);
        const SIZE size = outerSize(canvas.x, canvas.y, scale, kStyle);
        const POINT at = centredOver(owner, size);
        if (!CreateWindowExW(
                exStyle, windowClass, title, kStyle, at.x, at.y, size.cx, size.cy, owner, nullptr, instance, self)) {
            model.reset();
            return false;
        }
        lastTickMicros_ = -1;
        SetTimer(hwnd, kTick, 16, nullptr);
        return true;
    }
    // After an event: repaint, or go when the model asked to close.
    void after()
    {
        if (model->closeRequested())
            DestroyWindow(hwnd);
        else
            InvalidateRect(hwnd, nullptr, FALSE);
    }
    // The messages every such window handles alike; true when handled.
    bool handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
    {
        result = 0;
        if (routePointer(hwnd, message, wParam, lParam, scale, trackingLeave_, model.get())) {
            after();
            return true;
        }
        switch (message) {
        case WM_ERASEBKGND:
            result = 1;
            return true;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            paint(dc);
            EndPaint(hwnd, &ps);
            return true;
        }
        case WM_KEYDOWN:
            if (!model->key(keyOf(wParam), modifiersNow()))
                return false;
            after();
            return true;
        case WM_TIMER:
            if (wParam == kTick) {
                const int64_t now = clock_.nowMicros();
                const double seconds = lastTickMicros_ < 0
                    ? 0.016
                    : std::clamp(static_cast<double>(now - lastTickMicros_) / 1e6, 0.0, 0.1);
                lastTickMicros_ = now;
                if (model->tick(seconds))
                    InvalidateRect(hwnd, nullptr, FALSE);
            }
            return true;
        case WM_DESTROY:
            KillTimer(hwnd, kTick);
            return true;
        default:
            return false;
        }
    }
    // The window is gone: the model goes with it.
    void destroyed()
    {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        hwnd = nullptr;
        model.reset();
    }

private:
    void paint(HDC dc)
    {
        paintBuffered(hwnd, dc, scale, fonts_, [this](Painter& painter) { model->paint(painter); });
    }

    platform::Clock& clock_;
    InterfaceFonts& fonts_;
    Point canvas_;
    bool trackingLeave_ = false;
    int64_t lastTickMicros_ = -1;
};

} // namespace ui::win32
