#pragma once
// The speaker test signals as numbers: the left-then-right identification
// chime and the pink noise calibration burst, with their ramps, the stop
// fade, the level and the output clamp. No device, no clock: the speaker
// test's thread asks it for one chunk at a time, and tests read it directly.

#include "dsp/pink_filter.h"

#include <cstdint>

namespace engine {

enum class TestMode : int32_t {
    None = 0,
    Chime = 1,     // a 220 to 880 Hz sweep in the left channel, then the right
    PinkNoise = 2, // noise bursts left, right, both
};

// What sounds now, as the speaker page shows it.
enum class TestChannel : int32_t { Silent = 0, Left = 1, Right = 2, Both = 3 };

struct TestSignal {
    TestMode mode = TestMode::Chime;
    bool repeat = false;      // chime: start again after the right step instead of ending
    bool pink = true;         // noise: pink rather than white
    bool alternate = true;    // noise: left, right and both bursts rather than both throughout
    double lengthSeconds = 0; // noise: ends after this long (0: never)
};

// The two signals the speaker page's buttons play.
TestSignal chimeSignal();
TestSignal pinkNoiseSignal(); // alternating pink noise, 8.0 s

class TestGenerator {
public:
    // rate: the stream's frames per second.
    TestGenerator(uint32_t rate, const TestSignal& signal);

    // Writes up to frames interleaved stereo frames scaled by level (0..1)
    // and clamped to [-0.95, 0.95]. Returns the frames written: fewer than
    // asked only when the signal ended inside the chunk.
    uint32_t generate(float* interleaved, uint32_t frames, float level) noexcept;
    // Starts the 25 ms fade-out that ends the signal; later calls change nothing.
    void beginStop() noexcept;
    bool ended() const noexcept { return ended_; }
    // What the last frame generated sounded on.
    TestChannel activeChannel() const noexcept { return channel_; }
    uint32_t rate() const noexcept { return rate_; }
    uint64_t frames() const noexcept { return counter_; }

    static constexpr double kOutputLimit = 0.95;

private:
    void chimeFrame(double& left, double& right) noexcept;
    void noiseFrame(double& left, double& right) noexcept;
    double nextNoise() noexcept;

    TestSignal signal_;
    uint32_t rate_ = 48000;
    uint64_t counter_ = 0;
    bool ended_ = false;
    TestChannel channel_ = TestChannel::Silent;

    // Chime: tone, gap and envelope ramp lengths, frames; the oscillator phase.
    uint64_t tone_ = 0, gap_ = 0, chimeRamp_ = 0;
    double phase_ = 0;

    // Noise: length (0: endless), start and end ramp, burst and pause, frames.
    uint64_t length_ = 0, noiseRamp_ = 0, burst_ = 0, pause_ = 0;
    uint64_t noiseState_ = 0x9E3779B97F4A7C15ull;
    dsp::PinkFilter pinkLeft_, pinkRight_;

    // Stop fade: frames left (0 when not fading) of fadeLength_.
    uint64_t fadeLength_ = 0, fadeLeft_ = 0;
    bool fading_ = false;
};

} // namespace engine
