#pragma once
// Finding long silences in a take's timeline (Trim Silence, and the Last
// buffer's quiet removal) and removing them from a sound with short sine
// fades at every cut, so that no joint clicks.

#include "media/sound.h"

#include <cstdint>
#include <span>
#include <vector>

namespace recorder {

// [start, end) in frames: of a source sound (segments) or of a timeline (removals).
struct Range {
    int64_t start = 0;
    int64_t end = 0;
    bool operator==(const Range&) const = default;
};

inline constexpr int64_t kSilenceWindow = 2400;   // 50 ms
inline constexpr int64_t kMinSilence = 24000;     // 0.5 s
inline constexpr int64_t kInnerPad = 4800;        // 0.1 s kept on each side inside speech
inline constexpr int64_t kEdgePad = 2400;         // 0.05 s kept at the ends
inline constexpr int64_t kJointFadeFrames = 144;  // 3 ms

// The timeline ranges to remove from the timeline that segments of sound make
// up, in order; none when the timeline is shorter than kMinSilence.
std::vector<Range> findSilences(const clip::Sound& sound, std::span<const Range> segments);

// The sound without its long silences, faded at the cuts and both ends; the
// same sound when it is shorter than 0.5 s or has none.
clip::SoundRef removeQuiet(const clip::SoundRef& sound);

} // namespace recorder
