// Page 2, "Graphic Equalizer": seven vertical band sliders over the curve
// they make, the output level, the switch, the presets (built-in and the
// user's, with save and delete), flatten, and the bass-boost lines.

#include "dsp/equalizer.h"
#include "platform/text.h"
#include "settings/eq_presets.h"
#include "settings/fields.h"
#include "ui/main_window_impl.h"
#include "ui/pages.h"
#include "ui/theme.h"

#include <algorithm>
#include <cmath>

namespace ui {

using settings::Settings;
using namespace theme;

namespace {

constexpr int kMaxGain = 12;

// One band: its frequency on top, a vertical track, its gain below. Moving
// it by hand makes the curve "Custom".
class BandSlider final : public Control {
public:
    BandSlider(Settings& s, int band) : s_(s), band_(band) { }

    int32_t value() const { return s_.eq_bands[static_cast<size_t>(band_)].load(); }
    Rect track() const { return {bounds.x + bounds.w / 2 - 4, bounds.y + 28, 8, bounds.h - 56}; }
    // Where a gain sits on the track (y).
    float yOf(int32_t gain) const
    {
        const Rect t = track();
        return t.y + t.h * static_cast<float>(kMaxGain - gain) / (2 * kMaxGain);
    }
    int32_t valueAt(float y) const
    {
        const Rect t = track();
        const float f = std::clamp((t.bottom() - y) / std::max(1.0f, t.h), 0.0f, 1.0f);
        return static_cast<int32_t>(std::lround(f * 2 * kMaxGain)) - kMaxGain;
    }
    void setValue(int64_t v)
    {
        Settings::Transaction transaction(s_);
        if (s_.setEqBand(band_, std::clamp<int64_t>(v, -kMaxGain, kMaxGain)))
            s_.set(&Settings::eq_preset, Settings::kCustomEqPreset);
    }

    void paint(Painter& painter, const ControlLook& look) const override
    {
        const bool on = enabled();
        painter.text({bounds.x, bounds.y, bounds.w, 20},
            platform::wideFromUtf8(dsp::kEqBandLabels[static_cast<size_t>(band_)]) + (band_ < 3 ? L" Hz" : L""),
            TextRole::Small, kTextDim, Align::Centre);
        const Rect t = track();
        painter.fillRoundRect(t, 4, kPanel);
        const float zero = yOf(0), y = yOf(value());
        painter.fillRect({t.x, std::min(zero, y), t.w, std::abs(y - zero)}, on ? kAccent : kDisabled);
        const float r = 9 + look.hover + look.press;
        painter.fillEllipse({t.x + t.w / 2 - r, y - r, 2 * r, 2 * r}, on ? kWhite : kPanel);
        painter.frameRoundRect({t.x + t.w / 2 - r, y - r, 2 * r, 2 * r}, r, on ? kAccent : kDisabled, 2.0f);
        if (look.focused)
            drawFocusRing(painter, bounds, 4);
        painter.text({bounds.x, bounds.bottom() - 20, bounds.w, 20}, decibelText(value()), TextRole::Small, kText,
            Align::Centre);
    }
    void press(Point p) override
    {
        dragging_ = true;
        setValue(valueAt(p.y));
    }
    void drag(Point p) override
    {
        if (dragging_)
            setValue(valueAt(p.y));
    }
    void release(Point, bool) override { dragging_ = false; }
    void doubleClick(Point) override { setValue(0); }
    bool wheel(float notches) override
    {
        setValue(value() + std::lround(notches));
        return true;
    }
    bool key(Key key, Modifiers) override
    {
        switch (key) {
        case Key::Up:
        case Key::Right:
            setValue(value() + 1);
            return true;
        case Key::Down:
        case Key::Left:
            setValue(value() - 1);
            return true;
        case Key::PageUp:
            setValue(value() + 3);
            return true;
        case Key::PageDown:
            setValue(value() - 3);
            return true;
        case Key::Home:
            setValue(-kMaxGain);
            return true;
        case Key::End:
            setValue(kMaxGain);
            return true;
        default:
            return false;
        }
    }
    uint64_t state() const override
    {
        return static_cast<uint32_t>(value() + kMaxGain) | uint64_t{dragging_} << 8 | uint64_t{enabled()} << 9;
    }

private:
    Settings& s_;
    int band_;
    bool dragging_ = false;
};

} // namespace

void MainWindow::Impl::buildEqualizerPage()
{
    constexpr int P = 2;
    for (int b = 0; b < settings::kEqBandCount; ++b) {
        auto band = std::make_unique<BandSlider>(s, b);
        band->bounds = eqBandRect(b);
        band->tooltip = L"Band gain, -12 to +12 dB (double-click resets, moving it makes the curve Custom)";
        band->isEnabled = [this] { return s.eq_on.load() != 0; };
        add(pages[P], std::move(band));
    }
    addSlider(P, -1,
        {&Settings::eq_level, L"Level", kEqLevelRect, 0, 24, 0, attenuationText,
            L"Equalizer output level, 0 to -24 dB (double-click resets)", 1, 3});

    addToggle(P, -1, &Settings::eq_on, L"Graphic Equalizer", kEqSwitchRect,
        L"Enable 7-band Graphic Equalizer");
    auto presets = std::make_unique<DropDown>();
    presets->bounds = {kRightX, 184, kRightW, 24};
    presets->label = L"Preset";
    presets->labelWidth = 64;
    presets->emptyText = L"Custom";
    presets->tooltip = L"Built-in and saved equalizer presets";
    presets->selected = [this] { return s.eq_preset.load(); };
    presets->onPick = [this](int row) { settings::selectEqPreset(s, row); };
    eqPresets = add(pages[P], std::move(presets));
    fillEqPresets();

    const float w = (kRightW - 16) / 3;
    Button* save = addButton(P, -1, L"Save...", {kRightX, 216, w, 24}, L"Save current curve as custom EQ preset",
        [this] { saveEqPreset(); });
    save->isEnabled = [this] { return store != nullptr; };
    Button* remove = addButton(P, -1, L"Delete", {kRightX + w + 8, 216, w, 24}, L"Delete selected custom EQ preset",
        [this] { deleteEqPreset(); });
    remove->isEnabled = [this] { return store && s.eq_preset.load() >= settings::kBuiltInEqPresets; };
    addButton(P, -1, L"Flatten", {kRightX + 2 * (w + 8), 216, w, 24}, L"Flatten all 7 EQ bands and reset Level to 0 dB",
        [this] {
            Settings::Transaction transaction(s);
            settings::selectEqPreset(s, 0);
            s.set(&Settings::eq_level, 0);
        });
}

void MainWindow::Impl::fillEqPresets()
{
    eqPresets->items.clear();
    for (int i = 0; i < settings::kBuiltInEqPresets + static_cast<int>(s.userEqPresets().size()); ++i)
        eqPresets->items.push_back(settings::eqPresetName(s, i));
}

void MainWindow::Impl::saveEqPreset()
{
    if (!store)
        return;
    const int selected = s.eq_preset.load();
    const std::wstring initial = selected < 0 ? std::wstring(L"Custom") : settings::eqPresetName(s, selected);
    const auto answer = host.promptText(L"Save EQ Preset", L"Preset name:", initial);
    if (!answer || answer->empty())
        return;
    settings::EqGains gains{};
    for (int b = 0; b < settings::kEqBandCount; ++b)
        gains[static_cast<size_t>(b)] = s.eq_bands[static_cast<size_t>(b)].load();
    if (!store->saveUserEqPreset(s, *answer, gains)) {
        setToast(L"Preset name too long (63 characters at most)");
        return;
    }
    fillEqPresets();
    savedEqualizerRequests = s.saveRequests(settings::RegistryKey::Equalizer);
    setToast(L"Saved EQ preset " + *answer);
}

void MainWindow::Impl::deleteEqPreset()
{
    const int selected = s.eq_preset.load();
    if (!store || selected < settings::kBuiltInEqPresets)
        return;
    const std::wstring name = settings::eqPresetName(s, selected);
    if (!store->deleteUserEqPreset(s, selected))
        return;
    fillEqPresets();
    savedEqualizerRequests = s.saveRequests(settings::RegistryKey::Equalizer);
    setToast(L"Deleted EQ preset " + name);
}

void MainWindow::Impl::paintEqualizer(Painter& painter) const
{
    // The curve through the bands' gains, over the 0 dB line.
    std::vector<Point> points;
    const BandSlider* first = nullptr;
    for (const auto& placed : pages[2])
        if (const auto* band = dynamic_cast<const BandSlider*>(placed.control.get())) {
            first = first ? first : band;
            const Rect t = band->track();
            points.push_back({t.x + t.w / 2, band->yOf(band->value())});
        }
    if (!first)
        return;
    const float zero = first->yOf(0);
    painter.fillRect({kEqBandArea.x, zero, kEqBandArea.w, 1}, kTrack);
    const Colour ink = s.eq_on.load() ? kAccentHot : kDisabled;
    for (size_t i = 1; i < points.size(); ++i) {
        // A smooth step between neighbours: eight short segments of a cosine ease.
        Point from = points[i - 1];
        for (int k = 1; k <= 8; ++k) {
            const float f = k / 8.0f, e = 0.5f - 0.5f * std::cos(f * 3.14159265f);
            const Point to{points[i - 1].x + (points[i].x - points[i - 1].x) * f,
                points[i - 1].y + (points[i].y - points[i - 1].y) * e};
            painter.line(from, to, ink, 2.0f);
            from = to;
        }
    }
    paintSection(painter, {kRightX, 160, kRightW, 20}, L"Presets");
    paintSection(painter, {kRightX, 264, kRightW, 20}, L"Bass Boost");
    painter.text({kRightX, 288, kRightW, 20}, bassBoostText(s.mic_level), TextRole::Body, kText, Align::Left);
    painter.text({kRightX, 312, kRightW, 20}, L"A 100 Hz shelf that follows the Microphone Level", TextRole::Small,
        kTextDim, Align::Left);
    painter.text({kRightX, 332, kRightW, 20}, L"above 0 dB, on the voice, clip and program audio.", TextRole::Small,
        kTextDim, Align::Left);
}

} // namespace ui
