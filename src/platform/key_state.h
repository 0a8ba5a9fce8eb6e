#pragma once
// The key state service: whether a key is down right now, asked by the
// engine thread once per captured packet for the glitch key (which acts
// while it is held, so it is polled rather than registered as a hotkey);
// and the system's last input time, the mouse buttons and the cursor, from
// which the engine tells the noise isolation of key presses and clicks.
// Both are called on the engine thread: they neither block nor allocate.

#include <cstdint>

namespace platform {

// Virtual-key codes the key-code rule needs.
inline constexpr uint16_t kVkShift = 16;
inline constexpr uint16_t kVkControl = 17;
inline constexpr uint16_t kVkAlt = 18;
inline constexpr uint16_t kVkLeftWin = 91;
inline constexpr uint16_t kVkRightWin = 92;

// Modifier bits of a key code; bits 0..15 hold the virtual-key code.
inline constexpr uint32_t kKeyAlt = 1u << 16;
inline constexpr uint32_t kKeyControl = 1u << 17;
inline constexpr uint32_t kKeyShift = 1u << 18;
inline constexpr uint32_t kKeyWin = 1u << 19;

// Mouse buttons as bits of InputState::buttons.
inline constexpr uint8_t kMouseLeft = 1u << 0;
inline constexpr uint8_t kMouseRight = 1u << 1;
inline constexpr uint8_t kMouseMiddle = 1u << 2;
inline constexpr uint8_t kMouseExtra1 = 1u << 3;
inline constexpr uint8_t kMouseExtra2 = 1u << 4;

// The input the activity check looks at.
struct InputState {
    uint32_t lastInputMillis = 0; // the system's tick count at the last keyboard or mouse input
    uint8_t buttons = 0;          // the mouse buttons down, kMouse* bits
    int32_t cursorX = 0;          // the cursor, in screen pixels
    int32_t cursorY = 0;
};

class KeyState {
public:
    virtual ~KeyState() = default;
    // Whether the key (a virtual-key code, 1..254; mouse buttons included) is down now.
    virtual bool isDown(uint16_t virtualKey) const noexcept = 0;
    // The last input time, the mouse buttons and the cursor now.
    virtual InputState inputState() const noexcept = 0;
};

// Tells key presses and clicks from the input between two checks: activity
// when it is not the first check and either the mouse buttons changed, or
// the last input time moved while the cursor stayed (input that was not a
// mouse movement). Every check keeps what it saw for the next.
class InputActivityCheck {
public:
    bool check(const InputState& now) noexcept;

private:
    InputState previous_;
    bool checked_ = false;
};

// Whether a key code is held: its key (bits 0..15, 0 = none) is down and
// every modifier the code names is down too (the Windows bit: either Windows
// key). Other keys held as well do not matter.
bool keyCodeHeld(const KeyState& keys, uint32_t code) noexcept;

} // namespace platform
