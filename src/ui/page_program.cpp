// Page 4, "Media & Recorder", its Program on Mic tab: the programs playing
// sound (refreshed on demand), Start and Stop of the capture of the picked
// one, the routing switches, its level and balance, a meter of the captured
// sound and the capture's status line.

#include "settings/fields.h"
#include "ui/main_window_impl.h"
#include "ui/pages.h"
#include "ui/theme.h"

#include <algorithm>
#include <cstdio>

namespace ui {

using appcapture::AppState;
using settings::Settings;
using namespace theme;

namespace {

constexpr Rect kProgramsHeading{kLeftX, kContentTop, kLeftW, 24};
constexpr Rect kRoutingHeading{kRightX, kContentTop, kRightW, 24};
constexpr Rect kLevelHeading{kRightX, 232, kRightW, 24};
constexpr Rect kMeterLabel{kProgramMeterRect.x, kProgramMeterRect.y, 64, kProgramMeterRect.h};
constexpr Rect kMeterValue{
    kProgramMeterRect.x + kProgramMeterRect.w - 64, kProgramMeterRect.y, 64, kProgramMeterRect.h};
constexpr Rect kMeterTrack{
    kMeterLabel.x + kMeterLabel.w + 8, kProgramMeterRect.y + 8, kMeterValue.x - kMeterLabel.x - kMeterLabel.w - 16, 8};

} // namespace

void MainWindow::Impl::buildProgramTab()
{
    constexpr int P = 4;
    appcapture::AppCapture* capture = console.appCapture();
    auto available = [capture] { return capture != nullptr; };

    auto list = std::make_unique<ListBox>();
    list->bounds = kProgramListRect;
    list->tooltip = L"Programs with a window or playing sound; click one to pick it";
    list->selected = [this] { return programRow; };
    list->onSelect = [this](int row) { programRow = row; };
    list->caption = [this, capture] {
        if (!capture)
            return std::wstring();
        return programs.empty() ? std::wstring(L"No program found; start one and press Refresh")
                                : std::wstring(L"Click a program, then Start");
    };
    list->isEnabled = available;
    programList = add(pages[P], std::move(list), kProgramTab);

    Button* start = addButton(
        P, kProgramTab, L"Start", kProgramStartRect, L"Capture the picked program's sound",
        [this, capture] {
            if (capture && programRow >= 0 && programRow < static_cast<int>(programs.size()))
                capture->startAppCapture(programs[programRow]);
            readProgramStatus();
        },
        ButtonStyle::Primary);
    start->isEnabled
        = [this, capture] { return capture && programRow >= 0 && programRow < static_cast<int>(programs.size()); };
    Button* stop = addButton(P, kProgramTab, L"Stop", kProgramStopRect,
        L"Stop the capture and give the program its own output back", [this, capture] {
            if (capture)
                capture->stopAppCapture();
            readProgramStatus();
        });
    stop->isEnabled = [capture] { return capture && capture->state() != AppState::Off; };
    Button* again = addButton(P, kProgramTab, L"Refresh", kProgramRefreshRect,
        L"Look again for programs with a window or playing sound", [this] { refreshPrograms(); });
    again->isEnabled = available;

    // A change of who hears the program may change where it is parked.
    auto reroute = [capture] {
        if (capture)
            capture->refreshAppRouting();
    };
    Toggle* privately = addToggle(P, kProgramTab, &Settings::app_hear, L"Send privately (only I hear it)",
        kProgramPrivateRect, L"Send the program's sound privately instead of into the virtual mic and headphones");
    privately->onChange = reroute;
    Toggle* only = addToggle(P, kProgramTab, &Settings::app_only, L"Mute other Windows output while parked",
        kProgramOnlyRect, L"While the program is parked, only it reaches your headphones (only I hear it)");
    only->onChange = reroute;

    Slider* gain = addSlider(P, kProgramTab,
        {&Settings::app_gain, L"App Volume", kProgramGainRect, 0, 1000, 80, levelText,
            L"The program's volume (100 = 0 dB, double-click resets)", 5, 50});
    gain->scale = SliderScale::Square;
    addSlider(P, kProgramTab,
        {&Settings::app_pan, L"Program Pan", kProgramPanRect, -100, 100, 0, panText,
            L"The program's balance in your headphones (double-click centres)", 1, 10});
    refreshPrograms();
    readProgramStatus();
}

void MainWindow::Impl::refreshPrograms()
{
    platform::AppAudio* audio = console.platform().appAudio;
    if (!audio || !console.appCapture())
        return;
    // The picked program stays picked when it is still there.
    const uint32_t picked
        = programRow >= 0 && programRow < static_cast<int>(programs.size()) ? programs[programRow].processId : 0;
    programs = appcapture::listAudioPrograms(*audio);
    programRow = -1;
    programList->rows.clear();
    for (size_t i = 0; i < programs.size(); ++i) {
        programList->rows.push_back(programs[i].name);
        if (picked && programs[i].processId == picked)
            programRow = static_cast<int>(i);
    }
    programList->setTop(std::max(programRow, 0), true);
}

void MainWindow::Impl::readProgramStatus()
{
    programStatusInk = kTextDim;
    const appcapture::AppCapture* capture = console.appCapture();
    if (!capture) {
        programStatus = L"Capturing another program's sound is not available on this system";
        return;
    }
    const AppState state = capture->state();
    switch (state) {
    case AppState::Off:
        programStatus = L"Pick a program playing sound, then press Start";
        return;
    case AppState::Starting:
    case AppState::Capturing:
        programStatus = (state == AppState::Starting ? L"Starting " + capture->appName() + L"..."
                                                     : L"Capturing " + capture->appName());
        if (capture->parked())
            programStatus += L"  (Parked via " + capture->parkingName() + L")";
        programStatusInk = kText;
        return;
    default:
        programStatus = capture->statusText();
        programStatusInk = state == AppState::Exited ? kText : kDanger;
        return;
    }
}

void MainWindow::Impl::paintProgramTab(Painter& painter) const
{
    paintSection(painter, kProgramsHeading, L"Programs");
    paintSection(painter, kRoutingHeading, L"Routing");
    paintSection(painter, kLevelHeading, L"Level & Balance");

    painter.text(kMeterLabel, L"Captured", TextRole::Small, kTextDim, Align::Left);
    const MicMeter::Look look = programMeter.shown();
    const float units = kMeterTrack.w / MicMeter::kTrackUnits;
    painter.fillRoundRect(kMeterTrack, 4, kPanel);
    if (look.bar > 0)
        painter.fillRoundRect({kMeterTrack.x, kMeterTrack.y, std::max(8.0f, look.bar * units), kMeterTrack.h}, 4,
            look.hot ? kDanger : kAccent);
    if (look.peak > 0)
        painter.fillRect({kMeterTrack.x + look.peak * units - 1, kMeterTrack.y - 2, 2, kMeterTrack.h + 4}, kText);
    wchar_t value[32] = L"-inf dB";
    if (look.db != MicMeter::kSilentDb)
        std::swprintf(value, 32, L"%d dB", look.db);
    painter.text(kMeterValue, value, TextRole::Small, kTextDim, Align::Right);

    painter.text(kProgramStatusRect, fitted(painter, programStatus, TextRole::Body, kProgramStatusRect.w),
        TextRole::Body, programStatusInk, Align::Left);
}

void MainWindow::Impl::programTabRegions(std::vector<Region>& out) const
{
    const MicMeter::Look look = programMeter.shown();
    out.push_back({kProgramMeterRect.inset(0, -3),
        static_cast<uint64_t>(look.bar) | static_cast<uint64_t>(look.peak) << 8 | uint64_t{look.hot} << 16
            | static_cast<uint64_t>(look.db - MicMeter::kSilentDb) << 17});
    out.push_back({kProgramStatusRect, std::hash<std::wstring>{}(programStatus) * 2 + (programStatusInk == kDanger)});
}

} // namespace ui
