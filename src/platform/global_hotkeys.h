#pragma once
// The system's global hotkey service and its key names: a hotkey registered
// here fires in the main window's queue whatever program has the focus.
// Called on the interface thread only (the thread that made the window).

#include <cstdint>
#include <string>

namespace platform {

// Modifier flags as the system takes them.
inline constexpr uint32_t kHotkeyAlt = 0x1;
inline constexpr uint32_t kHotkeyControl = 0x2;
inline constexpr uint32_t kHotkeyShift = 0x4;
inline constexpr uint32_t kHotkeyWin = 0x8;
inline constexpr uint32_t kHotkeyNoRepeat = 0x4000;

class GlobalHotkeys {
public:
    virtual ~GlobalHotkeys() = default;
    // False when the system refuses (another program holds the combination).
    virtual bool registerHotkey(int id, uint32_t modifiers, uint32_t virtualKey) = 0;
    virtual void unregisterHotkey(int id) = 0;
    // The system's name of a key from its scan code (extended keys marked as
    // such); empty when the system has none.
    virtual std::wstring keyNameText(uint16_t virtualKey) = 0;
};

} // namespace platform
