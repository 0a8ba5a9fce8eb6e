#pragma once
// The key state service: whether a key is down right now, asked by the
// engine thread once per captured packet for the glitch key (which acts
// while it is held, so it is polled rather than registered as a hotkey).
// isDown() is called on the engine thread: it neither blocks nor allocates.

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

class KeyState {
public:
    virtual ~KeyState() = default;
    // Whether the key (a virtual-key code, 1..254; mouse buttons included) is down now.
    virtual bool isDown(uint16_t virtualKey) const noexcept = 0;
};

// Whether a key code is held: its key (bits 0..15, 0 = none) is down and
// every modifier the code names is down too (the Windows bit: either Windows
// key). Other keys held as well do not matter.
bool keyCodeHeld(const KeyState& keys, uint32_t code) noexcept;

} // namespace platform
