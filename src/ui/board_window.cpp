#include "ui/board_window.h"

#include "ui/theme.h"

namespace ui {

BoardWindow::BoardWindow(soundboard::Soundboard& board, soundboard::Hotkeys& hotkeys, settings::Settings& settings,
    WindowHost& host, platform::Clock& clock)
    : view_(board, hotkeys, host, clock), panel_(settings, {kBoardWindowWidth, kBoardWindowHeight})
{
    panel_.adopt(view_.controls(BoardPlace::Window));
}

void BoardWindow::paint(Painter& painter)
{
    painter.fillRect({0, 0, kBoardWindowWidth, kBoardWindowHeight}, theme::kCanvas);
    panel_.paint(painter);
}

bool BoardWindow::key(Key key, Modifiers modifiers)
{
    if (key == Key::Escape) {
        closing_ = true;
        return true;
    }
    return panel_.key(key, modifiers);
}

} // namespace ui
