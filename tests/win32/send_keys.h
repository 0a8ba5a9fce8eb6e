#pragma once
// Key presses or releases through the system's input queue, in order, as a
// user's keyboard would send them.

#include <windows.h>

#include <initializer_list>

inline void sendKeys(std::initializer_list<WORD> keys, bool down)
{
    for (WORD key : keys) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
        SendInput(1, &input, sizeof(input));
    }
}
