#pragma once
// The glitch repeater: a held button or key turns the live voice into a
// performance effect (repeat the last word, beep over it, stutter, reverse,
// scratch, cut it, or one of the closing effects that run their full length
// from the press). One instance handles one or two channels.
//
// Every frame, held or not, the input goes into history rings and level
// followers, so a press can reach back into what was just said. A press
// latches the style, finds the most recent word onset and starts the style;
// a 6 ms ramp crossfades between the dry signal and the style's output at
// every change, and a tail counter (counted from the press) keeps the effect
// running after a short tap. An echo line rings on after everything else.
//
// prepare() allocates; reset(), setHeld(), setStyle() and process() never
// allocate or lock.

#include "dsp/delay_ring.h"
#include "dsp/glitch_styles.h"
#include "dsp/one_pole.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace dsp {

enum GlitchStyle : int {
    kGlitchRepeat = 0,
    kGlitchBeep,
    kGlitchStutter,
    kGlitchReverse,
    kGlitchTapeStop,
    kGlitchScratch,
    kGlitchRobot,
    kGlitchCrush,
    kGlitchChipmunk,
    kGlitchDeep,
    kGlitchEcho,
    kGlitchCut,
    kGlitchGlitch,
};
inline constexpr int kGlitchStyleCount = 13;
// Whether a style plays a closing effect of fixed length from the press
// (tape stop, robot, crush, chipmunk, deep, echo) rather than lasting while held.
inline constexpr std::array<bool, kGlitchStyleCount> kGlitchStyleEnds{
    false, false, false, false, true, false, true, true, true, true, true, false, false};

// 0..12; above 12 reads as 12, below 0 as 0.
inline int clampGlitchStyle(int style) noexcept
{
    return style < 0 ? 0 : style > kGlitchStyleCount - 1 ? kGlitchStyleCount - 1 : style;
}

class GlitchRepeater {
public:
    static constexpr int kMaxChannels = glitch::kMaxChannels;

    // Sizes every ring and buffer for fs and one or two channels, and clears them.
    void prepare(double sampleRate, int channels);
    // Clears the rings, followers, counters and the echo line; not held, idle.
    void reset() noexcept;

    // A change to on starts the current style; a change to off only clears the flag.
    void setHeld(bool on) noexcept;
    // Stored (clamped to 0..12); takes effect at the next press.
    void setStyle(int style) noexcept { style_ = clampGlitchStyle(style); }

    // In place. right may be null (or is ignored on a one-channel instance).
    void process(float* left, float* right, int frames) noexcept;

    // Held, in its tail, or still ramping out: what the interface shows as glitching.
    bool active() const noexcept { return held_ || tail_ > 0 || ramp_ > 0.0f; }
    bool held() const noexcept { return held_; }
    int runningStyle() const noexcept { return running_; }
    int style() const noexcept { return style_; }
    int64_t tailFrames() const noexcept { return tail_; }
    float ramp() const noexcept { return ramp_; }
    int64_t captureFrames() const noexcept { return capLen_; }
    double sampleRate() const noexcept { return fs_; }

private:
    using Loop = glitch::Loop;
    using Grain = glitch::GrainState::Grain;

    static int64_t frames(double seconds, double fs) noexcept
    {
        return static_cast<int64_t>(std::lround(seconds * fs));
    }

    // The shell (glitch_repeater.cpp): the press latches the style and starts
    // its tail; every frame is recorded; while on, a frame of the style is
    // generated and shaped by the closing level and the restart fade.
    void start() noexcept;
    void record(float mono) noexcept;
    void generate(float* g, int channels) noexcept;
    // The styles (glitch_styles.cpp).
    void startStyle() noexcept;
    void styleSample(float* g, int channels, double a, double progress) noexcept;
    float endingLevel(double progress) const noexcept;
    int64_t onsetOffset(int64_t minAge, int64_t maxAge) const noexcept;
    // Copies `length` frames ending `endAge` frames before now into the
    // capture buffers; returns the frames captured (limited by what has been recorded).
    int64_t capture(std::array<std::vector<float>, kMaxChannels>& dest, int64_t length, int64_t endAge) noexcept;
    int64_t bestStutterStart(int64_t c, int64_t loopLength) const noexcept;
    void trackPhrases() noexcept;
    int64_t quietestCut(int64_t from, int64_t to) const noexcept;
    void queueStretch(int64_t begin, int64_t end) noexcept;
    float reverseSample(int ch) const noexcept;
    void advanceReverse() noexcept;
    void startGrain(Grain& grain) noexcept;
    float grainSample(const Grain& grain, int ch) const noexcept;

    double fs_ = 48000.0;
    int channels_ = 1;

    // Per channel: input history (2.5 s), long history for backward play
    // (4 s), the echo line (0.5 s ring), the robot comb (6 ms ring).
    std::array<DelayRing<float>, kMaxChannels> history_, long_, echo_, comb_;
    DelayRing<float> mono_; // (L + R)·0.5, for every level and similarity measure
    int64_t now_ = 0;       // frames recorded since reset
    // Capture buffers; Repeat's next loop takes over from the second set.
    std::array<std::vector<float>, kMaxChannels> cap_, next_;
    int64_t capLen_ = 0;
    int64_t capMax_ = 0;

    // Lengths in frames.
    int64_t crossfade_ = 240;       // 0.005·fs
    int64_t loopFade_ = 72;         // 0.0015·fs
    int64_t minLoop_ = 1200;        // 0.025·fs
    int64_t rampFrames_ = 288;      // 0.006·fs
    int64_t echoDelay_ = 14400;     // 0.3·fs
    int64_t combDelay_ = 288;       // 0.006·fs
    int64_t grainLength_ = 3840;    // 0.08·fs, even
    int64_t onsetGap_ = 3840;       // 0.08·fs between any two onsets
    int64_t syllableGap_ = 4800;    // 0.1·fs between onsets in connected speech
    int64_t onsetLead_ = 144;       // 0.003·fs: onsets are stored this early
    int64_t recaptureDelay_ = 7680; // 0.16·fs
    std::vector<float> grainWindow_;

    // Level measures of the mono mix: fast (onsets), medium (beep level),
    // slow (phrases) followers of |x| and the rising minimum of the slow one.
    AttackRelease fast_, medium_, slow_;
    double minimum_ = 0.0;
    double minimumRise_ = 1.0;
    // Onsets: recent word starts as absolute positions.
    std::array<int64_t, 16> onsets_{};
    int onsetCount_ = 0;
    int onsetNext_ = 0;
    bool quiet_ = true;
    int64_t lastOnset_ = -1000000;

    // Press state.
    bool held_ = false;
    int style_ = 0;
    int running_ = 0;
    int64_t tail_ = 0;
    int64_t tailLength_ = 1;
    int64_t sincePress_ = 0;
    float ramp_ = 0.0f;
    float rampStep_ = 1.0f;
    // A press during a running effect fades the last output out over the ramp.
    std::array<float, kMaxChannels> lastG_{}, restartFrom_{};
    int64_t restart_ = 0;

    // Per-style state (glitch_styles.h): set up by startStyle() at a press
    // of that style and run by styleSample(); the shell only clears it in reset().
    glitch::RepeatState repeat_;
    glitch::BeepState beep_;
    glitch::StutterState stutter_;
    glitch::ReverseState reverse_;
    glitch::PlayheadState playhead_;
    glitch::CrushState crush_;
    glitch::GrainState grain_;

    // Echo line.
    double echoLowPass_ = 0.0;
    std::array<double, kMaxChannels> echoState_{};
    int64_t echoIdle_ = 0; // frames the line may still ring; 0: skipped
};

} // namespace dsp
