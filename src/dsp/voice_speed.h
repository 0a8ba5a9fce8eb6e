#pragma once
// Live time-stretch of the mono voice ("Voice speed", 0.5x..2.0x, "Keep pitch").
//
// With keep-pitch the voice is cut into 36 ms segments played at their own
// pitch; each new segment starts where the speed says the content should be,
// moved by up to ±12 ms to the point whose waveform best continues the one
// playing, and the two are crossfaded over 8 ms (waveform-similarity
// overlap-add). Without keep-pitch the voice is played back like tape, faster
// or slower, so its pitch follows the speed.
//
// A live voice cannot run ahead of itself: slower than 1x the output falls
// behind (up to 4 s, then it jumps back to the present), faster than 1x it
// replays the last 0.5 s at the higher speed whenever it has caught up. When
// the speed returns to 1x the processor plays the backlog at 1.5x until it is
// nearly live, waits for a quiet moment in what it would skip, fades to the
// dry voice and stops. At 1x with nothing pending the voice passes untouched.

#include "dsp/crossfade.h"
#include "dsp/time_stretch.h"

#include <cstdint>

namespace dsp {

class VoiceSpeed {
public:
    static constexpr int kMaxChunk = 1024; // frames per process() call

    // Prepares the time-stretch core (mono, 4 s, 36 ms / 8 ms / ±12 ms) and resets.
    void prepare(double sampleRate);
    // Idle, nothing pending; the history is cleared.
    void reset() noexcept;

    // Processes count mono samples in place (count ≤ kMaxChunk; more are
    // processed alike). speedPercent is clamped to 50..200.
    void process(float* samples, int count, int speedPercent, bool keepPitch) noexcept;

    bool active() const noexcept { return active_; }
    // The delay of the voice: frames between the newest input and what is playing (0 while idle).
    double lagFrames() const noexcept;
    // The same in milliseconds, rounded.
    int latencyMs() const noexcept;

private:
    void start(bool keepPitch) noexcept;
    float render(double speed, bool keepPitch, bool catchingUp) noexcept;
    void newSegment(double speed, bool catchingUp) noexcept;
    void splice(double to) noexcept;
    void measureBlock(float x) noexcept;
    bool lagIsQuiet() const noexcept;

    double fs_ = 48000.0;
    TimeStretchCore core_;
    SmoothedSwitch switch_;
    int hop_ = 1344;           // output frames per segment: segment − overlap
    int keepPitchStart_ = 968; // overlap + search + 8
    int stopLag_ = 1784;       // search + block + start offset
    int block_ = 240;          // max(32, 0.005·fs)
    int jump_ = 14400;         // replay length at speeds above 1x
    int maxLag_ = 192000;      // 4 s
    int quietWait_ = 24000;    // longest wait for a quiet moment before stopping anyway

    bool active_ = false;
    bool stopping_ = false;
    bool firstSegment_ = true;
    double nominal_ = 0.0; // where the content should be, by the speed alone
    double fadingPosition_ = 0.0;
    int fadeIndex_ = -1; // position in the crossfade, -1: none
    int waited_ = 0;     // frames spent nearly live waiting for a quiet moment

    // Block-rate level followers on the input (10 ms and 60 ms).
    double fastCoeff_ = 1.0;
    double slowCoeff_ = 1.0;
    double fastLevel_ = 0.0;
    double slowLevel_ = 0.0;
    double blockSum_ = 0.0;
    int blockFill_ = 0;
};

} // namespace dsp
