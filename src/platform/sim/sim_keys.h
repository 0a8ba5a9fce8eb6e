#pragma once
// Keys a test presses and releases by hand, and input it scripts: the last
// input time and the cursor (the mouse buttons are the keys 1, 2, 4, 5 and
// 6, as on Windows). Any thread may script while the engine thread asks:
// each value is its own atomic.

#include "platform/key_state.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace platform::sim {

class SimKeys final : public KeyState {
public:
    bool isDown(uint16_t virtualKey) const noexcept override
    {
        return virtualKey < down_.size() && down_[virtualKey].load(std::memory_order_relaxed) != 0;
    }
    void press(uint16_t virtualKey) { set(virtualKey, 1); }
    void release(uint16_t virtualKey) { set(virtualKey, 0); }
    void releaseAll()
    {
        for (auto& key : down_)
            key.store(0, std::memory_order_relaxed);
    }

    InputState inputState() const noexcept override
    {
        looks_.fetch_add(1, std::memory_order_relaxed);
        InputState s;
        s.lastInputMillis = lastInput_.load(std::memory_order_relaxed);
        s.cursorX = cursorX_.load(std::memory_order_relaxed);
        s.cursorY = cursorY_.load(std::memory_order_relaxed);
        const uint16_t buttons[] = {kVkLeftButton, kVkRightButton, kVkMiddleButton, kVkExtraButton1, kVkExtraButton2};
        for (int b = 0; b < 5; ++b)
            s.buttons |= isDown(buttons[b]) ? static_cast<uint8_t>(1u << b) : 0;
        return s;
    }
    // Input at the system's tick count millis (a key press, unless the cursor moves too).
    void input(uint32_t millis) { lastInput_.store(millis, std::memory_order_relaxed); }
    void moveCursor(int32_t x, int32_t y)
    {
        cursorX_.store(x, std::memory_order_relaxed);
        cursorY_.store(y, std::memory_order_relaxed);
    }
    // How many times the input was looked at.
    uint32_t looks() const { return looks_.load(std::memory_order_relaxed); }

    static constexpr uint16_t kVkLeftButton = 1;
    static constexpr uint16_t kVkRightButton = 2;
    static constexpr uint16_t kVkMiddleButton = 4;
    static constexpr uint16_t kVkExtraButton1 = 5;
    static constexpr uint16_t kVkExtraButton2 = 6;

private:
    void set(uint16_t virtualKey, uint8_t value)
    {
        if (virtualKey < down_.size())
            down_[virtualKey].store(value, std::memory_order_relaxed);
    }

    std::array<std::atomic<uint8_t>, 256> down_{};
    std::atomic<uint32_t> lastInput_{0};
    std::atomic<int32_t> cursorX_{0}, cursorY_{0};
    mutable std::atomic<uint32_t> looks_{0};
};

} // namespace platform::sim
