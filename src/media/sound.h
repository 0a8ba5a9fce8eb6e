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

} // namespace clip
