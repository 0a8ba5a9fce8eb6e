#include "platform/key_state.h"

namespace platform {

bool keyCodeHeld(const KeyState& keys, uint32_t code) noexcept
{
    const auto key = static_cast<uint16_t>(code & 0xFFFFu);
    if (key == 0 || !keys.isDown(key))
        return false;
    if ((code & kKeyAlt) != 0 && !keys.isDown(kVkAlt))
        return false;
    if ((code & kKeyControl) != 0 && !keys.isDown(kVkControl))
        return false;
    if ((code & kKeyShift) != 0 && !keys.isDown(kVkShift))
        return false;
    if ((code & kKeyWin) != 0 && !keys.isDown(kVkLeftWin) && !keys.isDown(kVkRightWin))
        return false;
    return true;
}

bool InputActivityCheck::check(const InputState& now) noexcept
{
    const bool stayed = now.cursorX == previous_.cursorX && now.cursorY == previous_.cursorY;
    const bool activity = checked_
        && (now.buttons != previous_.buttons || (now.lastInputMillis != previous_.lastInputMillis && stayed));
    previous_ = now;
    checked_ = true;
    return activity;
}

} // namespace platform
