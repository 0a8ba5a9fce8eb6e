#include "platform/win32/win32_platform.h"

#include <windows.h>

namespace platform::win32 {
namespace {

bool down(int virtualKey) noexcept
{
    return (GetAsyncKeyState(virtualKey) & 0x8000) != 0;
}

// GetAsyncKeyState reports the key's physical state at the moment of the
// call, whichever window has the focus; the high bit means down.
// GetLastInputInfo gives the tick count of the session's last input.
class Win32KeyState final : public KeyState {
public:
    bool isDown(uint16_t virtualKey) const noexcept override { return virtualKey != 0 && down(virtualKey); }

    InputState inputState() const noexcept override
    {
        InputState s;
        LASTINPUTINFO last{};
        last.cbSize = sizeof(last);
        if (GetLastInputInfo(&last))
            s.lastInputMillis = last.dwTime;
        const int buttons[] = {VK_LBUTTON, VK_RBUTTON, VK_MBUTTON, VK_XBUTTON1, VK_XBUTTON2};
        for (int b = 0; b < 5; ++b)
            s.buttons |= down(buttons[b]) ? static_cast<uint8_t>(1u << b) : 0;
        POINT cursor{};
        if (GetCursorPos(&cursor)) {
            s.cursorX = cursor.x;
            s.cursorY = cursor.y;
        }
        return s;
    }
};

} // namespace

std::unique_ptr<KeyState> makeKeyState()
{
    return std::make_unique<Win32KeyState>();
}

} // namespace platform::win32
