#pragma once
// The glitch styles' own state, one small struct per style, beside their
// code in glitch_styles.cpp. A style's state is set up at a press of that
// style and run while it plays; the repeater's shell (press, ramp, tail,
// restart fade, echo line, history and capture buffers) only clears it in
// reset(). Default values are the cleared state.

#include "dsp/random.h"

#include <array>
#include <cstdint>

namespace dsp::glitch {

inline constexpr int kMaxChannels = 2;

// A loop over a captured buffer whose first `fade` frames of each pass
// crossfade from the continuation of the previous pass's end (the buffer
// holds at least len + fade frames), so the seam never steps.
struct Loop {
    int64_t pos = 0;
    int64_t len = 1;
    int64_t prevLen = 0;
    int64_t fade = 0;
    int64_t passes = 0;
    float read(const float* buf) const noexcept;
    // Advances; returns true when a pass has just ended.
    bool advance() noexcept;
};

// Repeat: the word's loop, and the next word's loop that takes over from it
// while the button stays held.
struct RepeatState {
    Loop loop;
    Loop next;
    int64_t takeover = 0;       // frames left of the old-to-new loop crossfade
    int64_t recaptureAt = -1;   // absolute time of the scheduled re-capture
    int64_t recaptureOnset = 0; // the onset it captures from
};

// Beep: a 1 kHz tone at the voice's level.
struct BeepState {
    double phase = 0.0;
    double level = 0.05;
};

// Stutter: a short loop from the word's attack that halves as it runs.
struct StutterState {
    Loop loop;
};

// Reverse: phrases queued as stretches of the long ring and played backwards.
struct ReverseState {
    // One backward-played stretch [begin, end) of the long ring.
    struct Stretch {
        int64_t begin = 0;
        int64_t end = 0;
    };
    std::array<Stretch, 8> queue{};
    int queueHead = 0;
    int queueSize = 0;
    Stretch playing{};
    int64_t playPos = -1; // position in playing being read; −1: nothing playing
    bool phraseOpen = false;
    int64_t phraseStart = 0;
    int64_t pause = 0;
};

// Tape stop and robot: a playhead through the history that slows to a stop,
// and the robot's ring modulator phase.
struct PlayheadState {
    double readPos = 0.0;
    double robotPhase = 0.0;
};

// Crush: a loop of the last words through a sample-and-hold quantiser.
struct CrushState {
    Loop loop;
    std::array<float, kMaxChannels> held{};
    int64_t count = 0;
};

// Glitch: two overlapping grains from random points of the capture.
struct GrainState {
    struct Grain {
        double start = 0.0; // capture position of the grain's first read
        double rate = 1.0;  // frames per frame; negative plays backwards
        int64_t age = -1;   // frames into the grain; −1: idle
    };
    bool ready = false;
    std::array<Grain, 2> grains{};
    int64_t clock = 0;
    double lo = 0.0, hi = 0.0; // the range grain starts are drawn from
    Grain last{};
    Lcg random{0x5eed1234u};
};

} // namespace dsp::glitch
