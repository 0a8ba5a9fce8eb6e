#pragma once
// Decoding a whole file, or a range of it, off the engine thread: loadSound
// makes an immutable 16-bit sound for the soundboard and the trim preview
// (at most 20 s, with short fades where it was cut), buildOutline the
// waveform peaks that the trim window and the Sound Clip tab draw.

#include "media/sound.h"
#include "platform/media.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace clip {

struct Outline {
    std::vector<float> peaks;     // one per bucket
    double seconds = 0.0;         // decoded length
    int32_t pointsPerSecond = 200;
    float maxPeak = 0.0f;         // largest peak, at most 1.0
};
using OutlineRef = std::shared_ptr<const Outline>;

inline constexpr double kMaxSoundSeconds = 20.0;

// "wav", "wave", "flac", "m4a", "mp4" (any case): formats whose seeks land exactly.
bool isExactSeekFormat(const std::wstring& path);

// A sound from fromSeconds (0: the start) to toSeconds (at or before
// fromSeconds: no range), at most maxSeconds long. None with message on
// failure; none and no message when cancel was set.
SoundRef loadSound(platform::Media& media, const std::wstring& path, uint32_t rate, double maxSeconds,
    double fromSeconds, double toSeconds, bool exactSeek, const std::atomic<uint8_t>* cancel, std::wstring& message);

// progress: per mille (0..999) while decoding, when the duration is known.
OutlineRef buildOutline(platform::Media& media, const std::wstring& path, uint32_t rate, int32_t pointsPerSecond,
    std::atomic<int32_t>* progress, const std::atomic<uint8_t>* cancel, std::wstring& message);

} // namespace clip
