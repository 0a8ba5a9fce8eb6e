// Page 5, "Settings & Diagnostics": the window's look (zoom, opacity, always
// on top, remembered position, tooltips, animations, autostart), the
// interface font with the add and remove flows, and the engine's diagnostics.

#include "settings/fields.h"
#include "ui/interface_fonts.h"
#include "ui/main_window_impl.h"
#include "ui/pages.h"
#include "ui/theme.h"

#include <cwctype>

namespace ui {

using settings::Settings;
using namespace theme;

namespace {
constexpr float kDiagnosticsTop = 336; // the first diagnostics line, under its heading at 304
const Rect kDiagnosticsArea{kLeftX, kDiagnosticsTop, 828, 20.0f * kDiagnosticLines};

// A slider whose value reaches the window only when it settles: a zoom that
// rescaled the window under a dragging pointer would move the track away.
class SettlingSlider final : public Slider {
public:
    using Slider::Slider;
    std::function<void()> settled;
    bool applyWhileDragging = false;

    void press(Point p) override
    {
        held_ = true;
        Slider::press(p);
    }
    void release(Point p, bool inside) override
    {
        Slider::release(p, inside);
        held_ = false;
        settled();
    }
    bool holding() const { return held_ && !applyWhileDragging; }

private:
    bool held_ = false;
};

bool sameFace(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::towlower(a[i]) != std::towlower(b[i]))
            return false;
    return true;
}

std::wstring zoomText(int32_t percent)
{
    return std::to_wstring(percent) + L" %";
}
std::wstring opacityText(int32_t percent)
{
    return std::to_wstring(percent) + L" %";
}
std::wstring sizeText(int32_t size)
{
    return std::to_wstring(size) + L" px";
}
} // namespace

const std::vector<std::wstring>& MainWindow::Impl::faceList() const
{
    if (services.fonts)
        return services.fonts->faces();
    return fontFaces;
}

void MainWindow::Impl::afterFontChange(const FontChange& change)
{
    if (change.faceChanged)
        host.fontsChanged();
    if (!change.toast.empty())
        setToast(change.toast);
    // A new family can be wider than the box showed before.
    refresh(true);
}

void MainWindow::Impl::buildSettingsPage()
{
    constexpr int P = 5;
    auto lookSlider = [&](settings::IntField Settings::*field, std::wstring label, Rect bounds, int32_t lo, int32_t hi,
                          int32_t def, std::function<std::wstring(int32_t)> format, std::wstring tooltip, int32_t step,
                          int32_t pageStep, bool whileDragging) {
        auto c = std::make_unique<SettlingSlider>(s, field, std::move(label));
        c->bounds = bounds;
        c->minimum = lo;
        c->maximum = hi;
        c->defaultValue = def;
        c->step = step;
        c->pageStep = pageStep;
        c->format = std::move(format);
        c->tooltip = std::move(tooltip);
        c->applyWhileDragging = whileDragging;
        c->settled = [this] { host.applyWindowLook(); };
        SettlingSlider* raw = c.get();
        c->onSet = [this, raw, field](int32_t v) {
            s.set(field, v);
            if (!raw->holding())
                host.applyWindowLook();
        };
        return add(pages[P], std::move(c));
    };

    // Window Appearance.
    lookSlider(&Settings::UiZoom, L"Zoom", kZoomRect, 70, 250, 100, zoomText,
        L"Interface zoom (double-click resets to 100 %)", 5, 25, false);
    lookSlider(&Settings::alpha, L"Opacity", kOpacityRect, 20, 100, 100, opacityText,
        L"Main window opacity (double-click resets to 100 %)", 1, 10, true);
    Toggle* top = addToggle(
        P, -1, &Settings::UiTop, L"Always on Top", kOnTopRect, L"Keep the window above other windows");
    top->onChange = [this] { host.applyWindowLook(); };
    addToggle(P, -1, &Settings::UiPlace, L"Remember Position", kRememberPlaceRect,
        L"Open the window where it was last closed");
    addToggle(P, -1, &Settings::UiHints, L"Show Tooltips", kHintsRect,
        L"Show hints when the pointer rests on a control");
    addToggle(P, -1, &Settings::UiAnim, L"Animations", kAnimationsRect,
        L"Fade the window in and out and animate zoom changes");
    auto autostart = std::make_unique<Toggle>(
        L"Start automatically with Windows", [this] { return autostartOn; },
        [this](bool on) {
            if (store->setAutostart(on, services.executablePath))
                autostartOn = on;
            else
                setToast(L"Could not change the Windows start-up entry");
        });
    autostart->bounds = {kLeftX, 264, kLeftW, 28};
    autostart->tooltip = L"Start Vantor Ovix Settings when you sign in to Windows";
    autostart->isEnabled = [this] { return store && !services.executablePath.empty(); };
    add(pages[P], std::move(autostart));

    // Interface Font.
    auto face = std::make_unique<DropDown>();
    face->bounds = {kRightX, 144, kRightW, 24};
    face->label = L"Typeface";
    face->labelWidth = 88;
    face->tooltip = L"The interface typeface";
    face->emptyText = L"(Tahoma)";
    face->selected = [this] {
        const auto& list = faceList();
        for (size_t i = 0; i < list.size(); ++i)
            if (sameFace(list[i], s.font()))
                return static_cast<int>(i);
        return -1;
    };
    face->onPick = [this](int row) {
        const auto& list = faceList();
        if (row < 0 || static_cast<size_t>(row) >= list.size() || list[static_cast<size_t>(row)] == s.font())
            return;
        s.setFont(list[static_cast<size_t>(row)]);
        if (throttle)
            throttle->saveNow();
        host.fontsChanged();
        refresh(true);
    };
    faceDrop = add(pages[P], std::move(face));
    faceDrop->items = faceList();

    Slider* size = addSlider(P, -1,
        {&Settings::font_size, L"Text Size", {kRightX, 184, kHalfW, 44}, 11, 13, 12, sizeText,
            L"Interface text size (double-click resets to 12 px)", 1, 1});
    size->onSet = [this](int32_t v) {
        if (v == s.font_size.load())
            return;
        s.set(&Settings::font_size, v);
        host.fontsChanged();
    };
    Toggle* bold = addToggle(P, -1, &Settings::font_bold, L"Bold Text", {kRightX + kHalfW + 8, 200, kHalfW, 28},
        L"Draw the interface text in bold");
    bold->onChange = [this] { host.fontsChanged(); };

    Button* addFont = addButton(P, -1, L"Add Font...", {kRightX, 240, kHalfW, 24},
        L"Add a TrueType or OpenType font file for this program only", [this] {
            const FontChange change = services.fonts->addFontFromDialog();
            faceDrop->items = faceList();
            afterFontChange(change);
        });
    addFont->isEnabled = [this] { return services.fonts != nullptr; };
    Button* removeFont = addButton(P, -1, L"Remove Font", {kRightX + kHalfW + 8, 240, kHalfW, 24},
        L"Remove the chosen added font; the text falls back to Tahoma", [this] {
            const FontChange change = services.fonts->removeFont(s.font());
            faceDrop->items = faceList();
            afterFontChange(change);
        });
    removeFont->isEnabled = [this] { return services.fonts && services.fonts->isAdded(s.font()); };

    // Diagnostics.
    auto cable = std::make_unique<Button>();
    cable->bounds = {kLeftX, 480, 160, 24};
    cable->label = L"VB-CABLE Setup...";
    cable->tooltip = L"Open the Virtual Cable section";
    cable->onClick = [this] { select(3, -1); };
    add(pages[P], std::move(cable));

    auto about = std::make_unique<Button>();
    about->bounds = {kLeftX + 168, 480, 160, 24};
    about->label = L"About Vantor Ovix...";
    about->tooltip = L"About Vantor Ovix Settings";
    about->onClick = [this] { host.showAbout(); };
    aboutButton = add(pages[P], std::move(about));
}

void MainWindow::Impl::paintSettings(Painter& painter) const
{
    DiagnosticInputs in;
    in.engineRunning = report.running;
    in.irLoaded = report.irLoaded;
    in.cableEndpoint = s.cableText(settings::CableText::EndpointName);
    in.cableProblem = s.cableText(settings::CableText::Problem);
    in.cableNote = cableNoteText(console.cable().renameState());
    for (int i = 0; i < kDiagnosticLines; ++i) {
        const DiagnosticLine line = diagnosticLine(i, in);
        painter.text({kDiagnosticsArea.x, kDiagnosticsArea.y + 20.0f * i, kDiagnosticsArea.w, 20}, line.text,
            TextRole::Body, line.colour, Align::Left);
    }
}

void MainWindow::Impl::settingsRegions(std::vector<Region>& out) const
{
    const uint64_t texts = std::hash<std::wstring>{}(s.cableText(settings::CableText::EndpointName))
        ^ std::hash<std::wstring>{}(s.cableText(settings::CableText::Problem))
        ^ static_cast<uint64_t>(console.cable().renameState()) << 40;
    out.push_back({kDiagnosticsArea, (uint64_t{report.running} | uint64_t{report.irLoaded} << 1) ^ (texts << 2)});
}

} // namespace ui
