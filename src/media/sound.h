#pragma once
// An immutable decoded sound: interleaved stereo signed 16-bit frames at
// 48 kHz, shared by reference counting between the loaders, the soundboard,
// the preview players, the editor and the file writers. Never changed once
// made, so any thread may read it without a lock.

#include <cstdint>
#include <memory>
#include <vector>

namespace clip {

struct Sound {
    std::vector<int16_t> samples; // L, R, L, R, ...
    bool truncated = false;       // the source was longer than what was kept

    uint32_t frames() const { return static_cast<uint32_t>(samples.size() / 2); }
};

using SoundRef = std::shared_ptr<const Sound>;

// How a float sample is stored in a sound or a tap ring: clamped to [-1, 1],
// scaled by 32767 and truncated; NaN (whose conversion would be undefined)
// is stored as silence.
inline int16_t storedSample(float v) noexcept
{
    v = v > 1.0f ? 1.0f : (v < -1.0f ? -1.0f : (v == v ? v : 0.0f));
    return static_cast<int16_t>(v * 32767.0f);
}

} // namespace clip
