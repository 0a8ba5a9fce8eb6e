#pragma once
// The main window as the interface sees it, apart from any platform: the
// caption band, the six pages, the controls, the toast and the meter. It
// reads the engine only through the console's report and writes settings only
// through their setters. The real window feeds it pointer, key and timer
// events in logical units and hands it a painter.

#include "ui/geometry.h"
#include "ui/painter.h"
#include "ui/window_host.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace console {
class Console;
}
namespace settings {
class Setups;
}
namespace soundboard {
class HotkeyActions;
enum class CaptureInput;
} // namespace soundboard
namespace platform {
class Files;
class KnownFolders;
} // namespace platform

namespace ui {

class InterfaceFonts;

enum class Key { Tab, Enter, Space, Escape, Left, Right, Up, Down, PageUp, PageDown, Home, End, Z, Y, Other };

struct Modifiers {
    bool shift = false;
    bool ctrl = false;
};

// What the window model needs besides the console; absent parts disable the
// controls that use them.
struct Services {
    settings::Setups* setups = nullptr;
    std::wstring recordingsFolder;
    // The face list with the add and remove flows (the font buttons need it).
    InterfaceFonts* fonts = nullptr;
    // The running program, for the autostart entry (the option needs it).
    std::wstring executablePath;
};

struct StartInfo {
    bool firstRun = false;         // no settings key existed at start
    std::wstring executableFolder; // where a portable "VantorOvix.ini" may lie
};

class MainWindow {
public:
    MainWindow(console::Console& console, WindowHost& host, Services services);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // The interface's steps of start-up, after the window exists: the
    // current setup restored (on a first run without one, the portable file
    // beside the executable imported), the installations search started, the
    // environment list's saved scroll row.
    void start(const StartInfo& info);
    // Before start: the folders the installations search walks (without
    // them there is no search), and the installed faces a setup's font is
    // checked against (without them only the current face is kept; the
    // interface fonts of the services, when given, take their place).
    void setInstallationsSearch(platform::Files& files, platform::KnownFolders& knownFolders);
    void setFontFaces(std::vector<std::wstring> faces);

    // Draws what lies in invalid (logical units), in the paint order: canvas,
    // caption and tabs, headings, the page, overlays.
    void paint(Painter& painter, const Rect& invalid);

    void pointerMove(Point p);
    void pointerDown(Point p);
    void pointerUp(Point p);
    // The right or middle button pressed; pointerUp ends it.
    void secondaryDown(Point p);
    void doubleClick(Point p);
    void pointerLeave();
    void wheel(Point p, float notches); // positive: away from the user
    // True when the key was used.
    bool key(Key key, Modifiers modifiers);

    // Files dropped on the window: on the Soundboard tab they join the
    // library; elsewhere the first becomes the clip's source and the Sound
    // Clip tab is shown.
    void filesDropped(const std::vector<std::wstring>& paths);
    // A key that the native source field leaves to the window: Tab and
    // Shift+Tab move on from the field in reading order, Enter plays.
    void sourceFieldKey(Key key, Modifiers modifiers);

    // The draggable caption: the top band minus the tool rectangles.
    bool inCaption(Point p) const;

    // Re-reads the device lists in the background: the platform's device
    // change (no report) or the user's refresh (a report in the toast).
    void refreshDevices(bool userAsked);

    // The 16 ms frame tick and the 350 ms status tick; seconds on the
    // platform's clock.
    void tick(double nowSeconds);
    void slowTick(double nowSeconds);

    // A short status message, shown for 4.5 s.
    void showToast(std::wstring text, double nowSeconds);

    // The system's hotkey message: the action of its identifier, then a redraw.
    void hotkey(int id);
    // While a key capture runs, the message loop hands key-down,
    // system-key-down and middle and extra button presses here before
    // dispatching them; true when the capture took the message.
    bool capturing() const;
    bool captureInput(
        soundboard::CaptureInput input, uint16_t virtualKey, std::optional<uint32_t> modifiers = std::nullopt);
    // What the hotkeys' actions do through the window.
    soundboard::HotkeyActions& hotkeyActions();

    int page() const;
    int tab() const; // the shown tab of pages with tabs, else 0
    // Shows a page and, when tab is not negative, that tab of it.
    void selectPage(int page, int tab = -1);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace ui
