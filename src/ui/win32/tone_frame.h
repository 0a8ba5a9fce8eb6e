#pragma once
// The "Mic Tone & Vocal Lift" window on Windows: a small captioned window
// owned by the main window that the portable tone window model draws into
// through the GDI+ painter. It feeds the model pointer and key events in
// logical units, ticks it every 16 ms while shown, and goes away with its
// close button or Escape.

#include "platform/clock.h"
#include "settings/settings.h"
#include "ui/tone_window.h"
#include "ui/win32/gdiplus_painter.h"

#include <windows.h>

#include <memory>

namespace ui::win32 {

inline constexpr wchar_t kToneClass[] = L"VantorOvixTone";

class ToneFrame {
public:
    ToneFrame(settings::Settings& settings, platform::Clock& clock, InterfaceFonts& fonts);
    ~ToneFrame();
    ToneFrame(const ToneFrame&) = delete;
    ToneFrame& operator=(const ToneFrame&) = delete;

    static void registerClass(HINSTANCE instance, HICON icon, HICON smallIcon);

    // Opens the window centred over owner at scale, or brings the open one forward.
    void open(HINSTANCE instance, HWND owner, float scale);
    HWND handle() const { return hwnd_; }

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void paint(HDC dc);
    // After an event: repaint, or go when the model asked to close.
    void after();

    settings::Settings& settings_;
    platform::Clock& clock_;
    InterfaceFonts& fonts_;
    std::unique_ptr<ToneWindow> model_; // while the window exists
    HWND hwnd_ = nullptr;
    float scale_ = 1.0f;
    bool trackingLeave_ = false;
    int64_t lastTickMicros_ = -1;
};

} // namespace ui::win32
