#pragma once
// The interface's controls and timed pieces, apart from any window: the frame
// clock, the status toast, the mic meter, the smooth scroll and the controls
// (button, toggle, slider, list, drop-down). Controls draw through a Painter
// in logical units and change settings only through the record's setters.
// Everything here runs on the interface thread.

#include "settings/settings.h"
#include "ui/geometry.h"
#include "ui/main_window.h"
#include "ui/painter.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ui {

// The frame tick's two measures of the time since the previous tick: seconds
// clamped to 0.1 (the meter) and milliseconds clamped to 50 (the animations);
// the first tick counts as 0.016 s and 16 ms.
class FrameClock {
public:
    struct Step {
        double seconds = 0.0;
        double millis = 0.0;
    };
    Step advance(double nowSeconds);

private:
    bool started_ = false;
    double last_ = 0.0;
};

// One status text and when it was set; shown for 4.5 s (or a shorter life).
class Toast {
public:
    static constexpr double kLifeSeconds = 4.5;
    void set(std::wstring text, double nowSeconds, double life = kLifeSeconds);
    bool shown(double nowSeconds) const { return !text_.empty() && nowSeconds - setAt_ < life_; }
    const std::wstring& text() const { return text_; }

private:
    std::wstring text_;
    double setAt_ = 0.0;
    double life_ = kLifeSeconds;
};

// The mic meter's ballistics: a fast attack (12 ms), a fall of at most 26 dB
// per second, and a peak hold that waits 0.9 s and then falls 14 dB/s.
class MicMeter {
public:
    static constexpr double kFloorDb = -100.0;
    // The published peak (|sample| x 10000) in dB; the floor at or below 0.00001.
    static double levelDb(int32_t peak);
    void tick(double seconds, int32_t peak);
    double level() const { return level_; }
    double peakHold() const { return peak_; }

    // What the meter draws, in whole steps: the bar's and the peak tick's
    // length over a track of kTrackUnits (-60..0 dB), the warning colour at
    // -3 dB, the value in whole dB (kSilentDb: "-inf"). The window repaints
    // the meter only when this changes, not on every sub-step of the level.
    static constexpr int kTrackUnits = 120;
    static constexpr int kSilentDb = -1000;
    struct Look {
        int bar = 0, peak = 0;
        bool hot = false;
        int db = kSilentDb;
        bool operator==(const Look&) const = default;
    };
    Look look() const;
    // What the window draws: the look as sampled at most every
    // kFrameSeconds (every other tick). The ballistics still run on every
    // tick; a meter redrawn at the tick's full rate cost the interface
    // thread most of its time on speech.
    static constexpr double kFrameSeconds = 0.03;
    Look shown() const { return shown_; }

private:
    double level_ = kFloorDb;
    double peak_ = kFloorDb;
    double held_ = 0.0;
    Look shown_;
    double sinceFrame_ = 0.0;
};

// An exponential approach toward a target, snapping when close.
struct Smoothed {
    double value = 0.0;
    double target = 0.0;
    // True while it moved.
    bool advance(double seconds, double timeConstant, double snap);
};

// The control's look at the moment: animated hover and press (0..1), focus.
struct ControlLook {
    float hover = 0.0f;
    float press = 0.0f;
    bool focused = false;
};

class Control {
public:
    virtual ~Control() = default;

    Rect bounds;
    std::wstring tooltip;
    // Absent: always enabled.
    std::function<bool()> isEnabled;

    bool enabled() const { return !isEnabled || isEnabled(); }
    virtual bool focusable() const { return true; }
    // The rectangle a press or hover counts in (the bounds unless a control says otherwise).
    virtual bool hit(Point p) const { return bounds.contains(p); }

    virtual void paint(Painter& painter, const ControlLook& look) const = 0;
    // Pointer events in logical units; a press captures the pointer until the release.
    virtual void press(Point) { }
    virtual void drag(Point) { }
    virtual void release(Point, bool inside) { (void)inside; }
    virtual void doubleClick(Point p) { press(p); }
    // Notches away from the user are positive. True when used.
    virtual bool wheel(float) { return false; }
    // A wheel step with the pointer at p, for controls where the place matters.
    virtual bool wheelAt(Point, float notches) { return wheel(notches); }
    // The right or middle button pressed on the control; true captures the
    // pointer until the release, as a left press does.
    virtual bool secondaryPress(Point) { return false; }
    virtual bool key(Key, Modifiers) { return false; }
    // Advances the control's own motion (a list's scroll); true when it moved.
    virtual bool animate(double) { return false; }
    // A number that changes whenever the control would draw differently
    // apart from its look (value, selection, open pop-up); repaint follows it.
    virtual uint64_t state() const { return 0; }
    // A pop-up drawn over the page; empty when none is open.
    virtual Rect overlay() const { return {}; }
    virtual void paintOverlay(Painter&) const { }
    virtual void close() { }
};

void drawFocusRing(Painter& painter, const Rect& r, float radius);
// A section's heading: its text in r and a rule just below it.
void paintSection(Painter& painter, const Rect& r, std::wstring_view text);
// text when it fits in width, else its longest start that fits followed by "...".
std::wstring fitted(Painter& painter, std::wstring_view text, TextRole role, float width);
// text broken at spaces into lines no wider than width (a word wider than
// width gets a line of its own).
std::vector<std::wstring> wrapLines(Painter& painter, std::wstring_view text, TextRole role, float width);

enum class ButtonStyle {
    Plain,   // a bordered button on the canvas
    Primary, // filled with the accent
    Tool,    // a caption tool: no border until hovered
    Tab,     // a page tab or sub-tab: accent fill when selected
    Link,    // accent text on the canvas, underlined under the pointer: opens a web page
};

class Button : public Control {
public:
    std::wstring label;
    ButtonStyle style = ButtonStyle::Plain;
    std::function<void()> onClick;
    std::function<bool()> isSelected;                        // tabs
    std::function<void(Painter&, const Rect&, Colour)> icon; // drawn left of the label, or alone
    std::function<std::wstring()> dynamicLabel;              // overrides label when set

    std::wstring text() const { return dynamicLabel ? dynamicLabel() : label; }
    bool selected() const { return isSelected && isSelected(); }
    void paint(Painter& painter, const ControlLook& look) const override;
    void press(Point) override { down_ = true; }
    void release(Point, bool inside) override;
    void doubleClick(Point) override { down_ = true; }
    bool key(Key key, Modifiers) override;
    uint64_t state() const override;

private:
    bool down_ = false;
};

// A switch with its label; a click flips the flag through its setter.
class Toggle : public Control {
public:
    Toggle(settings::Settings& settings, settings::FlagField settings::Settings::*field, std::wstring label);
    // A switch over something other than one flag (a bit of a field, a choice).
    Toggle(std::wstring label, std::function<bool()> read, std::function<void(bool)> write);
    std::wstring label;
    std::function<void()> onChange;

    bool on() const;
    void paint(Painter& painter, const ControlLook& look) const override;
    void release(Point, bool inside) override;
    void doubleClick(Point) override { }
    bool key(Key key, Modifiers) override;
    uint64_t state() const override { return on(); }

private:
    void flip();
    std::function<bool()> read_;
    std::function<void(bool)> write_;
};

// How a slider's track position maps to its value.
enum class SliderScale {
    Linear,
    Square, // value grows with the square of the position: fine steps near zero (gains)
};

// A labelled slider over an integer field: a label and the value in its unit
// above a track. Drag, wheel, keys (arrows step, Page Up/Down ten steps,
// Home/End the ends) and a double-click that restores the default.
class Slider : public Control {
public:
    Slider(settings::Settings& settings, settings::IntField settings::Settings::*field, std::wstring label);
    std::wstring label;
    int32_t minimum = 0;
    int32_t maximum = 100;
    int32_t defaultValue = 0;
    int32_t step = 1;
    int32_t pageStep = 10;
    SliderScale scale = SliderScale::Linear;
    std::function<std::wstring(int32_t)> format;
    // When set, a new value goes here instead of straight into the field
    // (a slider whose position moves other fields too).
    std::function<void(int32_t)> onSet;

    int32_t value() const;
    void setValue(int64_t v);
    // Track geometry and the mapping between a track x and a value.
    Rect track() const;
    int32_t valueAt(float x) const;
    float positionOf(int32_t v) const; // 0..1 along the track

    void paint(Painter& painter, const ControlLook& look) const override;
    void press(Point p) override;
    void drag(Point p) override;
    void release(Point, bool) override { dragging_ = false; }
    void doubleClick(Point) override;
    bool wheel(float notches) override;
    bool key(Key key, Modifiers) override;
    uint64_t state() const override { return static_cast<uint32_t>(value()) | (uint64_t{dragging_} << 32); }

private:
    settings::Settings& settings_;
    settings::IntField settings::Settings::*field_;
    bool dragging_ = false;
};

// A list of rows with a smoothly scrolling view: the wheel moves the top row,
// the shown top follows it with a 45 ms time constant and snaps within 0.01 rows.
class ListBox : public Control {
public:
    static constexpr float kRowHeight = 24.0f;
    static constexpr double kScrollTimeConstant = 0.045;
    static constexpr double kScrollSnapRows = 0.01;

    std::vector<std::wstring> rows;
    std::function<int()> selected;         // the selected row, -1 for none
    std::function<void(int)> onSelect;     // a click or key picked a row
    std::function<void(int)> onScroll;     // the user moved the top row
    std::function<std::wstring()> caption; // a hint line under the rows, empty for none

    int visibleRows() const;
    int maxTop() const;
    int top() const { return top_; }
    double shownTop() const { return scroll_.value; }
    // Moves the view; jump skips the smooth motion (start-up, resets).
    void setTop(int row, bool jump);
    void ensureVisible(int row, bool jump);
    int rowAt(Point p) const; // -1 outside the rows

    void paint(Painter& painter, const ControlLook& look) const override;
    void press(Point p) override;
    void doubleClick(Point p) override { press(p); }
    bool wheel(float notches) override;
    bool key(Key key, Modifiers) override;
    bool animate(double seconds) override;
    uint64_t state() const override;

private:
    Rect rowsArea() const;
    int top_ = 0;
    Smoothed scroll_;
};

// A custom-drawn drop-down: a box showing the choice, and a pop-up list of
// choices drawn over the page. The pop-up opens on a click or Space/Enter,
// follows the pointer or the arrows, picks on a click or Enter, and closes on
// Escape or a click elsewhere.
class DropDown : public Control {
public:
    static constexpr int kMaxVisibleRows = 8;

    std::wstring label; // drawn left of the box when labelWidth > 0
    float labelWidth = 0.0f;
    std::vector<std::wstring> items;
    std::function<int()> selected;   // -1: no choice shown
    std::function<void(int)> onPick; // the user picked an entry
    std::wstring emptyText = L"(none)";

    Rect box() const;
    bool isOpen() const { return open_; }
    void open();
    void close() override { open_ = false; }
    Rect popup() const;
    int popupRowAt(Point p) const; // -1 outside
    int hoverRow() const { return hover_; }

    bool hit(Point p) const override { return box().contains(p); }
    void paint(Painter& painter, const ControlLook& look) const override;
    void press(Point p) override;
    void doubleClick(Point) override { }
    bool key(Key key, Modifiers) override;
    bool wheel(float notches) override;
    uint64_t state() const override;
    Rect overlay() const override { return open_ ? popup() : Rect{}; }
    void paintOverlay(Painter& painter) const override;

    // While open, the window routes the pointer here first.
    void popupMove(Point p);
    // A press while open: picks a row inside the pop-up, closes it either way.
    void popupPress(Point p);

private:
    void pick(int row);
    bool open_ = false;
    int hover_ = -1;
    int first_ = 0; // first row shown in the pop-up
};

// Icons drawn with the painter's primitives, centred in r.
namespace icons {
void chevronLeft(Painter& p, const Rect& r, Colour c);
void chevronRight(Painter& p, const Rect& r, Colour c);
void chevronDown(Painter& p, const Rect& r, Colour c);
void minimise(Painter& p, const Rect& r, Colour c);
void close(Painter& p, const Rect& r, Colour c);
void reset(Painter& p, const Rect& r, Colour c);   // an arrow going round
void refresh(Painter& p, const Rect& r, Colour c); // two arrows going round
void grid(Painter& p, const Rect& r, Colour c);    // the soundboard's pads
void sliders(Painter& p, const Rect& r, Colour c); // the tone controls
void help(Painter& p, const Rect& r, Colour c);    // a ring around "?"
} // namespace icons

// A tooltip box: at most 320 units wide, below and right of the pointer,
// kept on the canvas. Returns where it is drawn.
Rect tooltipRect(Painter& painter, std::wstring_view text, Point pointer);
void paintTooltip(Painter& painter, std::wstring_view text, const Rect& r);

} // namespace ui
