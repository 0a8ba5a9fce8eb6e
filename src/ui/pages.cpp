#include "ui/pages.h"

#include "dsp/bass_boost.h"
#include "dsp/gain.h"
#include "dsp/glitch_repeater.h"
#include "dsp/room.h"
#include "engine/texts.h"
#include "platform/text.h"
#include "ui/theme.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ui {

PageText pageText(int page)
{
    static constexpr PageText kPages[] = {
        {L"Ovix Settings", L"Ovix Settings - Environments & Reverb"},
        {L"Surround Mixer", L"Surround Mixer - Levels, Noise Isolation & 42 Voice Masks"},
        {L"Graphic Equalizer", L"Graphic Equalizer - 7-Band EQ & User Presets"},
        {L"Speaker Settings", L"Speaker Settings - Channel/Noise Test, Bass & Virtual Cable"},
        {L"Media & Recorder", L"Media & Recorder - Sound Clip, Soundboard, Recorder & Hotkeys"},
        {L"Settings & Diagnostics", L"Settings & Diagnostics - Window, Typography & WASAPI Status"},
    };
    return page >= 0 && page < 6 ? kPages[page] : PageText{};
}

std::wstring_view subTabLabel(int page, int tab)
{
    static constexpr std::wstring_view kMixer[]
        = {L"Basic  -  Levels, Isolation & Panning", L"Advanced  -  42 Voice Masks & Glitch Repeater"};
    static constexpr std::wstring_view kMedia[]
        = {L"Sound Clip", L"Soundboard (12)", L"Program on Mic", L"Recorder & Editor", L"Setups & Hotkeys"};
    if (page == 1 && tab >= 0 && tab < 2)
        return kMixer[tab];
    if (page == 4 && tab >= 0 && tab < 5)
        return kMedia[tab];
    return {};
}

std::wstring_view pageHeading(int page)
{
    switch (page) {
    case 0:
        return L"Audio Effects  -  Ovix Environmental Acoustics & Microphone Reverb";
    case 2:
        return L"Graphic Equalizer  -  7-Band Precision Tone Shaping & Presets";
    case 5:
        return L"Vantor Settings  -  Window Appearance, Fonts & Engine Diagnostics";
    default:
        return {};
    }
}

std::wstring_view speakerSection(int index)
{
    static constexpr std::wstring_view kSections[]
        = {L"Speaker Selection", L"Bass Management", L"Bass Boost", L"Virtual Cable"};
    return index >= 0 && index < 4 ? kSections[index] : std::wstring_view{};
}

std::wstring_view captionTooltip(int tool)
{
    static constexpr std::wstring_view kTips[] = {
        L"Select, cycle, or manage saved Ovix Setups",
        L"Select, cycle, or manage saved Ovix Setups",
        L"Select, cycle, or manage saved Ovix Setups",
        L"Open Mic Tone & Vocal Lift controls",
        L"Open 12-Pad Soundboard window",
        L"Help, VB-CABLE Setup & About Vantor Ovix Settings",
        L"Reset active Vantor page back to default values",
        L"Minimize",
        L"Close",
    };
    return tool >= 0 && tool < 9 ? kTips[tool] : std::wstring_view{};
}

int roomRow(int32_t preset)
{
    return std::clamp(preset, 0, dsp::kRoomCount - 1);
}

int glitchStyleRow(int32_t style)
{
    return style >= 0 && style < dsp::kGlitchStyleCount ? style : 0;
}

std::wstring percentText(int32_t value)
{
    return std::to_wstring(value) + L"%";
}

std::wstring levelText(int32_t value)
{
    if (value <= 0)
        return L"Off";
    char out[32];
    std::snprintf(out, sizeof out, "%+.1f dB", 20.0 * std::log10(dsp::levelGain(value)));
    return platform::wideFromUtf8(out);
}

std::wstring panText(int32_t value)
{
    if (value == 0)
        return L"Center";
    return (value < 0 ? L"L " : L"R ") + std::to_wstring(value < 0 ? -value : value);
}

namespace {
std::wstring printed(const char* format, double value)
{
    char out[32];
    std::snprintf(out, sizeof out, format, value);
    return platform::wideFromUtf8(out);
}
} // namespace

std::wstring timesText(int32_t value, int32_t unity)
{
    return printed("%.2fx", static_cast<double>(value) / unity);
}

std::wstring hertzText(int32_t value)
{
    return printed("%+.0f Hz", value);
}

std::wstring decibelText(int32_t value)
{
    return printed("%+.0f dB", value);
}

std::wstring attenuationText(int32_t value)
{
    return value == 0 ? std::wstring(L"0 dB") : printed("-%.0f dB", value);
}

std::wstring tenthsDecibelText(int32_t tenths)
{
    return printed("%+.1f dB", tenths / 10.0);
}

std::wstring expanderStatusText(int32_t vocalLevel, int32_t out, int32_t lo, int32_t mid, int32_t hi)
{
    char line[128];
    std::snprintf(line, sizeof line, "Gate %d   Out %+.1f dB   Tone Lo %+.1f  Mid %+.1f  Hi %+.1f", vocalLevel,
        out / 10.0, lo / 10.0, mid / 10.0, hi / 10.0);
    return platform::wideFromUtf8(line);
}

std::wstring pitchText(int32_t detectedHz, int32_t targetHz)
{
    if (detectedHz <= 0)
        return L"Pitch tracking ready";
    char out[64];
    std::snprintf(out, sizeof out, "Voice %d Hz  ->  %d Hz", static_cast<int>(detectedHz), static_cast<int>(targetHz));
    return platform::wideFromUtf8(out);
}

std::wstring bassBoostText(int32_t micLevel)
{
    return printed("Bass boost at 100 Hz: %+.1f dB", dsp::bassBoostForMicLevel(micLevel));
}

std::wstring cableSectionText(cable::Install install, cable::Health health, const std::wstring& problem)
{
    using cable::Health;
    using cable::Install;
    if (install == Install::Downloading || install == Install::Extracting)
        return L"Downloading VB-CABLE package...";
    if (install == Install::Installing)
        return L"Installer active - follow installer prompt";
    switch (health) {
    case Health::Ready:
        return L"VB-CABLE is installed and routing audio!";
    case Health::RestartNeeded:
        return L"Driver installed - restart your PC once to activate endpoints";
    case Health::Blocked:
        return problem.empty() ? L"Check Sound Control Panel endpoints" : problem;
    default:
        return L"VB-CABLE driver is not installed yet";
    }
}

std::wstring cableStatusLineText(cable::Health health, const std::wstring& problem)
{
    switch (health) {
    case cable::Health::Missing:
        return L"VB-CABLE not installed - click here to install \"Omnimix\"";
    case cable::Health::RestartNeeded:
        return L"Restart PC once to finish VB-CABLE driver setup";
    case cable::Health::Blocked:
        return problem.empty() ? L"Virtual Cable check required - click here" : problem;
    default:
        return {};
    }
}

std::wstring cableNoteText(cable::Rename rename)
{
    switch (rename) {
    case cable::Rename::NoCable:
        return L"No cable capture endpoint to rename yet";
    case cable::Rename::OwnName:
        return L"The capture endpoint keeps the name it was given";
    case cable::Rename::NeedsAdmin:
        return L"Becomes Omnimix when VB-CABLE is installed from here";
    case cable::Rename::Failing:
        return L"Renaming to Omnimix failed; trying again";
    case cable::Rename::GaveUp:
        return L"Renaming to Omnimix gave up; the cable keeps its name";
    default:
        return {};
    }
}

DiagnosticLine diagnosticLine(int index, const DiagnosticInputs& in)
{
    switch (index) {
    case 0:
        return in.engineRunning ? DiagnosticLine{L"Engine State: Running (48 kHz Float Stereo)", theme::kRunning}
                                : DiagnosticLine{L"Engine State: Connecting...", theme::kConnecting};
    case 1:
        return {L"Convolution IR: " + platform::wideFromUtf8(engine::convolutionStatusText(in.irLoaded)), theme::kText};
    case 2:
        return {L"Virtual Cable: " + (in.cableEndpoint.empty() ? std::wstring(L"Not active") : in.cableEndpoint),
            theme::kText};
    case 3:
        return {L"Driver Msg: " + (in.cableProblem.empty() ? std::wstring(L"Healthy") : in.cableProblem), theme::kText};
    case 4:
        return {L"Cable Note: " + (in.cableNote.empty() ? std::wstring(L"Omnimix ready") : in.cableNote), theme::kText};
    case 5:
        return {L"Settings Stored: HKCU\\Software\\VantorOvix", theme::kTextDim};
    case 6:
        return {L"Identity: Vantor Ovix Settings  (VantorOvix.ini)", theme::kTextDim};
    default:
        return {};
    }
}

} // namespace ui
