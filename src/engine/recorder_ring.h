#pragma once
// The recorder's two tap rings (the take ring and the rolling Last ring):
// the engine writes the cable voice into each armed ring, the recorder reads
// it. Single producer (engine), single consumer (recorder), lock-free; samples
// that do not fit are dropped, never waited for.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine {

class RecorderRing {
public:
    static constexpr uint64_t kSize = uint64_t{1} << 20; // samples, interleaved stereo

    RecorderRing() : samples_(kSize, 0) { }

    // Set by the recorder while it wants samples.
    std::atomic<uint8_t> armed{0};

    // Engine: stores as many of count samples (clamped to [-1, 1], scaled by
    // 32767, rounded toward zero) as there is room for. Returns how many.
    uint32_t push(const float* interleaved, uint32_t count) noexcept;
    // Recorder: takes up to max samples. Returns how many.
    size_t read(int16_t* out, size_t max) noexcept;
    // Recorder: drops whatever waits, so that reading starts with what comes
    // next (called before arming, so that stale audio is never read).
    void skipToWrite() noexcept { read_.store(write_.load(std::memory_order_acquire), std::memory_order_release); }

    uint64_t writePosition() const { return write_.load(std::memory_order_acquire); }
    uint64_t readPosition() const { return read_.load(std::memory_order_acquire); }

private:
    std::vector<int16_t> samples_;
    std::atomic<uint64_t> write_{0}; // advanced by the engine after the samples are stored
    std::atomic<uint64_t> read_{0};  // advanced by the recorder after the samples are taken
};

struct RecorderRings {
    RecorderRing take; // armed while a take records the voice source
    RecorderRing last; // armed while the rolling Last buffer is enabled
    // What the speaker played, from the output tap, for takes and for Last.
    RecorderRing loopTake;
    RecorderRing loopLast;
};

} // namespace engine
