#pragma once
// The soundboard as both of its views show it: the "Soundboard (12)" tab of
// the main window and the separate soundboard window. One set of controls
// (the pad grid, the library list, the buttons, the headings and the status
// line) is laid out for either place, and every click in either view goes
// through the one handler here. The pads, the library and the selection live
// in the soundboard itself, so both views always agree.

#include "platform/clock.h"
#include "soundboard/hotkeys.h"
#include "soundboard/soundboard.h"
#include "ui/toolkit.h"
#include "ui/window_host.h"

#include <memory>
#include <string>
#include <vector>

namespace ui {

enum class BoardPlace { Tab, Window };

// The separate window's canvas, in logical units.
inline constexpr float kBoardWindowWidth = 760.0f;
inline constexpr float kBoardWindowHeight = 392.0f;
inline constexpr int kBoardColumns = 4;
inline constexpr int kLibraryVisibleRows = 8;
// How long the soundboard's status line stays up after it was set.
inline constexpr double kBoardStatusSeconds = 6.0;

struct BoardLayout {
    Rect padsHeading, padsHint, grid;
    Rect libraryHeading, list;
    float rowHeight = 25.0f; // library rows
    Rect assign, clear, trim, rename, setKey, stopAll, stopKey;
    Rect add, remove;
    Rect status;
};
BoardLayout boardLayout(BoardPlace place);
Rect padRect(const BoardLayout& layout, int pad);
// The library's first visible row ranges over 0..count-8.
int maxFirstRow(size_t count);

enum class BoardClick { Single, Double, Secondary };

class BoardView {
public:
    BoardView(soundboard::Soundboard& board, soundboard::Hotkeys& hotkeys, WindowHost& host, platform::Clock& clock);

    // The one click handler of both views. A click on a pad selects it first;
    // a single click plays or stops it, or fills an empty pad from the
    // selected library row; a double click renames; a right click only selects.
    void padClicked(int pad, BoardClick click);
    // A click selects the row; a double click assigns it to the selected pad.
    void rowClicked(int row, BoardClick click);
    void scrollTo(int firstRow);

    // The buttons.
    void addFromDialog();
    void removeRow();
    void assignPad();
    void clearPad();
    void trimPad();
    void renamePad();
    void setKey();
    void stopAll();
    void stopKey();
    void filesDropped(const std::vector<std::wstring>& paths);

    // Title, "Empty Pad N", "Loading..." or "Load error".
    std::wstring padText(int pad) const;
    std::wstring padKeyText(int pad);
    std::wstring setKeyLabel() const;
    std::wstring stopKeyLabel();
    // The capture's prompt while one runs, else the status while it is fresh.
    std::wstring statusLine();
    bool selectedHasPath() const;

    // The controls of one view, in reading order.
    std::vector<std::unique_ptr<Control>> controls(BoardPlace place);

    soundboard::Soundboard& board() { return board_; }

private:
    soundboard::Soundboard& board_;
    soundboard::Hotkeys& hotkeys_;
    WindowHost& host_;
    platform::Clock& clock_;
};

} // namespace ui
