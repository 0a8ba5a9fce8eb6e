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

} // namespace platform
