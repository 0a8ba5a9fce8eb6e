// The global hotkey adapter on RegisterHotKey: a combination belongs to one
// registration at a time, unregistering frees it, what is registered before
// the window exists follows the window, a press reaches the window as
// WM_HOTKEY, and keys have the system's names.

#include "platform/win32/win32_platform.h"
#include "win32/send_keys.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

constexpr uint32_t kCtrlAlt = platform::kHotkeyControl | platform::kHotkeyAlt | platform::kHotkeyNoRepeat;
constexpr uint32_t kKey = VK_F13; // no test machine's desktop uses Ctrl+Alt+F13

// A message-only window of its own per test.
class Window {
public:
    Window()
        : handle_(CreateWindowExW(
            0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr))
    { }
    ~Window() { DestroyWindow(handle_); }
    HWND get() const { return handle_; }

private:
    HWND handle_;
};

TEST(Win32Hotkeys, ACombinationBelongsToOneRegistrationUntilItIsUnregistered)
{
    Window first, second;
    ASSERT_NE(first.get(), nullptr);
    const auto a = platform::win32::makeGlobalHotkeys();
    const auto b = platform::win32::makeGlobalHotkeys();
    a->setWindow(first.get());
    b->setWindow(second.get());

    ASSERT_TRUE(a->registerHotkey(201, kCtrlAlt, kKey));
    EXPECT_FALSE(b->registerHotkey(202, kCtrlAlt, kKey)) << "another window";
    EXPECT_FALSE(a->registerHotkey(203, kCtrlAlt, kKey)) << "another id on the same window";
    EXPECT_TRUE(b->registerHotkey(202, kCtrlAlt | platform::kHotkeyShift, kKey)) << "other modifiers";

    a->unregisterHotkey(201);
    EXPECT_TRUE(b->registerHotkey(204, kCtrlAlt, kKey));
    b->unregisterHotkey(202);
    b->unregisterHotkey(204);
}

TEST(Win32Hotkeys, WhatIsRegisteredBeforeTheWindowExistsMovesOntoIt)
{
    Window window, other;
    const auto hotkeys = platform::win32::makeGlobalHotkeys();
    ASSERT_TRUE(hotkeys->registerHotkey(13, kCtrlAlt, kKey));
    const auto rival = platform::win32::makeGlobalHotkeys();
    rival->setWindow(other.get());
    EXPECT_TRUE(rival->registerHotkey(1, kCtrlAlt, kKey)) << "nothing is held before the window";
    rival->unregisterHotkey(1);

    hotkeys->setWindow(window.get());
    EXPECT_FALSE(rival->registerHotkey(1, kCtrlAlt, kKey)) << "now the window holds it";
    hotkeys->unregisterHotkey(13);
    EXPECT_TRUE(rival->registerHotkey(1, kCtrlAlt, kKey));
    rival->unregisterHotkey(1);
}

TEST(Win32Hotkeys, APressOfTheCombinationPostsWmHotkeyWithTheId)
{
    Window window;
    const auto hotkeys = platform::win32::makeGlobalHotkeys();
    hotkeys->setWindow(window.get());
    ASSERT_TRUE(hotkeys->registerHotkey(7, kCtrlAlt, kKey));
    sendKeys({VK_CONTROL, VK_MENU, kKey}, true);
    sendKeys({kKey, VK_MENU, VK_CONTROL}, false);
    MSG message{};
    const bool posted = PeekMessageW(&message, window.get(), WM_HOTKEY, WM_HOTKEY, PM_REMOVE) != 0;
    hotkeys->unregisterHotkey(7);
    if (!posted)
        GTEST_SKIP() << "this desktop does not turn synthesized key presses into hotkeys";
    EXPECT_EQ(message.wParam, 7u);
    EXPECT_EQ(HIWORD(message.lParam), kKey);
    EXPECT_EQ(LOWORD(message.lParam) & (MOD_CONTROL | MOD_ALT), static_cast<UINT>(MOD_CONTROL | MOD_ALT));
}

TEST(Win32Hotkeys, KeysHaveTheSystemsNames)
{
    const auto hotkeys = platform::win32::makeGlobalHotkeys();
    EXPECT_EQ(hotkeys->keyNameText('Q'), L"Q");
    EXPECT_EQ(hotkeys->keyNameText(VK_F5), L"F5");
    // The extended bit names the navigation key, not the keypad's key that shares its scan code.
    const std::wstring del = hotkeys->keyNameText(VK_DELETE);
    EXPECT_FALSE(del.empty());
    EXPECT_NE(del, hotkeys->keyNameText(VK_DECIMAL));
}

} // namespace
