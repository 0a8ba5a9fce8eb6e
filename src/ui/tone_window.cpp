#include "ui/tone_window.h"

#include "settings/fields.h"
#include "settings/mic_tone_pad.h"
#include "ui/pages.h"
#include "ui/theme.h"
#include "ui/tone_pad.h"
#include "ui/toolkit.h"

#include <algorithm>
#include <array>
#include <functional>
#include <string_view>
#include <vector>

namespace ui {

using settings::Settings;
using namespace theme;

namespace {

constexpr double kHoverTimeConstant = 0.06;
constexpr int32_t kPadKeyStep = 5;

// The pad's square in window units: its centre and half-sizes are fixed.
constexpr Rect kPad = edges(static_cast<float>(kTonePadCentreX - kTonePadHalfWidth),
    static_cast<float>(kTonePadCentreY - kTonePadHalfHeight), static_cast<float>(kTonePadCentreX + kTonePadHalfWidth),
    static_cast<float>(kTonePadCentreY + kTonePadHalfHeight));

// Right of the pad: the band sliders; below: the expander in two rows.
constexpr float kBandX = 196, kBandW = kToneWindowWidth - kMargin - kBandX;
constexpr float kHalfW = (kToneWindowWidth - 2 * kMargin - kGrid) / 2;
constexpr float kThirdW = (kToneWindowWidth - 2 * kMargin - 2 * kGrid) / 3;
constexpr float kGateTop = 296;

constexpr Rect kParts[kTonePartCount] = {
    {kToneWindowWidth - kMargin - 136, 14, 136, 28}, // On
    kPad,
    {kBandX, 72, kBandW, 44},
    {kBandX, 128, kBandW, 44},
    {kBandX, 184, kBandW, 44},
    {kMargin, kGateTop, kHalfW, 44},
    {kMargin + kHalfW + kGrid, kGateTop, kHalfW, 44},
    {kMargin, kGateTop + 56, kThirdW, 44},
    {kMargin + kThirdW + kGrid, kGateTop + 56, kThirdW, 44},
    {kMargin + 2 * (kThirdW + kGrid), kGateTop + 56, kThirdW, 44},
    {kMargin, 436, 112, 24},
    {kToneWindowWidth - kMargin - 112, 436, 112, 24},
};

constexpr Rect kStatus{kMargin, 404, kToneWindowWidth - 2 * kMargin, 20};

// The pad: a press or drag moves the bands around their bases, a
// double-click centres it; arrows move it in steps, Home centres it.
class TonePadControl final : public Control {
public:
    explicit TonePadControl(Settings& s) : s_(s) { }

    void paint(Painter& painter, const ControlLook& look) const override
    {
        const bool on = s_.tone_on.load() != 0;
        painter.fillRoundRect(bounds, 6, mix(kHover, kPanel, look.hover * 0.5f));
        painter.line({bounds.x, static_cast<float>(kTonePadCentreY)},
            {bounds.right(), static_cast<float>(kTonePadCentreY)}, kTrack, 1.0f);
        painter.line({static_cast<float>(kTonePadCentreX), bounds.y},
            {static_cast<float>(kTonePadCentreX), bounds.bottom()}, kTrack, 1.0f);
        painter.frameRoundRect(bounds, 6, on ? kBorder : kDisabled, 1.0f);
        const Point at = dot();
        const float r = 8.0f + 2.0f * std::max(look.hover, look.press);
        const Rect knob{at.x - r, at.y - r, 2 * r, 2 * r};
        if (on) {
            painter.fillEllipse(knob, mix(kAccent, kAccentHot, look.hover));
            painter.frameEllipse(knob, kWhite, 2.0f);
        } else {
            // Off: a hollow knob, so the state shows in its shape too.
            painter.fillEllipse(knob, kPanel);
            painter.frameEllipse(knob, kDisabled, 2.0f);
        }
        if (look.focused)
            drawFocusRing(painter, bounds, 6);
    }
    void press(Point p) override
    {
        dragging_ = true;
        toneDragPad(s_, p.x, p.y);
    }
    void drag(Point p) override
    {
        if (dragging_)
            toneDragPad(s_, p.x, p.y);
    }
    void release(Point, bool) override { dragging_ = false; }
    void doubleClick(Point) override { settings::toneResetPad(s_); }
    bool key(Key key, Modifiers) override
    {
        const int32_t x = s_.tone_pad_x.load(), y = s_.tone_pad_y.load();
        switch (key) {
        case Key::Left:
            settings::toneMovePad(s_, x - kPadKeyStep, y);
            return true;
        case Key::Right:
            settings::toneMovePad(s_, x + kPadKeyStep, y);
            return true;
        case Key::Up:
            settings::toneMovePad(s_, x, y + kPadKeyStep);
            return true;
        case Key::Down:
            settings::toneMovePad(s_, x, y - kPadKeyStep);
            return true;
        case Key::Home:
            settings::toneResetPad(s_);
            return true;
        default:
            return false;
        }
    }
    uint64_t state() const override
    {
        return (static_cast<uint64_t>(static_cast<uint8_t>(s_.tone_pad_x.load())) << 16)
            | (static_cast<uint64_t>(static_cast<uint8_t>(s_.tone_pad_y.load())) << 8) | (s_.tone_on.load() ? 1u : 0u)
            | (uint64_t{dragging_} << 24);
    }

private:
    Point dot() const
    {
        return {static_cast<float>(kTonePadCentreX + s_.tone_pad_x.load() / 100.0 * kTonePadHalfWidth),
            static_cast<float>(kTonePadCentreY - s_.tone_pad_y.load() / 100.0 * kTonePadHalfHeight)};
    }
    Settings& s_;
    bool dragging_ = false;
};

struct Motion {
    Smoothed hover, press;
};

} // namespace

Rect tonePartRect(TonePart part)
{
    return kParts[static_cast<int>(part)];
}

Rect toneStatusRect()
{
    return kStatus;
}

constexpr double kToneTipDelay = 0.5;

struct ToneWindow::Impl {
    explicit Impl(Settings& settings) : s(settings) { }

    Settings& s;
    std::vector<std::unique_ptr<Control>> controls; // in TonePart order
    std::array<Motion, kTonePartCount> motion{};
    Control* hot = nullptr;
    Control* captured = nullptr;
    Control* focused = nullptr;
    bool focusShown = false;
    bool closing = false;
    Point pointer{-1, -1};
    uint64_t drawn = 0;
    // How long the pointer has rested on hot; a press hides the tip until
    // the pointer moves on, as in the main window.
    double hoverSeconds = 0.0;
    bool tipBlocked = false;

    bool tooltipShown() const
    {
        return hot && !hot->tooltip.empty() && s.UiHints.load() && !captured && !tipBlocked
            && hoverSeconds >= kToneTipDelay;
    }

    Control* at(Point p) const
    {
        for (const auto& c : controls)
            if (c->hit(p))
                return c.get();
        return nullptr;
    }
    int indexOf(const Control* c) const
    {
        for (size_t i = 0; i < controls.size(); ++i)
            if (controls[i].get() == c)
                return static_cast<int>(i);
        return -1;
    }
    // Everything the drawing depends on, folded into one number.
    uint64_t signature() const
    {
        uint64_t h = 1469598103934665603ull;
        auto fold = [&h](uint64_t v) { h = (h ^ v) * 1099511628211ull; };
        for (size_t i = 0; i < controls.size(); ++i) {
            fold(controls[i]->state());
            fold(static_cast<uint64_t>(motion[i].hover.value * 1000.0));
            fold(static_cast<uint64_t>(motion[i].press.value * 1000.0));
        }
        fold(static_cast<uint64_t>(indexOf(focused) + 1) | (uint64_t{focusShown} << 8));
        fold(tooltipShown() ? static_cast<uint64_t>(indexOf(hot) + 1) : 0);
        return h;
    }

    Slider* addSlider(settings::IntField Settings::*field, std::string_view key, std::wstring label,
        std::function<std::wstring(int32_t)> format, int32_t limit, std::wstring tooltip)
    {
        auto c = std::make_unique<Slider>(s, field, std::move(label));
        c->bounds = kParts[controls.size()];
        const settings::FieldInfo* row = settings::findField(key);
        c->minimum = key == "vocal_level" ? 0 : -limit;
        c->maximum = limit;
        c->defaultValue = row ? row->defaultValue : 0;
        c->step = 1;
        c->pageStep = 10;
        c->format = std::move(format);
        c->tooltip = std::move(tooltip);
        Slider* raw = c.get();
        controls.push_back(std::move(c));
        return raw;
    }
    void build();
    void paintLabels(Painter& painter) const;
};

void ToneWindow::Impl::build()
{
    auto on = std::make_unique<Toggle>(s, &Settings::tone_on, L"Tone On");
    on->bounds = kParts[controls.size()];
    on->tooltip = L"Custom mic tone and vocal lift on or off";
    controls.push_back(std::move(on));

    auto pad = std::make_unique<TonePadControl>(s);
    pad->bounds = kPad;
    pad->tooltip = L"Drag to shape the voice; double-click centres it";
    controls.push_back(std::move(pad));

    // A band slider moves one band, then the bases follow it (the rebase rule).
    const std::pair<settings::ToneBand, const wchar_t*> bands[] = {
        {settings::ToneBand::Lo, L"Low (200 Hz)"},
        {settings::ToneBand::Mid, L"Mid (1 kHz)"},
        {settings::ToneBand::Hi, L"High (3.5 kHz)"},
    };
    settings::IntField Settings::*bandFields[] = {&Settings::tone_lo, &Settings::tone_mid, &Settings::tone_hi};
    for (int i = 0; i < 3; ++i) {
        Slider* band = addSlider(bandFields[i], "", bands[i].second, tenthsDecibelText, settings::kToneBandLimit,
            L"Mic tone band, -24 to +24 dB (double-click sets 0 dB)");
        band->defaultValue = 0;
        band->pageStep = 30;
        const settings::ToneBand which = bands[i].first;
        band->onSet = [this, which](int32_t v) { settings::toneSetBand(s, which, v); };
    }

    addSlider(&Settings::vocal_level, "vocal_level", L"Vocal Level", percentText, 100,
        L"Expander strength in the Vocal isolation mode (double-click resets)");
    addSlider(&Settings::gate_out, "gate_out", L"Gate Output", tenthsDecibelText, 120,
        L"Expander output gain, -12 to +12 dB (double-click resets)");
    addSlider(&Settings::gate_lo, "gate_lo", L"Gate Low", tenthsDecibelText, 120,
        L"Expander tone, low shelf (double-click resets)");
    addSlider(&Settings::gate_mid, "gate_mid", L"Gate Mid", tenthsDecibelText, 120,
        L"Expander tone, mid band (double-click resets)");
    addSlider(&Settings::gate_hi, "gate_hi", L"Gate High", tenthsDecibelText, 120,
        L"Expander tone, high shelf (double-click resets)");

    auto reset = std::make_unique<Button>();
    reset->label = L"Reset All";
    reset->bounds = kParts[controls.size()];
    reset->tooltip = L"Tone on, pad and bands flat, vocal lift to its defaults";
    reset->onClick = [this] { settings::toneResetAll(s); };
    controls.push_back(std::move(reset));

    auto close = std::make_unique<Button>();
    close->label = L"Close";
    close->bounds = kParts[controls.size()];
    close->onClick = [this] { closing = true; };
    controls.push_back(std::move(close));
}

void ToneWindow::Impl::paintLabels(Painter& painter) const
{
    painter.text({kMargin, 14, 260, 28}, L"Mic Tone & Vocal Lift", TextRole::Heading, kText, Align::Left);
    painter.text({kMargin, 44, 172, 20}, L"Tone Pad", TextRole::Heading, kText, Align::Left);
    painter.text({kBandX, 44, kBandW, 20}, L"Bands", TextRole::Heading, kText, Align::Left);
    // The pad's axes: left warms (more low, less high), up lifts the mids.
    painter.text({kPad.x, 68, kPad.w, 20}, L"Mid +", TextRole::Small, kTextDim, Align::Centre);
    painter.text({kPad.x, kPad.bottom() + 2, kPad.w / 3, 20}, L"Warm", TextRole::Small, kTextDim, Align::Left);
    painter.text(
        {kPad.x + kPad.w / 3, kPad.bottom() + 2, kPad.w / 3, 20}, L"Mid -", TextRole::Small, kTextDim, Align::Centre);
    painter.text({kPad.right() - kPad.w / 3, kPad.bottom() + 2, kPad.w / 3, 20}, L"Bright", TextRole::Small, kTextDim,
        Align::Right);
    const std::wstring padLine
        = L"X " + std::to_wstring(s.tone_pad_x.load()) + L"   Y " + std::to_wstring(s.tone_pad_y.load());
    painter.text({kMargin, kPad.bottom() + 22, kPad.right() - kMargin + 4, 20}, padLine, TextRole::Small, kTextDim,
        Align::Centre);

    painter.fillRect({kMargin, kGateTop - 44, kToneWindowWidth - 2 * kMargin, 1}, kPanel);
    painter.text({kMargin, kGateTop - 32, kHalfW, 24}, L"Vocal Lift", TextRole::Heading, kText, Align::Left);
    painter.text({kMargin + kHalfW + kGrid, kGateTop - 32, kHalfW, 24}, L"used by the Vocal isolation mode",
        TextRole::Small, kTextDim, Align::Right);
    painter.text(kStatus,
        expanderStatusText(
            s.vocal_level.load(), s.gate_out.load(), s.gate_lo.load(), s.gate_mid.load(), s.gate_hi.load()),
        TextRole::Small, kTextDim, Align::Left);
}

ToneWindow::ToneWindow(Settings& settings) : impl_(std::make_unique<Impl>(settings))
{
    impl_->build();
    impl_->drawn = impl_->signature();
}

ToneWindow::~ToneWindow() = default;

void ToneWindow::paint(Painter& painter)
{
    Impl& w = *impl_;
    painter.fillRect({0, 0, kToneWindowWidth, kToneWindowHeight}, kCanvas);
    w.paintLabels(painter);
    for (size_t i = 0; i < w.controls.size(); ++i) {
        const Control* c = w.controls[i].get();
        c->paint(painter,
            {static_cast<float>(w.motion[i].hover.value), static_cast<float>(w.motion[i].press.value),
                c == w.focused && w.focusShown});
    }
    if (w.tooltipShown()) {
        // Kept inside the small window: a tip near its edge moves in.
        Rect r = tooltipRect(painter, w.hot->tooltip, w.pointer);
        if (r.bottom() > kToneWindowHeight - 4)
            r.y = w.pointer.y - 8 - r.h;
        r.x = std::clamp(r.x, 4.0f, std::max(4.0f, kToneWindowWidth - r.w - 4));
        r.y = std::clamp(r.y, 4.0f, std::max(4.0f, kToneWindowHeight - r.h - 4));
        paintTooltip(painter, w.hot->tooltip, r);
    }
    w.drawn = w.signature();
}

void ToneWindow::pointerMove(Point p)
{
    Impl& w = *impl_;
    w.pointer = p;
    if (w.captured)
        w.captured->drag(p);
    Control* over = w.captured ? w.captured : w.at(p);
    if (over != w.hot) {
        w.hot = over;
        w.hoverSeconds = 0.0;
        w.tipBlocked = false;
    }
}

void ToneWindow::pointerDown(Point p)
{
    Impl& w = *impl_;
    w.pointer = p;
    w.tipBlocked = true;
    Control* c = w.at(p);
    if (c && c->enabled()) {
        w.focused = c;
        w.focusShown = false;
        w.captured = c;
        c->press(p);
    }
}

void ToneWindow::pointerUp(Point p)
{
    Impl& w = *impl_;
    if (Control* c = w.captured) {
        w.captured = nullptr;
        c->release(p, c->hit(p));
    }
}

void ToneWindow::doubleClick(Point p)
{
    Impl& w = *impl_;
    Control* c = w.at(p);
    if (c && c->enabled()) {
        w.captured = c;
        c->doubleClick(p);
    }
}

void ToneWindow::pointerLeave()
{
    Impl& w = *impl_;
    if (!w.captured)
        w.hot = nullptr;
}

void ToneWindow::wheel(Point p, float notches)
{
    if (Control* c = impl_->at(p); c && c->enabled())
        c->wheel(notches);
}

bool ToneWindow::key(Key key, Modifiers modifiers)
{
    Impl& w = *impl_;
    if (key == Key::Escape) {
        w.closing = true;
        return true;
    }
    if (key == Key::Tab) {
        const int n = static_cast<int>(w.controls.size());
        const int i = w.indexOf(w.focused);
        const int next = i < 0 ? (modifiers.shift ? n - 1 : 0) : (i + (modifiers.shift ? n - 1 : 1)) % n;
        w.focused = w.controls[static_cast<size_t>(next)].get();
        w.focusShown = true;
        return true;
    }
    if (!w.focused || !w.focused->key(key, modifiers))
        return false;
    w.focusShown = true;
    return true;
}

bool ToneWindow::tick(double seconds)
{
    Impl& w = *impl_;
    for (size_t i = 0; i < w.controls.size(); ++i) {
        const Control* c = w.controls[i].get();
        Motion& m = w.motion[i];
        m.hover.target = c == w.hot && c->enabled() ? 1.0 : 0.0;
        m.press.target = c == w.captured && c->hit(w.pointer) ? 1.0 : 0.0;
        m.hover.advance(seconds, kHoverTimeConstant, 0.01);
        m.press.advance(seconds, kHoverTimeConstant / 2, 0.01);
    }
    w.hoverSeconds += seconds;
    return w.signature() != w.drawn;
}

bool ToneWindow::closeRequested() const
{
    return impl_->closing;
}

} // namespace ui
