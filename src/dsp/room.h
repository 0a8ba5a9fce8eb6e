#pragma once
// The fifteen rooms of the environment reverb. The first twenty values of a
// room follow the EFX reverb parameter set of the OpenAL effects extension
// (without its pan vectors and room rolloff); the rest are our own extensions,
// used only by "Haunted Cavern" (explicit reflections, extra echo lines, a
// diffuser and wet equalization). Times in seconds, gains linear, Hz.

#include <array>

namespace dsp {

inline constexpr int kRoomCount = 15;
inline constexpr int kHauntedCavern = 8;
// At most this many entries of an explicit tap list are used.
inline constexpr int kMaxExplicitTaps = 192;

// One explicit stereo reflection: time in ms, left and right gains.
struct StereoTap {
    double ms;
    double left;
    double right;
};

// One explicit mono tap into the late input: time in ms and gain.
struct MonoTap {
    double ms;
    double gain;
};

// A peaking filter; frequency 0 (or gain 0) means absent.
struct PeakParams {
    double freq = 0.0;
    double gainDb = 0.0;
    double q = 1.0;
};

struct RoomParams {
    double density = 1.0;
    double diffusion = 1.0;
    double gain = 0.32;
    double gainHf = 0.89;
    double gainLf = 1.0;
    double decayTime = 1.49;
    double decayHfRatio = 0.83;
    double decayLfRatio = 1.0;
    double reflectionsGain = 0.05;
    double reflectionsDelay = 0.007;
    double lateGain = 1.26;
    double lateDelay = 0.011;
    double echoTime = 0.25;
    double echoDepth = 0.0;
    double modulationTime = 0.25;
    double modulationDepth = 0.0;
    double airAbsorptionHf = 0.994;
    double hfReference = 5000.0;
    double lfReference = 250.0;
    int decayHfLimit = 1;

    // Extensions; every room but "Haunted Cavern" holds these defaults.
    std::array<double, 4> lateLineMultiplier{1.0, 1.0, 1.0, 1.0};
    std::array<double, 2> extraEchoDelay{0.0, 0.0};
    std::array<double, 2> extraEchoGain{0.0, 0.0}; // a line exists only when its gain is above 0
    std::array<double, 2> extraEchoFeedback{0.0, 0.0};
    double reserved = 0.0;
    std::array<double, 4> modulationPhase{0.0, 0.5, 0.25, 0.75}; // cycles
    double earlyTapSpread = 1.0;
    double lateFilterReference = 0.0; // Hz; 0 = the HF reference
    const StereoTap* stereoTaps = nullptr;
    int stereoTapCount = 0;
    double tapGainScale = 1.0;
    int tapOffset = 0; // samples subtracted from every explicit tap position
    PeakParams inputPeak;
    std::array<PeakParams, 4> wetPeaks{};
    std::array<PeakParams, 2> midSide{};
    PeakParams decayPeak;                       // gain in dB per second of line delay
    std::array<double, 2> diffuser{-1.0, -1.0}; // [1] ≥ 0 enables the diffuser
    const MonoTap* monoTaps = nullptr;
    int monoTapCount = 0;
    double lateMidGain = 1.0;
    double outputShelfFreq = 0.0;
    double outputShelfDb = 0.0;
};

// The rooms in the order shown and indexed by `preset`.
const std::array<RoomParams, kRoomCount>& rooms();
// The room for a preset index, clamped into 0..14.
const RoomParams& room(int preset);

// S = max(1, cbrt(1000 · density)): 10 for density 1, 2 for 0.008.
double roomSizeScale(double density);

} // namespace dsp
