#include "ui/win32/tone_frame.h"

#include "ui/win32/main_frame.h"
#include "ui/win32/pointer_input.h"
#include "ui/win32/secondary_windows.h"
#include "ui/win32/window_object.h"

#include <algorithm>
#include <cmath>

namespace ui::win32 {

namespace {
constexpr UINT_PTR kToneTick = 1; // 16 ms
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
} // namespace

ToneFrame::ToneFrame(settings::Settings& settings, platform::Clock& clock, InterfaceFonts& fonts)
    : settings_(settings), clock_(clock), fonts_(fonts)
{ }

ToneFrame::~ToneFrame()
{
    if (hwnd_)
        DestroyWindow(hwnd_);
}

void ToneFrame::registerClass(HINSTANCE instance, HICON icon, HICON smallIcon)
{
    registerWindowClass(instance, kToneClass, windowProc, icon, smallIcon, CS_DBLCLKS);
}

void ToneFrame::open(HINSTANCE instance, HWND owner, float scale)
{
    if (hwnd_) {
        ShowWindow(hwnd_, SW_SHOWNORMAL);
        SetForegroundWindow(hwnd_);
        return;
    }
    scale_ = scale;
    model_ = std::make_unique<ToneWindow>(settings_);
    const SIZE size = outerSize(kToneWindowWidth, kToneWindowHeight, scale, kStyle);
    const POINT at = centredOver(owner, size);
    if (!CreateWindowExW(0, kToneClass, L"Mic Tone & Vocal Lift", kStyle, at.x, at.y, size.cx, size.cy, owner, nullptr,
            instance, this)) {
        model_.reset();
        return;
    }
    lastTickMicros_ = -1;
    SetTimer(hwnd_, kToneTick, 16, nullptr);
    ShowWindow(hwnd_, SW_SHOW);
}

void ToneFrame::paint(HDC dc)
{
    paintBuffered(hwnd_, dc, scale_, fonts_, [this](Painter& painter) { model_->paint(painter); });
}

void ToneFrame::after()
{
    if (model_->closeRequested())
        DestroyWindow(hwnd_);
    else
        InvalidateRect(hwnd_, nullptr, FALSE);
}

LRESULT CALLBACK ToneFrame::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = windowObject<ToneFrame>(hwnd, message, lParam);
    if (self && message == WM_NCCREATE)
        self->hwnd_ = hwnd;
    if (!self || !self->model_)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    const LRESULT result = self->handle(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        self->model_.reset();
    }
    return result;
}

LRESULT ToneFrame::handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (routePointer(hwnd_, message, wParam, lParam, scale_, trackingLeave_, model_.get())) {
        after();
        return 0;
    }
    switch (message) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd_, &ps);
        paint(dc);
        EndPaint(hwnd_, &ps);
        return 0;
    }
    case WM_KEYDOWN:
        if (model_->key(keyOf(wParam), modifiersNow())) {
            after();
            return 0;
        }
        break;
    case WM_TIMER:
        if (wParam == kToneTick) {
            const int64_t now = clock_.nowMicros();
            const double seconds
                = lastTickMicros_ < 0 ? 0.016 : std::clamp(static_cast<double>(now - lastTickMicros_) / 1e6, 0.0, 0.1);
            lastTickMicros_ = now;
            // Settings changed elsewhere (a setup load, a page reset) show here too.
            if (model_->tick(seconds))
                InvalidateRect(hwnd_, nullptr, FALSE);
        }
        return 0;
    case WM_DESTROY:
        KillTimer(hwnd_, kToneTick);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

} // namespace ui::win32
