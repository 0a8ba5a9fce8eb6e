#include "engine/recorder_ring.h"

#include "media/sound.h"

#include <algorithm>

namespace engine {

uint32_t RecorderRing::push(const float* interleaved, uint32_t count) noexcept
{
    const uint64_t write = write_.load(std::memory_order_relaxed);
    const uint64_t free = read_.load(std::memory_order_acquire) + kSize - write;
    const auto k = static_cast<uint32_t>(std::min<uint64_t>(count, free));
    for (uint32_t i = 0; i < k; ++i)
        samples_[(write + i) & (kSize - 1)] = clip::storedSample(interleaved[i]);
    write_.store(write + k, std::memory_order_release);
    return k;
}

size_t RecorderRing::read(int16_t* out, size_t max) noexcept
{
    const uint64_t read = read_.load(std::memory_order_relaxed);
    const uint64_t available = write_.load(std::memory_order_acquire) - read;
    const auto k = static_cast<size_t>(std::min<uint64_t>(available, max));
    for (size_t i = 0; i < k; ++i)
        out[i] = samples_[(read + i) & (kSize - 1)];
    read_.store(read + k, std::memory_order_release);
    return k;
}

} // namespace engine
