#pragma once
// The main window on Windows: a layered pop-up without a system frame that
// the portable window model draws into through the GDI+ painter. It feeds
// the model pointer, key and timer events in logical units, keeps the back
// buffer, fades in and out, animates zoom changes through a scaled snapshot,
// and carries the model's requests (menus, prompts, the shell, background
// work) to the system.

#include "platform/clock.h"
#include "ui/main_window.h"
#include "ui/win32/gdiplus_painter.h"
#include "ui/win32/tone_frame.h"
#include "ui/window_host.h"
#include "ui/window_placement.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace console {
class Console;
}

namespace ui::win32 {

class BoardFrame;
class TrimFrame;

inline constexpr wchar_t kMainClass[] = L"VantorOvixWnd";
inline constexpr wchar_t kMainTitle[] = L"Vantor Ovix Settings";
inline constexpr wchar_t kAboutClass[] = L"VantorOvixAbout";
inline constexpr wchar_t kZoomClass[] = L"VantorOvixZoom";
inline constexpr wchar_t kPromptClass[] = L"VantorOvixPrompt";

// Private messages from workers: the parameter is a heap object that the
// window takes over; when the post fails the sender frees it.
inline constexpr UINT kWorkDoneMessage = 0x8001; // lParam: std::function<void()>*

inline constexpr UINT_PTR kSlowTimer = 1; // 350 ms
inline constexpr UINT_PTR kTickTimer = 2; // 16 ms
inline constexpr UINT_PTR kFadeTimer = 3; // 8 ms

// The model's key for a virtual key, and the modifiers held now.
Key keyOf(WPARAM vk);
Modifiers modifiersNow();

// The monitor the window is on (the primary one before it exists): its work
// area and effective DPI.
WorkArea primaryWorkArea();
int primaryMonitorDpi();

class MainFrame final : public WindowHost {
public:
    MainFrame(console::Console& console, platform::Clock& clock, InterfaceFonts& fonts);
    ~MainFrame() override;
    MainFrame(const MainFrame&) = delete;
    MainFrame& operator=(const MainFrame&) = delete;

    // The main, about, zoom, prompt and tone classes (arrow cursor, icon resource 1).
    static bool registerClasses(HINSTANCE instance, HICON icon, HICON smallIcon);

    // Creates the window hidden at the given scale and place; applies
    // always-on-top and the opacity. False when the window cannot be made.
    bool create(HINSTANCE instance, float scale, WindowPosition position, HICON icon, HICON smallIcon);
    // The model the window shows; set once, before the first paint.
    void attach(MainWindow& model) { model_ = &model; }
    void startTimers();
    // Shows the window: straight when animations are off or the show
    // command hides or minimises it, else fading in from transparent.
    void show(int showCommand);

    HWND handle() const { return hwnd_; }
    float scale() const { return scale_; }
    // The message loop's Escape rule: a key the model takes is not dispatched.
    bool routeEscape();
    // Paint statistics for the closing log: the first full paint (it makes
    // the faces and the back buffer) apart from the later full repaints.
    struct PaintTimes {
        int paints = 0;
        double paintMillis = 0.0; // every paint, whole
        double modelMillis = 0.0; // every paint, the model's drawing alone
        double firstFullMillis = -1.0;
        int repaints = 0; // full repaints after the first
        double repaintMillis = 0.0;
    };
    const PaintTimes& paintTimes() const { return paintTimes_; }

    // WindowHost
    void invalidate(const Rect& r) override;
    void minimise() override;
    void close() override;
    void applyWindowLook() override;
    void fontsChanged() override;
    int showMenu(const std::vector<MenuItem>& items, Point at) override;
    std::optional<std::wstring> promptText(
        std::wstring_view title, std::wstring_view label, std::wstring_view initial) override;
    void shellOpen(const std::wstring& file, const std::wstring& parameters) override;
    void showAbout() override;
    void runInBackground(std::function<void()> work, std::function<void()> done) override;
    void openSecondary(SecondaryWindow window) override;
    void placeSourceField(const Rect& r, bool shown) override;
    std::wstring sourceFieldText() override;
    void setSourceFieldText(const std::wstring& text) override;
    void focusSourceField() override;
    std::optional<std::wstring> chooseFile(std::wstring_view title, const std::vector<FileFilter>& filters) override;
    std::vector<std::wstring> chooseFiles(std::wstring_view title, const std::vector<FileFilter>& filters) override;
    void openTrim(int pad) override;
    std::optional<SaveChoice> chooseSaveFile(std::wstring_view title, const std::vector<FileFilter>& filters,
        int filter, const std::wstring& initialPath, std::wstring_view defaultExtension) override;
    std::optional<std::wstring> chooseFolder(std::wstring_view title, const std::wstring& initial) override;

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK zoomProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK sourceFieldProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // Puts the field where the model placed it at the current scale, with the
    // interface font of that scale (after a zoom or a font change too).
    void layoutSourceField();
    void filesDropped(HANDLE drop); // an HDROP
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);

    void paint(HDC dc, const RECT& invalid);
    // Runs a timer's work and draws what it changed at once through the
    // window's device context rather than through WM_PAINT: under wine each
    // invalidation, BeginPaint and EndPaint is a round of requests to its
    // server, which cost the meter's frames most of their time.
    template <typename Work> void paintAfter(Work work);
    bool ensureBackBuffer(HDC dc, int width, int height);
    void dropBackBuffer();
    double nowSeconds() const { return static_cast<double>(clock_.nowMicros()) / 1e6; }
    uint8_t targetAlpha() const;
    void setAlpha(uint8_t alpha);
    void startFade(int kind);
    void fadeStep();
    void recordPosition();
    void zoomStep(double seconds);
    void startZoom(float target);
    void endZoom();
    void onDestroy();

    console::Console& console_;
    platform::Clock& clock_;
    InterfaceFonts& fonts_;
    MainWindow* model_ = nullptr;
    HWND hwnd_ = nullptr;
    HINSTANCE instance_ = nullptr;
    float scale_ = 1.0f;
    bool trackingLeave_ = false;
    // While a timer's work runs: what it invalidated, in pixels.
    bool collecting_ = false;
    RECT collected_{};

    // Back buffer: kept between paints, remade when the client size changes.
    HDC backDc_ = nullptr;
    HBITMAP backBitmap_ = nullptr;
    HGDIOBJ backOld_ = nullptr;
    int backWidth_ = 0;
    int backHeight_ = 0;

    // Fade: kind 1 in (320 ms), kind 2 out then destroy (220 ms).
    int fadeKind_ = 0;
    int64_t fadeStartMicros_ = 0;
    int fadeMillis_ = 0;

    // Zoom: the shown scale follows the target; meanwhile a snapshot of the
    // window is shown scaled in a window of its own.
    ScaleSpring spring_;
    HWND zoomWindow_ = nullptr;
    HBITMAP zoomSnapshot_ = nullptr;
    SIZE zoomSnapshotSize_{};
    double lastTickSeconds_ = -1.0;

    // The one native edit field (a clip's file or link), a child of the
    // window, subclassed so that Tab and Enter reach the model.
    HWND sourceField_ = nullptr;
    WNDPROC sourceFieldDefault_ = nullptr;
    HFONT sourceFieldFont_ = nullptr;
    Rect sourceFieldRect_;
    bool sourceFieldShown_ = false;

    HWND about_ = nullptr;
    ToneFrame tone_;
    std::unique_ptr<BoardFrame> board_;
    std::unique_ptr<TrimFrame> trim_;
    PaintTimes paintTimes_;
};

} // namespace ui::win32
