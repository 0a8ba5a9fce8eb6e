#pragma once
// Global hotkeys: one key-code encoding, one capture procedure (click a row,
// press the keys), one naming function and one conflict rule for the ten
// actions, the twelve pad keys, the stop-all key and the glitch key. The ten
// actions, the pads and stop-all are registered with the system's hotkey
// service; the glitch key is only stored (the engine polls it, since it acts
// while held). Everything here runs on the interface thread.

#include "platform/clock.h"
#include "platform/global_hotkeys.h"
#include "platform/key_state.h"
#include "settings/settings.h"
#include "soundboard/soundboard.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace soundboard {

inline constexpr int kActionCount = 10;
inline constexpr int kStopAllHotkeyId = 13;   // pads are 1 + pad
inline constexpr int kActionHotkeyBase = 200; // action rows are 200 + row

// The action rows, in table order (the row is the action's position).
inline constexpr int kActionSaveLast = 0;
inline constexpr int kActionRecord = 1;
inline constexpr int kActionSend = 2;
inline constexpr int kActionEffects = 3;
inline constexpr int kActionMask = 4;
inline constexpr int kActionEcho = 5;
inline constexpr int kActionIsolation = 6;
inline constexpr int kActionHear = 7;
inline constexpr int kActionNextSetup = 8;
inline constexpr int kActionPrevSetup = 9;

struct HotkeyAction {
    std::wstring_view registryName; // "HotLast" ...
    std::wstring_view label;        // "Save the last" ...
    std::wstring_view description;  // "Save rolling Last buffer to file" ...
};
extern const std::array<HotkeyAction, kActionCount> kHotkeyActions;

// Key 1..254, at most 0x7FFFF (no Windows bit) and not a bare typing key.
bool isValidKeyCode(uint32_t code);
// "Ctrl+Alt+Shift+Win+" prefixes, then "F5", "Num 5", "Middle mouse",
// "Mouse 4", "Mouse 5", the system's name of the key, or "Key N"; 0 is "Not set".
std::wstring keyName(uint32_t code, platform::GlobalHotkeys* system);

enum class CaptureKind { None, Action, Pad, StopAll, Glitch };
struct CaptureTarget {
    CaptureKind kind = CaptureKind::None;
    int index = 0; // the action row or the pad
    bool operator==(const CaptureTarget&) const = default;
};

// The messages the capture sees, as the message loop hands them over.
enum class CaptureInput { KeyDown, SystemKeyDown, MiddleButton, ExtraButton1, ExtraButton2 };

// What the actions that belong to other parts of the program do; the
// window implements it.
class HotkeyActions {
public:
    virtual ~HotkeyActions() = default;
    virtual void saveLast() = 0;           // 200
    virtual void toggleRecording() = 0;    // 201: stops, or shows the recorder tab and starts
    virtual void toggleSendToMic() = 0;    // 202
    virtual void cycleSetup(int step) = 0; // 208 (+1), 209 (-1)
    virtual void redraw() = 0;             // after every action
};

struct StatusLine {
    std::wstring text;
    double time = 0.0; // clock seconds when it was set
    uint32_t serial = 0;
};

class Hotkeys {
public:
    // system: none means nothing is registered and keys have only their
    // built-in names. keys: none means no modifier is ever down.
    Hotkeys(settings::Settings& settings, Soundboard& board, platform::GlobalHotkeys* system,
        const platform::KeyState* keys, platform::Clock& clock);

    // Starting a capture ends any other; starting the one that runs cancels it.
    void startCapture(CaptureTarget target);
    void cancelCapture();
    CaptureTarget capture() const { return capture_; }
    bool capturing() const { return capture_.kind != CaptureKind::None; }
    // True when the message was consumed (only while a capture runs).
    // modifiers: the modifier bits as they were when the key went down (the
    // message's own); without them the key state is asked now, by which time
    // a quick Ctrl+key may have released Ctrl already.
    bool handleCaptureInput(
        CaptureInput input, uint16_t virtualKey, std::optional<uint32_t> modifiers = std::nullopt);
    // Clears every other binding that holds code; the name of the last one cleared, or empty.
    std::wstring takeOverKey(uint32_t code, CaptureTarget target);

    void registerAllHotkeys();
    void unregisterAllHotkeys();
    // The system's hotkey message: pads and stop-all here, the ten actions
    // (toggles here, the rest through actions); unknown ids are ignored.
    void onHotkey(int id, HotkeyActions& actions);

    // The action row's key code, and the name shown for a binding.
    uint32_t actionCode(int row) const;
    std::wstring keyText(uint32_t code) { return keyName(code, system_); }

    // The hotkeys tab's and the glitch section's status lines (the
    // soundboard's is the board's own).
    const StatusLine& hotkeysStatus() const { return hotkeysStatus_; }
    const StatusLine& glitchStatus() const { return glitchStatus_; }

private:
    void setStatus(StatusLine& line, const std::wstring& text);
    // Ctrl, Alt, Shift and either Windows key as they are down now.
    uint32_t modifiersDown() const;
    uint32_t bindingCode(CaptureTarget target) const;
    // Through the setters, so the registry or the soundboard saves it.
    void store(CaptureTarget target, uint32_t code);
    void clearBinding(CaptureTarget target);
    void assign(CaptureTarget target, uint32_t code);

    settings::Settings& settings_;
    Soundboard& board_;
    platform::GlobalHotkeys* system_;
    const platform::KeyState* keys_;
    platform::Clock& clock_;
    CaptureTarget capture_{};
    StatusLine hotkeysStatus_, glitchStatus_;
};

} // namespace soundboard
