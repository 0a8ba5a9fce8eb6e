// Page 4, "Media & Recorder", its Soundboard (12) tab: the board's view,
// laid out for the tab, over the console's soundboard.

#include "ui/board_view.h"
#include "ui/main_window_impl.h"

namespace ui {

void MainWindow::Impl::buildBoardTab()
{
    soundboard::Soundboard& board = console.soundboard();
    boardView = std::make_unique<BoardView>(board, console.hotkeys(), host, console.platform().clock);
    for (auto& control : boardView->controls(BoardPlace::Tab))
        add(pages[4], std::move(control), kBoardTab);
    // Pad loads and the trim preview's decode run as the window's background
    // work; their results and every change repaint the tab at once (the
    // soundboard window follows at its next tick).
    board.setRunner([this](std::function<void()> work, std::function<void()> done) {
        host.runInBackground(std::move(work), std::move(done));
    });
    board.setRedraw([this] { refresh(); });
    boardHooks.board = &board;
}

} // namespace ui
