// Page 0, "Ovix Settings": the environment list, the audio devices, the
// effects amount, the microphone level and the voice and monitor switches.

#include "dsp/room.h"
#include "engine/texts.h"
#include "platform/text.h"
#include "ui/main_window_impl.h"
#include "ui/pages.h"

namespace ui {

using settings::Settings;

void MainWindow::Impl::buildVoicePage()
{
    auto& list = pages[0];
    auto roomList = std::make_unique<ListBox>();
    roomList->bounds = {kLeftX, 144, kLeftW, 10 * ListBox::kRowHeight + 22};
    for (const char* name : engine::kRoomNames)
        roomList->rows.push_back(platform::wideFromUtf8(name));
    roomList->tooltip = L"Environment room (Up/Down to step, wheel to scroll)";
    roomList->selected = [this] { return roomRow(s.preset); };
    roomList->onSelect = [this](int row) { s.set(&Settings::preset, row); };
    roomList->onScroll = [this](int top) { s.set(&Settings::PresetTop, top); };
    roomList->caption
        = [this] { return platform::wideFromUtf8(engine::roomDisplayText(dsp::room(roomRow(s.preset)))); };
    rooms = add(list, std::move(roomList));

    auto refreshButton = std::make_unique<Button>();
    refreshButton->bounds = {kLeftX + kLeftW - 112, 416, 112, 24};
    refreshButton->label = L"Refresh";
    refreshButton->icon = icons::refresh;
    refreshButton->tooltip = L"Re-scan Windows microphones and playback speakers";
    refreshButton->onClick = [this] {
        refresher->refresh(true);
        engine::requestOpen(console.state());
    };
    add(list, std::move(refreshButton));

    micDrop = addDeviceDropDown(L"Microphone", 448, L"(no microphone)", L"The microphone the voice comes from",
        &engine::DeviceLists::micIndex, &engine::DeviceLists::captureList, [this](const engine::EndpointInfo& e) {
            settings::setDeviceName(s, settings::DeviceKind::Mic, e.id);
            engine::requestMicReopen(console.state());
        });
    spkDrop = addDeviceDropDown(L"Speakers", 480, L"(no output)", L"Where you hear yourself: headphones or speakers",
        &engine::DeviceLists::spkIndex, &engine::DeviceLists::renderList, [this](const engine::EndpointInfo& e) {
            engine::chooseSpeaker(s, e);
            engine::requestOpen(console.state());
        });

    auto effects = std::make_unique<Toggle>(s, &Settings::effects, L"Environment Effects");
    effects->bounds = {kRightX, 120, kRightW, 28};
    effects->tooltip = L"Turn environmental audio reverb/echo processing on or off";
    add(list, std::move(effects));

    auto amount = std::make_unique<Slider>(s, &Settings::amount, L"Effects Amount");
    amount->bounds = {kRightX, 160, kRightW, 44};
    amount->minimum = 0;
    amount->maximum = 100;
    amount->defaultValue = 9;
    amount->pageStep = 10;
    amount->format = percentText;
    amount->tooltip = L"Reverb intensity (double-click to reset to 9%)";
    amount->isEnabled = [this] { return s.effects.load() != 0; };
    add(list, std::move(amount));

    auto level = std::make_unique<Slider>(s, &Settings::mic_level, L"Microphone Level");
    level->bounds = {kRightX, 216, kRightW, 44};
    level->minimum = 0;
    level->maximum = 1000;
    level->defaultValue = 100;
    level->step = 5;
    level->pageStep = 50;
    level->scale = SliderScale::Square;
    level->format = levelText;
    level->tooltip = L"Microphone input boost level (100 = 0 dB normal, double-click resets)";
    add(list, std::move(level));

    struct Switch {
        settings::FlagField Settings::*field;
        const wchar_t* label;
        const wchar_t* tip;
    };
    const Switch switches[] = {
        {&Settings::ambit, L"Ambit 3D Surround", L"Enable Vantor Multi-Speaker Surround width & stereo spread"},
        {&Settings::card_mic, L"Zephra Voicing", L"Card microphone tone curve (Zephra voicing)"},
        {&Settings::raw, L"Raw Microphone", L"Skip the input tone shaping"},
        {&Settings::monitor, L"Hear Myself", L"Hear the processed voice in the headphones"},
        {&Settings::wide, L"Wide Echo", L"Spread the echo wide in the headphones"},
    };
    for (size_t i = 0; i < std::size(switches); ++i) {
        auto t = std::make_unique<Toggle>(s, switches[i].field, switches[i].label);
        const float column = static_cast<float>(i % 2), row = static_cast<float>(i / 2);
        t->bounds = {kRightX + column * (kRightW / 2 + 4), 312 + row * 36, kRightW / 2 - 4, 28};
        t->tooltip = switches[i].tip;
        add(list, std::move(t));
    }
}

DropDown* MainWindow::Impl::addDeviceDropDown(std::wstring label, float y, std::wstring emptyText, std::wstring tooltip,
    int engine::DeviceLists::*index, engine::EndpointList engine::DeviceLists::*entries,
    std::function<void(const engine::EndpointInfo&)> choose)
{
    auto d = std::make_unique<DropDown>();
    d->bounds = {kLeftX, y, kLeftW, 24};
    d->label = std::move(label);
    d->labelWidth = 104;
    d->emptyText = std::move(emptyText);
    d->tooltip = std::move(tooltip);
    d->selected = [this, index] { return devices.*index; };
    d->onPick = [this, index, entries, choose = std::move(choose)](int row) {
        if (row < 0 || row >= static_cast<int>((devices.*entries).size()))
            return;
        devices.*index = row;
        choose((devices.*entries)[row]);
        // One save for the choice, holding whatever its setters asked for.
        savedSettingsRequests = s.saveRequests(settings::RegistryKey::Settings);
        if (throttle)
            throttle->saveRegistrySettingsSoon(false);
    };
    return add(pages[0], std::move(d));
}


} // namespace ui
