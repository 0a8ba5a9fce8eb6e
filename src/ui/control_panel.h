#pragma once
// The controls of a small window of its own (the soundboard, the trim
// dialog): who is under the pointer, pressed and focused, their hover and
// press motion, Tab order, tooltips, and one number that changes whenever the
// drawing would. The real window feeds it events in logical units.

#include "settings/settings.h"
#include "ui/main_window.h"
#include "ui/painter.h"
#include "ui/toolkit.h"

#include <memory>
#include <vector>

namespace ui {

class ControlPanel {
public:
    ControlPanel(settings::Settings& settings, Point canvas) : settings_(settings), canvas_(canvas) { }

    // Controls in reading (focus) order; the panel owns them.
    template <class T> T* add(std::unique_ptr<T> control)
    {
        T* raw = control.get();
        controls_.push_back({std::move(control), {}, {}});
        return raw;
    }
    void adopt(std::vector<std::unique_ptr<Control>> controls);

    // The controls, then the tooltip; remembers what it drew.
    void paint(Painter& painter);
    void pointerMove(Point p);
    void pointerDown(Point p);
    void pointerUp(Point p);
    void secondaryDown(Point p);
    void doubleClick(Point p);
    void pointerLeave();
    void wheel(Point p, float notches);
    // Tab and Shift+Tab move the focus; other keys go to the focused control.
    bool key(Key key, Modifiers modifiers);
    // Hover and press motion; true when the drawing changed since the last paint.
    bool tick(double seconds);

private:
    struct Entry {
        std::unique_ptr<Control> control;
        Smoothed hover, press;
    };
    Control* at(Point p) const;
    bool tooltipShown() const;
    uint64_t signature() const;

    settings::Settings& settings_;
    Point canvas_;
    std::vector<Entry> controls_;
    Control* hot_ = nullptr;
    Control* captured_ = nullptr;
    Control* focused_ = nullptr;
    bool focusShown_ = false;
    Point pointer_{-1, -1};
    double hoverSeconds_ = 0.0;
    bool tipBlocked_ = false;
    uint64_t drawn_ = 0;
};

} // namespace ui
