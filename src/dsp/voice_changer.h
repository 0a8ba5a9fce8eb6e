#pragma once
// The voice changer: a pitch-tracking, pitch-synchronous overlap-add shifter
// for the mono voice. It follows the voice's fundamental (70..400 Hz), marks
// its pitch periods, and rebuilds the voice from two-period Hann grains placed
// at the target fundamental; grains read the input faster or slower than real
// time to move the formants. The output is a fixed 2600 frames late and is
// held at the input's loudness.
//
// One instance is self-contained: prepare() allocates every ring, process()
// never allocates, locks or touches shared state, so several instances can
// run side by side on copies of the same block.

#include "dsp/delay_ring.h"
#include "dsp/pitch_detector.h"
#include "dsp/random.h"

#include <array>
#include <cstdint>
#include <vector>

namespace dsp {

// The four values a voice mask hands to the voice changer.
struct VoiceMaskValues {
    double macro = 0.0;                // above 0.5: macro mode (voice moved to a 120 Hz centre)
    double pitchExponent = 1.0;        // macro mode: scales the intonation range around the centre
    double formantExponent = 0.0;      // macro mode: pulls the formants with the fundamental
    double alternateAttenuation = 0.0; // k ≥ 0: every second voiced grain × (1 − k)/(1 + k)
};

class VoiceChanger {
public:
    static constexpr int kLatencyFrames = 2600; // output delay while running
    static constexpr int kRingFrames = 16384;   // input and output rings
    static constexpr int kAnalysisHop = 480;    // frames between pitch analyses

    // Allocates the rings and the detector, then resets.
    void prepare(double sampleRate);
    // Clears rings, pitch history, marks and the level match; keeps the settings.
    void reset() noexcept;

    // pitchHz: target offset in Hz (clamped −150..150); sizePercent: voice size
    // (clamped 60..150, formant factor 100/size, above 100 lowers the formants);
    // ratio: multiplies the fundamental (clamped 0.4..2.5).
    void setVoice(double pitchHz, double sizePercent, double ratio) noexcept;
    // The mask's macro flag, pitch exponent, formant exponent and alternate-grain attenuation.
    void setMaskValues(
        double macro, double pitchExponent, double formantExponent, double alternateAttenuation) noexcept;
    void setMaskValues(const VoiceMaskValues& values) noexcept;

    // True when the settings leave the voice as it is: offset 0, size 100, ratio 1, macro off.
    bool neutral() const noexcept;

    // Processes mono samples in place; the output is kLatencyFrames late.
    void process(float* samples, int frames) noexcept;

    // Two changers on one input, as process() on a copy each, with the pitch
    // analysis done once: it depends on the input alone, so the follower takes
    // the leader's at every analysis frame and both outputs are bit-identical
    // to what each gives on its own. The pair must have been prepared at one
    // rate, reset together and fed only through here since; a pair out of step
    // (another rate or input count) runs as two separate changers. The outputs
    // must not overlap the input.
    static void processPair(const float* input, VoiceChanger& leader, float* leaderOut, VoiceChanger& follower,
        float* followerOut, int frames) noexcept;

    // Detected and target fundamental in Hz; 0 while the voice is unvoiced.
    double detectedHz() const noexcept;
    double targetHz() const noexcept;
    // A fundamental has been detected since the last reset (before that the
    // display says the tracking is ready rather than showing a pitch).
    bool hasDetected() const noexcept { return track_.detections > 0; }

private:
    // Reads in[i] before writing out[i], so both may be one buffer; with a
    // leader, takes its tracking instead of analysing.
    void run(const float* in, float* out, int frames, const VoiceChanger* leader) noexcept;
    void analyse() noexcept;
    void placeMarks(double period) noexcept;
    int64_t bestMatch(
        int64_t mark, int64_t firstCandidate, int candidates, int half, int step, int64_t fallback) noexcept;
    void synthesizeDue() noexcept;
    void addGrain(double outCentre, double inCentre, int length, double rate, double gain) noexcept;
    double targetFundamental() const noexcept;
    double formantFactor() const noexcept;
    bool identityPitch() const noexcept;
    bool nearestMark(double position, int64_t& mark, double& period) const noexcept;
    bool markAfter(int64_t after, double limit, int64_t& mark) const noexcept;

    double fs_ = 48000.0;
    int minPeriod_ = 120;
    int maxPeriod_ = 685;
    int unvoicedSpacing_ = 720;
    double smoothCoeff_ = 0.0;
    double levelCoeff_ = 0.0;

    // Settings.
    double pitchOffset_ = 0.0;
    double size_ = 100.0;
    double ratio_ = 1.0;
    VoiceMaskValues mask_{};

    DelayRing<float> input_;
    DelayRing<float> output_;
    std::vector<float> analysis_; // the last kWindow input frames, oldest first
    PitchDetector detector_;

    // Pitch tracking: everything analyse() leaves behind. It follows the
    // input alone (never the settings or the synthesis), which is what lets
    // processPair() hand it from one changer to another.
    struct Tracking {
        int64_t analysisCount = 0;
        int64_t lastDetection = -1000; // analysis index of the last detection
        int64_t detections = 0;
        double detected = 0.0; // Hz, latest raw detection
        double confidence = 0.0;
        double smoothed = 0.0; // Hz
        double meanLog = 0.0;  // running mean of ln f0
        int misses = 1000;
        bool voiced = false;
        // Pitch marks: absolute input positions, newest at markCount − 1.
        std::array<int64_t, 64> marks{};
        int64_t markCount = 0;
    };
    int64_t nextAnalysis_ = 0; // centre of the next analysis window
    Tracking track_;

    // The mark search's copies of the input, sized in prepare(): the cycle
    // around the previous mark, the span every candidate's cycle lies in, and
    // that span's squares.
    std::vector<double> markCycle_;
    std::vector<double> span_;
    std::vector<double> spanSquares_;

    // Synthesis.
    double nextGrain_ = 0.0; // output-timeline centre of the next grain
    int64_t lastGrainMark_ = -1;
    int64_t voicedGrains_ = 0;
    double jitter_ = 0.0;
    Lcg random_{0x5eed1234u};

    // Level match.
    double inPower_ = 0.0;
    double outPower_ = 0.0;
    double gain_ = 1.0;
};

} // namespace dsp
