#pragma once
// The separate soundboard window on Windows (class VantorOvixBoard): the
// portable board window drawn through the GDI+ painter, files dropped on it
// added to the library, and the trim dialog it opens.

#include "ui/board_window.h"
#include "ui/trim_window.h"
#include "ui/win32/canvas_window.h"

namespace console {
class Console;
}

namespace ui::win32 {

inline constexpr wchar_t kBoardClass[] = L"VantorOvixBoard";
inline constexpr wchar_t kBoardTitle[] = L"Vantor Soundboard (12 Pads)";
inline constexpr wchar_t kTrimClass[] = L"VantorOvixTrim";
inline constexpr wchar_t kTrimTitle[] = L"Trim Sound Pad";

class BoardFrame {
public:
    BoardFrame(console::Console& console, WindowHost& host, platform::Clock& clock, InterfaceFonts& fonts)
        : console_(console), host_(host), window_(clock, fonts)
    { }
    static void registerClass(HINSTANCE instance, HICON icon, HICON smallIcon);
    // Opens the window centred over owner at scale, or brings the open one forward.
    void open(HINSTANCE instance, HWND owner, float scale);
    HWND handle() const { return window_.hwnd; }

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    console::Console& console_;
    WindowHost& host_;
    CanvasWindow<BoardWindow> window_;
};

// The trim dialog (class VantorOvixTrim) with its two native edit fields.
class TrimFrame {
public:
    TrimFrame(console::Console& console, WindowHost& host, platform::Clock& clock, InterfaceFonts& fonts)
        : console_(console), host_(host), fonts_(fonts), window_(clock, fonts)
    { }
    static void registerClass(HINSTANCE instance, HICON icon, HICON smallIcon);
    // Opens the dialog for pad over owner; an open one for another pad closes first.
    void open(HINSTANCE instance, HWND owner, float scale, int pad);
    HWND handle() const { return window_.hwnd; }

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    HWND makeField(HINSTANCE instance, const Rect& r);
    // The fields follow the model: shown once the waveform is there, and
    // rewritten when the dialog (not the typing) moved the range.
    void syncFields();
    console::Console& console_;
    WindowHost& host_;
    InterfaceFonts& fonts_;
    CanvasWindow<TrimWindow> window_;
    int pad_ = -1;
    HWND start_ = nullptr, end_ = nullptr;
    uint32_t fieldSerial_ = 0;
    bool writingFields_ = false;
};

} // namespace ui::win32
