#include "ui/board_view.h"

#include "ui/layout.h"
#include "ui/theme.h"

#include <algorithm>
#include <cmath>

namespace ui {

using namespace theme;
using soundboard::CaptureKind;
using soundboard::kPadCount;

namespace {

constexpr float kPadW = 95.0f, kPadH = 64.0f;
constexpr float kButtonW = kPadW;
constexpr float kScrollBarW = 10.0f;
constexpr int kWheelRows = 3;

// A rule the list, the grid and the status line use to repaint when what
// they show changes.
uint64_t hashText(const std::wstring& s, uint64_t h = 1469598103934665603ull)
{
    for (wchar_t c : s)
        h = (h ^ static_cast<uint64_t>(c)) * 1099511628211ull;
    return h;
}

std::wstring fileName(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// Drawn, not clicked: the headings and hints, and the status line.
class BoardLabels final : public Control {
public:
    BoardLabels(BoardView& view, BoardLayout layout) : view_(view), layout_(layout) { }
    bool focusable() const override { return false; }
    bool hit(Point) const override { return false; }
    void paint(Painter& painter, const ControlLook&) const override
    {
        paintSection(painter, layout_.padsHeading, L"Sound Pads (Click to Play / Stop)");
        painter.text(layout_.padsHint, L"Drop audio files or select on right", TextRole::Small, kTextDim, Align::Left);
        paintSection(painter, layout_.libraryHeading, L"Sound Library");
        if (view_.board().library().empty())
            painter.text({layout_.libraryHeading.x, layout_.padsHint.y, layout_.libraryHeading.w, layout_.padsHint.h},
                L"Click Add... or drop audio files here", TextRole::Small, kTextDim, Align::Left);
    }
    uint64_t state() const override { return view_.board().library().empty(); }

private:
    BoardView& view_;
    BoardLayout layout_;
};

class BoardStatus final : public Control {
public:
    explicit BoardStatus(BoardView& view) : view_(view) { }
    bool focusable() const override { return false; }
    bool hit(Point) const override { return false; }
    void paint(Painter& painter, const ControlLook&) const override
    {
        const std::wstring line = view_.statusLine();
        if (!line.empty())
            painter.text(bounds, fitted(painter, line, TextRole::Body, bounds.w), TextRole::Body, kText, Align::Left);
    }
    uint64_t state() const override { return hashText(view_.statusLine()); }

private:
    BoardView& view_;
};

// The twelve pads: a click goes to the view's handler; the arrows move the
// selection and Space or Enter clicks the selected pad.
class PadGrid final : public Control {
public:
    PadGrid(BoardView& view, BoardLayout layout) : view_(view), layout_(layout) { bounds = layout.grid; }

    int padAt(Point p) const
    {
        for (int i = 0; i < kPadCount; ++i)
            if (padRect(layout_, i).contains(p))
                return i;
        return -1;
    }
    bool hit(Point p) const override { return padAt(p) >= 0; }
    void press(Point p) override { click(p, BoardClick::Single); }
    void doubleClick(Point p) override { click(p, BoardClick::Double); }
    bool secondaryPress(Point p) override
    {
        click(p, BoardClick::Secondary);
        return false;
    }
    bool key(Key key, Modifiers) override
    {
        soundboard::Soundboard& b = view_.board();
        const int at = std::max(b.selectedPad, 0);
        int to = at;
        switch (key) {
        case Key::Left:
            to = at - 1;
            break;
        case Key::Right:
            to = at + 1;
            break;
        case Key::Up:
            to = at - kBoardColumns;
            break;
        case Key::Down:
            to = at + kBoardColumns;
            break;
        case Key::Home:
            to = 0;
            break;
        case Key::End:
            to = kPadCount - 1;
            break;
        case Key::Space:
        case Key::Enter:
            if (b.selectedPad < 0)
                return false;
            view_.padClicked(b.selectedPad, BoardClick::Single);
            return true;
        default:
            return false;
        }
        view_.padClicked(std::clamp(to, 0, kPadCount - 1), BoardClick::Secondary);
        return true;
    }
    void paint(Painter& painter, const ControlLook& look) const override
    {
        soundboard::Soundboard& b = view_.board();
        for (int i = 0; i < kPadCount; ++i) {
            const soundboard::Pad& pad = b.pad(i);
            const Rect r = padRect(layout_, i);
            const bool playing = b.playing(i);
            const bool empty = pad.path.empty();
            const bool selected = b.selectedPad == i;
            const Colour fill = playing ? kAccent : empty ? kCanvas : mix(kCanvas, kPanel, 0.6f);
            const Colour ink = playing ? kWhite : pad.loadError ? kDanger : empty ? kTextDim : kText;
            painter.fillRoundRect(r, 6, fill);
            painter.frameRoundRect(r, 6, selected ? kAccent : empty ? kTrack : kBorder, selected ? 2.0f : 1.0f);
            painter.text({r.x + 6, r.y + 3, 20, 14}, std::to_wstring(i + 1), TextRole::Small,
                playing ? kWhite : kTextDim, Align::Left);
            const Rect middle{r.x + 6, r.y + 16, r.w - 12, 30};
            const std::wstring text = view_.padText(i);
            const auto lines = wrapLines(painter, text, TextRole::Body, middle.w);
            if (lines.size() <= 1) {
                painter.text(
                    middle, fitted(painter, text, TextRole::Body, middle.w), TextRole::Body, ink, Align::Centre);
            } else {
                painter.text({middle.x, middle.y, middle.w, 15}, lines[0], TextRole::Body, ink, Align::Centre);
                const std::wstring rest = text.substr(std::min(text.size(), lines[0].size() + 1));
                painter.text({middle.x, middle.y + 15, middle.w, 15}, fitted(painter, rest, TextRole::Body, middle.w),
                    TextRole::Body, ink, Align::Centre);
            }
            if (pad.key)
                painter.text({r.x + 4, r.bottom() - 17, r.w - 8, 14},
                    fitted(painter, view_.padKeyText(i), TextRole::Small, r.w - 8), TextRole::Small,
                    playing ? kWhite : kTextDim, Align::Centre);
            if (look.focused && selected)
                drawFocusRing(painter, r, 8);
        }
    }
    uint64_t state() const override
    {
        soundboard::Soundboard& b = view_.board();
        uint64_t h = static_cast<uint64_t>(b.selectedPad + 1);
        for (int i = 0; i < kPadCount; ++i) {
            const soundboard::Pad& pad = b.pad(i);
            h = hashText(view_.padText(i), h * 31 + b.playing(i));
            h = h * 31 + pad.key;
        }
        return h;
    }

private:
    void click(Point p, BoardClick kind)
    {
        if (const int pad = padAt(p); pad >= 0)
            view_.padClicked(pad, kind);
    }
    BoardView& view_;
    BoardLayout layout_;
};

// The library: rows of file names over the list's height, with a scroll bar
// over more than eight entries (a click on it maps its place linearly).
class LibraryList final : public Control {
public:
    LibraryList(BoardView& view, BoardLayout layout) : view_(view), layout_(layout) { bounds = layout.list; }

    Rect rows() const { return bounds.inset(2, 2); }
    Rect bar() const { return {bounds.right() - kScrollBarW - 2, bounds.y + 2, kScrollBarW, bounds.h - 4}; }
    bool scrolling() const { return view_.board().library().size() > static_cast<size_t>(kLibraryVisibleRows); }
    int rowAt(Point p) const
    {
        const Rect r = rows();
        if (!r.contains(p) || (scrolling() && p.x >= bar().x))
            return -1;
        const int row = view_.board().firstRow + static_cast<int>((p.y - r.y) / layout_.rowHeight);
        return row < static_cast<int>(view_.board().library().size()) ? row : -1;
    }
    void press(Point p) override
    {
        if (scrolling() && bar().contains(p)) {
            barDrag_ = true;
            drag(p);
        } else if (const int row = rowAt(p); row >= 0) {
            view_.rowClicked(row, BoardClick::Single);
        }
    }
    void drag(Point p) override
    {
        if (!barDrag_)
            return;
        const Rect b = bar();
        const float t = std::clamp((p.y - b.y) / b.h, 0.0f, 1.0f);
        view_.scrollTo(
            static_cast<int>(std::lround(t * static_cast<float>(maxFirstRow(view_.board().library().size())))));
    }
    void release(Point, bool) override { barDrag_ = false; }
    void doubleClick(Point p) override
    {
        if (const int row = rowAt(p); row >= 0)
            view_.rowClicked(row, BoardClick::Double);
        else
            press(p);
    }
    bool wheel(float notches) override
    {
        view_.scrollTo(view_.board().firstRow - static_cast<int>(std::lround(notches * kWheelRows)));
        return true;
    }
    bool key(Key key, Modifiers) override
    {
        soundboard::Soundboard& b = view_.board();
        const int count = static_cast<int>(b.library().size());
        if (count == 0)
            return false;
        int to = b.selectedRow;
        switch (key) {
        case Key::Up:
            to = std::max(0, to - 1);
            break;
        case Key::Down:
            to = std::min(count - 1, to + 1);
            break;
        case Key::PageUp:
            to = std::max(0, to - kLibraryVisibleRows);
            break;
        case Key::PageDown:
            to = std::min(count - 1, to + kLibraryVisibleRows);
            break;
        case Key::Home:
            to = 0;
            break;
        case Key::End:
            to = count - 1;
            break;
        case Key::Enter:
            if (to < 0)
                return false;
            view_.rowClicked(to, BoardClick::Double);
            return true;
        default:
            return false;
        }
        view_.rowClicked(to, BoardClick::Single);
        if (to < b.firstRow)
            view_.scrollTo(to);
        else if (to >= b.firstRow + kLibraryVisibleRows)
            view_.scrollTo(to - kLibraryVisibleRows + 1);
        return true;
    }
    void paint(Painter& painter, const ControlLook& look) const override
    {
        soundboard::Soundboard& b = view_.board();
        const auto& library = b.library();
        painter.fillRoundRect(bounds, 4, kCanvas);
        painter.frameRoundRect(bounds, 4, kTrack, 1.0f);
        const Rect r = rows();
        const float textW = r.w - (scrolling() ? kScrollBarW + 4 : 0) - 16;
        painter.pushClip(r);
        for (int i = 0; i < kLibraryVisibleRows; ++i) {
            const int row = b.firstRow + i;
            if (row < 0 || row >= static_cast<int>(library.size()))
                break;
            const Rect line{r.x, r.y + static_cast<float>(i) * layout_.rowHeight, textW + 16, layout_.rowHeight};
            const bool selected = row == b.selectedRow;
            if (selected)
                painter.fillRect(line, kAccent);
            const std::wstring name = fileName(library[static_cast<size_t>(row)]);
            painter.text(line.inset(8, 0), fitted(painter, name, TextRole::Body, textW), TextRole::Body,
                selected ? kWhite : kText, Align::Left);
        }
        painter.popClip();
        if (library.empty())
            painter.text(r, L"No sounds yet", TextRole::Small, kTextDim, Align::Centre);
        if (scrolling()) {
            const Rect track = bar();
            painter.fillRoundRect(track, 4, kPanel);
            const float share = static_cast<float>(kLibraryVisibleRows) / static_cast<float>(library.size());
            const float thumbH = std::max(20.0f, track.h * share);
            const float t = static_cast<float>(b.firstRow) / static_cast<float>(maxFirstRow(library.size()));
            painter.fillRoundRect({track.x, track.y + t * (track.h - thumbH), track.w, thumbH}, 4, kBorder);
        }
        if (look.focused)
            drawFocusRing(painter, bounds, 6);
    }
    uint64_t state() const override
    {
        soundboard::Soundboard& b = view_.board();
        uint64_t h = static_cast<uint64_t>(b.firstRow) * 1000003 + static_cast<uint64_t>(b.selectedRow + 1);
        for (const std::wstring& path : b.library())
            h = hashText(path, h);
        return h;
    }

private:
    BoardView& view_;
    BoardLayout layout_;
    bool barDrag_ = false;
};

} // namespace

BoardLayout boardLayout(BoardPlace place)
{
    const bool tab = place == BoardPlace::Tab;
    const float top = tab ? kContentTop : kMargin;
    const float left = kMargin, leftW = 4 * kPadW + 3 * kGrid;
    const float right = tab ? 440.0f : left + leftW + 16;
    const float rightW = tab ? 404.0f : kBoardWindowWidth - kMargin - right;
    BoardLayout l;
    l.rowHeight = tab ? 25.0f : 22.0f;
    l.padsHeading = {left, top, leftW, 20};
    l.padsHint = {left, top + 22, leftW, 16};
    l.grid = {left, top + 48, leftW, 3 * kPadH + 2 * kGrid};
    l.libraryHeading = {right, top, rightW, 20};
    l.list = {right, top + 48, rightW, kLibraryVisibleRows * l.rowHeight + 4};
    const float row1 = l.grid.bottom() + 16, row2 = row1 + 32;
    auto at = [&](int column, float y, int span = 1) {
        return Rect{left + static_cast<float>(column) * (kButtonW + kGrid), y,
            static_cast<float>(span) * kButtonW + static_cast<float>(span - 1) * kGrid, kRowHeight};
    };
    l.assign = at(0, row1);
    l.clear = at(1, row1);
    l.trim = at(2, row1);
    l.rename = at(3, row1);
    l.setKey = at(0, row2);
    l.stopAll = at(1, row2);
    l.stopKey = at(2, row2, 2);
    l.add = {right, row1, kButtonW, kRowHeight};
    l.remove = {right + kButtonW + kGrid, row1, kButtonW, kRowHeight};
    l.status = {left, row2 + 32, tab ? leftW : kBoardWindowWidth - 2 * kMargin, 20};
    return l;
}

Rect padRect(const BoardLayout& layout, int pad)
{
    const int column = pad % kBoardColumns, row = pad / kBoardColumns;
    return {layout.grid.x + static_cast<float>(column) * (kPadW + kGrid),
        layout.grid.y + static_cast<float>(row) * (kPadH + kGrid), kPadW, kPadH};
}

int maxFirstRow(size_t count)
{
    return std::max(0, static_cast<int>(count) - kLibraryVisibleRows);
}

BoardView::BoardView(
    soundboard::Soundboard& board, soundboard::Hotkeys& hotkeys, WindowHost& host, platform::Clock& clock)
    : board_(board), hotkeys_(hotkeys), host_(host), clock_(clock)
{ }

void BoardView::padClicked(int pad, BoardClick click)
{
    if (pad < 0 || pad >= kPadCount)
        return;
    board_.selectedPad = pad;
    const bool filled = !board_.pad(pad).path.empty();
    if (click == BoardClick::Secondary)
        return;
    if (click == BoardClick::Double && filled) {
        renamePad();
    } else if (filled) {
        board_.triggerPad(pad);
    } else if (board_.selectedRow >= 0 && board_.selectedRow < static_cast<int>(board_.library().size())) {
        board_.assignLibraryItem(pad);
    }
}

void BoardView::rowClicked(int row, BoardClick click)
{
    if (row < 0 || row >= static_cast<int>(board_.library().size()))
        return;
    board_.selectedRow = row;
    if (click == BoardClick::Double && board_.selectedPad >= 0)
        board_.assignLibraryItem(board_.selectedPad);
}

void BoardView::scrollTo(int firstRow)
{
    board_.firstRow = std::clamp(firstRow, 0, maxFirstRow(board_.library().size()));
}

void BoardView::addFromDialog()
{
    const std::vector<FileFilter> filters{
        {L"Audio & Video Files", L"*.mp3;*.wav;*.m4a;*.aac;*.ogg;*.flac;*.wma;*.opus;*.mp4;*.mkv;*.webm"},
        {L"All Files", L"*.*"}};
    board_.addFiles(host_.chooseFiles(L"Add Sounds to the Library", filters));
}

void BoardView::filesDropped(const std::vector<std::wstring>& paths)
{
    // The shell's drop hands over paths of up to 259 characters.
    std::vector<std::wstring> kept;
    for (const std::wstring& p : paths)
        if (!p.empty() && p.size() <= 259)
            kept.push_back(p);
    board_.addFiles(kept);
}

void BoardView::removeRow()
{
    board_.removeLibraryItem();
    scrollTo(board_.firstRow);
}

void BoardView::assignPad()
{
    if (board_.selectedPad >= 0)
        board_.assignLibraryItem(board_.selectedPad);
}

void BoardView::clearPad()
{
    if (selectedHasPath())
        board_.clearPad(board_.selectedPad);
}

void BoardView::trimPad()
{
    if (selectedHasPath())
        host_.openTrim(board_.selectedPad);
}

void BoardView::renamePad()
{
    if (!selectedHasPath())
        return;
    const int pad = board_.selectedPad;
    if (auto title
        = host_.promptText(L"Rename Pad", L"Title of pad " + std::to_wstring(pad + 1) + L":", board_.pad(pad).title))
        board_.renamePad(pad, *title);
}

void BoardView::setKey()
{
    if (board_.selectedPad >= 0)
        hotkeys_.startCapture({CaptureKind::Pad, board_.selectedPad});
}

void BoardView::stopAll()
{
    board_.stopAllPads();
}

void BoardView::stopKey()
{
    hotkeys_.startCapture({CaptureKind::StopAll, 0});
}

bool BoardView::selectedHasPath() const
{
    return board_.selectedPad >= 0 && board_.selectedPad < kPadCount && !board_.pad(board_.selectedPad).path.empty();
}

std::wstring BoardView::padText(int pad) const
{
    const soundboard::Pad& p = board_.pad(pad);
    if (p.path.empty())
        return L"Empty Pad " + std::to_wstring(pad + 1);
    if (p.loading)
        return L"Loading...";
    if (p.loadError)
        return L"Load error";
    return p.title;
}

std::wstring BoardView::padKeyText(int pad)
{
    return hotkeys_.keyText(board_.pad(pad).key);
}

std::wstring BoardView::setKeyLabel() const
{
    return hotkeys_.capture().kind == CaptureKind::Pad ? L"Listening..." : L"Set Key";
}

std::wstring BoardView::stopKeyLabel()
{
    if (hotkeys_.capture().kind == CaptureKind::StopAll)
        return L"Listening...";
    return L"Stop: " + hotkeys_.keyText(board_.stopKey());
}

std::wstring BoardView::statusLine()
{
    const soundboard::CaptureTarget c = hotkeys_.capture();
    if (c.kind == CaptureKind::Pad)
        return L"Press hotkey for Pad " + std::to_wstring(c.index + 1) + L" (Esc cancel, Backspace clear)";
    if (c.kind == CaptureKind::StopAll)
        return L"Press hotkey for Stop All (Esc cancel)";
    const double now = static_cast<double>(clock_.nowMicros()) / 1e6;
    if (board_.status().empty() || now - board_.statusTime() > kBoardStatusSeconds)
        return {};
    return board_.status();
}

std::vector<std::unique_ptr<Control>> BoardView::controls(BoardPlace place)
{
    const BoardLayout l = boardLayout(place);
    std::vector<std::unique_ptr<Control>> out;
    out.push_back(std::make_unique<BoardLabels>(*this, l));
    auto grid = std::make_unique<PadGrid>(*this, l);
    grid->tooltip = L"Click plays or stops a pad; double-click renames it; right-click selects it";
    out.push_back(std::move(grid));
    auto button = [&](std::wstring label, Rect r, std::wstring tip, void (BoardView::*action)(),
                      std::function<bool()> enabled = {}) {
        auto b = std::make_unique<Button>();
        b->label = std::move(label);
        b->bounds = r;
        b->tooltip = std::move(tip);
        b->onClick = [this, action] { (this->*action)(); };
        b->isEnabled = std::move(enabled);
        Button* raw = b.get();
        out.push_back(std::move(b));
        return raw;
    };
    auto hasPath = [this] { return selectedHasPath(); };
    button(
        L"Assign Pad", l.assign, L"Put the selected library sound on the selected pad", &BoardView::assignPad, [this] {
            return board_.selectedPad >= 0 && board_.selectedRow >= 0
                && board_.selectedRow < static_cast<int>(board_.library().size());
        });
    button(L"Clear Pad", l.clear, L"Empty the selected pad (its key stays)", &BoardView::clearPad, hasPath);
    button(L"Trim", l.trim, L"Choose the part of the sound the pad plays", &BoardView::trimPad, hasPath);
    button(L"Rename", l.rename, L"Change the selected pad's title", &BoardView::renamePad, hasPath);
    button(L"Set Key", l.setKey, L"Press a global key for the selected pad", &BoardView::setKey,
        [this] { return board_.selectedPad >= 0; })
        ->dynamicLabel
        = [this] { return setKeyLabel(); };
    button(L"Stop All", l.stopAll, L"Stop every playing pad", &BoardView::stopAll);
    button(L"Stop", l.stopKey, L"Press a global key that stops every pad", &BoardView::stopKey)->dynamicLabel
        = [this] { return stopKeyLabel(); };
    auto status = std::make_unique<BoardStatus>(*this);
    status->bounds = l.status;
    out.push_back(std::move(status));
    auto list = std::make_unique<LibraryList>(*this, l);
    list->tooltip = L"Click selects a sound; double-click puts it on the selected pad";
    out.push_back(std::move(list));
    button(L"Add...", l.add, L"Add audio or video files to the library", &BoardView::addFromDialog);
    button(L"Remove", l.remove, L"Remove the selected sound from the library", &BoardView::removeRow,
        [this] { return board_.selectedRow >= 0 && board_.selectedRow < static_cast<int>(board_.library().size()); });
    return out;
}

} // namespace ui
