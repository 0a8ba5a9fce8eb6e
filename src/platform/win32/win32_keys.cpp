#include "platform/win32/win32_platform.h"

#include <windows.h>

namespace platform::win32 {
namespace {

// GetAsyncKeyState reports the key's physical state at the moment of the
// call, whichever window has the focus; the high bit means down.
class Win32KeyState final : public KeyState {
public:
    bool isDown(uint16_t virtualKey) const noexcept override
    {
        return virtualKey != 0 && (GetAsyncKeyState(virtualKey) & 0x8000) != 0;
    }
};

} // namespace

std::unique_ptr<KeyState> makeKeyState()
{
    return std::make_unique<Win32KeyState>();
}

} // namespace platform::win32
