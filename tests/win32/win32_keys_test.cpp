// The key state adapter on GetAsyncKeyState: keys at rest read as up, and a
// key sent through the system's input queue reads as down while it is held.

#include "platform/win32/win32_platform.h"
#include "win32/send_keys.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

constexpr uint16_t kF24 = VK_F24;

TEST(Win32Keys, KeysAtRestAreUpAndNoKeyIsNeverDown)
{
    const auto keys = platform::win32::makeKeyState();
    EXPECT_FALSE(keys->isDown(0));
    EXPECT_FALSE(keys->isDown(kF24));
    EXPECT_FALSE(platform::keyCodeHeld(*keys, kF24 | platform::kKeyControl));
}

TEST(Win32Keys, ASentKeyReadsDownWhileHeld)
{
    const auto keys = platform::win32::makeKeyState();
    sendKeys({kF24}, true);
    const bool systemSaysDown = (GetAsyncKeyState(kF24) & 0x8000) != 0;
    const bool adapterSaysDown = keys->isDown(kF24);
    sendKeys({kF24}, false);
    if (!systemSaysDown)
        GTEST_SKIP() << "this desktop does not deliver synthesized key presses";
    EXPECT_TRUE(adapterSaysDown);
}

} // namespace

namespace {

TEST(Win32Keys, TheInputStateIsTheSystemsLastInputTimeButtonsAndCursor)
{
    const auto keys = platform::win32::makeKeyState();
    LASTINPUTINFO last{};
    last.cbSize = sizeof(last);
    ASSERT_TRUE(GetLastInputInfo(&last));
    const platform::InputState before = keys->inputState();
    EXPECT_EQ(before.lastInputMillis, last.dwTime);
    EXPECT_EQ(before.buttons, 0u); // nobody holds a mouse button in a test run

    if (!SetCursorPos(123, 45))
        GTEST_SKIP() << "this desktop does not let the cursor be placed";
    POINT cursor{};
    GetCursorPos(&cursor);
    const platform::InputState after = keys->inputState();
    EXPECT_EQ(after.cursorX, cursor.x);
    EXPECT_EQ(after.cursorY, cursor.y);
}

} // namespace
