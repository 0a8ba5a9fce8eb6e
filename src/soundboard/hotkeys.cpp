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

namespace {

constexpr uint16_t kVkBackspace = 8;
constexpr uint16_t kVkEscape = 27;
constexpr uint16_t kVkDelete = 46;
constexpr uint16_t kVkMiddleButton = 4;
constexpr uint16_t kVkExtraButton1 = 5;
constexpr uint16_t kVkExtraButton2 = 6;
constexpr uint16_t kVkNumpad0 = 96;
constexpr uint16_t kVkNumpad9 = 105;
constexpr uint16_t kVkF1 = 112;
constexpr uint16_t kVkF24 = 135;
constexpr int kPadHotkeyBase = 1; // pads are 1 + pad

constexpr uint32_t kKeyMask = 0xFFFFu;
constexpr int kModifierShift = 16;

// The modifier part of a code as the system's hotkey service takes it:
// bits 16..19 shifted down (1 Alt, 2 Ctrl, 4 Shift, 8 Win).
uint32_t systemModifiers(uint32_t code)
{
    return (code >> kModifierShift) & 0xFu;
}

// The index matters only for action rows and pads.
bool sameBinding(CaptureTarget a, CaptureTarget b)
{
    const bool indexed = a.kind == CaptureKind::Action || a.kind == CaptureKind::Pad;
    return a.kind == b.kind && (!indexed || a.index == b.index);
}

constexpr wchar_t kHint[] = L"Pick a modifier + key, F-key, Numpad, or extra mouse button";
constexpr wchar_t kGlitchHint[] = L"Add Ctrl/Alt/Shift or pick F-key / mouse button";

} // namespace

std::wstring keyName(uint32_t code, platform::GlobalHotkeys* system)
{
    if (code == 0)
        return L"Not set";
    std::wstring name;
    if (code & platform::kKeyControl)
        name += L"Ctrl+";
    if (code & platform::kKeyAlt)
        name += L"Alt+";
    if (code & platform::kKeyShift)
        name += L"Shift+";
    if (code & platform::kKeyWin)
        name += L"Win+";
    const uint32_t key = code & kKeyMask;
    if (key >= kVkF1 && key <= kVkF24)
        return name + L"F" + std::to_wstring(key - kVkF1 + 1);
    if (key >= kVkNumpad0 && key <= kVkNumpad9)
        return name + L"Num " + std::to_wstring(key - kVkNumpad0);
    switch (key) {
    case kVkMiddleButton:
        return name + L"Middle mouse";
    case kVkExtraButton1:
        return name + L"Mouse 4";
    case kVkExtraButton2:
        return name + L"Mouse 5";
    default:
        break;
    }
    std::wstring text = system ? system->keyNameText(static_cast<uint16_t>(key)) : std::wstring();
    return name + (text.empty() ? L"Key " + std::to_wstring(key) : text);
}

Hotkeys::Hotkeys(settings::Settings& settings, Soundboard& board, platform::GlobalHotkeys* system,
    const platform::KeyState* keys, platform::Clock& clock)
    : settings_(settings), board_(board), system_(system), keys_(keys), clock_(clock)
{ }

void Hotkeys::startCapture(CaptureTarget target)
{
    const bool known = (target.kind == CaptureKind::Action && target.index >= 0 && target.index < kActionCount)
        || (target.kind == CaptureKind::Pad && target.index >= 0 && target.index < kPadCount)
        || target.kind == CaptureKind::StopAll || target.kind == CaptureKind::Glitch;
    capture_ = !known || sameBinding(capture_, target) ? CaptureTarget{} : target;
}

void Hotkeys::cancelCapture()
{
    capture_ = {};
}

bool Hotkeys::handleCaptureInput(CaptureInput input, uint16_t virtualKey, std::optional<uint32_t> modifiers)
{
    if (!capturing())
        return false;
    uint16_t key = virtualKey;
    if (input == CaptureInput::MiddleButton)
        key = kVkMiddleButton;
    else if (input == CaptureInput::ExtraButton1)
        key = kVkExtraButton1;
    else if (input == CaptureInput::ExtraButton2)
        key = kVkExtraButton2;

    const CaptureTarget target = capture_;
    if (key == kVkBackspace || key == kVkDelete) {
        capture_ = {};
        clearBinding(target);
        return true;
    }
    if (key == platform::kVkShift || key == platform::kVkControl || key == platform::kVkAlt
        || key == platform::kVkLeftWin || key == platform::kVkRightWin)
        return true; // a modifier alone: wait for the key it goes with
    if (key == kVkEscape) {
        capture_ = {};
        if (target.kind == CaptureKind::Glitch)
            setStatus(glitchStatus_, L"Cancelled");
        else
            setStatus(hotkeysStatus_, L"Key capture cancelled");
        return true;
    }

    const uint32_t code = key | (modifiers ? *modifiers & 0xF0000u : modifiersDown());
    if (!isValidKeyCode(code)) {
        if (target.kind == CaptureKind::Glitch)
            setStatus(glitchStatus_, kGlitchHint);
        else
            setStatus(hotkeysStatus_, kHint);
        return true;
    }
    capture_ = {};
    assign(target, code);
    return true;
}

std::wstring Hotkeys::takeOverKey(uint32_t code, CaptureTarget target)
{
    std::wstring lost;
    if (code == 0)
        return lost;
    for (int i = 0; i < kPadCount; ++i) {
        const Pad& pad = board_.pad(i);
        if (pad.key != code || sameBinding(target, {CaptureKind::Pad, i}))
            continue;
        lost = pad.title.empty() ? L"Pad " + std::to_wstring(i + 1) : pad.title;
        board_.setPadKey(i, 0);
    }
    if (board_.stopKey() == code && target.kind != CaptureKind::StopAll) {
        lost = L"Stop all";
        board_.setStopKey(0);
    }
    if (static_cast<uint32_t>(settings_.GlitchKey.load()) == code && target.kind != CaptureKind::Glitch) {
        lost = L"Repeat glitch";
        settings_.set(&settings::Settings::GlitchKey, 0);
    }
    for (int row = 0; row < kActionCount; ++row) {
        if (actionCode(row) != code || sameBinding(target, {CaptureKind::Action, row}))
            continue;
        lost = std::wstring(kHotkeyActions[static_cast<size_t>(row)].label);
        settings_.setHotkey(row, 0);
    }
    return lost;
}

void Hotkeys::registerAllHotkeys()
{
    unregisterAllHotkeys();
    if (!system_)
        return;
    // A combination the system refuses belongs to another program: the
    // binding is dropped (and saved so), not retried at every start.
    const auto tryRegister = [this](int id, uint32_t code) {
        return !isValidKeyCode(code)
            || system_->registerHotkey(id, systemModifiers(code) | platform::kHotkeyNoRepeat, code & kKeyMask);
    };
    for (int i = 0; i < kPadCount; ++i) {
        if (!tryRegister(kPadHotkeyBase + i, board_.pad(i).key))
            board_.setPadKey(i, 0);
    }
    if (!tryRegister(kStopAllHotkeyId, board_.stopKey()))
        board_.setStopKey(0);
    for (int row = 0; row < kActionCount; ++row) {
        if (!tryRegister(kActionHotkeyBase + row, actionCode(row)))
            settings_.setHotkey(row, 0);
    }
}

void Hotkeys::unregisterAllHotkeys()
{
    if (!system_)
        return;
    for (int id = kPadHotkeyBase; id <= kStopAllHotkeyId; ++id)
        system_->unregisterHotkey(id);
    for (int row = 0; row < kActionCount; ++row)
        system_->unregisterHotkey(kActionHotkeyBase + row);
}

void Hotkeys::onHotkey(int id, HotkeyActions& actions)
{
    using settings::Settings;
    const auto toggle = [this](auto Settings::*field) { settings_.set(field, (settings_.*field).load() ? 0 : 1); };
    const auto toggleBit0
        = [this](settings::IntField Settings::*field) { settings_.set(field, (settings_.*field).load() ^ 1); };
    if (id >= kPadHotkeyBase && id < kPadHotkeyBase + kPadCount)
        board_.triggerPad(id - kPadHotkeyBase);
    else if (id == kStopAllHotkeyId)
        board_.stopAllPads();
    else if (id >= kActionHotkeyBase && id < kActionHotkeyBase + kActionCount) {
        switch (id - kActionHotkeyBase) {
        case kActionSaveLast:
            actions.saveLast();
            break;
        case kActionRecord:
            actions.toggleRecording();
            break;
        case kActionSend:
            actions.toggleSendToMic();
            break;
        case kActionEffects:
            toggle(&Settings::effects);
            break;
        case kActionMask:
            toggleBit0(&Settings::mask_on); // bit 0: the mask on the voice
            break;
        case kActionEcho:
            toggleBit0(&Settings::echo_on);
            break;
        case kActionIsolation:
            toggle(&Settings::isolate); // the setter moves the isolation revision
            break;
        case kActionHear:
            toggle(&Settings::monitor);
            break;
        case kActionNextSetup:
            actions.cycleSetup(+1);
            break;
        case kActionPrevSetup:
            actions.cycleSetup(-1);
            break;
        default:
            break;
        }
    } else
        return; // not ours
    actions.redraw();
}

uint32_t Hotkeys::actionCode(int row) const
{
    return row >= 0 && row < kActionCount ? static_cast<uint32_t>(settings_.hotkeys[static_cast<size_t>(row)].load())
                                          : 0u;
}

uint32_t Hotkeys::modifiersDown() const
{
    if (!keys_)
        return 0;
    uint32_t modifiers = 0;
    if (keys_->isDown(platform::kVkControl))
        modifiers |= platform::kKeyControl;
    if (keys_->isDown(platform::kVkAlt))
        modifiers |= platform::kKeyAlt;
    if (keys_->isDown(platform::kVkShift))
        modifiers |= platform::kKeyShift;
    if (keys_->isDown(platform::kVkLeftWin) || keys_->isDown(platform::kVkRightWin))
        modifiers |= platform::kKeyWin;
    return modifiers;
}

uint32_t Hotkeys::bindingCode(CaptureTarget target) const
{
    switch (target.kind) {
    case CaptureKind::Action:
        return actionCode(target.index);
    case CaptureKind::Pad:
        return board_.pad(target.index).key;
    case CaptureKind::StopAll:
        return board_.stopKey();
    case CaptureKind::Glitch:
        return static_cast<uint32_t>(settings_.GlitchKey.load());
    case CaptureKind::None:
        break;
    }
    return 0;
}

void Hotkeys::store(CaptureTarget target, uint32_t code)
{
    switch (target.kind) {
    case CaptureKind::Action:
        settings_.setHotkey(target.index, code);
        break;
    case CaptureKind::Pad:
        board_.setPadKey(target.index, code);
        break;
    case CaptureKind::StopAll:
        board_.setStopKey(code);
        break;
    case CaptureKind::Glitch:
        settings_.set(&settings::Settings::GlitchKey, code);
        break;
    case CaptureKind::None:
        break;
    }
}

void Hotkeys::clearBinding(CaptureTarget target)
{
    store(target, 0);
    if (target.kind != CaptureKind::Glitch)
        registerAllHotkeys();
    switch (target.kind) {
    case CaptureKind::Action:
        setStatus(hotkeysStatus_, std::wstring(kHotkeyActions[static_cast<size_t>(target.index)].label) + L" cleared");
        break;
    case CaptureKind::Pad:
        board_.setStatus(L"Pad key cleared");
        break;
    case CaptureKind::StopAll:
        board_.setStatus(L"Stop-all key cleared");
        break;
    case CaptureKind::Glitch:
        setStatus(glitchStatus_, L"Key cleared");
        break;
    case CaptureKind::None:
        break;
    }
}

void Hotkeys::assign(CaptureTarget target, uint32_t code)
{
    const std::wstring lost = takeOverKey(code, target);
    store(target, code);
    registerAllHotkeys();
    const std::wstring name = keyName(code, system_);
    // The system refused it (another program holds it) and the binding was
    // dropped: say so rather than report it bound.
    const bool refused = bindingCode(target) != code;
    const std::wstring taken = name + L" is used by another program";
    switch (target.kind) {
    case CaptureKind::Action: {
        const std::wstring label(kHotkeyActions[static_cast<size_t>(target.index)].label);
        if (refused)
            setStatus(hotkeysStatus_, label + L": " + taken);
        else
            setStatus(hotkeysStatus_, label + L" -> " + name + (lost.empty() ? L"" : L" (replaced " + lost + L")"));
        break;
    }
    case CaptureKind::Pad:
        board_.setStatus(refused ? taken : L"Assigned " + name + L" to pad");
        break;
    case CaptureKind::StopAll:
        board_.setStatus(refused ? taken : L"Stop all -> " + name);
        break;
    case CaptureKind::Glitch:
        setStatus(glitchStatus_, name);
        break;
    case CaptureKind::None:
        break;
    }
}

void Hotkeys::setStatus(StatusLine& line, const std::wstring& text)
{
    line = {text, static_cast<double>(clock_.nowMicros()) / 1e6, line.serial + 1};
}

} // namespace soundboard
