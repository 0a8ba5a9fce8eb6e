#include "platform/win32/win32_platform.h"

#include <windows.h>

#include <map>
#include <utility>

namespace platform::win32 {
namespace {

// The navigation block, Num Lock and the keypad's divide share their scan
// codes with other keys (mostly the keypad's); the extended-key bit tells
// the system which one to name.
bool extendedKey(uint16_t virtualKey)
{
    return (virtualKey >= VK_PRIOR && virtualKey <= VK_DOWN) || virtualKey == VK_INSERT || virtualKey == VK_DELETE
        || virtualKey == VK_DIVIDE || virtualKey == VK_NUMLOCK;
}

// RegisterHotKey on one window: WM_HOTKEY then arrives in that window's
// queue. What is asked for before the window exists is kept and registered
// when it is given (a combination refused then is dropped, as no caller is
// left to tell).
class Win32GlobalHotkeys final : public WindowHotkeys {
public:
    ~Win32GlobalHotkeys() override
    {
        for (const auto& entry : wanted_)
            UnregisterHotKey(window_, entry.first);
    }

    void setWindow(void* window) override
    {
        const HWND next = static_cast<HWND>(window);
        for (auto it = wanted_.begin(); it != wanted_.end();) {
            if (window_)
                UnregisterHotKey(window_, it->first);
            const bool kept = !next || RegisterHotKey(next, it->first, it->second.first, it->second.second);
            it = kept ? std::next(it) : wanted_.erase(it);
        }
        window_ = next;
    }

    bool registerHotkey(int id, uint32_t modifiers, uint32_t virtualKey) override
    {
        unregisterHotkey(id);
        if (window_ && !RegisterHotKey(window_, id, modifiers, virtualKey))
            return false;
        wanted_[id] = {modifiers, virtualKey};
        return true;
    }

    void unregisterHotkey(int id) override
    {
        if (wanted_.erase(id) != 0 && window_)
            UnregisterHotKey(window_, id);
    }

    std::wstring keyNameText(uint16_t virtualKey) override
    {
        const UINT scanCode = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
        if (scanCode == 0)
            return {};
        LONG lParam = static_cast<LONG>((scanCode & 0xFFu) << 16);
        if (extendedKey(virtualKey))
            lParam |= 1L << 24;
        wchar_t text[64] = {};
        const int length = GetKeyNameTextW(lParam, text, static_cast<int>(std::size(text)));
        return length > 0 ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
    }

private:
    HWND window_ = nullptr;
    std::map<int, std::pair<UINT, UINT>> wanted_; // id: modifiers, key
};

} // namespace

std::unique_ptr<WindowHotkeys> makeGlobalHotkeys()
{
    return std::make_unique<Win32GlobalHotkeys>();
}

} // namespace platform::win32
