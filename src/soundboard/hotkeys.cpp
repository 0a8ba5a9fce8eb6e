#include "soundboard/hotkeys.h"

#include "settings/registry_settings.h"

namespace soundboard {

const std::array<HotkeyAction, kActionCount> kHotkeyActions = {{
    {L"HotLast", L"Save the last", L"Save rolling Last buffer to file"},
    {L"HotRecord", L"Record", L"Start or stop recording"},
    {L"HotSend", L"Send to mic", L"Play recording on mic or stop"},
    {L"HotEffects", L"Effects", L"Audio effects on or off"},
    {L"HotMask", L"Voice mask", L"Voice mask on your voice"},
    {L"HotEcho", L"Echo", L"Echo on your voice"},
    {L"HotIsolation", L"Isolation", L"Noise isolation on or off"},
    {L"HotHear", L"Hear myself", L"Hear myself monitor on or off"},
    {L"HotNextSetup", L"Next setup", L"Switch to next saved setup"},
    {L"HotPrevSetup", L"Previous setup", L"Switch to previous saved setup"},
}};

bool isValidKeyCode(uint32_t code)
{
    // The registry store's rule for a usable global hotkey is the same one.
    return code <= 0x7FFFFu && settings::isValidHotkey(static_cast<int32_t>(code));
}

// Stubs until the capture, names and registration land.
std::wstring keyName(uint32_t code, platform::GlobalHotkeys*)
{
    return code == 0 ? L"Not set" : L"Key " + std::to_wstring(code & 0xFFFFu);
}

Hotkeys::Hotkeys(settings::Settings& settings, Soundboard& board, platform::GlobalHotkeys* system,
    const platform::KeyState* keys, platform::Clock& clock)
    : settings_(settings), board_(board), system_(system), keys_(keys), clock_(clock)
{
}

void Hotkeys::startCapture(CaptureTarget target)
{
    capture_ = capture_ == target ? CaptureTarget{} : target;
}

void Hotkeys::cancelCapture()
{
    capture_ = {};
}

bool Hotkeys::handleCaptureInput(CaptureInput, uint16_t)
{
    return keys_ && board_.stopKey() == 0 && false;
}

std::wstring Hotkeys::takeOverKey(uint32_t, CaptureTarget)
{
    return {};
}

void Hotkeys::registerAllHotkeys() { }
void Hotkeys::unregisterAllHotkeys() { }
void Hotkeys::onHotkey(int, HotkeyActions&) { }

uint32_t Hotkeys::actionCode(int row) const
{
    return row >= 0 && row < kActionCount ? static_cast<uint32_t>(settings_.hotkeys[static_cast<size_t>(row)].load())
                                          : 0u;
}

void Hotkeys::setStatus(StatusLine& line, const std::wstring& text)
{
    line = {text, static_cast<double>(clock_.nowMicros()) / 1e6, line.serial + 1};
}

} // namespace soundboard
