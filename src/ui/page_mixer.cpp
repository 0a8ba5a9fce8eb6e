// Page 1, "Surround Mixer". The basic tab: levels, pans, noise isolation and
// the voice speed. The advanced tab: the 42 masks (two group drop-downs and
// the whole list), the voice sliders, where the mask applies, and the glitch
// repeater with its hold button.

#include "dsp/glitch_repeater.h"
#include "dsp/mask_table.h"
#include "engine/mask_choice.h"
#include "engine/texts.h"
#include "platform/text.h"
#include "soundboard/hotkeys.h"
#include "ui/key_field.h"
#include "ui/main_window_impl.h"
#include "ui/pages.h"
#include "ui/theme.h"

namespace ui {

using settings::Settings;
using namespace theme;

namespace {

constexpr int kBasic = 0, kAdvanced = 1;
constexpr int kIsolationModes = 5;
// The mask bits of mask_on: the voice, the sound clip, the program.
constexpr const wchar_t* kMaskTargets[] = {L"My voice", L"Sound clip", L"Program"};
constexpr Rect kPitchLine{kLeftX, 472, kLeftW, 20};
constexpr Rect kGlitchLine{kRightX, 456, kRightW, 20};

std::wstring maskName(int row)
{
    return platform::wideFromUtf8(engine::kMaskNames[static_cast<size_t>(row)]);
}

// A button that counts as held while the pointer holds it down.
class HoldButton final : public Button {
public:
    std::function<void(bool)> onHold;
    void press(Point p) override
    {
        Button::press(p);
        onHold(true);
    }
    void doubleClick(Point p) override { press(p); }
    void release(Point p, bool inside) override
    {
        Button::release(p, inside);
        onHold(false);
    }
};

} // namespace

void MainWindow::Impl::buildMixerPage()
{
    constexpr int P = 1;
    // Basic tab, left: the three levels and the two pans.
    const struct {
        settings::IntField Settings::*field;
        const wchar_t* label;
        int32_t def;
        const wchar_t* tip;
    } levels[] = {
        {&Settings::mic_level, L"Microphone Level", 100, L"Microphone input boost level (100 = 0 dB normal, double-click resets)"},
        {&Settings::clip_level, L"Clip Vol", 84, L"Sound clip volume (double-click resets)"},
        {&Settings::app_gain, L"App Volume", 80, L"Program audio volume (double-click resets)"},
    };
    for (size_t i = 0; i < std::size(levels); ++i) {
        Slider* c = addSlider(P, kBasic,
            {levels[i].field, levels[i].label, {kLeftX, 144 + 52.0f * i, kLeftW, 44}, 0, 1000, levels[i].def, levelText,
                levels[i].tip, 5, 50});
        c->scale = SliderScale::Square;
    }
    addSlider(P, kBasic,
        {&Settings::pan, L"Voice Pan", {kLeftX, 328, kHalfW, 44}, -100, 100, 0, panText,
            L"Voice position, left to right (double-click centres)"});
    addSlider(P, kBasic,
        {&Settings::app_pan, L"Program Pan", {kLeftX + kHalfW + 8, 328, kHalfW, 44}, -100, 100, 0, panText,
            L"Program audio balance, left to right (double-click centres)"});
    addToggle(P, kBasic, &Settings::pan_cable, L"To Mic Cable", {kLeftX, 380, kHalfW, 28},
        L"Apply the voice pan to the virtual microphone");
    addToggle(P, kBasic, &Settings::pan_mon, L"To Monitor", {kLeftX + kHalfW + 8, 380, kHalfW, 28},
        L"Apply the voice pan to your headphones");

    // Basic tab, right: isolation and the voice speed.
    addToggle(P, kBasic, &Settings::isolate, L"Noise Isolation", {kRightX, 144, kRightW, 28},
        L"Noise isolation on or off");
    const float modeW = (kRightW - 4 * 8) / kIsolationModes;
    for (int m = 0; m < kIsolationModes; ++m) {
        Button* b = addButton(P, kBasic, platform::wideFromUtf8(engine::isolationModeName(m)),
            {kRightX + m * (modeW + 8), 180, modeW, 24}, L"Isolation mode",
            [this, m] { s.set(&Settings::iso_mode, m); }, ButtonStyle::Tab);
        b->isSelected = [this, m] { return s.iso_mode.load() == m; };
    }
    Slider* iso = addSlider(P, kBasic,
        {&Settings::iso_level, L"Isolation Strength", {kRightX, 212, kRightW, 44}, 0, 100, 60, percentText,
            L"Strength of the Gate, Clean, Studio and Broadcast modes (double-click resets)"});
    iso->isEnabled = [this] { return s.iso_mode.load() != 4; };
    Slider* vocal = addSlider(P, kBasic,
        {&Settings::vocal_level, L"Vocal Strength", {kRightX, 264, kRightW, 44}, 0, 100, 50, percentText,
            L"Strength of the Vocal mode (double-click resets)"});
    vocal->isEnabled = [this] { return s.iso_mode.load() == 4; };
    addSlider(P, kBasic,
        {&Settings::voice_speed, L"Voice Speed", {kRightX, 348, kRightW, 44}, 50, 200, 100,
            [](int32_t v) { return timesText(v, 100); }, L"Voice speed, 0.50x to 2.00x (double-click resets)", 5, 25});
    addToggle(P, kBasic, &Settings::voice_keep_pitch, L"Keep pitch", {kRightX, 400, kRightW, 28},
        L"Keep the voice's pitch when its speed changes");

    // Advanced tab, left: the masks.
    auto chooseMask = [this](int row) {
        Settings::Transaction transaction(s);
        engine::chooseMask(s, row);
    };
    const struct {
        const wchar_t* label;
        int first, count;
    } groups[] = {
        {L"Zephra (18)", 0, dsp::kZephraMaskCount},
        {L"Extended (24)", dsp::kZephraMaskCount, dsp::kMaskCount - dsp::kZephraMaskCount},
    };
    for (int g = 0; g < 2; ++g) {
        auto d = std::make_unique<DropDown>();
        d->bounds = {kLeftX, 144 + 32.0f * g, kLeftW, 24};
        d->label = groups[g].label;
        d->labelWidth = 112;
        d->emptyText = L"(choose a mask)";
        d->tooltip = g == 0 ? platform::wideFromUtf8(engine::kZephraMaskGroup) : L"Extended Masks (24):";
        for (int r = 0; r < groups[g].count; ++r)
            d->items.push_back(maskName(groups[g].first + r));
        const int first = groups[g].first, count = groups[g].count;
        d->selected = [this, first, count] {
            const int row = s.voice_mask.load() - first;
            return row >= 0 && row < count ? row : -1;
        };
        d->onPick = [chooseMask, first](int row) { chooseMask(first + row); };
        add(pages[P], std::move(d), kAdvanced);
    }
    auto list = std::make_unique<ListBox>();
    list->bounds = {kLeftX, 208, kLeftW, 7 * ListBox::kRowHeight + 22};
    for (int r = 0; r < dsp::kMaskCount; ++r)
        list->rows.push_back(maskName(r));
    list->tooltip = L"All 42 voice masks (Up/Down to step, wheel to scroll)";
    list->selected = [this] { return s.voice_mask.load(); };
    list->onSelect = chooseMask;
    list->caption = [this] {
        const int m = s.voice_mask.load();
        if (m < 0 || m >= dsp::kMaskCount)
            return std::wstring(L"No mask");
        return (m < dsp::kZephraMaskCount ? L"Zephra mask: " : L"Extended mask: ") + maskName(m);
    };
    maskList = add(pages[P], std::move(list), kAdvanced);
    showChosenMask();

    const float thirdW = (kLeftW - 16) / 3;
    for (int bit = 0; bit < 3; ++bit) {
        auto t = std::make_unique<Toggle>(
            kMaskTargets[bit], [this, bit] { return (s.mask_on.load() >> bit & 1) != 0; },
            [this, bit](bool on) { s.set(&Settings::mask_on, (s.mask_on.load() & ~(1 << bit)) | (on ? 1 << bit : 0)); });
        t->bounds = {kLeftX + bit * (thirdW + 8), 436, thirdW, 28};
        t->tooltip = L"Which sources get the voice mask";
        add(pages[P], std::move(t), kAdvanced);
    }

    // Advanced tab, right: the voice and the glitch repeater.
    addSlider(P, kAdvanced,
        {&Settings::voice_ratio, L"Voice Ratio", {kRightX, 144, kRightW, 44}, 400, 2500, 1000,
            [](int32_t v) { return timesText(v, 1000); }, L"Voice pitch ratio (double-click resets)", 10, 100});
    addSlider(P, kAdvanced,
        {&Settings::voice_size, L"Voice Size", {kRightX, 196, kRightW, 44}, 60, 150, 100, percentText,
            L"Voice size: above 100% sounds bigger (double-click resets)"});
    addSlider(P, kAdvanced,
        {&Settings::pitch_hz, L"Pitch Offset", {kRightX, 248, kRightW, 44}, -150, 150, 0, hertzText,
            L"Voice pitch shift in hertz (double-click resets)"});
    Slider* macro = addSlider(P, kAdvanced,
        {&Settings::voice_macro, L"Voice macro:", {kRightX, 300, kRightW, 44}, -100, 100, 0,
            [](int32_t v) { return std::to_wstring(v); },
            L"One slider for the whole voice: sets ratio, pitch and size together"});
    macro->onSet = [this](int32_t m) {
        if (m >= -4 && m <= 4)
            m = 0;
        Settings::Transaction transaction(s);
        s.set(&Settings::voice_macro, m);
        s.set(&Settings::voice_ratio, 1000);
        s.set(&Settings::pitch_hz, -m / 2);
        s.set(&Settings::voice_size, 100 + m / 4);
    };

    auto style = std::make_unique<DropDown>();
    style->bounds = {kRightX, 384, kRightW, 24};
    style->label = L"Style";
    style->labelWidth = 64;
    style->tooltip = L"What the glitch repeater does while held";
    for (const auto& g : engine::kGlitchStyleTexts)
        style->items.push_back(platform::wideFromUtf8(g.name));
    style->selected = [this] { return glitchStyleRow(s.glitch_style); };
    style->onPick = [this](int row) { s.set(&Settings::glitch_style, row); };
    add(pages[P], std::move(style), kAdvanced);

    auto hold = std::make_unique<HoldButton>();
    hold->bounds = {kRightX, 416, kRightW, 32};
    hold->style = ButtonStyle::Primary;
    hold->dynamicLabel = [this] {
        return platform::wideFromUtf8(engine::kGlitchStyleTexts[static_cast<size_t>(glitchStyleRow(s.glitch_style))].hint);
    };
    hold->tooltip = L"Hold for the glitch repeater (or hold the glitch key)";
    hold->onHold = [this](bool held) { console.state().glitchButtonHeld.store(held ? 1 : 0); };
    add(pages[P], std::move(hold), kAdvanced);

    soundboard::Hotkeys& hotkeys = console.hotkeys();
    auto key = std::make_unique<KeyField>();
    key->bounds = kGlitchKeyRect;
    key->label = L"Hold key";
    key->tooltip = L"Click, then press the key that holds the glitch repeater (Esc cancels, Backspace clears)";
    key->keyText = [this, &hotkeys] { return hotkeys.keyText(static_cast<uint32_t>(s.GlitchKey.load())); };
    key->capturing = [&hotkeys] { return hotkeys.capture().kind == soundboard::CaptureKind::Glitch; };
    key->onClick = [this, &hotkeys] {
        hotkeys.startCapture({soundboard::CaptureKind::Glitch, 0});
        refresh();
    };
    add(pages[P], std::move(key), kAdvanced);
}

void MainWindow::Impl::showChosenMask()
{
    maskList->ensureVisible(std::max(0, s.voice_mask.load()), true);
}

void MainWindow::Impl::paintMixer(Painter& painter) const
{
    if (tabs[1] == kBasic) {
        paintSection(painter, {kLeftX, kContentTop, kLeftW, 20}, L"Levels");
        paintSection(painter, {kLeftX, 304, kLeftW, 20}, L"Panning");
        paintSection(painter, {kRightX, kContentTop, kRightW, 20}, L"Noise Isolation");
        paintSection(painter, {kRightX, 324, kRightW, 20}, L"Speed");
        return;
    }
    // The masks' heading is long: it spans both columns, the voice sliders below it.
    paintSection(painter, {kLeftX, kContentTop, kRightX + kRightW - kLeftX, 20},
        platform::wideFromUtf8(engine::kMaskListHeading));
    paintSection(painter, {kLeftX, 408, kLeftW, 20}, L"Mask applies to");
    paintSection(painter, {kRightX, 356, kRightW, 20}, L"Glitch Repeater (Hold Button or Key)");
    painter.text(kPitchLine, pitchText(report.detectedPitchHz, report.targetPitchHz), TextRole::Body, kTextDim,
        Align::Left);
    const bool glitching = report.glitching || console.state().glitchButtonHeld.load() != 0;
    const auto& g = engine::kGlitchStyleTexts[static_cast<size_t>(glitchStyleRow(s.glitch_style))];
    if (glitching) {
        painter.text(kGlitchLine, L"Glitching Now!  " + platform::wideFromUtf8(g.status), TextRole::Heading, kAccent,
            Align::Left);
        return;
    }
    // Between glitches the line shows the glitch key's status for a while.
    const soundboard::StatusLine& keyStatus = console.hotkeys().glitchStatus();
    if (statusShown(keyStatus.text, keyStatus.time, now()))
        painter.text(kGlitchLine, fitted(painter, keyStatus.text, TextRole::Body, kGlitchLine.w), TextRole::Body,
            kText, Align::Left);
    else
        painter.text(kGlitchLine, L"Ready", TextRole::Body, kTextDim, Align::Left);
}

uint64_t MainWindow::Impl::glitchStatusState() const
{
    const soundboard::StatusLine& status = console.hotkeys().glitchStatus();
    return uint64_t{status.serial} * 2 + statusShown(status.text, status.time, now());
}

void MainWindow::Impl::pageRegions(std::vector<Region>& out) const
{
    if (page == 1 && tabs[1] == kAdvanced) {
        out.push_back({kPitchLine,
            static_cast<uint64_t>(static_cast<uint32_t>(report.detectedPitchHz))
                | static_cast<uint64_t>(static_cast<uint32_t>(report.targetPitchHz)) << 32});
        out.push_back({kGlitchLine,
            uint64_t{report.glitching} | uint64_t{console.state().glitchButtonHeld.load() != 0} << 1
                | static_cast<uint64_t>(s.glitch_style.load()) << 2 | glitchStatusState() << 8});
    } else if (page == 3) {
        out.push_back({kBassBoostLine, static_cast<uint64_t>(s.mic_level.load())});
        cableRegions(out);
        out.push_back({kSpeakerTestLine, std::hash<std::wstring>{}(speakerTestText(console.speakerTest()))});
    }
}

} // namespace ui
