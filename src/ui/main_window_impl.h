#pragma once
// The window model's inside, shared by the frame (main_window.cpp) and the
// files that build and draw one page each. Nothing outside src/ui includes it.

#include "clip/loaders.h"
#include "console/console.h"
#include "engine/endpoints.h"
#include "settings/registry_settings.h"
#include "settings/reset_groups.h"
#include "settings/setup_files.h"
#include "ui/board_view.h"
#include "ui/interface_fonts.h"
#include "ui/layout.h"
#include "ui/main_window.h"
#include "ui/page_places.h"
#include "ui/rec_tab.h"
#include "ui/toolkit.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace ui {

// Page 3's bass-boost line, repainted when the microphone level moves.
inline constexpr Rect kBassBoostLine{kLeftX, 484, kLeftW, 20};
// Page 3's speaker tests: the heading line that shows their state.
inline constexpr Rect kSpeakerTestLine{kLeftX, kContentTop - 32, kLeftW, 24};
// What the speaker page says of the test: running, or why it could not play.
std::wstring speakerTestText(const engine::SpeakerTest& test);

struct MainWindow::Impl {
    // A control and the tab of its page that shows it (-1: every tab).
    struct Placed {
        std::unique_ptr<Control> control;
        int tab = -1;
    };
    struct Motion {
        Smoothed hover, press;
    };
    struct Region {
        Rect rect;
        uint64_t state = 0;
    };

    Impl(console::Console& c, WindowHost& h, Services s);

    console::Console& console;
    WindowHost& host;
    Services services;
    platform::Files* searchFiles = nullptr;
    platform::KnownFolders* searchFolders = nullptr;
    std::vector<std::wstring> fontFaces;
    settings::Settings& s;
    settings::RegistrySettings* store;
    std::optional<settings::RegistrySaveThrottle> throttle;

    int page = 0;
    std::array<int, kPageCount> tabs{};
    FrameClock frame;
    Toast toast;
    MicMeter meter;

    std::vector<Placed> chrome; // caption tools and page tabs
    // The main status line's cable text, a link while it shows; last in
    // reading order, after the page's controls.
    std::unique_ptr<Control> statusLink;
    std::array<std::vector<Placed>, kPageCount> pages;
    std::unordered_map<const Control*, Motion> motion;
    Control* hot = nullptr;
    Control* captured = nullptr;
    Control* focused = nullptr;
    bool focusShown = false; // the ring shows once the keyboard moved the focus
    double hoverSince = 0.0;
    Point pointer{-1, -1};
    bool pointerInside = false;

    engine::DeviceLists devices;
    std::unique_ptr<engine::DeviceRefresher> refresher;
    struct RefreshSlot {
        std::mutex lock;
        std::optional<engine::DeviceRefresher::Result> result;
    };
    std::shared_ptr<RefreshSlot> refreshSlot = std::make_shared<RefreshSlot>();
    ListBox* rooms = nullptr;
    DropDown* eqPresets = nullptr;
    ListBox* maskList = nullptr;
    // The mask list scrolls to the chosen mask after a reset or a setup load.
    void showChosenMask();
    DropDown* micDrop = nullptr;
    DropDown* spkDrop = nullptr;
    Button* aboutButton = nullptr;
    DropDown* faceDrop = nullptr;
    bool autostartOn = false; // the Run entry as read at start, then as written
    // The faces the font drop-down offers: the interface fonts' list when
    // there are interface fonts, else the list start-up handed over.
    const std::vector<std::wstring>& faceList() const;
    void afterFontChange(const FontChange& change);
    engine::EngineReport report;

    std::vector<Region> painted;
    int paintedPage = -1;
    uint32_t savedSettingsRequests = 0;
    uint32_t savedEqualizerRequests = 0;
    std::tuple<int, int, int> windowPosition;

    double now() const { return static_cast<double>(console.platform().clock.nowMicros()) / 1e6; }

    // Building.
    template <class T> T* add(std::vector<Placed>& list, std::unique_ptr<T> control, int tab = -1)
    {
        T* raw = control.get();
        list.push_back({std::move(control), tab});
        return raw;
    }
    void buildChrome();
    void buildSubTabs();
    void buildVoicePage();
    void buildMixerPage();
    void buildEqualizerPage();
    void buildSpeakerPage();
    void buildMediaPage();
    // A labelled slider on a page (one tab of it, or every tab with -1).
    struct SliderSetup {
        settings::IntField settings::Settings::*field;
        std::wstring label;
        Rect bounds;
        int32_t minimum, maximum, defaultValue;
        std::function<std::wstring(int32_t)> format;
        std::wstring tooltip;
        int32_t step = 1;
        int32_t pageStep = 10;
    };
    Slider* addSlider(int onPage, int tab, SliderSetup setup);
    Toggle* addToggle(int onPage, int tab, settings::FlagField settings::Settings::*field, std::wstring label,
        Rect bounds, std::wstring tooltip);
    Button* addButton(int onPage, int tab, std::wstring label, Rect bounds, std::wstring tooltip,
        std::function<void()> onClick, ButtonStyle style = ButtonStyle::Plain);
    void buildSettingsPage();
    DropDown* addDeviceDropDown(std::wstring label, float y, std::wstring emptyText, std::wstring tooltip,
        int engine::DeviceLists::*index, engine::EndpointList engine::DeviceLists::*entries,
        std::function<void(const engine::EndpointInfo&)> choose);

    // What is on the canvas now, in focus (reading) order.
    std::vector<Control*> visible() const;
    Control* controlAt(Point p) const;
    DropDown* openDropDown() const;
    bool tooltipShown() const;

    // Painting and repaint tracking.
    void paintHeadings(Painter& painter) const;
    void paintFooter(Painter& painter) const;
    // What pages 1 to 3 draw besides their controls, and the regions of it that change.
    void paintMixer(Painter& painter) const;
    void paintEqualizer(Painter& painter) const;
    void paintSpeaker(Painter& painter) const;
    void paintClipTab(Painter& painter) const;
    void clipTabRegions(std::vector<Region>& out) const;
    // "position / duration", the position bar's target while it is dragged.
    std::wstring clipTimeLine() const;
    std::wstring cableSectionLine() const;
    void cableRegions(std::vector<Region>& out) const;
    void paintSettings(Painter& painter) const;
    void settingsRegions(std::vector<Region>& out) const;
    void pageRegions(std::vector<Region>& out) const;
    std::vector<Region> regions();
    void refresh(bool everything = false);
    void after();

    // Actions.
    void select(int newPage, int tab);
    void setToast(std::wstring text, double life = Toast::kLifeSeconds);
    void resetGroup(int resetPage, int tab);
    settings::SetupEnvironment setupEnvironment() const;
    void applied(const settings::SetupApplied& a, bool loaded);
    void setupsMenu();
    void helpMenu();
    void cycle(int step);
    void saveSetupAs();
    void saveEqPreset();
    void deleteEqPreset();
    void fillEqPresets();
    void saveChanges(bool positionMoved);
    void finishRefresh();
    void fillDeviceDropDowns();
    // The cable's install flow: the request, the download on a worker, the
    // installer started here and its wait on a worker.
    void startCableInstall();
    void startCableInstaller();
    // The Sound Clip tab. The waveform outline of the local file last opened,
    // built on a worker whose cancel flag a newer job sets; the worker's
    // progress is read by the tick, its result taken by the serial it had.
    struct OutlineJob {
        std::wstring path;
        uint32_t serial = 0;
        bool running = false;
        std::shared_ptr<std::atomic<uint8_t>> cancel;
        std::shared_ptr<std::atomic<int32_t>> progress;
    };
    OutlineJob outlineJob;
    clip::OutlineRef outline;
    std::wstring outlineMessage; // why the last outline could not be built
    Control* sourceField = nullptr;
    bool clipTabShown() const { return page == 4 && tabs[4] == 0; }
    bool sourceFieldShown = false;
    // Shows the native field exactly while the tab is shown.
    void placeSourceField();
    void playPause();
    void browseClip();
    // A local file becomes the outline's source (a link clears the outline).
    void outlineFor(const std::wstring& source);

    // The Recorder & Editor tab.
    bool recorderTabShown() const { return page == 4 && tabs[4] == 3; }
    void buildRecorderTab();
    RecorderState recorderState() const;
    void paintRecorderTab(Painter& painter) const;
    void recorderTabRegions(std::vector<Region>& out) const;
    // The status line: the running length while recording, else the recorder's last report or the hint.
    std::wstring recorderLine() const;
    // Beside Record: the running length, or the take's.
    std::wstring recordLengthLine() const;
    // The selection and the take's length.
    std::wstring takeInfoLine() const;
    // The running effects render's progress per mille, or -1.
    int32_t fxProgress() const;
    // The recordings folder: the chosen one, else the one start-up found.
    std::wstring clipsFolderNow() const;
    // Save: the dialog, the stored format, the encode on a worker, its result in the status line.
    void saveTake();
    // The Last buffer to a file in the recordings folder, one save at a time.
    void saveLastClip();
    bool lastSaving = false;
    // Apply FX: the job on a worker; the tick polls it.
    void applyTakeFx();
    void chooseClipsFolder();

    // The Soundboard (12) tab: the board's view over the console's soundboard.
    static constexpr int kBoardTab = 1;
    std::unique_ptr<BoardView> boardView;
    bool boardTabShown() const { return page == 4 && tabs[4] == kBoardTab; }
    void buildBoardTab();
    // The soundboard outlives the window: its hooks into the window go first.
    struct BoardHooks {
        soundboard::Soundboard* board = nullptr;
        ~BoardHooks()
        {
            if (board) {
                board->setRedraw({});
                board->setRunner({});
            }
        }
    } boardHooks;
    // The Program on Mic tab: the programs found at the last refresh, the
    // row picked, the status line as the slow tick last read it, and the
    // captured sound's meter.
    static constexpr int kProgramTab = 2;
    bool programTabShown() const { return page == 4 && tabs[4] == kProgramTab; }
    void buildProgramTab();
    void refreshPrograms();
    void readProgramStatus();
    void paintProgramTab(Painter& painter) const;
    void programTabRegions(std::vector<Region>& out) const;
    std::vector<appcapture::AppEntry> programs;
    ListBox* programList = nullptr;
    int programRow = -1;
    std::wstring programStatus;
    Colour programStatusInk = 0;
    MicMeter programMeter;
    // The Setups & Hotkeys tab, and the hotkeys' actions the window runs.
    bool setupsTabShown() const { return page == 4 && tabs[4] == 4; }
    void buildSetupsTab();
    void paintSetupsTab(Painter& painter) const;
    void setupsTabRegions(std::vector<Region>& out) const;
    void makeHotkeyActions();
    // The glitch section's line: which key status it shows.
    uint64_t glitchStatusState() const;
    std::unique_ptr<soundboard::HotkeyActions> hotkeyActions;

    // The main status line's cable text; empty while a toast or the
    // engine's own status takes the line, or the cable is ready.
    std::wstring cableStatusLine() const;
};

} // namespace ui
