#pragma once
// What the mix reads from the sources that other modules own: the clip
// player, the soundboard and preview players, and the application capture.
// Every call is made on the engine thread once per block and must not wait:
// implementations hand audio over through their own rings or a lock taken
// without waiting.

#include <cstdint>

namespace engine {

// A player of stereo sounds that adds itself into a pair of arrays: the
// soundboard pads and the two take preview players.
class MixSource {
public:
    virtual ~MixSource() = default;
    // Adds every playing sound into left/right (n frames each) and advances it.
    virtual void mixInto(float* left, float* right, uint32_t n) noexcept = 0;
    // Anything playing, or about to start at the next mixInto().
    virtual bool playing() const noexcept = 0;
};

// The streaming clip player.
class ClipSource {
public:
    virtual ~ClipSource() = default;
    // Buffering or playing (paused or not).
    virtual bool active() const noexcept = 0;
    virtual bool paused() const noexcept = 0;
    // Changes whenever a new clip starts, so the mix can restart its stretcher.
    virtual uint32_t clipGeneration() const noexcept = 0;
    // Up to n stereo frames into left/right; returns the frames delivered (the
    // rest is left untouched). Short while the clip underruns or ends.
    virtual uint32_t read(float* left, float* right, uint32_t n) noexcept = 0;
};

// Another application's audio, captured on its own thread.
class AppSource {
public:
    virtual ~AppSource() = default;
    virtual bool running() const noexcept = 0;
    // A parking endpoint was found when the capture started: the application's
    // own output has been moved away from the user.
    virtual bool parkRequested() const noexcept = 0;
    // Up to n stereo frames into left/right; returns the frames delivered.
    virtual uint32_t read(float* left, float* right, uint32_t n) noexcept = 0;
};

} // namespace engine
