// Page 3, "Speaker Settings": the output kind and the speaker tests, bass
// management (voicing, tone, effects and pans), the bass boost, and the
// virtual cable section: its state, its capture endpoint, the install flow
// and the shortcuts to the folder, the sound panel and the vendor's page.

#include "settings/fields.h"
#include "ui/main_window_impl.h"
#include "ui/pages.h"
#include "ui/theme.h"

#include <algorithm>

namespace ui {

using settings::Settings;
using namespace theme;

namespace {
constexpr float kLower = 336; // first row under the lower two headings
} // namespace

void MainWindow::Impl::buildSpeakerPage()
{
    constexpr int P = 3;
    // Speaker Selection.
    const wchar_t* kinds[] = {L"2 / 2.1 Speakers", L"Headphones"};
    for (int k = 0; k < 2; ++k) {
        Button* b = addButton(P, -1, kinds[k], {kLeftX + k * (kHalfW + 8), 120, kHalfW, 24},
            L"What the selected output is", [this, k] { s.set(&Settings::SpkHeadphone, k); }, ButtonStyle::Tab);
        b->isSelected = [this, k] { return s.SpkHeadphone.load() == k; };
    }
    Slider* testLevel = addSlider(P, -1,
        {&Settings::SpkTestVol, L"Test Level", {kLeftX, 152, kLeftW, 44}, 5, 100, 35, percentText,
            L"Level of the speaker test signals (double-click resets)", 5, 10});
    // A running test follows the slider at its next chunk.
    testLevel->onSet = [this](int32_t v) {
        s.set(&Settings::SpkTestVol, v);
        console.speakerTest().setLevel(static_cast<float>(s.SpkTestVol.load()) / 100.0f);
    };
    auto testButton = [this](engine::TestMode mode, const wchar_t* label, const wchar_t* stopLabel, Rect place,
                          const wchar_t* tooltip) {
        Button* b
            = addButton(P, -1, label, place, tooltip, [this, mode] { console.speakerTest().startSpeakerTest(mode); });
        b->dynamicLabel = [this, mode, label, stopLabel] {
            const engine::SpeakerTest& t = console.speakerTest();
            return std::wstring(t.running() && t.mode() == mode ? stopLabel : label);
        };
    };
    testButton(engine::TestMode::Chime, L"Channel Test", L"Stop Test", kChannelTestRect,
        L"Play sequential Left -> Right speaker channel identification chime");
    testButton(engine::TestMode::PinkNoise, L"Pink Noise", L"Stop Noise", kPinkNoiseRect,
        L"Play pink noise calibration burst through selected output");
    addToggle(P, -1, &Settings::monitor, L"Hear Myself", {kLeftX, 232, kHalfW, 28},
        L"Hear the processed voice in the headphones");
    addToggle(P, -1, &Settings::wide, L"Wide Echo", {kLeftX + kHalfW + 8, 232, kHalfW, 28},
        L"Spread the echo wide in the headphones");
    addToggle(P, -1, &Settings::ambit, L"Ambit 3D Surround", {kLeftX, 264, kHalfW, 28},
        L"Enable Vantor Multi-Speaker Surround width & stereo spread");
    addToggle(P, -1, &Settings::raw, L"Raw Microphone", {kLeftX + kHalfW + 8, 264, kHalfW, 28},
        L"Skip the input tone shaping");

    // Bass Management.
    addToggle(P, -1, &Settings::card_mic, L"Zephra Voicing", {kRightX, 120, kHalfW, 28},
        L"Card microphone tone curve (Zephra voicing)");
    addToggle(P, -1, &Settings::tone_on, L"Mic Tone", {kRightX + kHalfW + 8, 120, kHalfW, 28},
        L"Custom mic tone and vocal lift on or off");
    addToggle(P, -1, &Settings::effects, L"Environment Effects", {kRightX, 152, kRightW, 28},
        L"Turn environmental audio reverb/echo processing on or off");
    addSlider(P, -1,
        {&Settings::pan, L"Voice Pan", {kRightX, 184, kHalfW, 44}, -100, 100, 0, panText,
            L"Voice position, left to right (double-click centres)"});
    addSlider(P, -1,
        {&Settings::app_pan, L"Program Pan", {kRightX + kHalfW + 8, 184, kHalfW, 44}, -100, 100, 0, panText,
            L"Program audio balance, left to right (double-click centres)"});
    addToggle(P, -1, &Settings::pan_cable, L"To Mic Cable", {kRightX, 232, kHalfW, 28},
        L"Apply the voice pan to the virtual microphone");
    addToggle(P, -1, &Settings::pan_mon, L"To Monitor", {kRightX + kHalfW + 8, 232, kHalfW, 28},
        L"Apply the voice pan to your headphones");

    // Bass Boost.
    Slider* level = addSlider(P, -1,
        {&Settings::mic_level, L"Microphone Level", {kLeftX, kLower, kLeftW, 44}, 0, 1000, 100, levelText,
            L"Microphone input boost level (100 = 0 dB normal, double-click resets)", 5, 50});
    level->scale = SliderScale::Square;
    addSlider(P, -1,
        {&Settings::eq_level, L"EQ Level", {kLeftX, kLower + 56, kLeftW, 44}, 0, 24, 0, attenuationText,
            L"Equalizer output level, 0 to -24 dB (double-click resets)", 1, 3});
    addToggle(P, -1, &Settings::eq_on, L"Graphic Equalizer", {kLeftX, kLower + 112, kLeftW, 28},
        L"Enable 7-band Graphic Equalizer");

    // Virtual Cable.
    Button* install = addButton(
        P, -1, L"", kCableInstallRect, L"Download, check and install the VB-CABLE driver",
        [this] { startCableInstall(); }, ButtonStyle::Primary);
    install->dynamicLabel = [this] {
        return std::wstring(
            console.cable().health() == cable::Health::Missing ? L"Download & Install" : L"Install / Repair VB-CABLE");
    };
    // A download or installer under way answers no new request.
    install->isEnabled = [this] {
        const cable::Install state = console.cable().installState();
        return state == cable::Install::Idle || state == cable::Install::Failed;
    };
    addButton(P, -1, L"Open Folder", kCableFolderRect, L"Open the folder the cable package is downloaded to",
        [this] { host.shellOpen(console.cable().services().cableFolder, L""); });
    addButton(P, -1, L"Sound Settings", kCableSoundRect, L"Open the Windows sound control panel",
        [this] { host.shellOpen(L"control.exe", L"mmsys.cpl,,1"); });
    addButton(P, -1, L"Re-scan Audio Devices", kCableRescanRect,
        L"Re-open the audio devices and re-read the device lists", [this] {
            engine::requestOpen(console.state());
            refresher->refresh(true);
        });
    addButton(
        P, -1, L"VB-Audio's VB-CABLE page", kCableVendorRect, L"Open the cable's page on the vendor's web site",
        [this] { host.shellOpen(console.cable().services().site.webSite + L"/Cable/", L""); }, ButtonStyle::Link);
}

std::wstring MainWindow::Impl::cableSectionLine() const
{
    const cable::Cable& c = console.cable();
    return cableSectionText(c.installState(), c.health(), s.cableText(settings::CableText::Problem));
}

std::wstring speakerTestText(const engine::SpeakerTest& test)
{
    if (!test.running())
        return test.statusText();
    if (test.mode() == engine::TestMode::Chime)
        return L"Channel Test Active...";
    switch (test.activeChannel()) {
    case engine::TestChannel::Left:
        return L"Pink Noise: Left";
    case engine::TestChannel::Right:
        return L"Pink Noise: Right";
    default:
        return L"Pink Noise Calibration Active...";
    }
}

void MainWindow::Impl::paintSpeaker(Painter& painter) const
{
    // The test's state shares the section's heading line, right of the heading.
    const std::wstring testText = speakerTestText(console.speakerTest());
    if (!testText.empty()) {
        const float headingWidth = painter.measureText(speakerSection(0), TextRole::Heading).x;
        const float x = kSpeakerTestLine.x + headingWidth + kGrid * 2;
        painter.text({x, kSpeakerTestLine.y, kSpeakerTestLine.right() - x, kSpeakerTestLine.h}, testText,
            TextRole::Small, console.speakerTest().running() ? kRunning : kDanger, Align::Right);
    }
    painter.text(kBassBoostLine, bassBoostText(s.mic_level), TextRole::Body, kText, Align::Left);

    // The cable's state in up to two lines (the second cut when it is
    // longer), the capture endpoint on the line after it.
    const cable::Health health = console.cable().health();
    const Colour ink = health == cable::Health::Ready ? kRunning : health == cable::Health::Blocked ? kDanger : kText;
    const auto lines = wrapLines(painter, cableSectionLine(), TextRole::Body, kCableTextRect.w);
    constexpr float kLine = kCableTextRect.h / 3;
    Rect row{kCableTextRect.x, kCableTextRect.y, kCableTextRect.w, kLine};
    for (size_t i = 0; i < std::min<size_t>(lines.size(), 2); ++i, row.y += kLine) {
        std::wstring line = lines[i];
        for (size_t rest = 2; i == 1 && rest < lines.size(); ++rest)
            line += L" " + lines[rest];
        painter.text(row, fitted(painter, line, TextRole::Body, row.w), TextRole::Body, ink, Align::Left);
    }
    const std::wstring endpoint = s.cableText(settings::CableText::EndpointName);
    painter.text(row,
        fitted(painter, L"Capture Endpoint: " + (endpoint.empty() ? std::wstring(L"(not found)") : endpoint),
            TextRole::Body, row.w),
        TextRole::Body, kTextDim, Align::Left);
}

void MainWindow::Impl::cableRegions(std::vector<Region>& out) const
{
    const std::hash<std::wstring> hash;
    out.push_back({kCableTextRect,
        (hash(cableSectionLine()) * 4 + static_cast<uint64_t>(console.cable().health()))
            ^ (hash(s.cableText(settings::CableText::EndpointName)) << 2)});
}

} // namespace ui
