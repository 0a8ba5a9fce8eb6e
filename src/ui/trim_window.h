#pragma once
// The "Trim Sound Pad" dialog apart from any platform: the pad's whole file
// as a waveform (built on a worker; "Loading waveform..." until then) with
// the chosen range, the start and end fields, the length, and Preview,
// Reset, Save and Cancel. Dragging on the waveform sets the range, the wheel
// zooms. The real window lays two native edit fields over the field
// rectangles and hands their text over on every change.

#include "clip/loaders.h"
#include "settings/settings.h"
#include "soundboard/soundboard.h"
#include "ui/main_window.h"
#include "ui/painter.h"
#include "ui/window_host.h"

#include <atomic>
#include <memory>
#include <string>
#include <string_view>

namespace platform {
class Media;
}

namespace ui {

inline constexpr float kTrimWindowWidth = 560.0f;
inline constexpr float kTrimWindowHeight = 292.0f;
inline constexpr Rect kTrimStartField{92, 184, 96, 24};
inline constexpr Rect kTrimEndField{272, 184, 96, 24};
inline constexpr Rect kTrimWave{16, 48, 528, 120};

// A field's text read as seconds: a decimal number, anything else is 0.
double secondsFromText(std::wstring_view text);
// "%.2f".
std::wstring secondsText(double seconds);

class ControlPanel;

class TrimWindow {
public:
    TrimWindow(
        soundboard::Soundboard& board, settings::Settings& settings, WindowHost& host, platform::Media& media, int pad);
    ~TrimWindow();
    TrimWindow(const TrimWindow&) = delete;
    TrimWindow& operator=(const TrimWindow&) = delete;

    // The outline of the pad's file: sets the first range (tests hand one in).
    void outlineArrived(clip::OutlineRef outline, const std::wstring& message);

    // The fields were typed in: both are read again and the range normalised.
    void fieldsEdited(std::wstring_view start, std::wstring_view end);
    // Whether the fields show, and what they should read; the serial moves
    // whenever the dialog (not the typing) changed the range.
    bool fieldsShown() const;
    std::wstring startText() const;
    std::wstring endText() const;
    uint32_t fieldSerial() const;
    soundboard::TrimRange range() const;
    double duration() const;

    void paint(Painter& painter);
    void pointerMove(Point p);
    void pointerDown(Point p);
    void pointerUp(Point p);
    void doubleClick(Point p);
    void pointerLeave();
    void wheel(Point p, float notches);
    bool key(Key key, Modifiers modifiers); // Escape asks to close
    bool tick(double seconds);

    // Preview, Reset, Save and Cancel.
    void preview();
    void reset();
    void save();
    void cancel();
    bool closeRequested() const;

    // The waveform's view: zoom 1 shows the whole file.
    double zoom() const;
    double secondsAt(float x) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace ui
