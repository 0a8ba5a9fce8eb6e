#pragma once
// Keys a test presses and releases by hand. Any thread may press while the
// engine thread asks: each key is its own atomic flag.

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

private:
    void set(uint16_t virtualKey, uint8_t value)
    {
        if (virtualKey < down_.size())
            down_[virtualKey].store(value, std::memory_order_relaxed);
    }

    std::array<std::atomic<uint8_t>, 256> down_{};
};

} // namespace platform::sim
