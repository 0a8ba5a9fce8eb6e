// The soundboard's two views (the tab and the window) over one console: one
// click handler, the pad texts, the library's scrolling, where dropped files
// go, and the trim dialog's fields and range.

#include "console/console.h"
#include "platform/sim/manual_clock.h"
#include "platform/sim/memory_registry.h"
#include "platform/sim/sim_audio.h"
#include "platform/sim/sim_media.h"
#include "ui/board_view.h"
#include "ui/board_window.h"
#include "ui/layout.h"
#include "ui/main_window.h"
#include "ui/recording_painter.h"
#include "ui/theme.h"
#include "ui/trim_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

using ui::BoardLayout;
using ui::BoardPlace;
using ui::Point;
using ui::RecordingPainter;
using ui::Rect;

class Host final : public ui::WindowHost {
public:
    std::vector<std::pair<std::function<void()>, std::function<void()>>> jobs;
    std::vector<std::wstring> promptAnswers, filesAnswer;
    std::vector<ui::FileFilter> filters;
    int trimFor = -1;

    void invalidate(const Rect&) override { }
    void minimise() override { }
    void close() override { }
    void applyWindowLook() override { }
    int showMenu(const std::vector<ui::MenuItem>&, Point) override { return -1; }
    std::optional<std::wstring> promptText(std::wstring_view, std::wstring_view, std::wstring_view) override
    {
        if (promptAnswers.empty())
            return std::nullopt;
        std::wstring answer = promptAnswers.front();
        promptAnswers.erase(promptAnswers.begin());
        return answer;
    }
    void shellOpen(const std::wstring&, const std::wstring&) override { }
    void showAbout() override { }
    void runInBackground(std::function<void()> work, std::function<void()> done) override
    {
        jobs.emplace_back(std::move(work), std::move(done));
    }
    std::vector<std::wstring> chooseFiles(std::wstring_view, const std::vector<ui::FileFilter>& f) override
    {
        filters = f;
        return filesAnswer;
    }
    void openTrim(int pad) override { trimFor = pad; }
    void runJobs()
    {
        while (!jobs.empty()) {
            auto pending = std::move(jobs);
            jobs.clear();
            for (auto& [work, done] : pending) {
                work();
                done();
            }
        }
    }
};

Point centre(const Rect& r)
{
    return {r.x + r.w / 2, r.y + r.h / 2};
}

class Board : public ::testing::Test {
protected:
    Board()
    {
        for (const wchar_t* name :
            {L"C:\\Sounds\\Airhorn.wav", L"C:\\Sounds\\Drum roll.mp3", L"C:\\Sounds\\Applause.wav"})
            media.addSource(name, {});
    }
    console::Platform platformFor()
    {
        return {.clock = clock,
            .devices = audio,
            .keys = nullptr,
            .files = nullptr,
            .responseFolder = {},
            .registry = &registry,
            .machineRegistry = nullptr,
            .web = nullptr,
            .processes = nullptr,
            .signatures = nullptr,
            .cableFolder = {},
            .vendorSite = {},
            .media = &media};
    }
    void clickTab(Point p)
    {
        tab.pointerMove(p);
        tab.pointerDown(p);
        tab.pointerUp(p);
    }
    void clickWindow(Point p)
    {
        window.pointerMove(p);
        window.pointerDown(p);
        window.pointerUp(p);
    }
    Point tabPad(int pad) const { return centre(ui::padRect(ui::boardLayout(BoardPlace::Tab), pad)); }
    Point windowPad(int pad) const { return centre(ui::padRect(ui::boardLayout(BoardPlace::Window), pad)); }
    Point tabRow(int shownRow) const
    {
        const BoardLayout l = ui::boardLayout(BoardPlace::Tab);
        return {l.list.x + 40, l.list.y + 2 + l.rowHeight * (static_cast<float>(shownRow) + 0.5f)};
    }
    RecordingPainter paintWindow()
    {
        RecordingPainter painter;
        window.paint(painter);
        return painter;
    }
    RecordingPainter paintTab()
    {
        RecordingPainter painter;
        tab.paint(painter, {0, 0, ui::kCanvasWidth, ui::kCanvasHeight});
        return painter;
    }
    // Lets the pad player take its queued commands, as the engine does once a block.
    void mixBlock()
    {
        std::vector<float> l(480), r(480);
        console.pads().mixInto(l.data(), r.data(), 480);
    }
    soundboard::Soundboard& board() { return console.soundboard(); }

    platform::sim::ManualClock clock;
    platform::sim::SimAudio audio{clock};
    platform::sim::MemoryRegistry registry;
    platform::sim::SimMedia media{&clock};
    console::Console console{platformFor()};
    Host host;
    ui::MainWindow tab{console, host, {}};
    ui::BoardWindow window{board(), console.hotkeys(), console.settings(), host, console.platform().clock};
};

TEST_F(Board, BothViewsShareOneClickHandlerAndOneBoard)
{
    tab.selectPage(4, 1);
    window.filesDropped({L"C:\\Sounds\\Airhorn.wav", L"C:\\Sounds\\Drum roll.mp3"});
    ASSERT_EQ(board().library().size(), 2u);
    EXPECT_NE(paintTab().findText(L"Drum roll.mp3"), nullptr) << "the tab shows what the window added";

    // A row picked in the tab fills an empty pad clicked in the window.
    clickTab(tabRow(0));
    clickWindow(windowPad(0));
    EXPECT_EQ(board().pad(0).path, L"C:\\Sounds\\Airhorn.wav");
    EXPECT_NE(paintTab().findText(L"Loading..."), nullptr);
    host.runJobs();
    EXPECT_NE(paintWindow().findText(L"Airhorn"), nullptr);

    // A click on the filled pad in the tab plays it, lit in the window; a click in the window stops it.
    clickTab(tabPad(0));
    mixBlock();
    ASSERT_TRUE(board().playing(0));
    const RecordingPainter lit = paintWindow();
    const Rect pad0 = ui::padRect(ui::boardLayout(BoardPlace::Window), 0);
    EXPECT_TRUE(std::any_of(lit.calls.begin(), lit.calls.end(), [&](const RecordingPainter::Call& c) {
        return c.op == RecordingPainter::Op::FillRoundRect && c.rect == pad0 && c.colour == ui::theme::kAccent;
    })) << "a playing pad is lit";
    clickWindow(windowPad(0));
    for (int i = 0; i < 4; ++i)
        mixBlock();
    EXPECT_FALSE(board().playing(0));

    // A right click only selects, even an empty pad with a row selected.
    tab.secondaryDown(tabPad(5));
    tab.pointerUp(tabPad(5));
    EXPECT_EQ(board().selectedPad, 5);
    EXPECT_TRUE(board().pad(5).path.empty());
    // A double click on a row assigns it to the selected pad.
    tab.doubleClick(tabRow(1));
    EXPECT_EQ(board().pad(5).path, L"C:\\Sounds\\Drum roll.mp3");
    // A double click on a filled pad renames it; a cancelled prompt changes nothing.
    host.promptAnswers = {L"Big horn"};
    window.doubleClick(windowPad(0));
    EXPECT_EQ(board().pad(0).title, L"Big horn");
    window.doubleClick(windowPad(0));
    EXPECT_EQ(board().pad(0).title, L"Big horn");

    // "Add..." offers the two type lists and adds only new files.
    host.filesAnswer = {L"C:\\Sounds\\Airhorn.wav", L"C:\\Sounds\\Applause.wav"};
    clickWindow(centre(ui::boardLayout(BoardPlace::Window).add));
    ASSERT_EQ(host.filters.size(), 2u);
    EXPECT_EQ(host.filters[0].name, L"Audio & Video Files");
    EXPECT_EQ(host.filters[1].patterns, L"*.*");
    EXPECT_EQ(board().library().size(), 3u);
    // Trim opens the dialog for the selected pad.
    clickTab(tabPad(0));
    clickTab(centre(ui::boardLayout(BoardPlace::Tab).trim));
    EXPECT_EQ(host.trimFor, 0);
}

TEST_F(Board, PadsAndKeyButtonsSayWhatTheyAreDoing)
{
    ui::BoardView view(board(), console.hotkeys(), host, clock);
    EXPECT_EQ(view.padText(1), L"Empty Pad 2");
    media.addSource(L"C:\\Sounds\\Broken.wav", {});
    media.removeSource(L"C:\\Sounds\\Broken.wav");
    view.filesDropped({L"C:\\Sounds\\Airhorn.wav", L"C:\\Sounds\\Broken.wav"});
    view.rowClicked(0, ui::BoardClick::Single);
    view.padClicked(0, ui::BoardClick::Single);
    view.rowClicked(1, ui::BoardClick::Single);
    view.padClicked(1, ui::BoardClick::Single);
    EXPECT_EQ(view.padText(0), L"Loading...");
    host.runJobs();
    EXPECT_EQ(view.padText(0), L"Airhorn");
    EXPECT_EQ(view.padText(1), L"Load error");

    // Set Key listens for the selected pad with its prompt; the stop key shows its key.
    view.padClicked(2, ui::BoardClick::Secondary);
    view.setKey();
    EXPECT_EQ(view.setKeyLabel(), L"Listening...");
    EXPECT_EQ(view.statusLine(), L"Press hotkey for Pad 3 (Esc cancel, Backspace clear)");
    view.setKey();
    EXPECT_EQ(view.setKeyLabel(), L"Set Key") << "pressed again for the same pad it cancels";
    view.stopKey();
    EXPECT_EQ(view.stopKeyLabel(), L"Listening...");
    EXPECT_EQ(view.statusLine(), L"Press hotkey for Stop All (Esc cancel)");
    view.stopKey();
    EXPECT_EQ(view.stopKeyLabel(), L"Stop: Not set");
}

TEST_F(Board, LibraryScrollsOverZeroToCountMinusEight)
{
    const BoardLayout l = ui::boardLayout(BoardPlace::Tab);
    EXPECT_EQ(l.rowHeight, 25.0f);
    EXPECT_EQ(ui::boardLayout(BoardPlace::Window).rowHeight, 22.0f);
    tab.selectPage(4, 1);
    std::vector<std::wstring> files;
    for (int i = 0; i < 12; ++i)
        files.push_back(L"C:\\Sounds\\Take " + std::to_wstring(i) + L".wav");
    tab.filesDropped(files);
    ASSERT_EQ(board().library().size(), 12u);
    tab.wheel(centre(l.list), -10);
    EXPECT_EQ(board().firstRow, 4);
    tab.wheel(centre(l.list), 10);
    EXPECT_EQ(board().firstRow, 0);
    // The bar's bottom end shows the last rows; a click on a row under it selects by what is shown.
    const Point barBottom{l.list.right() - 6, l.list.bottom() - 3};
    clickTab(barBottom);
    EXPECT_EQ(board().firstRow, 4);
    clickTab(tabRow(7));
    EXPECT_EQ(board().selectedRow, 11);
    // Removing rows keeps the first row inside the shorter range.
    for (int i = 0; i < 6; ++i)
        clickTab(centre(l.remove));
    EXPECT_EQ(board().library().size(), 6u);
    EXPECT_EQ(board().firstRow, 0);
}

TEST_F(Board, FilesDroppedOnTheSoundboardTabJoinTheLibraryElsewhereTheyAreAClip)
{
    tab.selectPage(4, 1);
    tab.filesDropped({L"C:\\Sounds\\Airhorn.wav", std::wstring(L"C:\\") + std::wstring(300, L'x') + L".wav"});
    EXPECT_EQ(board().library(), std::vector<std::wstring>{L"C:\\Sounds\\Airhorn.wav"})
        << "a path over 259 is left out";
    EXPECT_EQ(tab.tab(), 1);
    tab.selectPage(0);
    tab.filesDropped({L"C:\\Sounds\\Applause.wav"});
    EXPECT_EQ(board().library().size(), 1u);
    EXPECT_EQ(tab.page(), 4);
    EXPECT_EQ(tab.tab(), 0) << "elsewhere a drop still opens the Sound Clip tab";
}

TEST_F(Board, TrimFieldsReadNumbersAndTheRangeIsNormalised)
{
    EXPECT_EQ(ui::secondsFromText(L"1.25"), 1.25);
    EXPECT_EQ(ui::secondsFromText(L" 3 "), 3.0);
    EXPECT_EQ(ui::secondsFromText(L"abc"), 0.0);
    EXPECT_EQ(ui::secondsFromText(L"2x"), 0.0);
    EXPECT_EQ(ui::secondsFromText(L""), 0.0);
    EXPECT_EQ(ui::secondsText(2.0), L"2.00");

    board().addFiles({L"C:\\Sounds\\Airhorn.wav"});
    board().selectedRow = 0;
    board().assignLibraryItem(0);
    host.runJobs();
    ui::TrimWindow trim(board(), console.settings(), host, console.media(), 0);
    {
        RecordingPainter painter;
        trim.paint(painter);
        EXPECT_NE(painter.findText(L"Loading waveform..."), nullptr);
        EXPECT_FALSE(trim.fieldsShown());
    }
    auto outline = std::make_shared<clip::Outline>();
    outline->seconds = 10.0;
    outline->peaks.assign(2000, 0.5f);
    outline->maxPeak = 0.5f;
    trim.outlineArrived(outline, {});
    EXPECT_EQ(trim.startText(), L"0.00");
    EXPECT_EQ(trim.endText(), L"10.00");
    const uint32_t serial = trim.fieldSerial();
    trim.fieldsEdited(L"3", L"3.01");
    EXPECT_DOUBLE_EQ(trim.range().start, 3.0);
    EXPECT_NEAR(trim.range().end, 3.05, 1e-9);
    EXPECT_EQ(trim.fieldSerial(), serial) << "typing does not rewrite the fields";
    trim.fieldsEdited(L"5", L"2");
    EXPECT_DOUBLE_EQ(trim.range().start, 2.0);
    EXPECT_DOUBLE_EQ(trim.range().end, 5.0);
    trim.fieldsEdited(L"9.99", L"twelve");
    EXPECT_DOUBLE_EQ(trim.range().start, 0.0);
    EXPECT_DOUBLE_EQ(trim.range().end, 9.99);
    {
        RecordingPainter painter;
        trim.paint(painter);
        EXPECT_NE(painter.findText(L"Length: 9.99 s"), nullptr);
    }
    // A drag on the waveform sets the range; Save stores it on the pad and closes.
    const Rect r = ui::kTrimWave.inset(4, 4);
    trim.pointerMove({r.x + r.w * 0.2f, r.y + 10});
    trim.pointerDown({r.x + r.w * 0.2f, r.y + 10});
    trim.pointerMove({r.x + r.w * 0.5f, r.y + 10});
    trim.pointerUp({r.x + r.w * 0.5f, r.y + 10});
    EXPECT_NEAR(trim.range().start, 2.0, 1e-6);
    EXPECT_NEAR(trim.range().end, 5.0, 1e-6);
    EXPECT_NE(trim.fieldSerial(), serial);
    trim.wheel({r.x + r.w * 0.5f, r.y + 10}, 2);
    EXPECT_GT(trim.zoom(), 1.0);
    EXPECT_NEAR(trim.secondsAt(r.x + r.w * 0.5f), 5.0, 1e-6) << "the wheel zooms around the pointer";
    trim.save();
    EXPECT_TRUE(trim.closeRequested());
    EXPECT_NEAR(board().pad(0).from, 2.0, 1e-6);
    EXPECT_NEAR(board().pad(0).to, 5.0, 1e-6);
}

} // namespace
