#pragma once
// The separate soundboard window apart from any platform: the board's view
// laid out for the window (22-unit library rows) on a canvas of its own. The
// real window feeds it events in logical units and hands it a painter.

#include "ui/board_view.h"
#include "ui/control_panel.h"

namespace ui {

class BoardWindow {
public:
    BoardWindow(soundboard::Soundboard& board, soundboard::Hotkeys& hotkeys, settings::Settings& settings,
        WindowHost& host, platform::Clock& clock);

    void paint(Painter& painter);
    void pointerMove(Point p) { panel_.pointerMove(p); }
    void pointerDown(Point p) { panel_.pointerDown(p); }
    void pointerUp(Point p) { panel_.pointerUp(p); }
    void secondaryDown(Point p) { panel_.secondaryDown(p); }
    void doubleClick(Point p) { panel_.doubleClick(p); }
    void pointerLeave() { panel_.pointerLeave(); }
    void wheel(Point p, float notches) { panel_.wheel(p, notches); }
    bool key(Key key, Modifiers modifiers);
    // True when the window draws differently than at its last paint (a pad
    // started or stopped, a load finished, the other view changed the board).
    bool tick(double seconds) { return panel_.tick(seconds); }
    void filesDropped(const std::vector<std::wstring>& paths) { view_.filesDropped(paths); }
    bool closeRequested() const { return closing_; }

private:
    BoardView view_;
    ControlPanel panel_;
    bool closing_ = false;
};

} // namespace ui
