// The window model against a simulated console and a fake window: what a
// click, a key or a tick changes, what is drawn, and what is saved.

#include "cable/cable.h"
#include "clip/messages.h"
#include "console/sim/sim_console.h"
#include "dsp/mask_table.h"
#include "media/export.h"
#include "platform/sim/fixed_known_folders.h"
#include "platform/sim/memory_files.h"
#include "platform/sim/memory_registry.h"
#include "platform/sim/sim_app_audio.h"
#include "platform/text.h"
#include "recorder/recorder.h"
#include "settings/setup_files.h"
#include "soundboard/hotkeys.h"
#include "support/fake_font_system.h"
#include "support/font_image.h"
#include "ui/interface_fonts.h"
#include "ui/layout.h"
#include "ui/main_window.h"
#include "ui/page_places.h"
#include "ui/pages.h"
#include "ui/recording_painter.h"
#include "ui/theme.h"
#include "ui/toolkit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace {

using ui::Point;
using ui::RecordingPainter;
using ui::Rect;
using Settings = settings::Settings;

// The registry, counting how often the settings key is saved (every save
// writes UiZoom once).
class CountingRegistry final : public platform::RegistryStore {
public:
    int settingsSaves = 0;
    platform::sim::MemoryRegistry inner;

    bool keyExists(const std::wstring& key) override { return inner.keyExists(key); }
    std::optional<uint32_t> readDword(const std::wstring& key, const std::wstring& name) override
    {
        return inner.readDword(key, name);
    }
    std::optional<std::wstring> readString(const std::wstring& key, const std::wstring& name, size_t max) override
    {
        return inner.readString(key, name, max);
    }
    std::optional<std::vector<std::wstring>> readMultiString(
        const std::wstring& key, const std::wstring& name, size_t max) override
    {
        return inner.readMultiString(key, name, max);
    }
    bool writeDword(const std::wstring& key, const std::wstring& name, uint32_t value) override
    {
        settingsSaves += name == L"UiZoom";
        return inner.writeDword(key, name, value);
    }
    bool writeString(const std::wstring& key, const std::wstring& name, const std::wstring& value) override
    {
        return inner.writeString(key, name, value);
    }
    bool writeMultiString(
        const std::wstring& key, const std::wstring& name, const std::vector<std::wstring>& v) override
    {
        return inner.writeMultiString(key, name, v);
    }
    std::vector<platform::ValueInfo> listValues(const std::wstring& key) override { return inner.listValues(key); }
    platform::DeleteResult deleteValue(const std::wstring& key, const std::wstring& name) override
    {
        return inner.deleteValue(key, name);
    }
    platform::DeleteResult deleteKey(const std::wstring& key) override { return inner.deleteKey(key); }
};

class FakeHost final : public ui::WindowHost {
public:
    std::vector<Rect> invalidated;
    int minimised = 0, closed = 0, looks = 0, abouts = 0, fontChanges = 0;
    std::vector<std::vector<ui::MenuItem>> menus;
    int menuAnswer = -1;
    std::vector<std::wstring> promptAnswers; // taken front first; none left: cancelled
    std::vector<std::pair<std::function<void()>, std::function<void()>>> jobs;
    std::vector<std::pair<std::wstring, std::wstring>> opened; // shell opens: file, parameters
    // The native source field and the open-file dialog.
    bool fieldShown = false;
    int fieldFocused = 0;
    std::wstring fieldText;
    std::optional<std::wstring> fileAnswer;
    // The save-file and folder dialogs: what they were opened with, what they answer.
    struct SaveDialog {
        std::vector<ui::FileFilter> filters;
        int filter = -1;
        std::wstring initialPath, extension;
    };
    std::vector<SaveDialog> saveDialogs;
    std::optional<ui::SaveChoice> saveAnswer;
    std::optional<std::wstring> folderAnswer;

    void invalidate(const Rect& r) override { invalidated.push_back(r); }
    void minimise() override { ++minimised; }
    void close() override { ++closed; }
    void applyWindowLook() override { ++looks; }
    void fontsChanged() override { ++fontChanges; }
    int showMenu(const std::vector<ui::MenuItem>& items, Point) override
    {
        menus.push_back(items);
        return menuAnswer;
    }
    std::optional<std::wstring> promptText(std::wstring_view, std::wstring_view, std::wstring_view) override
    {
        if (promptAnswers.empty())
            return std::nullopt;
        std::wstring answer = promptAnswers.front();
        promptAnswers.erase(promptAnswers.begin());
        return answer;
    }
    void shellOpen(const std::wstring& file, const std::wstring& parameters) override
    {
        opened.emplace_back(file, parameters);
    }
    void showAbout() override { ++abouts; }
    void placeSourceField(const Rect&, bool shown) override { fieldShown = shown; }
    std::wstring sourceFieldText() override { return fieldText; }
    void setSourceFieldText(const std::wstring& text) override { fieldText = text; }
    void focusSourceField() override { ++fieldFocused; }
    std::optional<std::wstring> chooseFile(std::wstring_view, const std::vector<ui::FileFilter>&) override
    {
        return fileAnswer;
    }
    std::optional<ui::SaveChoice> chooseSaveFile(std::wstring_view, const std::vector<ui::FileFilter>& filters,
        int filter, const std::wstring& initialPath, std::wstring_view extension) override
    {
        saveDialogs.push_back({filters, filter, initialPath, std::wstring(extension)});
        return saveAnswer;
    }
    std::optional<std::wstring> chooseFolder(std::wstring_view, const std::wstring&) override { return folderAnswer; }
    void runInBackground(std::function<void()> work, std::function<void()> done) override
    {
        jobs.emplace_back(std::move(work), std::move(done));
    }
    void runJobs()
    {
        auto pending = std::move(jobs);
        jobs.clear();
        for (auto& [work, done] : pending) {
            work();
            done();
        }
    }
};

console::SimOptions withRegistry(
    platform::RegistryStore* registry, platform::Files* files = nullptr, platform::AppAudio* appAudio = nullptr)
{
    console::SimOptions options;
    options.registry = registry;
    options.files = files;
    options.appAudio = appAudio;
    return options;
}

Point centre(const Rect& r)
{
    return {r.x + r.w / 2, r.y + r.h / 2};
}

class Window : public ::testing::Test {
protected:
    Window()
    {
        sim.audio.addEndpoint({platform::Flow::Capture, L"mic-desk", L"Desk Microphone"});
        sim.audio.addEndpoint({platform::Flow::Capture, L"mic-usb", L"USB Headset Microphone"});
        sim.audio.addEndpoint({platform::Flow::Render, L"spk-main", L"Speakers"});
        sim.audio.addEndpoint({platform::Flow::Render, L"spk-phones", L"Studio Headphones"});
        sim.audio.addEndpoint({platform::Flow::Render, L"cable", L"CABLE Input"});
        for (const wchar_t* face : ui::kBuiltInFaces)
            fontSystem.installed.insert(face);
        fonts.loadNow();
        window.start({});
    }

    void click(Point p)
    {
        window.pointerMove(p);
        window.pointerDown(p);
        window.pointerUp(p);
    }
    RecordingPainter paint()
    {
        RecordingPainter painter;
        window.paint(painter, {0, 0, ui::kCanvasWidth, ui::kCanvasHeight});
        return painter;
    }
    double now() const { return static_cast<double>(sim.clock.nowMicros()) / 1e6; }

    CountingRegistry registry;
    platform::sim::MemoryFiles takeFiles; // where saved takes land
    platform::sim::SimAppAudio app;       // the programs the Program on Mic tab finds
    console::SimConsole sim{withRegistry(&registry, &takeFiles, &app)};
    Settings& s = sim.console().settings();
    platform::sim::MemoryFiles files;
    settings::Setups setups{files, *sim.console().registrySettings(), s, L"C:\\Data\\VantorOvix"};
    FakeHost host;
    test_support::FakeFontSystem fontSystem;
    ui::InterfaceFonts fonts{files, fontSystem, s, *sim.console().registrySettings(), L"C:\\Data\\VantorOvix"};
    ui::MainWindow window{sim.console(), host, {&setups, L"", &fonts, L"C:\\Apps\\VantorOvix.exe"}};
};

// Page 0's controls as the page lays them out.
constexpr Rect kAmount{440, 160, 404, 44};
constexpr Rect kMicLevel{440, 216, 404, 44};
constexpr Rect kEffects{440, 120, 404, 28};
constexpr Rect kMicBox{120, 448, 300, 24};
constexpr Rect kRefresh{308, 416, 112, 24};
constexpr Rect kRooms{16, 144, 404, 262};

TEST(FrameTick, AfterAStallTheTickAdvancesAtMostATenthOfASecondAndFiftyMilliseconds)
{
    ui::FrameClock clock;
    auto first = clock.advance(100.0);
    EXPECT_DOUBLE_EQ(first.seconds, 0.016);
    EXPECT_DOUBLE_EQ(first.millis, 16.0);
    auto stalled = clock.advance(103.0);
    EXPECT_DOUBLE_EQ(stalled.seconds, 0.1);
    EXPECT_DOUBLE_EQ(stalled.millis, 50.0);
    auto normal = clock.advance(103.02);
    EXPECT_NEAR(normal.seconds, 0.02, 1e-9);
    EXPECT_NEAR(normal.millis, 20.0, 1e-6);
}

TEST(MicMeter, ASilentPeakReadsMinusHundredAndTheLevelFallsTwentySixDecibelsPerSecond)
{
    EXPECT_EQ(ui::MicMeter::levelDb(0), -100.0);
    EXPECT_NEAR(ui::MicMeter::levelDb(10000), 0.0, 1e-9);
    ui::MicMeter meter;
    for (int i = 0; i < 100; ++i)
        meter.tick(0.016, 1000); // -20 dB
    ASSERT_NEAR(meter.level(), -20.0, 0.01);
    for (int i = 0; i < 25; ++i)
        meter.tick(0.02, 0);
    EXPECT_NEAR(meter.level(), -20.0 - 26.0 * 0.5, 0.01);
    // The peak held at -20 dB until 0.9 s, then falls at 14 dB/s, never below the level.
    for (int i = 0; i < 19; ++i)
        meter.tick(0.02, 0);
    EXPECT_NEAR(meter.peakHold(), -20.0, 0.01); // 0.88 s
    for (int i = 0; i < 16; ++i)
        meter.tick(0.02, 0);
    EXPECT_NEAR(meter.peakHold(), -20.0 - 14.0 * 0.3, 0.3); // 1.2 s
    EXPECT_GE(meter.peakHold(), meter.level());

    // What it draws moves in whole units of its track and whole dB of text.
    ui::MicMeter steady;
    for (int i = 0; i < 100; ++i)
        steady.tick(0.016, 1000);
    EXPECT_EQ(steady.look(), (ui::MicMeter::Look{80, 80, false, -20}));
    EXPECT_EQ(ui::MicMeter().look().db, ui::MicMeter::kSilentDb);
}

TEST(SmoothScroll, TheListFollowsItsTargetWithFortyFiveMillisecondsAndSnaps)
{
    ui::ListBox list;
    list.bounds = {0, 0, 200, 5 * ui::ListBox::kRowHeight + 2};
    list.rows.assign(15, L"row");
    ASSERT_EQ(list.visibleRows(), 5);
    list.setTop(6, false);
    list.animate(0.045);
    EXPECT_NEAR(list.shownTop(), 6.0 * (1.0 - std::exp(-1.0)), 1e-6);
    for (int i = 0; i < 40; ++i)
        list.animate(0.016);
    EXPECT_EQ(list.shownTop(), 6.0);
    list.setTop(99, true);
    EXPECT_EQ(list.top(), 10); // 15 rows, 5 shown
}

TEST(Choices, ARoomBeyondTheListSelectsTheLastAndAStyleBeyondTheStylesTheFirst)
{
    EXPECT_EQ(ui::roomRow(20), 14);
    EXPECT_EQ(ui::roomRow(-3), 0);
    EXPECT_EQ(ui::glitchStyleRow(13), 0);
    EXPECT_EQ(ui::glitchStyleRow(12), 12);
    EXPECT_EQ(ui::levelText(100), L"+0.0 dB");
    // The level law: 1000 is x20 in amplitude, 26 dB.
    EXPECT_EQ(ui::levelText(1000), L"+26.0 dB");
    EXPECT_EQ(ui::levelText(0), L"Off");
}

TEST(Caption, TheNineToolsAreHitExactlyInTheirRectanglesAndTheRestOfTheBandDrags)
{
    const float edgesX[9][2]
        = {{222, 244}, {246, 434}, {436, 458}, {466, 538}, {544, 672}, {720, 758}, {758, 774}, {792, 818}, {822, 848}};
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(ui::captionToolAt({edgesX[i][0], 8}), i);
        EXPECT_EQ(ui::captionToolAt({edgesX[i][1] - 0.5f, 29.5f}), i);
        EXPECT_NE(ui::captionToolAt({edgesX[i][1], 19}), i);
        EXPECT_EQ(ui::captionToolAt({edgesX[i][0] + 1, 30}), -1);
        EXPECT_EQ(ui::captionToolAt({edgesX[i][0] + 1, 7.5f}), -1);
    }
    console::SimConsole sim;
    FakeHost host;
    ui::MainWindow window(sim.console(), host, {});
    EXPECT_TRUE(window.inCaption({100, 20}));
    EXPECT_TRUE(window.inCaption({700, 20}));
    EXPECT_TRUE(window.inCaption({245, 20})); // between two tools
    EXPECT_FALSE(window.inCaption({300, 20}));
    EXPECT_FALSE(window.inCaption({100, 37}));
}

TEST_F(Window, EveryPageResetRestoresItsFieldsShowsItsMessageAndSavesTheRegistryOnce)
{
    struct Case {
        int page, tab;
        std::wstring message;
        std::function<void()> spoil;
        std::function<bool()> restored;
    };
    const std::vector<Case> cases = {
        {0, 0, L"Restored default Ovix Settings",
            [&] {
                s.set(&Settings::amount, 70);
                s.set(&Settings::preset, 0);
            },
            [&] { return s.amount == 9 && s.preset == 8; }},
        {1, 0, L"Restored default Surround Mixer levels", [&] { s.set(&Settings::iso_level, 5); },
            [&] { return s.iso_level == 60; }},
        {1, 1, L"Reset Voice Masks & Glitch", [&] { s.set(&Settings::voice_mask, 2); },
            [&] { return s.voice_mask == 13; }},
        {2, 0, L"Reset Graphic Equalizer to Flat", [&] { s.setEqBand(3, 9); }, [&] { return s.eq_bands[3] == 0; }},
        {3, 0, L"Restored Speaker defaults",
            [&] {
                s.set(&Settings::SpkTestVol, 90);
                s.set(&Settings::tone_on, 0);
            },
            [&] { return s.SpkTestVol == 35 && s.tone_on == 1; }},
        {4, 0, L"Restored Media tab defaults", [&] { s.set(&Settings::clip_speed, 150); },
            [&] { return s.clip_speed == 100; }},
        {4, 2, L"Restored Media tab defaults", [&] { s.set(&Settings::app_gain, 300); },
            [&] { return s.app_gain == 80; }},
        {4, 3, L"Restored Media tab defaults", [] {}, [] { return true; }},
        {4, 4, L"Restored Media tab defaults", [] {}, [] { return true; }},
        {5, 0, L"Restored default Appearance & Settings", [&] { s.set(&Settings::UiZoom, 180); },
            [&] { return s.UiZoom == 100; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        c.spoil();
        window.tick(now()); // the change's own save, so that the reset's is counted alone
        sim.clock.advanceMillis(1000);
        window.tick(now());
        window.selectPage(c.page, c.tab);
        const int savesBefore = registry.settingsSaves;
        const int looksBefore = host.looks;
        click(centre(ui::captionToolRect(ui::CaptionTool::Reset)));
        EXPECT_TRUE(c.restored());
        EXPECT_EQ(registry.settingsSaves - savesBefore, 1);
        EXPECT_NE(paint().findText(c.message), nullptr);
        EXPECT_EQ(host.looks - looksBefore, c.page == 5 ? 1 : 0);
        // Nothing is left over for the tick to save again.
        sim.clock.advanceMillis(600);
        window.tick(now());
        EXPECT_EQ(registry.settingsSaves - savesBefore, 1);
    }
}

TEST_F(Window, PageZeroSlidersMapBothEndsAndDoubleClickRestoresTheDefaultTheirTooltipsName)
{
    struct Case {
        Rect bounds;
        settings::IntField Settings::*field;
        int32_t low, high, reset;
        std::wstring shownAtReset;
    };
    const Case cases[] = {
        {kAmount, &Settings::amount, 0, 100, 9, L"9%"},
        {kMicLevel, &Settings::mic_level, 0, 1000, 100, L"+0.0 dB"},
    };
    for (const auto& c : cases) {
        const float y = c.bounds.y + 32;
        window.pointerDown({c.bounds.x, y});
        window.pointerUp({c.bounds.x, y});
        EXPECT_EQ((s.*c.field).load(), c.low);
        // A drag past the end holds the top value and shows it while dragging.
        window.pointerDown({c.bounds.x + 100, y});
        window.pointerMove({c.bounds.right() + 40, y});
        EXPECT_EQ((s.*c.field).load(), c.high);
        window.pointerUp({c.bounds.right() + 40, y});
        window.doubleClick({c.bounds.x + 200, y});
        window.pointerUp({c.bounds.x + 200, y});
        EXPECT_EQ((s.*c.field).load(), c.reset);
        EXPECT_NE(paint().findText(c.shownAtReset), nullptr);
        // Keys: Home and End reach the ends, arrows step.
        window.key(ui::Key::End, {});
        EXPECT_EQ((s.*c.field).load(), c.high);
        window.key(ui::Key::Home, {});
        window.key(ui::Key::Right, {});
        EXPECT_GT((s.*c.field).load(), c.low);
    }
    // The amount slider is disabled while the effects are off.
    const int32_t amount = s.amount;
    click(centre(kEffects));
    EXPECT_EQ(s.effects.load(), 0);
    click({kAmount.x + 300, kAmount.y + 32});
    EXPECT_EQ(s.amount.load(), amount);
    click(centre(kEffects));
    EXPECT_EQ(s.effects.load(), 1);
}

TEST_F(Window, PageZeroTogglesFlipTheirFlagsAndTheRoomListSelectsAndSavesItsScrollRow)
{
    const Point ambit{448, 326}, wideEcho{448, 398};
    click(ambit);
    EXPECT_EQ(s.ambit.load(), 1);
    click(wideEcho);
    EXPECT_EQ(s.wide.load(), 1);
    click(ambit);
    EXPECT_EQ(s.ambit.load(), 0);

    click({100, kRooms.y + 2 * 24 + 5}); // third visible row
    const int top = 0;
    EXPECT_EQ(s.preset.load(), top + 2);
    window.wheel(centre(kRooms), -1.0f);
    EXPECT_EQ(s.PresetTop.load(), 3);
    window.key(ui::Key::End, {});
    EXPECT_EQ(s.preset.load(), 14);

    // With the cavern's response in use, row 8 says so and is repainted.
    engine::EngineReport report;
    report.irLoaded = true;
    sim.console().reports().publish(report);
    window.key(ui::Key::Home, {});
    host.invalidated.clear();
    window.slowTick(now());
    ASSERT_EQ(host.invalidated.size(), 1u);
    EXPECT_TRUE(host.invalidated[0].intersects(kRooms));
    EXPECT_NE(paint().findText(L"Convolution IR: Haunted Cavern"), nullptr);
}

TEST_F(Window, ADropDownOpensOnAClickClosesOnEscapeAndAChoiceReopensTheMicrophone)
{
    click(centre(kMicBox));
    auto opened = paint();
    EXPECT_NE(opened.findText(L"USB Headset Microphone"), nullptr);
    EXPECT_TRUE(window.key(ui::Key::Escape, {}));
    auto closed = paint();
    EXPECT_EQ(closed.findText(L"USB Headset Microphone"), nullptr);

    sim.console().state().micReopenRequest.store(0);
    click(centre(kMicBox));
    window.key(ui::Key::Down, {});
    window.key(ui::Key::Enter, {});
    EXPECT_EQ(settings::deviceName(s, settings::DeviceKind::Mic), L"mic-usb");
    EXPECT_EQ(sim.console().state().micReopenRequest.load(), 1);
    EXPECT_NE(paint().findText(L"USB Headset Microphone"), nullptr);
}

TEST_F(Window, TheDeviceRefreshRunsInTheBackgroundAndReportsWhatItFound)
{
    click(centre(kRefresh));
    ASSERT_EQ(host.jobs.size(), 1u);
    host.runJobs();
    EXPECT_NE(paint().findText(L"No new audio devices found"), nullptr);
    sim.audio.addEndpoint({platform::Flow::Capture, L"mic-new", L"Podcast Mic"});
    click(centre(kRefresh));
    host.runJobs();
    EXPECT_NE(paint().findText(L"Found Podcast Mic"), nullptr);
}

TEST_F(Window, ToastsShowForFourAndAHalfSeconds)
{
    window.showToast(L"Hello", now());
    sim.clock.advanceMillis(4400);
    EXPECT_NE(paint().findText(L"Hello"), nullptr);
    sim.clock.advanceMillis(100);
    EXPECT_EQ(paint().findText(L"Hello"), nullptr);
}

TEST_F(Window, TabsSelectPagesByClickAndByCtrlTabAndTabMovesAFocusRing)
{
    click(centre(ui::pageTabRect(3)));
    EXPECT_EQ(window.page(), 3);
    EXPECT_NE(paint().findText(L"Bass Management"), nullptr);
    click(centre(ui::pageTabRect(4)));
    click(centre(ui::subTabRect(4, 3)));
    EXPECT_EQ(window.tab(), 3);
    window.key(ui::Key::Tab, {true, true});
    EXPECT_EQ(window.page(), 3);
    window.key(ui::Key::Tab, {false, true});
    window.key(ui::Key::Tab, {false, true});
    EXPECT_EQ(window.page(), 5);
    window.key(ui::Key::Tab, {});
    window.key(ui::Key::Enter, {}); // the first tool: previous setup, none saved
    EXPECT_EQ(window.page(), 5);
}

TEST_F(Window, TheSetupsMenuSavesANameThePromptSanitisesAndListsItWithACheck)
{
    host.menuAnswer = 0; // "Save Current Setup As..." (no setups yet)
    host.promptAnswers = {L"  ***  ", L" con "};
    click(centre(ui::captionToolRect(ui::CaptionTool::Setups)));
    ASSERT_EQ(host.menus.size(), 1u);
    EXPECT_EQ(host.menus[0][0].text, L"Save Current Setup As...");
    EXPECT_EQ(host.menus[0][1].text, L"Manage Setups && Hotkeys...");
    EXPECT_TRUE(host.promptAnswers.empty()); // the empty name kept the prompt open
    EXPECT_EQ(setups.currentSetup(), L"con_");
    auto painter = paint();
    EXPECT_NE(painter.findText(L"Saved setup \"con_\""), nullptr);
    EXPECT_NE(painter.findText(L"con_"), nullptr); // the caption's setup tool

    host.menuAnswer = 3; // "Manage Setups && Hotkeys..." after con_ and the separator
    click(centre(ui::captionToolRect(ui::CaptionTool::Setups)));
    EXPECT_TRUE(host.menus[1][0].checked);
    EXPECT_TRUE(host.menus[1][1].separator);
    EXPECT_EQ(window.page(), 4);
    EXPECT_EQ(window.tab(), 4);

    // A name longer than the tool is shortened with an ellipsis, never cut.
    ASSERT_TRUE(setups.saveCurrentSetupAs(L"Late Night Stream With Guests And Music"));
    window.tick(now());
    auto longName = paint();
    EXPECT_TRUE(longName.overflows.empty());
    bool elided = false;
    for (const auto& call : longName.calls)
        elided |= call.text.starts_with(L"Late Night") && call.text.ends_with(L"...");
    EXPECT_TRUE(elided);
}

// The Setups & Hotkeys tab: the saved setups eight rows at a time, the
// buttons and the ten hotkey rows; the glitch key's field on the mixer.
TEST_F(Window, TheSetupsTabScrollsEightRowsLoadsTheClickedSetupAndItsButtonsCycleAndDelete)
{
    window.selectPage(4, 4);
    auto empty = paint();
    EXPECT_NE(empty.findText(L"(unsaved)"), nullptr);
    EXPECT_NE(empty.findText(L"Click Save... to store current setup"), nullptr);

    for (int i = 0; i < 10; ++i) {
        s.set(&Settings::amount, 10 + i);
        ASSERT_TRUE(setups.saveCurrentSetupAs(L"S" + std::to_wstring(i)));
    }
    window.tick(now());
    auto rows = paint();
    EXPECT_NE(rows.findText(L"S7"), nullptr);
    EXPECT_EQ(rows.findText(L"S8"), nullptr) << "eight rows show";
    const Point list = centre(ui::kSetupListRect);
    window.wheel(list, -5.0f); // toward the user: down, at most to count - 8
    auto scrolled = paint();
    EXPECT_NE(scrolled.findText(L"S9"), nullptr);
    EXPECT_EQ(scrolled.findText(L"S1"), nullptr);
    window.wheel(list, 9.0f);
    EXPECT_NE(paint().findText(L"S0"), nullptr);

    const Rect first = ui::kSetupListRect.inset(1, 1);
    click({first.x + 20, first.y + ui::kSetupRowHeight * 1.5f}); // the second row
    EXPECT_EQ(setups.currentSetup(), L"S1");
    EXPECT_EQ(s.amount.load(), 11);
    EXPECT_EQ(sim.console().state().engineReopenRequest.load(), 1) << "a loaded setup may name other devices";
    click(centre(ui::kSetupNextRect));
    EXPECT_EQ(setups.currentSetup(), L"S2");
    click(centre(ui::kSetupPrevRect));
    click(centre(ui::kSetupPrevRect));
    EXPECT_EQ(setups.currentSetup(), L"S0");
    EXPECT_EQ(s.amount.load(), 10);

    window.wheel(list, -5.0f);
    click(centre(ui::kSetupDeleteRect));
    EXPECT_EQ(setups.currentSetup(), L"");
    EXPECT_FALSE(files.exists(setups.setupPath(L"S0")));
    auto deleted = paint();
    EXPECT_NE(deleted.findText(L"(unsaved)"), nullptr);
    // Nine setups left: the view scrolled to the end keeps eight rows filled.
    EXPECT_NE(deleted.findText(L"S2"), nullptr);
    EXPECT_NE(deleted.findText(L"S9"), nullptr);
    EXPECT_TRUE(deleted.overflows.empty());
}

TEST_F(Window, AClickOnAHotkeyRowOrTheGlitchFieldStartsItsCaptureAndASecondClickCancelsIt)
{
    soundboard::Hotkeys& hotkeys = sim.console().hotkeys();
    window.selectPage(4, 4);
    auto idle = paint();
    EXPECT_NE(idle.findText(L"Global Hotkeys (Click Row, Esc Cancels, Backspace Clears)"), nullptr);
    for (const auto& action : soundboard::kHotkeyActions)
        EXPECT_NE(idle.findText(action.description), nullptr);
    EXPECT_EQ(idle.findText(L"Press key..."), nullptr);

    click(centre(ui::hotkeyRowRect(9)));
    EXPECT_EQ(hotkeys.capture(), (soundboard::CaptureTarget{soundboard::CaptureKind::Action, 9}));
    EXPECT_TRUE(window.capturing());
    const auto capturing = paint();
    const auto* pressing = capturing.findText(L"Press key...");
    ASSERT_NE(pressing, nullptr);
    EXPECT_TRUE(ui::hotkeyRowRect(9).contains(centre(pressing->rect)));
    click(centre(ui::hotkeyRowRect(9)));
    EXPECT_FALSE(window.capturing());

    s.set(&Settings::GlitchKey, 116); // F5
    window.selectPage(1, 1);
    click(centre(ui::hotkeyRowRect(0))); // nothing of the hotkeys' tab lies here
    EXPECT_FALSE(window.capturing());
    EXPECT_NE(paint().findText(hotkeys.keyText(116)), nullptr);
    click(centre(ui::kGlitchKeyRect));
    EXPECT_EQ(hotkeys.capture().kind, soundboard::CaptureKind::Glitch);
    EXPECT_NE(paint().findText(L"Press key..."), nullptr);
    click(centre(ui::kGlitchKeyRect));
    EXPECT_FALSE(window.capturing());
}

TEST_F(Window, TheWindowsHotkeyActionsRecordOnTheRecorderTabCycleSetupsAndPlayTheTakeOnTheMic)
{
    soundboard::HotkeyActions& actions = window.hotkeyActions();
    recorder::TakeEditor& editor = sim.console().takeEditor();
    actions.toggleRecording();
    EXPECT_EQ(window.page(), 4);
    EXPECT_EQ(window.tab(), 3);
    EXPECT_TRUE(sim.console().recorderFlags().recording);
    window.selectPage(0);
    actions.toggleRecording();
    EXPECT_FALSE(sim.console().recorderFlags().recording);
    EXPECT_EQ(window.page(), 0) << "stopping leaves the page as it is";

    ASSERT_TRUE(setups.saveCurrentSetupAs(L"Day"));
    ASSERT_TRUE(setups.saveCurrentSetupAs(L"Night"));
    actions.cycleSetup(1);
    EXPECT_EQ(setups.currentSetup(), L"Day");
    actions.cycleSetup(-1);
    EXPECT_EQ(setups.currentSetup(), L"Night");

    editor.clear();
    actions.toggleSendToMic();
    EXPECT_FALSE(editor.playing(true));
    auto take = std::make_shared<clip::Sound>();
    take->samples.assign(2 * 48000, 4000);
    editor.setTake(take, false);
    actions.toggleSendToMic();
    EXPECT_TRUE(editor.playing(true));
    actions.toggleSendToMic();
    EXPECT_FALSE(editor.playing(true));

    s.set(&Settings::KeepLast, 0);
    actions.saveLast();
    EXPECT_EQ(sim.console().recorderStatus(), L"Nothing in Last buffer to save");
}

TEST_F(Window, AHotkeyMessageRunsItsActionAndACapturedKeyShowsInItsRowAndTheStatusLine)
{
    const int32_t effects = s.effects.load();
    window.hotkey(203);
    EXPECT_NE(s.effects.load(), effects);
    window.hotkey(201);
    EXPECT_EQ(window.page(), 4);
    EXPECT_EQ(window.tab(), 3);
    EXPECT_TRUE(sim.console().recorderFlags().recording);

    window.selectPage(4, 4);
    click(centre(ui::hotkeyRowRect(3)));
    EXPECT_TRUE(window.captureInput(soundboard::CaptureInput::KeyDown, 116)); // F5
    EXPECT_FALSE(window.capturing());
    auto bound = paint();
    EXPECT_NE(bound.findText(L"F5"), nullptr);
    EXPECT_NE(bound.findText(L"Effects -> F5"), nullptr);
    click(centre(ui::hotkeyRowRect(3)));
    EXPECT_TRUE(window.captureInput(soundboard::CaptureInput::KeyDown, 27)); // Escape
    EXPECT_NE(paint().findText(L"Key capture cancelled"), nullptr);
    EXPECT_NE(paint().findText(L"F5"), nullptr) << "Escape changes no binding";
    sim.clock.advanceMillis(4600);
    window.tick(now());
    EXPECT_EQ(paint().findText(L"Key capture cancelled"), nullptr) << "the status line clears as a toast does";
}

TEST_F(Window, TheTickReadsThePeakOnceRepaintsOnlyTheMeterAndSavesAMovedWindowWithinHalfASecond)
{
    window.tick(now());
    paint();
    host.invalidated.clear();
    sim.clock.advanceMillis(16);
    window.tick(now());
    EXPECT_TRUE(host.invalidated.empty());

    // Every tick reads the peak; the meter is drawn on every other one.
    sim.console().reports().raiseOutputPeak(5000);
    sim.clock.advanceMillis(16);
    window.tick(now());
    EXPECT_EQ(sim.console().reports().takeOutputPeak(), 0);
    EXPECT_TRUE(host.invalidated.empty());
    sim.console().reports().raiseOutputPeak(5000);
    sim.clock.advanceMillis(16);
    window.tick(now());
    ASSERT_FALSE(host.invalidated.empty());
    for (const Rect& r : host.invalidated)
        EXPECT_TRUE(r.intersects(ui::meterRect()) && r.y >= 500);

    const int saves = registry.settingsSaves;
    for (int i = 0; i < 40; ++i) {
        s.setWindowPosition(true, 100 + i, 50);
        sim.clock.advanceMillis(16);
        window.tick(now());
    }
    const int during = registry.settingsSaves - saves;
    EXPECT_GE(during, 1);
    EXPECT_LE(during, 2); // 640 ms of moving: at most every 501 ms
}

TEST_F(Window, TooltipsShowOnlyWhileHintsAreOnAndDiagnosticsUseTheirColours)
{
    const Point over = centre(ui::captionToolRect(ui::CaptionTool::Reset));
    window.pointerMove(over);
    host.invalidated.clear();
    sim.clock.advanceMillis(600);
    window.tick(now());
    // The tip appears on its own: the tick repaints where it is drawn.
    ASSERT_FALSE(host.invalidated.empty());
    EXPECT_TRUE(host.invalidated.back().contains({over.x, over.y + 30}));
    EXPECT_NE(paint().findText(L"Reset active Vantor page back to default values"), nullptr);
    window.pointerMove(centre(ui::resizeGripRect()));
    sim.clock.advanceMillis(600);
    window.tick(now());
    EXPECT_NE(paint().findText(L"Drag to resize window cleanly"), nullptr);
    s.set(&Settings::UiHints, 0);
    EXPECT_EQ(paint().findText(L"Drag to resize window cleanly"), nullptr);

    window.selectPage(5);
    const auto diagnostics = paint();
    const auto* state = diagnostics.findText(L"Engine State: Connecting...");
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->colour, 0x006CC2u);
    EXPECT_NE(paint().findText(L"Convolution IR: Procedural Ovix Core"), nullptr);
}

TEST(StartUp, AFirstRunImportsThePortableFileAndTheSearchAddsOtherCopiesToTheSyncFolders)
{
    auto bytes = [](std::string_view text) { return std::vector<uint8_t>(text.begin(), text.end()); };
    CountingRegistry registry;
    console::SimConsole sim{withRegistry(&registry)};
    Settings& s = sim.console().settings();
    platform::sim::MemoryFiles files;
    files.put(L"C:\\App\\VantorOvix.ini", bytes("# Vantor Ovix Settings\namount=42\npreset=3\n"));
    files.put(L"C:\\Users\\u\\Desktop\\Old\\VantorOvix.exe", bytes("MZ"));
    files.createFolders(L"C:\\Users\\u\\Desktop\\Old\\setups");
    platform::sim::FixedKnownFolders known;
    known.set(platform::KnownFolder::Desktop, L"C:\\Users\\u\\Desktop");
    settings::Setups setups{files, *sim.console().registrySettings(), s, L"C:\\Data\\VantorOvix"};
    FakeHost host;
    s.set(&Settings::PresetTop, 5);
    ui::MainWindow window{sim.console(), host, {&setups, L"", nullptr, L""}};
    window.setInstallationsSearch(files, known);
    window.start({true, L"C:\\App"});
    EXPECT_EQ(s.amount.load(), 42);
    EXPECT_EQ(s.preset.load(), 3);
    ASSERT_EQ(host.jobs.size(), 1u);
    host.runJobs();
    EXPECT_EQ(setups.syncFolders(), std::vector<std::wstring>{L"C:\\Users\\u\\Desktop\\Old\\setups"});
    // The list opens at its saved scroll row, the selected room out of sight.
    RecordingPainter painter;
    window.paint(painter, {0, 0, ui::kCanvasWidth, ui::kCanvasHeight});
    EXPECT_EQ(painter.findText(L"Cathedral"), nullptr);
    EXPECT_NE(painter.findText(L"Church"), nullptr);
}

// Every page at rest and with its pop-ups: no text is cut. With
// OVIX_UI_SVG_DIR set, the pages are written there as SVG to look at.
TEST_F(Window, NoTextOnAnyPageOrTabIsCut)
{
    const char* dir = std::getenv("OVIX_UI_SVG_DIR");
    for (int p = 0; p < ui::kPageCount; ++p) {
        for (int t = 0; t < std::max(1, ui::subTabCount(p)); ++t) {
            window.selectPage(p, t);
            auto painter = paint();
            EXPECT_TRUE(painter.overflows.empty())
                << "page " << p << " tab " << t << ": "
                << (painter.overflows.empty() ? "" : platform::utf8FromWide(painter.overflows[0]));
            EXPECT_NE(painter.findText(ui::pageText(p).label), nullptr);
            if (dir) {
                std::ofstream(std::string(dir) + "/page" + std::to_string(p) + "_" + std::to_string(t) + ".svg")
                    << painter.svg();
            }
        }
    }
    window.selectPage(0);
    click(centre(kEffects)); // the amount slider disabled
    window.key(ui::Key::Tab, {});
    click(centre(kMicBox));
    auto open = paint();
    EXPECT_TRUE(open.overflows.empty()) << platform::utf8FromWide(open.overflows.front());
    if (dir)
        std::ofstream(std::string(dir) + "/page0_dropdown.svg") << open.svg();
    window.key(ui::Key::Escape, {});
    window.pointerMove({200, 500});
    window.pointerMove(centre(kMicLevel));
    sim.clock.advanceMillis(600);
    window.tick(now());
    auto painter = paint();
    const auto* tip = painter.findText(L"double-click resets)");
    ASSERT_NE(tip, nullptr) << "the tooltip wraps at its 320 units";
    EXPECT_LE(tip->rect.right(), ui::kCanvasWidth - 4);
    EXPECT_TRUE(painter.overflows.empty()) << platform::utf8FromWide(painter.overflows.front());
    if (dir)
        std::ofstream(std::string(dir) + "/page0_open.svg") << painter.svg();
}

// Page 3's cable section, the main status line and page 5's lines follow
// what the cable's status pass found; their clicks open what they name.
TEST_F(Window, TheCableSectionAndTheStatusLineShowTheCablesStateAndLeadToItsShortcuts)
{
    auto drew = [](const RecordingPainter& p, std::wstring_view part) {
        for (const auto& c : p.calls)
            if (c.op == RecordingPainter::Op::Text && c.text.find(part) != std::wstring::npos)
                return true;
        return false;
    };
    cable::Cable& cable = sim.console().cable();
    window.selectPage(3);
    EXPECT_FALSE(drew(paint(), L"VB-CABLE not installed")) << "nothing is said before a pass has looked";

    sim.audio.addEndpoint({platform::Flow::Capture, L"cable-out", L"CABLE Output (VB-Audio Virtual Cable)"});
    cable.statusPass();
    window.tick(now());
    const auto ready = paint();
    EXPECT_NE(ready.findText(L"VB-CABLE is installed and routing audio!"), nullptr);
    EXPECT_NE(ready.findText(L"Capture Endpoint: CABLE Output (VB-Audio Virtual Cable)"), nullptr);
    EXPECT_NE(ready.findText(L"Install / Repair VB-CABLE"), nullptr);
    EXPECT_FALSE(drew(ready, L"click here"));

    // Turned off: the pass's message in the section (over two lines) and on
    // the status line, repainted once when it changes.
    sim.audio.setState(L"cable", platform::kStateDisabled);
    cable.statusPass();
    host.invalidated.clear();
    window.tick(now());
    EXPECT_FALSE(host.invalidated.empty());
    const auto off = paint();
    EXPECT_TRUE(drew(off, L"CABLE Input is turned off."));
    EXPECT_NE(off.findText(cable::kRenderOffMessage), nullptr) << "the status line";
    EXPECT_TRUE(off.overflows.empty()) << platform::utf8FromWide(off.overflows.front());
    if (const char* dir = std::getenv("OVIX_UI_SVG_DIR"))
        std::ofstream(std::string(dir) + "/page3_cable_off.svg") << off.svg();
    host.invalidated.clear();
    window.tick(now());
    EXPECT_TRUE(host.invalidated.empty()) << "nothing repaints while nothing changes";

    // Missing: the status line's link leads to the section.
    sim.audio.removeEndpoint(L"cable");
    sim.audio.removeEndpoint(L"cable-out");
    cable.statusPass();
    window.selectPage(0);
    window.tick(now());
    const auto missing = paint();
    const auto* link = missing.findText(L"VB-CABLE not installed - click here to install \"Omnimix\"");
    ASSERT_NE(link, nullptr);
    click(centre(link->rect));
    EXPECT_EQ(window.page(), 3);
    EXPECT_EQ(cable.installState(), cable::Install::Downloading) << "the link starts the install";
    host.runJobs(); // this console has no web: the download fails
    EXPECT_EQ(cable.installState(), cable::Install::Failed);
    const auto section = paint();
    EXPECT_NE(section.findText(L"VB-CABLE driver is not installed yet"), nullptr);
    EXPECT_NE(section.findText(L"Capture Endpoint: (not found)"), nullptr);
    EXPECT_NE(section.findText(L"Download & Install"), nullptr);

    host.opened.clear();
    click(centre(ui::kCableSoundRect));
    click(centre(ui::kCableFolderRect));
    click(centre(ui::kCableVendorRect));
    using Opened = std::pair<std::wstring, std::wstring>;
    EXPECT_EQ(host.opened,
        (std::vector<Opened>{{L"control.exe", L"mmsys.cpl,,1"}, {cable.services().cableFolder, L""},
            {L"https://vb-audio.com/Cable/", L""}}));
    host.runJobs();
    sim.console().state().engineReopenRequest.store(0);
    click(centre(ui::kCableRescanRect));
    EXPECT_EQ(sim.console().state().engineReopenRequest.load(), 1);
    EXPECT_EQ(host.jobs.size(), 1u) << "the device lists are read again";
    host.runJobs();

    window.selectPage(5);
    const auto diagnostics = paint();
    EXPECT_NE(diagnostics.findText(L"Virtual Cable: Not active"), nullptr);
    EXPECT_NE(diagnostics.findText(std::wstring(L"Driver Msg: ") + cable::kNotInstalledMessage), nullptr);
    EXPECT_NE(diagnostics.findText(L"Cable Note: No cable capture endpoint to rename yet"), nullptr);
}

TEST_F(Window, TheInstallButtonAsksTheCableForAnInstallAndRunsItsDownloadInTheBackground)
{
    cable::Cable& cable = sim.console().cable();
    window.selectPage(3);
    host.runJobs();
    click(centre(ui::kCableInstallRect));
    EXPECT_EQ(cable.installState(), cable::Install::Downloading);
    ASSERT_EQ(host.jobs.size(), 1u);
    click(centre(ui::kCableInstallRect));
    EXPECT_EQ(host.jobs.size(), 1u) << "no second request while one runs";
}

// Pages 1 to 3: a slider's ends by click and drag, its default by double-click.
struct SliderCase {
    Rect bounds;
    settings::IntField Settings::*field;
    int32_t low, high, reset;
};

class Pages : public Window {
protected:
    void checkSlider(const SliderCase& c)
    {
        SCOPED_TRACE(c.bounds.y);
        const float y = c.bounds.y + 32;
        click({c.bounds.x, y});
        EXPECT_EQ((s.*c.field).load(), c.low);
        window.pointerDown({c.bounds.x + 40, y});
        window.pointerMove({c.bounds.right() + 40, y});
        window.pointerUp({c.bounds.right() + 40, y});
        EXPECT_EQ((s.*c.field).load(), c.high);
        window.doubleClick({c.bounds.x + 100, y});
        window.pointerUp({c.bounds.x + 100, y});
        EXPECT_EQ((s.*c.field).load(), c.reset);
    }
    void checkFlag(Rect bounds, settings::FlagField Settings::*field)
    {
        const int32_t before = (s.*field).load();
        click(centre(bounds));
        EXPECT_EQ((s.*field).load(), 1 - before) << bounds.x << "," << bounds.y;
        click(centre(bounds));
        EXPECT_EQ((s.*field).load(), before);
    }
    // Opens the drop-down whose box is box by a click and picks row by the keys.
    void pick(Rect box, int row)
    {
        click(centre(box));
        window.key(ui::Key::Home, {});
        for (int i = 0; i < row; ++i)
            window.key(ui::Key::Down, {});
        window.key(ui::Key::Enter, {});
    }
    void reset() { click(centre(ui::captionToolRect(ui::CaptionTool::Reset))); }
};

TEST_F(Pages, MixerControlsMapTheirFieldsMasksGoThroughTheMaskChoiceAndEachTabResetsOnlyItsGroup)
{
    window.selectPage(1, 0);
    s.set(&Settings::iso_mode, 0);
    for (const auto& c : std::vector<SliderCase>{
             {{16, 144, 404, 44}, &Settings::mic_level, 0, 1000, 100},
             {{16, 196, 404, 44}, &Settings::clip_level, 0, 1000, 84},
             {{16, 248, 404, 44}, &Settings::app_gain, 0, 1000, 80},
             {{16, 328, 198, 44}, &Settings::pan, -100, 100, 0},
             {{222, 328, 198, 44}, &Settings::app_pan, -100, 100, 0},
             {{440, 212, 404, 44}, &Settings::iso_level, 0, 100, 60},
             {{440, 348, 404, 44}, &Settings::voice_speed, 50, 200, 100},
         })
        checkSlider(c);
    checkFlag({16, 380, 198, 28}, &Settings::pan_cable);
    checkFlag({222, 380, 198, 28}, &Settings::pan_mon);
    checkFlag({440, 144, 404, 28}, &Settings::isolate);
    checkFlag({440, 400, 404, 28}, &Settings::voice_keep_pitch);
    // The five modes; the strength slider that the mode does not use is disabled.
    for (int m = 4; m >= 0; --m) {
        click({440 + m * 80.8f + 36, 192});
        EXPECT_EQ(s.iso_mode.load(), m);
    }
    click({440 + 4 * 80.8f + 36, 192});
    checkSlider({{440, 264, 404, 44}, &Settings::vocal_level, 0, 100, 50});
    click({440, 212 + 32});
    EXPECT_EQ(s.iso_level.load(), 60);

    // Advanced tab: the masks, through the mask choice.
    window.selectPage(1, 1);
    s.set(&Settings::pitch_hz, 40);
    s.set(&Settings::voice_macro, 30);
    s.set(&Settings::voice_mask, -1);
    // With no mask chosen the pop-up shows its first rows below the box: a click picks "Demon".
    click({128 + 146, 156});
    click({128 + 20, 144 + 24 + 2 + 3 * 24 + 12});
    EXPECT_EQ(s.voice_mask.load(), 3);
    EXPECT_EQ(s.voice_ratio.load(), 600);
    EXPECT_EQ(s.voice_size.load(), 148);
    EXPECT_EQ(s.pitch_hz.load(), 0);
    EXPECT_EQ(s.voice_macro.load(), 0);
    EXPECT_NE(paint().findText(L"Zephra mask: Demon"), nullptr);
    pick({128, 176, 292, 24}, 0); // the first extended mask
    EXPECT_EQ(s.voice_mask.load(), 18);
    EXPECT_EQ(s.voice_ratio.load(), dsp::kMasks[18].ratio);
    s.set(&Settings::pitch_hz, -20);
    window.key(ui::Key::Up, {}); // the list has no focus yet: a click gives it
    click({40, 208 + 4 + 12});   // the list's first shown row
    const int32_t listed = s.voice_mask.load();
    EXPECT_NE(listed, 18);
    EXPECT_EQ(s.voice_ratio.load(), dsp::kMasks[static_cast<size_t>(listed)].ratio);
    EXPECT_EQ(s.pitch_hz.load(), 0);

    for (const auto& c : std::vector<SliderCase>{
             {{440, 144, 404, 44}, &Settings::voice_ratio, 400, 2500, 1000},
             {{440, 196, 404, 44}, &Settings::voice_size, 60, 150, 100},
             {{440, 248, 404, 44}, &Settings::pitch_hz, -150, 150, 0},
         })
        checkSlider(c);
    // The macro moves ratio, pitch and size by its mapping; values near the middle snap to 0.
    const Rect macro{440, 300, 404, 44};
    click({macro.x, macro.y + 32});
    EXPECT_EQ(s.voice_macro.load(), -100);
    EXPECT_EQ(s.pitch_hz.load(), 50);
    EXPECT_EQ(s.voice_size.load(), 75);
    EXPECT_EQ(s.voice_ratio.load(), 1000);
    click({macro.right() - 1, macro.y + 32});
    EXPECT_EQ(s.voice_macro.load(), 100);
    EXPECT_EQ(s.pitch_hz.load(), -50);
    EXPECT_EQ(s.voice_size.load(), 125);
    window.key(ui::Key::Home, {});
    for (int i = 0; i < 97; ++i)
        window.key(ui::Key::Right, {});
    EXPECT_EQ(s.voice_macro.load(), 0) << "-3 snaps to 0";
    EXPECT_EQ(s.voice_size.load(), 100);

    for (int bit = 0; bit < 3; ++bit) {
        const int32_t before = s.mask_on.load();
        click({16 + bit * 132.0f + 20, 450});
        EXPECT_EQ(s.mask_on.load(), before ^ (1 << bit));
    }
    pick({504, 384, 340, 24}, 5);
    EXPECT_EQ(s.glitch_style.load(), 5);
    EXPECT_NE(paint().findText(L"Hold to scratch"), nullptr);

    // The glitch button holds the glitch while pressed; the pitch line follows the report.
    const Point hold{642, 432};
    window.pointerMove(hold);
    window.pointerDown(hold);
    EXPECT_EQ(sim.console().state().glitchButtonHeld.load(), 1);
    EXPECT_NE(paint().findText(L"Glitching Now!  Scratching"), nullptr);
    window.pointerUp(hold);
    EXPECT_EQ(sim.console().state().glitchButtonHeld.load(), 0);
    EXPECT_EQ(paint().findText(L"Glitching Now!  Scratching"), nullptr);
    EXPECT_NE(paint().findText(L"Pitch tracking ready"), nullptr);
    engine::EngineReport report;
    report.detectedPitchHz = 118;
    report.targetPitchHz = 177;
    sim.console().reports().publish(report);
    host.invalidated.clear();
    window.tick(now());
    EXPECT_FALSE(host.invalidated.empty());
    EXPECT_NE(paint().findText(L"Voice 118 Hz  ->  177 Hz"), nullptr);

    // Each tab's reset restores its own group and nothing of the other.
    window.pointerDown(hold);
    reset();
    EXPECT_EQ(sim.console().state().glitchButtonHeld.load(), 0);
    EXPECT_EQ(s.voice_mask.load(), 13);
    EXPECT_EQ(s.voice_ratio.load(), 1000);
    EXPECT_EQ(s.voice_size.load(), 100);
    EXPECT_EQ(s.mask_on.load(), 1);
    EXPECT_EQ(s.glitch_style.load(), 0);
    EXPECT_EQ(s.iso_mode.load(), 4) << "left as the basic tab set it";
    s.set(&Settings::iso_level, 10);
    s.set(&Settings::voice_speed, 150);
    window.selectPage(1, 0);
    reset();
    EXPECT_EQ(s.iso_level.load(), 60);
    EXPECT_EQ(s.voice_speed.load(), 150) << "the voice speed belongs to the advanced group";
}

TEST_F(Pages, EqualizerBandsGoCustomPresetsSaveSelectAndDeleteAndFlattenAndResetGoFlat)
{
    window.selectPage(2);
    // Band 2 (500 Hz): its track runs from y 148 (+12) to 340 (-12).
    const float bandX = 16 + 2 * 58 + 3 + 26;
    click({bandX, 148});
    EXPECT_EQ(s.eq_bands[2].load(), 12);
    EXPECT_EQ(s.eq_preset.load(), Settings::kCustomEqPreset);
    EXPECT_NE(paint().findText(L"Custom"), nullptr);
    window.pointerDown({bandX, 200});
    window.pointerMove({bandX, 500});
    window.pointerUp({bandX, 500});
    EXPECT_EQ(s.eq_bands[2].load(), -12);
    window.doubleClick({bandX, 300});
    window.pointerUp({bandX, 300});
    EXPECT_EQ(s.eq_bands[2].load(), 0);
    click({16 + 6 * 58 + 3 + 26, 150});
    EXPECT_EQ(s.eq_bands[6].load(), 12);
    checkSlider({{16, 384, 404, 44}, &Settings::eq_level, 0, 24, 0});
    checkFlag({440, 120, 404, 28}, &Settings::eq_on);

    // Save: the prompt names the curve "Custom"; the new preset is selected and listed.
    const Rect presets{504, 184, 340, 24};
    const Rect save{440, 216, 129.33f, 24}, remove{577.33f, 216, 129.33f, 24}, flatten{714.67f, 216, 129.33f, 24};
    host.promptAnswers = {L"Loud Top"};
    click(centre(save));
    ASSERT_EQ(s.userEqPresets().size(), 1u);
    EXPECT_EQ(s.eq_preset.load(), 10);
    EXPECT_NE(paint().findText(L"Loud Top"), nullptr);
    // A built-in preset, then the user's again from the list.
    pick(presets, 1);
    EXPECT_EQ(s.eq_preset.load(), 1);
    EXPECT_NE(s.eq_bands[6].load(), 12);
    click(centre(remove));
    EXPECT_EQ(s.userEqPresets().size(), 1u) << "a built-in preset is not deleted";
    pick(presets, 10);
    EXPECT_EQ(s.eq_preset.load(), 10);
    EXPECT_EQ(s.eq_bands[6].load(), 12);
    click(centre(remove));
    EXPECT_TRUE(s.userEqPresets().empty());
    EXPECT_EQ(s.eq_preset.load(), 0);
    EXPECT_EQ(s.eq_bands[6].load(), 0);
    // Flatten: every band and the level to 0.
    s.setEqBand(4, 7);
    s.set(&Settings::eq_level, 9);
    click(centre(flatten));
    for (const auto& band : s.eq_bands)
        EXPECT_EQ(band.load(), 0);
    EXPECT_EQ(s.eq_level.load(), 0);
    // The page reset: switch on, level 0, Flat; nothing else.
    s.set(&Settings::eq_on, 0);
    s.set(&Settings::eq_level, 5);
    s.setEqBand(0, -6);
    s.set(&Settings::mic_level, 300);
    reset();
    EXPECT_EQ(s.eq_on.load(), 1);
    EXPECT_EQ(s.eq_level.load(), 0);
    EXPECT_EQ(s.eq_bands[0].load(), 0);
    EXPECT_EQ(s.eq_preset.load(), 0);
    EXPECT_EQ(s.mic_level.load(), 300);
    EXPECT_NE(paint().findText(L"Bass boost at 100 Hz: +6.2 dB"), nullptr);
}

TEST_F(Pages, SpeakerControlsMapTheirFieldsShowTheirTooltipsAndTheResetRestoresTheFourSections)
{
    window.selectPage(3);
    for (const auto& c : std::vector<SliderCase>{
             {{16, 152, 404, 44}, &Settings::SpkTestVol, 5, 100, 35},
             {{440, 184, 198, 44}, &Settings::pan, -100, 100, 0},
             {{646, 184, 198, 44}, &Settings::app_pan, -100, 100, 0},
             {{16, 336, 404, 44}, &Settings::mic_level, 0, 1000, 100},
             {{16, 392, 404, 44}, &Settings::eq_level, 0, 24, 0},
         })
        checkSlider(c);
    const std::pair<Rect, settings::FlagField Settings::*> flags[] = {
        {{16, 232, 198, 28}, &Settings::monitor},
        {{222, 232, 198, 28}, &Settings::wide},
        {{16, 264, 198, 28}, &Settings::ambit},
        {{222, 264, 198, 28}, &Settings::raw},
        {{440, 120, 198, 28}, &Settings::card_mic},
        {{646, 120, 198, 28}, &Settings::tone_on},
        {{440, 152, 404, 28}, &Settings::effects},
        {{440, 232, 198, 28}, &Settings::pan_cable},
        {{646, 232, 198, 28}, &Settings::pan_mon},
        {{16, 448, 404, 28}, &Settings::eq_on},
    };
    for (const auto& [r, field] : flags)
        checkFlag(r, field);
    click({320, 132});
    EXPECT_EQ(s.SpkHeadphone.load(), 1);
    click({110, 132});
    EXPECT_EQ(s.SpkHeadphone.load(), 0);
    // The speaker tests and the cable section are laid out, with their tooltips.
    const auto painted = paint();
    for (const wchar_t* label : {L"Channel Test", L"Pink Noise", L"Download & Install", L"Sound Settings"})
        EXPECT_NE(painted.findText(label), nullptr);
    window.pointerMove({110, 212});
    sim.clock.advanceMillis(600);
    window.tick(now());
    EXPECT_NE(paint().findText(L"identification chime"), nullptr);

    // The reset restores the fields of all four sections, and not the others'.
    s.set(&Settings::SpkHeadphone, 1);
    s.set(&Settings::SpkTestVol, 80);
    s.set(&Settings::wide, 1);
    s.set(&Settings::tone_on, 0);
    s.set(&Settings::pan, 30);
    s.set(&Settings::mic_level, 400);
    s.set(&Settings::eq_on, 0);
    s.set(&Settings::amount, 50);
    reset();
    EXPECT_EQ(s.SpkHeadphone.load(), 0);
    EXPECT_EQ(s.SpkTestVol.load(), 35);
    EXPECT_EQ(s.wide.load(), 0);
    EXPECT_EQ(s.tone_on.load(), 1);
    EXPECT_EQ(s.pan.load(), 0);
    EXPECT_EQ(s.mic_level.load(), 100);
    EXPECT_EQ(s.eq_on.load(), 1);
    EXPECT_EQ(s.amount.load(), 50);
}

// While it lives, moves the virtual clock 10 ms whenever a thread waits on
// it: a speaker test being stopped fades out over the clock's time, while
// the test's own thread waits in the join.
class ClockPump {
public:
    explicit ClockPump(platform::sim::ManualClock& clock)
        : thread_([this, &clock] {
              while (!done_.load()) {
                  if (clock.waiters() > 0)
                      clock.advanceMillis(10);
                  std::this_thread::yield();
              }
          })
    { }
    ~ClockPump()
    {
        done_.store(true);
        thread_.join();
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

TEST_F(Pages, TheSpeakerTestButtonsStartSwitchAndStopTheTestsAndThePageSaysWhatPlaysOrWhyNot)
{
    window.selectPage(3);
    engine::SpeakerTest& test = sim.console().speakerTest();
    // Virtual time stands still, so the chime plays on until it is stopped.
    click(centre(ui::kChannelTestRect));
    ASSERT_TRUE(test.running());
    EXPECT_EQ(test.mode(), engine::TestMode::Chime);
    EXPECT_FLOAT_EQ(test.level(), 0.35f);
    window.tick(now());
    auto painted = paint();
    EXPECT_NE(painted.findText(L"Stop Test"), nullptr);
    EXPECT_NE(painted.findText(L"Pink Noise"), nullptr);
    EXPECT_NE(painted.findText(L"Channel Test Active..."), nullptr);
    // The level follows the slider while the test runs.
    window.pointerDown({ui::kLeftX + 40, 184});
    window.pointerMove({ui::kLeftX + ui::kLeftW + 40, 184});
    window.pointerUp({ui::kLeftX + ui::kLeftW + 40, 184});
    EXPECT_EQ(s.SpkTestVol.load(), 100);
    EXPECT_FLOAT_EQ(test.level(), 1.0f);

    {
        ClockPump pump(sim.clock);
        click(centre(ui::kPinkNoiseRect)); // switches to the noise
    }
    EXPECT_TRUE(test.running());
    EXPECT_EQ(test.mode(), engine::TestMode::PinkNoise);
    window.tick(now());
    painted = paint();
    EXPECT_NE(painted.findText(L"Stop Noise"), nullptr);
    EXPECT_NE(painted.findText(L"Channel Test"), nullptr);
    auto noiseLine = [](const RecordingPainter& p) {
        return p.findText(L"Pink Noise: Left") || p.findText(L"Pink Noise: Right")
            || p.findText(L"Pink Noise Calibration Active...");
    };
    EXPECT_TRUE(noiseLine(painted));
    {
        ClockPump pump(sim.clock);
        click(centre(ui::kPinkNoiseRect)); // the same button only stops it
    }
    EXPECT_FALSE(test.running());
    window.tick(now());
    painted = paint();
    EXPECT_EQ(painted.findText(L"Stop Noise"), nullptr);
    EXPECT_NE(painted.findText(L"Pink Noise"), nullptr);
    EXPECT_FALSE(noiseLine(painted));

    // A speaker that refuses to open leaves its text on the page.
    for (const wchar_t* id : {L"spk-main", L"spk-phones"})
        sim.audio.setRefuseOpen(id, true);
    click(centre(ui::kChannelTestRect));
    test.stopSpeakerTest(); // joins the thread, which ends at the failed open
    window.tick(now());
    EXPECT_NE(paint().findText(engine::kSpeakerOpenFailedText), nullptr);
}

TEST_F(Pages, SettingsControlsMapTheirFieldsFontsComeAndGoWithToastsAndTheResetRestoresTheAppearance)
{
    window.selectPage(5);
    for (const auto& c : std::vector<SliderCase>{
             {{16, 144, 198, 44}, &Settings::UiZoom, 70, 250, 100},
             {{222, 144, 198, 44}, &Settings::alpha, 20, 100, 100},
             {{440, 184, 198, 44}, &Settings::font_size, 11, 13, 12},
         })
        checkSlider(c);
    // The zoom reaches the window once the drag ends, not under the pointer.
    const int looks = host.looks;
    window.pointerDown({16, 176});
    window.pointerMove({150, 176});
    EXPECT_EQ(host.looks, looks);
    window.pointerUp({150, 176});
    EXPECT_EQ(host.looks, looks + 1);

    const std::pair<Rect, settings::FlagField Settings::*> flags[] = {
        {{16, 200, 198, 28}, &Settings::UiTop},
        {{222, 200, 198, 28}, &Settings::UiPlace},
        {{16, 232, 198, 28}, &Settings::UiHints},
        {{222, 232, 198, 28}, &Settings::UiAnim},
        {{646, 200, 198, 28}, &Settings::font_bold},
    };
    for (const auto& [r, field] : flags)
        checkFlag(r, field);
    EXPECT_GE(host.looks, looks + 3); // always on top applies at once

    // Autostart writes and deletes the Run entry; the page reset leaves it.
    auto& store = *sim.console().registrySettings();
    click({100, 278});
    EXPECT_TRUE(store.autostartEnabled());

    // A font added through the dialog is listed, chosen, then removed.
    fontSystem.chosen = L"D:\\Neat.ttf";
    files.put(L"D:\\Neat.ttf", test_support::fontImage({{L"Neat Sans"}}));
    fontSystem.fileFamilies[L"C:\\Data\\VantorOvix\\fonts\\Neat.ttf"] = {L"Neat Sans"};
    click({539, 252});
    EXPECT_NE(paint().findText(L"Added font: Neat Sans"), nullptr);
    const int fontChanges = host.fontChanges;
    pick({528, 144, 316, 24}, static_cast<int>(std::size(ui::kBuiltInFaces)));
    EXPECT_EQ(s.font(), L"Neat Sans");
    EXPECT_EQ(host.fontChanges, fontChanges + 1);
    click({745, 252});
    EXPECT_NE(paint().findText(L"Removed font: Neat Sans"), nullptr);
    EXPECT_EQ(s.font(), L"Tahoma");
    EXPECT_EQ(host.fontChanges, fontChanges + 2);

    // The reset restores exactly the appearance group.
    s.set(&Settings::UiZoom, 150);
    s.set(&Settings::alpha, 40);
    s.set(&Settings::UiTop, 1);
    s.set(&Settings::UiPlace, 0);
    s.set(&Settings::UiHints, 0);
    s.set(&Settings::UiAnim, 0);
    s.set(&Settings::font_size, 13);
    s.set(&Settings::font_bold, 1);
    s.setFont(L"Arial");
    s.set(&Settings::amount, 50);
    reset();
    EXPECT_EQ(s.UiZoom.load(), 100);
    EXPECT_EQ(s.alpha.load(), 100);
    EXPECT_EQ(s.UiTop.load(), 0);
    EXPECT_EQ(s.UiPlace.load(), 1);
    EXPECT_EQ(s.UiHints.load(), 1);
    EXPECT_EQ(s.UiAnim.load(), 1);
    EXPECT_EQ(s.font_size.load(), 12);
    EXPECT_EQ(s.font_bold.load(), 0);
    EXPECT_EQ(s.font(), L"Tahoma");
    EXPECT_EQ(s.amount.load(), 50);
    EXPECT_TRUE(store.autostartEnabled());
    EXPECT_EQ(host.fontChanges, fontChanges + 3);
    click({100, 278});
    EXPECT_FALSE(store.autostartEnabled());
}

TEST_F(Pages, TheSoundClipTabMapsItsControlsShowsEveryTooltipAndItsResetRestoresTheClipGroup)
{
    window.selectPage(4, 0);
    checkSlider({ui::kClipSpeedRect, &Settings::clip_speed, 50, 200, 100});
    checkSlider({ui::kClipLevelRect, &Settings::clip_level, 0, 1000, 84});
    checkFlag(ui::kClipKeepPitchRect, &Settings::clip_keep_pitch);
    checkFlag(ui::kClipFollowVoiceRect, &Settings::clip_follow_voice);
    checkFlag(ui::kClipMicRect, &Settings::clip_mic);
    checkFlag(ui::kClipHearRect, &Settings::clip_hear);
    s.set(&Settings::clip_speed, 125);
    s.set(&Settings::clip_level, 0);
    auto values = paint();
    EXPECT_NE(values.findText(L"1.25x"), nullptr);
    EXPECT_NE(values.findText(L"Off"), nullptr);
    EXPECT_NE(values.findText(L"0.0 s / 0.0 s"), nullptr);

    // Every control of the tab, the field's spot included, has a tooltip.
    for (const Rect& r : {ui::kClipSourceRect, ui::kClipBrowseRect, ui::kClipPlayRect, ui::kClipStopRect,
             ui::kClipBackRect, ui::kClipForwardRect, ui::kClipPositionRect, ui::kClipSpeedRect, ui::kClipKeepPitchRect,
             ui::kClipFollowVoiceRect, ui::kClipLevelRect, ui::kClipMicRect, ui::kClipHearRect}) {
        window.pointerMove({2, 300});
        window.pointerMove({r.x + 4, r.y + 4});
        sim.clock.advanceMillis(600);
        window.tick(now());
        const auto painted = paint();
        EXPECT_TRUE(std::any_of(painted.calls.begin(), painted.calls.end(),
            [](const RecordingPainter::Call& c) { return c.colour == ui::theme::kTipBack; }))
            << r.x << "," << r.y;
    }

    s.set(&Settings::clip_keep_pitch, 0);
    s.set(&Settings::clip_follow_voice, 0);
    s.set(&Settings::clip_mic, 0);
    s.set(&Settings::clip_hear, 0);
    s.set(&Settings::app_gain, 300);
    reset();
    EXPECT_EQ(s.clip_speed.load(), 100);
    EXPECT_EQ(s.clip_level.load(), 84);
    EXPECT_EQ(s.clip_keep_pitch.load(), 1);
    EXPECT_EQ(s.clip_follow_voice.load(), 1);
    EXPECT_EQ(s.clip_mic.load(), 1);
    EXPECT_EQ(s.clip_hear.load(), 1);
    EXPECT_EQ(s.app_gain.load(), 300) << "another tab's group";
    EXPECT_NE(paint().findText(L"Restored Media tab defaults"), nullptr);
}

// The reading progress of the outline shows in the position bar.
bool showsOutlineProgress(const RecordingPainter& painter)
{
    return std::any_of(painter.calls.begin(), painter.calls.end(),
        [](const RecordingPainter::Call& c) { return c.text.starts_with(L"Reading the waveform"); });
}

TEST_F(Window, TheSourceFieldShowsOnlyWithItsTabAndBrowsedOrDroppedFilesStartOneOutlineJobEach)
{
    EXPECT_FALSE(host.fieldShown);
    window.selectPage(4, 0);
    EXPECT_TRUE(host.fieldShown);
    window.selectPage(4, 1);
    EXPECT_FALSE(host.fieldShown);
    window.selectPage(4, 0);
    host.runJobs();

    // Browse: the chosen file goes into the field and its outline is read.
    click(centre(ui::kClipBrowseRect));
    EXPECT_TRUE(host.jobs.empty()) << "a cancelled dialog changes nothing";
    host.fileAnswer = L"C:\\Clips\\intro.wav";
    click(centre(ui::kClipBrowseRect));
    EXPECT_EQ(host.fieldText, L"C:\\Clips\\intro.wav");
    ASSERT_EQ(host.jobs.size(), 1u);
    EXPECT_TRUE(showsOutlineProgress(paint()));
    click(centre(ui::kClipBrowseRect));
    EXPECT_EQ(host.jobs.size(), 1u) << "the same file's outline is already on its way";

    // A dropped file shows the tab and takes the place of the job before:
    // the older job's late result is dropped, the newer one ends the progress.
    window.selectPage(0);
    EXPECT_FALSE(host.fieldShown);
    window.filesDropped({L"C:\\Clips\\outro.mp3", L"C:\\Clips\\other.mp3"});
    EXPECT_EQ(window.page(), 4);
    EXPECT_EQ(window.tab(), 0);
    EXPECT_TRUE(host.fieldShown);
    EXPECT_EQ(host.fieldText, L"C:\\Clips\\outro.mp3");
    ASSERT_EQ(host.jobs.size(), 2u);
    auto first = std::move(host.jobs.front());
    host.jobs.erase(host.jobs.begin());
    first.first();
    first.second();
    EXPECT_TRUE(showsOutlineProgress(paint()));
    host.runJobs();
    EXPECT_FALSE(showsOutlineProgress(paint()));

    // A web link has no outline to read.
    window.filesDropped({L"https://example.com/clip.mp3"});
    EXPECT_TRUE(host.jobs.empty());

    // Tab reaches the field natively; from the field, Tab moves on to Browse.
    window.filesDropped({L"C:\\Clips\\intro.wav"});
    host.runJobs();
    window.key(ui::Key::Tab, {});
    while (host.fieldFocused == 0)
        window.key(ui::Key::Tab, {});
    window.sourceFieldKey(ui::Key::Tab, {});
    host.fileAnswer = L"C:\\Clips\\next.wav";
    window.key(ui::Key::Enter, {});
    EXPECT_EQ(host.fieldText, L"C:\\Clips\\next.wav") << "Enter pressed Browse, the control after the field";
}

TEST_F(Window, PlayOpensTheFieldsTextAndAFailureShowsInRedWithPlayStillOffered)
{
    window.selectPage(4, 0);
    host.fieldText = L"  ";
    click(centre(ui::kClipPlayRect));
    const clip::Player& player = sim.console().clipPlayer();
    EXPECT_EQ(player.state(), clip::PlayerState::Failed);
    window.tick(now());
    const auto painted = paint();
    const auto* status = painted.findText(clip::kEmptySource);
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->colour, ui::theme::kDanger);
    EXPECT_NE(painted.findText(L"Play"), nullptr);
}

TEST_F(Window, AnIdleTickOnTheSoundClipTabRepaintsNothing)
{
    window.selectPage(4, 0);
    window.tick(now());
    host.invalidated.clear();
    for (int i = 0; i < 3; ++i) {
        sim.clock.advanceMillis(16);
        window.tick(now());
    }
    EXPECT_TRUE(host.invalidated.empty());
    s.set(&Settings::clip_mic, 0);
    window.tick(now());
    ASSERT_EQ(host.invalidated.size(), 1u);
    EXPECT_TRUE(host.invalidated[0].intersects(ui::kClipMicRect));
    EXPECT_FALSE(host.invalidated[0].intersects(ui::kClipPositionRect));
}

// The Recorder & Editor tab, with a take given to the editor as a recording would.
class RecorderPage : public Window {
protected:
    RecorderPage() { window.selectPage(4, 3); }
    recorder::TakeEditor& editor() { return sim.console().takeEditor(); }
    // A 10 s take given to the editor; true when it holds it.
    bool giveTake()
    {
        auto sound = std::make_shared<clip::Sound>();
        sound->samples.resize(10 * 48000 * 2);
        for (size_t i = 0; i < sound->samples.size(); ++i)
            sound->samples[i] = static_cast<int16_t>((i / 2) % 96 < 48 ? 8000 : -8000);
        editor().setTake(sound, false);
        window.tick(now());
        return editor().hasTake();
    }
    float xOf(double seconds) const
    {
        const Rect w = ui::kRecWaveRect;
        const auto& e = const_cast<RecorderPage*>(this)->editor();
        return w.x + static_cast<float>((seconds - e.viewStart()) / e.viewLength()) * w.w;
    }
    void dragWave(float from, float to)
    {
        const float y = ui::kRecWaveRect.y + 20;
        window.pointerMove({from, y});
        window.pointerDown({from, y});
        window.pointerMove({to, y});
        window.pointerUp({to, y});
    }
};

TEST_F(RecorderPage, WithoutATakeItSaysHowToStartWhileRecordingItShowsTheRunningLengthAndStop)
{
    window.tick(now());
    host.invalidated.clear();
    for (int i = 0; i < 3; ++i) {
        sim.clock.advanceMillis(16);
        window.tick(now());
        window.slowTick(now());
    }
    EXPECT_TRUE(host.invalidated.empty()) << "an idle tab repaints nothing";
    auto painted = paint();
    EXPECT_NE(painted.findText(L"Press Record or click Last buffer to edit waveform"), nullptr);
    EXPECT_NE(painted.findText(L"Record"), nullptr);
    EXPECT_EQ(painted.findText(L"Stop"), nullptr);
    recorder::BusyFlags& flags = sim.console().recorderFlags();
    flags.recording = true;
    window.tick(now());
    painted = paint();
    EXPECT_NE(painted.findText(L"Stop"), nullptr);
    EXPECT_NE(painted.findText(L"Recording... 0.0 s  (click Stop when finished)"), nullptr);
    EXPECT_TRUE(painted.overflows.empty());
    flags.recording = false;
    // Clicks on disabled editing buttons reach nothing.
    host.saveAnswer = ui::SaveChoice{L"C:\\Takes\\a.wav", 0};
    click(centre(ui::kRecSaveRect));
    EXPECT_TRUE(host.saveDialogs.empty());
}

TEST_F(RecorderPage, CtrlZAndCtrlYUndoAndRedoOnlyWhileTheTabIsShown)
{
    EXPECT_TRUE(window.key(ui::Key::Z, {false, true}));
    EXPECT_FALSE(window.key(ui::Key::Z, {})) << "Z alone is no command";
    window.selectPage(0);
    EXPECT_FALSE(window.key(ui::Key::Z, {false, true}));
    EXPECT_FALSE(window.key(ui::Key::Y, {false, true}));
    window.selectPage(4, 3);
    ASSERT_TRUE(giveTake());
    editor().setSelection(2.0, 3.0);
    ASSERT_TRUE(editor().cutSelection());
    window.selectPage(4, 0);
    window.key(ui::Key::Z, {false, true});
    EXPECT_TRUE(editor().canUndo()) << "another tab's Ctrl+Z leaves the take alone";
    window.selectPage(4, 3);
    window.key(ui::Key::Z, {false, true});
    EXPECT_FALSE(editor().canUndo());
    EXPECT_NEAR(editor().seconds(), 10.0, 1e-9);
    window.key(ui::Key::Y, {false, true});
    EXPECT_TRUE(editor().canUndo());
    EXPECT_NEAR(editor().seconds(), 9.0, 1e-9);
}

TEST_F(RecorderPage, TheLastButtonNamesTheBufferLengthAndItsStepsChangeIt)
{
    s.set(&Settings::KeepLast, 60);
    window.tick(now());
    EXPECT_NE(paint().findText(L"Last 1 min"), nullptr);
    click(centre(ui::kRecKeepMoreRect));
    EXPECT_EQ(s.KeepLast.load(), 90);
    EXPECT_NE(paint().findText(L"Last 1:30"), nullptr);
    click(centre(ui::kRecKeepLessRect));
    click(centre(ui::kRecKeepLessRect));
    EXPECT_EQ(s.KeepLast.load(), 45);
    auto painted = paint();
    EXPECT_NE(painted.findText(L"Last 45 s"), nullptr);
    EXPECT_NE(painted.findText(L"Holds 0.0 s of 45.0 s"), nullptr);
}

TEST_F(RecorderPage, ThePointerSelectsMovesAnEdgePansZoomsAboutItselfAndTheStripMovesTheView)
{
    ASSERT_TRUE(giveTake());
    const Rect w = ui::kRecWaveRect;
    dragWave(xOf(2.5), xOf(7.5));
    EXPECT_NEAR(editor().selectionStart(), 2.5, 0.02);
    EXPECT_NEAR(editor().selectionEnd(), 7.5, 0.02);
    // The end edge, dragged left past the start: the selection turns around it.
    dragWave(xOf(7.5) + 2, xOf(1.0));
    EXPECT_NEAR(editor().selectionStart(), 1.0, 0.02);
    EXPECT_NEAR(editor().selectionEnd(), 2.5, 0.02);

    // A wheel step in keeps the time under the pointer where it was.
    const float x = xOf(5.0);
    window.wheel({x, w.y + 20}, 1.0f);
    EXPECT_NEAR(editor().viewLength(), 7.8, 1e-6);
    EXPECT_NEAR(editor().viewStart() + (x - w.x) / w.w * editor().viewLength(), 5.0, 0.02);

    // The right button pans: the take follows the pointer.
    const double start = editor().viewStart(), length = editor().viewLength();
    window.secondaryDown({w.x + 400, w.y + 20});
    window.pointerMove({w.x + 400 - w.w / 10, w.y + 20});
    window.pointerUp({w.x + 400 - w.w / 10, w.y + 20});
    EXPECT_NEAR(editor().viewStart(), start + length / 10, 1e-6);
    EXPECT_NEAR(editor().selectionEnd(), 2.5, 0.02) << "panning leaves the selection alone";

    // The strip: a press outside the view's box centres the view there.
    const Rect strip = ui::kRecStripRect;
    window.pointerMove({strip.x + 2, strip.y + 8});
    window.pointerDown({strip.x + 2, strip.y + 8});
    window.pointerUp({strip.x + 2, strip.y + 8});
    EXPECT_NEAR(editor().viewStart(), 0.0, 1e-6);
    EXPECT_NEAR(editor().selectionEnd(), 2.5, 0.02);
}

TEST_F(RecorderPage, SaveOffersTheFiveFormatsInTheChosenFolderStoresTheFormatAndShowsTheWorkersResult)
{
    host.folderAnswer = L"C:\\Takes";
    click(centre(ui::kRecFolderRect));
    EXPECT_EQ(s.clipsFolder(), L"C:\\Takes");
    ASSERT_TRUE(giveTake());
    ASSERT_TRUE(takeFiles.createFolders(L"C:\\Takes"));
    s.set(&Settings::TakeFormat, 0);
    click(centre(ui::kRecSaveRect));
    ASSERT_EQ(host.saveDialogs.size(), 1u);
    const auto& dialog = host.saveDialogs[0];
    ASSERT_EQ(dialog.filters.size(), 5u);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(
            dialog.filters[static_cast<size_t>(i)].patterns, std::wstring(L"*.") + media::takeFormat(i).extension);
    EXPECT_EQ(dialog.filter, 0);
    EXPECT_TRUE(dialog.initialPath.starts_with(L"C:\\Takes\\VantorOvix_Clip_"))
        << platform::utf8FromWide(dialog.initialPath);
    EXPECT_TRUE(dialog.initialPath.ends_with(std::wstring(L".") + media::takeFormat(0).extension));
    EXPECT_TRUE(host.jobs.empty()) << "a cancelled dialog saves nothing";

    // A name without one of the five extensions takes the chosen line's format.
    host.saveAnswer = ui::SaveChoice{L"C:\\Takes\\cough.take", media::formatFromPath(L"x.wav")};
    click(centre(ui::kRecSaveRect));
    EXPECT_EQ(s.TakeFormat.load(), media::formatFromPath(L"x.wav"));
    ASSERT_EQ(host.jobs.size(), 1u);
    EXPECT_TRUE(sim.console().recorderFlags().saving);
    editor().setSelection(2.0, 3.0);
    click(centre(ui::recEditRect(2)));
    EXPECT_NEAR(editor().seconds(), 10.0, 1e-9) << "no cut while the save runs";
    host.runJobs();
    window.tick(now());
    EXPECT_FALSE(sim.console().recorderFlags().saving);
    const std::wstring& status = sim.console().recorderStatus();
    ASSERT_FALSE(status.empty());
    EXPECT_NE(paint().findText(status), nullptr);
    EXPECT_EQ(status.starts_with(L"Saved: "), takeFiles.exists(L"C:\\Takes\\cough.take"));
}

TEST_F(RecorderPage, SaveLastWritesWhatTheBufferHoldsIntoTheRecordingsFolder)
{
    s.set(&Settings::KeepLast, 0);
    window.tick(now());
    click(centre(ui::kRecSaveLastRect));
    EXPECT_TRUE(host.jobs.empty()) << "with the Last buffer off the button is disabled";

    s.set(&Settings::KeepLast, 60);
    s.set(&Settings::TakeFormat, media::formatFromPath(L"x.wav"));
    s.setClipsFolder(L"C:\\Takes");
    ASSERT_TRUE(takeFiles.createFolders(L"C:\\Takes"));
    window.slowTick(now()); // the pump arms the voice's Last ring
    click(centre(ui::kRecSaveLastRect));
    EXPECT_EQ(sim.console().recorderStatus(), L"Nothing in Last buffer to save");

    std::vector<float> second(2 * 48000);
    for (size_t i = 0; i < second.size(); ++i)
        second[i] = 0.25f * static_cast<float>(std::sin(0.05 * static_cast<double>(i / 2)));
    sim.console().rings().last.push(second.data(), static_cast<uint32_t>(second.size()));
    click(centre(ui::kRecSaveLastRect));
    ASSERT_EQ(host.jobs.size(), 1u);
    EXPECT_EQ(sim.console().recorderStatus(), L"Saving rolling Last clip...");
    host.runJobs();
    const std::wstring status = sim.console().recorderStatus();
    ASSERT_TRUE(status.starts_with(L"Saved Last: VantorOvix_Last_")) << platform::utf8FromWide(status);
    EXPECT_TRUE(takeFiles.exists(L"C:\\Takes\\" + status.substr(12) + L".wav"));
}

TEST_F(RecorderPage, ApplyFxRunsOneJobOnAWorkerShowsItsProgressAndTheTickTakesItsResult)
{
    s.set(&Settings::eq_on, 1);
    s.setEqBand(3, 6);
    ASSERT_TRUE(giveTake());
    ASSERT_TRUE(recorder::snapshotChangesSound(recorder::takeEffectSnapshot(s.snapshot(), false)));
    click(centre(ui::kRecApplyFxRect));
    ASSERT_EQ(host.jobs.size(), 1u);
    EXPECT_TRUE(sim.console().recorderFlags().saving);
    EXPECT_NE(paint().findText(L"Applying effects... 0 %"), nullptr);
    click(centre(ui::kRecApplyFxRect));
    EXPECT_EQ(host.jobs.size(), 1u) << "one render at a time";
    host.runJobs();
    window.tick(now());
    EXPECT_FALSE(sim.console().recorderFlags().saving) << "the tick took the finished job";
    EXPECT_EQ(paint().findText(L"Applying effects... 0 %"), nullptr);
    const std::wstring& status = sim.console().recorderStatus();
    EXPECT_NE(paint().findText(status), nullptr);
    EXPECT_EQ(status == L"Applied Ovix effects cleanly", editor().canUndo());
}

} // namespace

namespace {

// The Program on Mic tab over the simulated programs: a player and a
// browser with windows, and an endpoint the player can be parked on.
class ProgramTab : public Window {
protected:
    ProgramTab()
    {
        app.addProcess(10, 2, L"player.exe", 10);
        app.addProcess(20, 2, L"browser.exe", 20);
        app.setWindowProcesses({10, 20});
        sim.audio.addEndpoint({platform::Flow::Render, L"aux", L"Voicemeeter Aux Input"});
        window.selectPage(4, 2); // showing the tab lists the programs
    }
    appcapture::AppCapture& capture() { return *sim.console().appCapture(); }
    void awaitState(appcapture::AppState state)
    {
        while (capture().state() != state)
            std::this_thread::yield();
    }
    // The status line as the slow tick reads it.
    bool shows(const std::wstring& text)
    {
        window.slowTick(now());
        return paint().findText(text) != nullptr;
    }
    void startPlayer()
    {
        click({ui::kProgramListRect.x + 40, ui::kProgramListRect.y + 1 + 24 + 12}); // the second row
        click(centre(ui::kProgramStartRect));
    }
};

TEST_F(ProgramTab, TheListStartsTheClickedProgramTheStatusFollowsEachStateAndStopRestores)
{
    using appcapture::AppState;
    auto painted = paint();
    ASSERT_NE(painted.findText(L"browser"), nullptr);
    ASSERT_NE(painted.findText(L"player"), nullptr);
    click(centre(ui::kProgramStartRect));
    EXPECT_EQ(app.activations(), 0) << "nothing picked, Start does nothing";
    EXPECT_TRUE(shows(L"Pick a program playing sound, then press Start"));

    startPlayer();
    awaitState(AppState::Capturing);
    EXPECT_EQ(app.lastActivatedProcess(), 10u);
    capture().policyPass();
    EXPECT_TRUE(shows(L"Capturing player  (Parked via Voicemeeter Aux Input)"));

    // The captured sound moves the tab's meter.
    for (int i = 0; i < 10; ++i) { // a packet a tick, through the meter's attack
        const uint32_t queued = capture().ring().queued();
        app.pushPacket(std::vector<float>(960, 0.5f));
        while (capture().ring().queued() == queued)
            std::this_thread::yield();
        sim.clock.advanceMillis(16);
        window.tick(now());
    }
    EXPECT_NE(paint().findText(L"-6 dB"), nullptr);

    // A capture that breaks and cannot come back waits, still parked.
    app.setActivationError(0x88890004u);
    app.setCaptureFails(true);
    app.pushPacket(std::vector<float>(960, 0.5f));
    awaitState(AppState::Starting);
    EXPECT_TRUE(shows(L"Starting player...  (Parked via Voicemeeter Aux Input)"));

    click(centre(ui::kProgramStopRect));
    EXPECT_EQ(capture().state(), AppState::Off);
    EXPECT_FALSE(capture().parked());
    EXPECT_NE(paint().findText(L"Pick a program playing sound, then press Start"), nullptr) << "at once";
    app.setCaptureFails(false);

    startPlayer(); // the row stays picked; the refused activation is reported
    awaitState(AppState::Refused);
    EXPECT_TRUE(shows(L"Windows blocked this app's sound (0x88890004)"));
    app.setActivationError(0);
    app.setSystemBuild(19040);
    click(centre(ui::kProgramStartRect));
    awaitState(AppState::Unsupported);
    EXPECT_TRUE(shows(L"Needs Windows 10 (2004) or newer"));
    app.exitProcess(10);
    app.setSystemBuild(19041);
    click(centre(ui::kProgramRefreshRect));
    EXPECT_EQ(paint().findText(L"player"), nullptr);
    click(centre(ui::kProgramStartRect));
    EXPECT_EQ(capture().state(), AppState::Unsupported) << "the picked program left with the refresh";
}

TEST_F(ProgramTab, TheRoutingSwitchesTheTabsResetAndASetupLoadRestartWithTheNewParking)
{
    sim.audio.addEndpoint({platform::Flow::Render, L"steam", L"Steam Streaming Speakers"});
    sim.audio.removeEndpoint(L"aux");
    click(centre(ui::kProgramPrivateRect));
    ASSERT_EQ(s.app_hear.load(), 1);
    ASSERT_TRUE(setups.saveCurrentSetupAs(L"Private"));
    startPlayer();
    EXPECT_FALSE(capture().parkRequested()) << "heard privately: the Steam speakers are no place to park";
    awaitState(appcapture::AppState::Capturing);
    EXPECT_TRUE(shows(L"Capturing player"));
    click(centre(ui::kProgramOnlyRect));
    EXPECT_TRUE(capture().parkRequested());
    EXPECT_EQ(capture().parkingName(), L"Steam Streaming Speakers");
    click(centre(ui::kProgramOnlyRect));
    EXPECT_FALSE(capture().parkRequested());
    click(centre(ui::captionToolRect(ui::CaptionTool::Reset))); // clears both switches
    EXPECT_EQ(s.app_hear.load(), 0);
    EXPECT_TRUE(capture().parkRequested());
    window.selectPage(4, 4);
    click({ui::kSetupListRect.x + 40, ui::kSetupListRect.y + 12}); // loads "Private"
    EXPECT_EQ(s.app_hear.load(), 1);
    EXPECT_FALSE(capture().parkRequested());
    EXPECT_EQ(capture().appName(), L"player");
}

} // namespace
