#include "ui/main_window.h"
#include "ui/main_window_impl.h"

#include "console/console.h"
#include "console/status_text.h"
#include "dsp/room.h"
#include "engine/endpoints.h"
#include "engine/texts.h"
#include "platform/text.h"
#include "settings/reset_groups.h"
#include "settings/setup_files.h"
#include "ui/layout.h"
#include "ui/pages.h"
#include "ui/theme.h"
#include "ui/toolkit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <unordered_map>

namespace ui {

using namespace theme;
using settings::Settings;

namespace {

constexpr Rect kWholeCanvas{0, 0, kCanvasWidth, kCanvasHeight};
constexpr double kHoverTimeConstant = 0.06;
constexpr double kTooltipDelay = 0.5;
// After a save, the "Saved setup" message stays for 3.5 s.
constexpr double kSavedSetupLife = 3.5;

// The mic meter's track and, right of it, its value.
Rect meterBar()
{
    const Rect m = meterRect();
    return {m.x + 32, m.y + 8, static_cast<float>(MicMeter::kTrackUnits), 8};
}
Rect meterValueRect()
{
    const Rect m = meterRect(), bar = meterBar();
    return {bar.right() + 8, m.y, m.right() - bar.right() - 8, m.h};
}

// A menu shows "&&" as one "&".
std::wstring menuText(const std::wstring& text)
{
    std::wstring out;
    for (wchar_t c : text) {
        out += c;
        if (c == L'&')
            out += L'&';
    }
    return out;
}

std::vector<std::wstring> names(const engine::EndpointList& list)
{
    std::vector<std::wstring> out;
    for (const auto& e : list)
        out.push_back(e.name);
    return out;
}

} // namespace

// The corner the window is resized by; the window does the resizing, the
// model only shows the grip and its tooltip.
class ResizeGrip final : public Control {
public:
    bool focusable() const override { return false; }
    void paint(Painter& painter, const ControlLook& look) const override
    {
        const Colour ink = mix(kDisabled, kText, look.hover);
        for (int i = 1; i <= 3; ++i)
            painter.line(
                {bounds.right() - 4.0f * i, bounds.bottom()}, {bounds.right(), bounds.bottom() - 4.0f * i}, ink, 1.0f);
    }
};

// The main status line's cable text: while it shows, a link that leads to
// the cable section (and starts the install when the cable is missing).
class StatusLink final : public Control {
public:
    std::function<std::wstring()> text;
    std::function<Colour()> colour;
    std::function<void()> onClick;

    bool focusable() const override { return !text().empty(); }
    bool hit(Point p) const override { return bounds.contains(p) && !text().empty(); }
    void paint(Painter& painter, const ControlLook& look) const override
    {
        const std::wstring t = text();
        if (t.empty())
            return;
        const std::wstring shown = fitted(painter, t, TextRole::Body, bounds.w);
        painter.text(bounds, shown, TextRole::Body, colour(), Align::Left);
        if (look.hover > 0.0f) {
            const Point size = painter.measureText(shown, TextRole::Body);
            painter.fillRect(
                {bounds.x, bounds.y + (bounds.h + size.y) / 2, size.x, 1}, mix(kCanvas, colour(), look.hover));
        }
        if (look.focused)
            drawFocusRing(painter, bounds, 4.0f);
    }
    void press(Point) override { down_ = true; }
    void release(Point, bool inside) override
    {
        const bool clicked = down_ && inside && !text().empty();
        down_ = false;
        if (clicked && onClick)
            onClick();
    }
    bool key(Key key, Modifiers) override
    {
        if ((key != Key::Enter && key != Key::Space) || text().empty() || !onClick)
            return false;
        onClick();
        return true;
    }
    uint64_t state() const override { return std::hash<std::wstring>{}(text()); }

private:
    bool down_ = false;
};

MainWindow::Impl::Impl(console::Console& c, WindowHost& h, Services sv)
    : console(c), host(h), services(std::move(sv)), s(c.settings()), store(c.registrySettings())
{
    if (store) {
        throttle.emplace(*store, s, console.platform().clock);
        autostartOn = !services.executablePath.empty() && store->autostartEnabled();
    }
    savedSettingsRequests = s.saveRequests(settings::RegistryKey::Settings);
    savedEqualizerRequests = s.saveRequests(settings::RegistryKey::Equalizer);
    windowPosition = {s.WinSet.load(), s.WinX.load(), s.WinY.load()};

    // The refresh worker hands its lists over through a slot that outlives
    // the window; the window takes them when the host runs done.
    auto devicesRef = std::shared_ptr<platform::AudioDevices>(std::shared_ptr<void>{}, &console.platform().devices);
    refresher = std::make_unique<engine::DeviceRefresher>(
        devicesRef,
        [slot = refreshSlot](engine::DeviceRefresher::Result result) {
            std::lock_guard guard(slot->lock);
            slot->result = std::move(result);
        },
        [this](std::function<void()> work) { host.runInBackground(std::move(work), [this] { finishRefresh(); }); });

    buildChrome();
    buildSubTabs();
    buildVoicePage();
    buildMixerPage();
    buildEqualizerPage();
    buildSpeakerPage();
    buildMediaPage();
    buildRecorderTab();
    buildBoardTab();
    buildProgramTab();
    buildSetupsTab();
    makeHotkeyActions();
    buildSettingsPage();
}

void MainWindow::Impl::buildChrome()
{
    struct Tool {
        CaptionTool id;
        std::wstring label;
        void (*icon)(Painter&, const Rect&, Colour);
    };
    const Tool tools[] = {
        {CaptionTool::PreviousSetup, L"", icons::chevronLeft},
        {CaptionTool::Setups, L"", nullptr},
        {CaptionTool::NextSetup, L"", icons::chevronRight},
        {CaptionTool::Tone, L"Tone", icons::sliders},
        {CaptionTool::Soundboard, L"Soundboard", icons::grid},
        {CaptionTool::Help, L"", icons::help}, // the icon draws the "?"
        {CaptionTool::Reset, L"", icons::reset},
        {CaptionTool::Minimise, L"", icons::minimise},
        {CaptionTool::Close, L"", icons::close},
    };
    for (const auto& tool : tools) {
        auto b = std::make_unique<Button>();
        b->bounds = captionToolRect(tool.id);
        b->style = ButtonStyle::Tool;
        b->label = tool.label;
        b->tooltip = captionTooltip(static_cast<int>(tool.id));
        if (tool.icon)
            b->icon = tool.icon;
        switch (tool.id) {
        case CaptionTool::PreviousSetup:
            b->onClick = [this] { cycle(-1); };
            break;
        case CaptionTool::Setups:
            b->dynamicLabel = [this] {
                const std::wstring current = services.setups ? services.setups->currentSetup() : L"";
                return current.empty() ? std::wstring(kNoSetupName) : current;
            };
            b->onClick = [this] { setupsMenu(); };
            break;
        case CaptionTool::NextSetup:
            b->onClick = [this] { cycle(1); };
            break;
        case CaptionTool::Tone:
            b->onClick = [this] { host.openSecondary(SecondaryWindow::MicTone); };
            break;
        case CaptionTool::Soundboard:
            b->onClick = [this] { host.openSecondary(SecondaryWindow::Soundboard); };
            break;
        case CaptionTool::Help:
            b->onClick = [this] { helpMenu(); };
            break;
        case CaptionTool::Reset:
            b->onClick = [this] { resetGroup(page, tabs[page]); };
            break;
        case CaptionTool::Minimise:
            b->onClick = [this] { host.minimise(); };
            break;
        case CaptionTool::Close:
            b->onClick = [this] { host.close(); };
            break;
        }
        add(chrome, std::move(b));
    }
    auto link = std::make_unique<StatusLink>();
    link->bounds = {footerRect().x, footerRect().y, meterRect().x - footerRect().x - 16, footerRect().h};
    link->tooltip = L"Set up the virtual cable";
    link->text = [this] { return cableStatusLine(); };
    link->colour = [this] {
        const cable::Health health = console.cable().health();
        return health == cable::Health::Missing ? kAccent : health == cable::Health::Blocked ? kDanger : kText;
    };
    link->onClick = [this] {
        select(3, -1);
        if (console.cable().health() == cable::Health::Missing)
            startCableInstall();
    };
    statusLink = std::move(link);

    auto grip = std::make_unique<ResizeGrip>();
    grip->bounds = resizeGripRect();
    grip->tooltip = L"Drag to resize window cleanly";
    add(chrome, std::move(grip));
    for (int i = 0; i < kPageCount; ++i) {
        auto b = std::make_unique<Button>();
        b->bounds = pageTabRect(i);
        b->style = ButtonStyle::Tab;
        b->label = pageText(i).label;
        b->tooltip = pageText(i).tooltip;
        b->isSelected = [this, i] { return page == i; };
        b->onClick = [this, i] { select(i, -1); };
        add(chrome, std::move(b));
    }
}

void MainWindow::Impl::buildSubTabs()
{
    for (int p = 0; p < kPageCount; ++p) {
        for (int t = 0; t < subTabCount(p); ++t) {
            auto b = std::make_unique<Button>();
            b->bounds = subTabRect(p, t);
            b->style = ButtonStyle::Tab;
            b->label = subTabLabel(p, t);
            b->isSelected = [this, p, t] { return tabs[p] == t; };
            b->onClick = [this, p, t] { select(p, t); };
            add(pages[p], std::move(b));
        }
    }
}

Slider* MainWindow::Impl::addSlider(int onPage, int tab, SliderSetup setup)
{
    auto c = std::make_unique<Slider>(s, setup.field, std::move(setup.label));
    c->bounds = setup.bounds;
    c->minimum = setup.minimum;
    c->maximum = setup.maximum;
    c->defaultValue = setup.defaultValue;
    c->step = setup.step;
    c->pageStep = setup.pageStep;
    c->format = std::move(setup.format);
    c->tooltip = std::move(setup.tooltip);
    return add(pages[onPage], std::move(c), tab);
}

Toggle* MainWindow::Impl::addToggle(int onPage, int tab, settings::FlagField Settings::*field, std::wstring label,
    Rect bounds, std::wstring tooltip)
{
    auto c = std::make_unique<Toggle>(s, field, std::move(label));
    c->bounds = bounds;
    c->tooltip = std::move(tooltip);
    return add(pages[onPage], std::move(c), tab);
}

Button* MainWindow::Impl::addButton(int onPage, int tab, std::wstring label, Rect bounds, std::wstring tooltip,
    std::function<void()> onClick, ButtonStyle style)
{
    auto c = std::make_unique<Button>();
    c->bounds = bounds;
    c->label = std::move(label);
    c->tooltip = std::move(tooltip);
    c->onClick = std::move(onClick);
    c->style = style;
    return add(pages[onPage], std::move(c), tab);
}

std::vector<Control*> MainWindow::Impl::visible() const
{
    std::vector<Control*> out;
    for (const auto& p : chrome)
        out.push_back(p.control.get());
    for (const auto& p : pages[page])
        if (p.tab < 0 || p.tab == tabs[page])
            out.push_back(p.control.get());
    out.push_back(statusLink.get());
    return out;
}

Control* MainWindow::Impl::controlAt(Point p) const
{
    for (Control* c : visible())
        if (c->hit(p))
            return c;
    return nullptr;
}

DropDown* MainWindow::Impl::openDropDown() const
{
    for (Control* c : visible())
        if (!c->overlay().empty())
            return dynamic_cast<DropDown*>(c);
    return nullptr;
}

bool MainWindow::Impl::tooltipShown() const
{
    return hot && !hot->tooltip.empty() && s.UiHints.load() && !captured && !openDropDown() && pointerInside
        && now() - hoverSince >= kTooltipDelay;
}

// --- Painting ---------------------------------------------------------------

void MainWindow::Impl::paintHeadings(Painter& painter) const
{
    const std::wstring_view heading = pageHeading(page);
    if (!heading.empty()) {
        const Rect r = headingRect();
        painter.text({r.x, r.y, r.w, r.h - 4}, heading, TextRole::Heading, kText, Align::Left);
        painter.fillRect({r.x, r.bottom() - 2, r.w, 1}, kTrack);
    }
    if (page == 0) {
        paintSection(painter, {kLeftX, kContentTop, kLeftW, 20}, L"Environment");
        paintSection(painter, {kLeftX, 416, kLeftW - 120, 24}, L"Audio Devices");
        paintSection(painter, {kRightX, 280, kRightW, 24}, L"Voice & Monitor");
    } else if (page == 3) {
        for (int i = 0; i < 4; ++i)
            paintSection(
                painter, {i % 2 ? kRightX : kLeftX, i < 2 ? kContentTop - 32 : 304.0f, kLeftW, 24}, speakerSection(i));
    } else if (page == 5) {
        paintSection(painter, {kLeftX, kContentTop, kLeftW, 20}, L"Window Appearance");
        paintSection(painter, {kRightX, kContentTop, kRightW, 20}, L"Interface Font");
        paintSection(painter, {kLeftX, 304, kLeftW, 24}, L"Vantor Engine & WASAPI Live Diagnostics");
    }
}

void MainWindow::Impl::paintFooter(Painter& painter) const
{
    const Rect f = footerRect();
    const double t = now();
    if (toast.shown(t)) {
        const float w = std::min(painter.measureText(toast.text(), TextRole::Body).x + 32, meterRect().x - f.x - 16);
        const Rect pill{f.x, f.y, w, f.h};
        painter.fillRoundRect(pill, 12, kText);
        painter.text(pill.inset(16, 0), toast.text(), TextRole::Body, kWhite, Align::Left);
    } else {
        const std::wstring status = console::engineStatusText(report.status);
        if (!status.empty())
            painter.text({f.x, f.y, meterRect().x - f.x - 16, f.h}, status, TextRole::Body, kDanger, Align::Left);
    }
    // The mic meter: a bar over -60..0 dB with the peak hold as a tick.
    const Rect m = meterRect();
    painter.text({m.x, m.y, 28, m.h}, L"Mic", TextRole::Small, kTextDim, Align::Left);
    const MicMeter::Look look = meter.shown();
    const Rect bar = meterBar();
    painter.fillRoundRect(bar, 4, kPanel);
    if (look.bar > 0)
        painter.fillRoundRect({bar.x, bar.y, std::max(8.0f, static_cast<float>(look.bar)), bar.h}, 4,
            look.hot ? kDanger : kAccent);
    if (look.peak > 0)
        painter.fillRect({bar.x + static_cast<float>(look.peak) - 1, bar.y - 2, 2, bar.h + 4}, kText);
    char value[32] = "-inf dB";
    if (look.db != MicMeter::kSilentDb)
        std::snprintf(value, sizeof value, "%d dB", look.db);
    painter.text(meterValueRect(), platform::wideFromUtf8(value), TextRole::Small, kTextDim, Align::Right);
}

std::vector<MainWindow::Impl::Region> MainWindow::Impl::regions()
{
    std::vector<Region> out;
    for (Control* c : visible()) {
        const auto& m = motion[c];
        const uint64_t look = static_cast<uint64_t>(std::lround(m.hover.value * 20))
            | static_cast<uint64_t>(std::lround(m.press.value * 20)) << 6 | uint64_t{c == focused && focusShown} << 12
            | uint64_t{c->enabled()} << 13;
        // A closed pop-up adds nothing (an empty rectangle grown by the
        // margin would stretch the region to the canvas' corner).
        const Rect overlay = c->overlay();
        const Rect area
            = overlay.empty() ? c->bounds.inset(-4, -4) : c->bounds.inset(-4, -4).unite(overlay.inset(-2, -6));
        out.push_back({area, c->state() * 31 + look});
    }
    const double t = now();
    const bool toastOn = toast.shown(t);
    const std::wstring status = console::engineStatusText(report.status);
    out.push_back({{footerRect().x, footerRect().y, meterRect().x - footerRect().x, footerRect().h},
        (toastOn ? std::hash<std::wstring>{}(toast.text()) : std::hash<std::wstring>{}(status)) * 2 + toastOn});
    // The meter repaints in pieces: the bar's end (a region around it, the
    // old and new ends together when it moves; the whole bar when its colour
    // is the warning one), the peak tick, the value text. Each moves by whole
    // units or whole dB, and most ticks move only the bar's end.
    const MicMeter::Look look = meter.shown();
    const Rect bar = meterBar();
    const float end = look.bar > 0 ? std::max(8.0f, static_cast<float>(look.bar)) : 0.0f;
    out.push_back({look.hot ? bar.inset(-1, -1) : Rect{bar.x + end - 6, bar.y - 1, 8, bar.h + 2},
        static_cast<uint64_t>(look.bar) | uint64_t{look.hot} << 16});
    out.push_back({{bar.x + static_cast<float>(look.peak) - 2, bar.y - 3, 4, bar.h + 6},
        static_cast<uint64_t>(look.peak)});
    out.push_back({meterValueRect(), static_cast<uint64_t>(look.db - MicMeter::kSilentDb)});
    // The tooltip appears after its delay with nothing else changing: its
    // own region, a box around the pointer that holds the largest tip.
    if (tooltipShown()) {
        const Rect around = edges(std::max(0.0f, pointer.x - kTipMaxWidth - 8), std::max(0.0f, pointer.y - 120),
            std::min(kCanvasWidth, pointer.x + kTipMaxWidth + 8), std::min(kCanvasHeight, pointer.y + 140));
        out.push_back({around, std::hash<std::wstring>{}(hot->tooltip) | 1});
    } else {
        out.push_back({{}, 0});
    }
    pageRegions(out);
    if (clipTabShown())
        clipTabRegions(out);
    if (recorderTabShown())
        recorderTabRegions(out);
    if (programTabShown())
        programTabRegions(out);
    if (setupsTabShown())
        setupsTabRegions(out);
    if (page == 5)
        settingsRegions(out);
    return out;
}

// Repaints only what changed since the last look: each region is compared
// with what was painted; a new page repaints everything below the caption.
void MainWindow::Impl::refresh(bool everything)
{
    placeSourceField();
    auto now = regions();
    if (everything || page != paintedPage || now.size() != painted.size()) {
        host.invalidate(
            everything ? kWholeCanvas : Rect{0, kCaptionHeight, kCanvasWidth, kCanvasHeight - kCaptionHeight});
        // The caption's tools may have changed too (a setup's name, the tabs).
        if (!everything)
            host.invalidate({0, 0, kCanvasWidth, kCaptionHeight});
    } else {
        for (size_t i = 0; i < now.size(); ++i)
            if (now[i].state != painted[i].state || !(now[i].rect == painted[i].rect))
                host.invalidate(now[i].rect.unite(painted[i].rect));
    }
    painted = std::move(now);
    paintedPage = page;
}

void MainWindow::Impl::after()
{
    saveChanges(false);
    refresh();
}

// --- Actions ----------------------------------------------------------------

void MainWindow::Impl::select(int newPage, int tab)
{
    if (newPage < 0 || newPage >= kPageCount)
        return;
    if (DropDown* d = openDropDown())
        d->close();
    const bool programTabWasShown = programTabShown();
    page = newPage;
    if (tab >= 0 && tab < subTabCount(newPage))
        tabs[newPage] = tab;
    if (programTabShown() && !programTabWasShown) {
        refreshPrograms();
        readProgramStatus();
    }
    const auto shown = visible();
    if (focused && std::find(shown.begin(), shown.end(), focused) == shown.end())
        focused = nullptr;
    // Keep focus on the page's tab when the keyboard switched pages.
    if (focusShown && !focused)
        focused = chrome[kCaptionToolCount + 1 + newPage].control.get(); // after the tools and the grip
}

void MainWindow::Impl::setToast(std::wstring text, double life)
{
    toast.set(std::move(text), now(), life);
}

void MainWindow::Impl::resetGroup(int resetPage, int tab)
{
    using settings::ResetGroup;
    std::vector<ResetGroup> groups;
    switch (resetPage) {
    case 0:
        groups = {ResetGroup::Voice};
        break;
    case 1:
        groups = {tab == 1 ? ResetGroup::MixerAdvanced : ResetGroup::MixerBasic};
        break;
    case 2:
        groups = {ResetGroup::Equalizer};
        break;
    case 3:
        // The page resets all four of its sections.
        groups = {
            ResetGroup::SpeakerSelection, ResetGroup::BassManagement, ResetGroup::BassBoost, ResetGroup::VirtualCable};
        break;
    case 4: {
        static constexpr ResetGroup kMedia[] = {ResetGroup::SoundClip, ResetGroup::Soundboard, ResetGroup::ProgramOnMic,
            ResetGroup::RecorderAndSetups, ResetGroup::RecorderAndSetups};
        groups = {kMedia[std::clamp(tab, 0, 4)]};
        break;
    }
    default:
        groups = {ResetGroup::Appearance};
        break;
    }
    settings::ResetOutcome all;
    {
        Settings::Transaction transaction(s);
        for (ResetGroup group : groups) {
            const settings::ResetOutcome o = settings::applyResetGroup(s, group);
            all.message = o.message;
            all.saveEqualizer |= o.saveEqualizer;
            all.showEnvironmentRow8 |= o.showEnvironmentRow8;
            all.releaseGlitch |= o.releaseGlitch;
            all.applyWindowLook |= o.applyWindowLook;
        }
        if (all.showEnvironmentRow8) {
            rooms->ensureVisible(8, true);
            s.set(&Settings::PresetTop, rooms->top());
        }
    }
    if (all.releaseGlitch)
        console.state().glitchButtonHeld.store(0);
    if (auto* capture = console.appCapture();
        capture && std::find(groups.begin(), groups.end(), ResetGroup::ProgramOnMic) != groups.end())
        capture->refreshAppRouting();
    showChosenMask();
    if (all.applyWindowLook) {
        host.applyWindowLook();
        host.fontsChanged();
    }
    // One save of everything the reset wrote; what the setters asked for is part of it.
    if (throttle)
        throttle->saveNow();
    if (all.saveEqualizer && store)
        store->saveEqualizer(s);
    savedSettingsRequests = s.saveRequests(settings::RegistryKey::Settings);
    savedEqualizerRequests = s.saveRequests(settings::RegistryKey::Equalizer);
    setToast(all.message);
    refresh(true);
}

settings::SetupEnvironment MainWindow::Impl::setupEnvironment() const
{
    settings::SetupEnvironment env;
    for (const auto& e : devices.captureList)
        env.captureIds.push_back(e.id);
    for (const auto& e : devices.renderList)
        env.renderIds.push_back(e.id);
    env.installedFaces = faceList().empty() ? std::vector<std::wstring>{s.font()} : faceList();
    return env;
}

void MainWindow::Impl::applied(const settings::SetupApplied& a, bool loaded)
{
    if (a.micIndex >= 0)
        devices.micIndex = a.micIndex;
    if (a.spkIndex >= 0)
        devices.spkIndex = a.spkIndex;
    if (a.presetSeen)
        rooms->ensureVisible(roomRow(s.preset), true);
    showChosenMask();
    host.applyWindowLook();
    if (loaded) {
        engine::requestOpen(console.state()); // the file may name other devices
        if (auto* capture = console.appCapture())
            capture->refreshAppRouting(); // its routing switches may differ
    }
    // The load saved the registry itself.
    savedSettingsRequests = s.saveRequests(settings::RegistryKey::Settings);
    savedEqualizerRequests = s.saveRequests(settings::RegistryKey::Equalizer);
    refresh(true);
}

void MainWindow::Impl::cycle(int step)
{
    if (!services.setups)
        return;
    if (auto a = services.setups->cycleSetup(step, setupEnvironment()))
        applied(*a, true);
}

void MainWindow::Impl::saveSetupAs()
{
    if (!services.setups)
        return;
    std::wstring initial = services.setups->currentSetup();
    // An answer that sanitises to nothing keeps the prompt open.
    for (;;) {
        const auto answer = host.promptText(L"Save Setup", L"Setup name:", initial);
        if (!answer)
            return;
        if (!settings::sanitizeSetupName(*answer).empty()) {
            if (!services.setups->saveCurrentSetupAs(*answer))
                return;
            break;
        }
        initial = *answer;
    }
    // A newer message keeps its place.
    if (!toast.shown(now()))
        setToast(settings::savedSetupMessage(services.setups->currentSetup()), kSavedSetupLife);
    refresh(true);
}

void MainWindow::Impl::setupsMenu()
{
    std::vector<MenuItem> items;
    std::vector<std::wstring> setupNames;
    if (services.setups) {
        setupNames = services.setups->listSetups();
        for (const auto& name : setupNames)
            items.push_back({menuText(name), false, name == services.setups->currentSetup(), true});
        if (!setupNames.empty())
            items.push_back({L"", true});
    }
    items.push_back({L"Save Current Setup As...", false, false, services.setups != nullptr});
    items.push_back({L"Manage Setups && Hotkeys...", false, false, true});
    const Rect r = captionToolRect(CaptionTool::Setups);
    const int chosen = host.showMenu(items, {r.x, r.bottom()});
    const int count = static_cast<int>(setupNames.size());
    if (chosen < 0)
        return;
    if (chosen < count) {
        if (auto a = services.setups->loadSetup(setupNames[chosen], setupEnvironment()))
            applied(*a, true);
        return;
    }
    const int action = chosen - count - (count > 0 ? 1 : 0);
    if (action == 0)
        saveSetupAs();
    else if (action == 1)
        select(4, 4);
}

void MainWindow::Impl::helpMenu()
{
    std::vector<MenuItem> items = {
        {L"VB-CABLE \"Omnimix\" Setup..."},
        {L"Speaker && Channel Calibration..."},
        {L"Settings && Diagnostics..."},
        {L"Open Vantor Recordings Folder", false, false, !services.recordingsFolder.empty()},
        {L"About Vantor Ovix Settings..."},
    };
    const Rect r = captionToolRect(CaptionTool::Help);
    switch (host.showMenu(items, {r.x, r.bottom()})) {
    case 0:
    case 1:
        select(3, -1);
        break;
    case 2:
        select(5, -1);
        break;
    case 3:
        host.shellOpen(services.recordingsFolder, L"");
        break;
    case 4:
        host.showAbout();
        break;
    default:
        break;
    }
}

// Settings changed through the setters ask for a save of their key: the
// settings key goes through the throttle (pending while a drag holds the
// pointer or the window moves, so the tick saves it at most every 501 ms),
// the equalizer key is saved at once.
void MainWindow::Impl::saveChanges(bool positionMoved)
{
    const uint32_t settingsRequests = s.saveRequests(settings::RegistryKey::Settings);
    if (settingsRequests != savedSettingsRequests) {
        savedSettingsRequests = settingsRequests;
        if (throttle)
            throttle->saveRegistrySettingsSoon(captured != nullptr || positionMoved);
    }
    const uint32_t equalizerRequests = s.saveRequests(settings::RegistryKey::Equalizer);
    if (equalizerRequests != savedEqualizerRequests) {
        savedEqualizerRequests = equalizerRequests;
        if (store)
            store->saveEqualizer(s);
    }
}

std::wstring MainWindow::Impl::cableStatusLine() const
{
    const cable::Cable& c = console.cable();
    if (!c.checked() || toast.shown(now()) || !console::engineStatusText(report.status).empty())
        return {};
    return cableStatusLineText(c.health(), s.cableText(settings::CableText::Problem));
}

void MainWindow::Impl::startCableInstall()
{
    cable::Cable& c = console.cable();
    switch (c.requestInstall()) {
    case cable::Cable::Next::Download:
        // The cable outlives the window; done runs only while the window is there.
        host.runInBackground([&c] { c.downloadPackage(); },
            [this] {
                if (console.cable().installState() == cable::Install::Installing)
                    startCableInstaller();
                refresh();
            });
        break;
    case cable::Cable::Next::StartInstaller:
        startCableInstaller();
        break;
    case cable::Cable::Next::Nothing:
        break;
    }
    refresh();
}

void MainWindow::Impl::startCableInstaller()
{
    if (auto wait = console.cable().startInstaller())
        host.runInBackground(std::move(wait), [this] { refresh(); });
}

void MainWindow::Impl::fillDeviceDropDowns()
{
    micDrop->items = names(devices.captureList);
    spkDrop->items = names(devices.renderList);
}

void MainWindow::Impl::finishRefresh()
{
    std::optional<engine::DeviceRefresher::Result> result;
    {
        std::lock_guard guard(refreshSlot->lock);
        result.swap(refreshSlot->result);
    }
    if (!result)
        return;
    const std::wstring text = refresher->finish(devices, std::move(*result), s);
    fillDeviceDropDowns();
    if (!text.empty())
        setToast(text);
    refresh();
}

// --- MainWindow -------------------------------------------------------------

MainWindow::MainWindow(console::Console& console, WindowHost& host, Services services)
    : impl_(std::make_unique<Impl>(console, host, std::move(services)))
{ }

MainWindow::~MainWindow()
{
    // An outline still being read is of no use any more; its worker ends early.
    if (impl_->outlineJob.cancel)
        impl_->outlineJob.cancel->store(1);
}

void MainWindow::start(const StartInfo& info)
{
    Impl& w = *impl_;
    // The interface fonts may have scanned since the page was built.
    w.faceDrop->items = w.faceList();
    w.devices = engine::populateDeviceLists(w.console.platform().devices, w.s);
    w.fillDeviceDropDowns();
    if (auto* setups = w.services.setups) {
        setups->buildSyncFolders(w.store ? w.store->autostartFolder() : std::nullopt);
        setups->syncSetups();
        if (auto a = setups->restoreCurrentSetup(info.firstRun, info.executableFolder, w.setupEnvironment()))
            w.applied(*a, false);
        // Copies of the program elsewhere join the sync folders when the search reports them.
        if (w.searchFiles && w.searchFolders) {
            auto found = std::make_shared<std::vector<std::wstring>>();
            platform::Files* files = w.searchFiles;
            platform::KnownFolders* known = w.searchFolders;
            platform::Clock* clock = &w.console.platform().clock;
            w.host.runInBackground(
                [found, files, known, clock] { *found = settings::findOtherInstallations(*files, *clock, *known); },
                [found, setups] {
                    bool added = false;
                    for (const auto& folder : *found)
                        added |= setups->addSyncFolder(folder);
                    if (added)
                        setups->syncSetups();
                });
        }
    }
    if (w.s.PresetTop.load() != Settings::kUnset)
        w.rooms->setTop(w.s.PresetTop.load(), true);
    else
        w.rooms->ensureVisible(roomRow(w.s.preset), true);
    w.showChosenMask();
    w.savedSettingsRequests = w.s.saveRequests(settings::RegistryKey::Settings);
    w.savedEqualizerRequests = w.s.saveRequests(settings::RegistryKey::Equalizer);
    w.report = w.console.report();
    w.refresh(true);
}

void MainWindow::setInstallationsSearch(platform::Files& files, platform::KnownFolders& knownFolders)
{
    impl_->searchFiles = &files;
    impl_->searchFolders = &knownFolders;
}

void MainWindow::setFontFaces(std::vector<std::wstring> faces)
{
    impl_->fontFaces = std::move(faces);
    impl_->faceDrop->items = impl_->faceList();
}

void MainWindow::paint(Painter& painter, const Rect& invalid)
{
    Impl& w = *impl_;
    painter.fillRect(kWholeCanvas, theme::kCanvas);
    // The caption band with the program's mark and title.
    painter.fillRect({0, 0, kCanvasWidth, kCaptionHeight}, kPanel);
    painter.fillEllipse({16, 8.5f, 20, 20}, kAccent);
    painter.fillEllipse({22, 14.5f, 8, 8}, kPanel);
    painter.text({44, 0, 172, kCaptionHeight}, L"Vantor Ovix Settings", TextRole::Title, kText, Align::Left);
    painter.fillRect({0, kCaptionHeight - 1, kCanvasWidth, 1}, kTrack);
    w.paintHeadings(painter);
    if (w.page == 1)
        w.paintMixer(painter);
    else if (w.page == 2)
        w.paintEqualizer(painter);
    else if (w.page == 3)
        w.paintSpeaker(painter);
    else if (w.clipTabShown())
        w.paintClipTab(painter);
    else if (w.recorderTabShown())
        w.paintRecorderTab(painter);
    else if (w.programTabShown())
        w.paintProgramTab(painter);
    else if (w.setupsTabShown())
        w.paintSetupsTab(painter);
    else if (w.page == 5)
        w.paintSettings(painter);
    const auto shown = w.visible();
    for (Control* c : shown) {
        if (!c->bounds.inset(-4, -4).intersects(invalid))
            continue;
        const auto& m = w.motion[c];
        c->paint(painter,
            {static_cast<float>(m.hover.value), static_cast<float>(m.press.value), c == w.focused && w.focusShown});
    }
    w.paintFooter(painter);
    for (Control* c : shown)
        c->paintOverlay(painter);
    if (w.tooltipShown()) {
        const Rect r = tooltipRect(painter, w.hot->tooltip, w.pointer);
        paintTooltip(painter, w.hot->tooltip, r);
    }
}

void MainWindow::pointerMove(Point p)
{
    Impl& w = *impl_;
    w.pointer = p;
    w.pointerInside = true;
    if (w.captured)
        w.captured->drag(p);
    if (DropDown* d = w.openDropDown())
        d->popupMove(p);
    Control* over = w.captured ? w.captured : w.controlAt(p);
    if (over != w.hot) {
        w.hot = over;
        w.hoverSince = w.now();
    }
    w.after();
}

void MainWindow::pointerDown(Point p)
{
    Impl& w = *impl_;
    w.pointer = p;
    w.hoverSince = w.now() + 3600; // no tooltip again until the pointer moves on
    if (DropDown* d = w.openDropDown()) {
        // A click anywhere while a pop-up is open only closes it (or picks).
        if (d->popup().contains(p))
            d->popupPress(p);
        else
            d->close();
        w.after();
        return;
    }
    Control* c = w.controlAt(p);
    if (c && c->enabled()) {
        if (c->focusable())
            w.focused = c;
        w.focusShown = false;
        w.captured = c;
        c->press(p);
    }
    w.after();
}

void MainWindow::pointerUp(Point p)
{
    Impl& w = *impl_;
    if (Control* c = w.captured) {
        w.captured = nullptr;
        c->release(p, c->hit(p));
    }
    w.after();
}

void MainWindow::secondaryDown(Point p)
{
    Impl& w = *impl_;
    w.pointer = p;
    if (DropDown* d = w.openDropDown()) {
        d->close();
    } else if (Control* c = w.controlAt(p); c && c->enabled() && !w.captured && c->secondaryPress(p)) {
        w.captured = c;
    }
    w.after();
}

void MainWindow::doubleClick(Point p)
{
    Impl& w = *impl_;
    if (w.openDropDown()) {
        pointerDown(p);
        return;
    }
    Control* c = w.controlAt(p);
    if (c && c->enabled()) {
        w.captured = c;
        c->doubleClick(p);
    }
    w.after();
}

void MainWindow::pointerLeave()
{
    Impl& w = *impl_;
    w.pointerInside = false;
    if (!w.captured)
        w.hot = nullptr;
    w.after();
}

void MainWindow::wheel(Point p, float notches)
{
    Impl& w = *impl_;
    if (DropDown* d = w.openDropDown())
        d->wheel(notches);
    else if (Control* c = w.controlAt(p); c && c->enabled())
        c->wheelAt(p, notches);
    w.after();
}

bool MainWindow::key(Key key, Modifiers modifiers)
{
    Impl& w = *impl_;
    bool used = false;
    if (DropDown* d = w.openDropDown()) {
        used = d->key(key, modifiers);
    } else if ((key == Key::Z || key == Key::Y) && modifiers.ctrl && w.recorderTabShown()) {
        // The editor's undo and redo, only while its tab is shown.
        recorder::TakeEditor& editor = w.console.takeEditor();
        if (key == Key::Z)
            editor.undo();
        else
            editor.redo();
        used = true;
    } else if (key == Key::Tab && modifiers.ctrl) {
        w.select((w.page + (modifiers.shift ? kPageCount - 1 : 1)) % kPageCount, -1);
        used = true;
    } else if (key == Key::Tab) {
        std::vector<Control*> order;
        for (Control* c : w.visible())
            if (c->focusable() && c->enabled())
                order.push_back(c);
        if (!order.empty()) {
            const auto at = std::find(order.begin(), order.end(), w.focused);
            const int n = static_cast<int>(order.size());
            int i = at == order.end() ? (modifiers.shift ? n - 1 : 0)
                                      : (static_cast<int>(at - order.begin()) + (modifiers.shift ? n - 1 : 1)) % n;
            w.focused = order[i];
            w.focusShown = true;
            if (w.focused == w.sourceField)
                w.host.focusSourceField();
        }
        used = true;
    } else if (w.focused && w.focused->enabled()) {
        used = w.focused->key(key, modifiers);
        if (used)
            w.focusShown = true;
    }
    w.after();
    return used;
}

void MainWindow::filesDropped(const std::vector<std::wstring>& paths)
{
    Impl& w = *impl_;
    if (paths.empty())
        return;
    if (w.boardTabShown()) {
        w.boardView->filesDropped(paths);
        w.refresh();
        return;
    }
    w.select(4, 0);
    w.refresh(); // the field shows before its text is set
    w.host.setSourceFieldText(paths.front());
    w.outlineFor(paths.front());
    w.refresh();
}

void MainWindow::sourceFieldKey(Key key, Modifiers modifiers)
{
    Impl& w = *impl_;
    if (key == Key::Tab) {
        w.focused = w.sourceField;
        this->key(Key::Tab, modifiers);
    } else if (key == Key::Enter) {
        w.playPause();
    }
}

bool MainWindow::inCaption(Point p) const
{
    return p.y >= 0 && p.y < kCaptionHeight && p.x >= 0 && p.x < kCanvasWidth && captionToolAt(p) < 0;
}

void MainWindow::tick(double nowSeconds)
{
    Impl& w = *impl_;
    const FrameClock::Step step = w.frame.advance(nowSeconds);
    w.meter.tick(step.seconds, w.console.reports().takeOutputPeak());
    if (auto* capture = w.console.appCapture())
        w.programMeter.tick(step.seconds, capture->takePeak());
    const double animSeconds = step.millis / 1000.0;
    for (Control* c : w.visible()) {
        auto& m = w.motion[c];
        m.hover.target = c == w.hot && c->enabled() ? 1.0 : 0.0;
        m.press.target = c == w.captured && c->hit(w.pointer) ? 1.0 : 0.0;
        m.hover.advance(animSeconds, kHoverTimeConstant, 0.01);
        m.press.advance(animSeconds, kHoverTimeConstant / 2, 0.01);
        c->animate(animSeconds);
    }
    w.report = w.console.report();
    // The take's capture (which stops itself at its length limit) and the effects render's result.
    if (w.console.recorderFlags().recording)
        w.console.recorder().drainTake();
    w.console.fxApply().poll();
    const std::tuple<int, int, int> position{w.s.WinSet.load(), w.s.WinX.load(), w.s.WinY.load()};
    const bool moved = position != w.windowPosition;
    w.windowPosition = position;
    w.saveChanges(moved);
    if (w.throttle)
        w.throttle->tick();
    w.refresh();
}

void MainWindow::slowTick(double)
{
    Impl& w = *impl_;
    w.console.recorder().pumpLast();
    w.report = w.console.report();
    const std::wstring row8
        = platform::wideFromUtf8(w.report.irLoaded ? engine::kConvolutionRoomText : engine::kRoomNames[8]);
    w.rooms->rows[8] = row8;
    if (w.programTabShown())
        w.readProgramStatus();
    w.refresh();
}

void MainWindow::refreshDevices(bool userAsked)
{
    impl_->refresher->refresh(userAsked);
}

void MainWindow::showToast(std::wstring text, double nowSeconds)
{
    impl_->toast.set(std::move(text), nowSeconds);
    impl_->refresh();
}

int MainWindow::page() const
{
    return impl_->page;
}

int MainWindow::tab() const
{
    return subTabCount(impl_->page) ? impl_->tabs[impl_->page] : 0;
}

void MainWindow::selectPage(int page, int tab)
{
    impl_->select(page, tab);
    impl_->refresh();
}

} // namespace ui
