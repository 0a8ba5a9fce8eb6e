#pragma once
// The spectral noise suppressor of isolation modes 0..3: a 1024-point STFT
// advanced by 256 frames, minimum-statistics noise tracking weighted by a
// speech-presence probability, the decision-directed a-priori SNR and the
// log-spectral-amplitude gain (Ephraim-Malah, with Cohen's presence-weighted
// floor), a band limit, a speech gate that closes the voice off between
// utterances, and a click limiter that holds a bright broadband burst to the
// level just before it. Mono, in place, 1024 frames of latency; no allocation
// after prepare().

#include "dsp/fft.h"

#include <array>
#include <complex>
#include <cstdint>
#include <vector>

namespace dsp {

inline constexpr int kIsolationFftSize = 1024;
inline constexpr int kIsolationHop = 256;
inline constexpr int kIsolationBins = kIsolationFftSize / 2 + 1;
// Output is the input delayed by one analysis frame.
inline constexpr int kIsolationLatency = kIsolationFftSize;
// Hops of silence after a reset while the estimates settle.
inline constexpr int kIsolationSettlingHops = 20;
inline constexpr int kIsolationHistoryHops = 20;

// The stored mode as the effect reads it: values below 0 read as mode 0, above 4 as mode 3.
inline constexpr int kIsolationVocalMode = 4;
int isolationModeOf(int32_t stored) noexcept;

// Everything the mode and level decide.
struct IsolationParams {
    int mode = 0;
    int level = 0;         // 0..100
    bool enabled = false;  // spectral suppression (else band limit only)
    bool strong = false;   // the narrowed band and deeper floor of high levels
    bool detector = false; // the speech gate runs
    double floorDb = 0.0;  // b: depth of the spectral floor
    double gateDb = 24.0;  // g: depth of the speech gate when it is closed
    double gmin = 1.0;     // 10^(−b/20)
    double delta = 5.0;    // speech-presence threshold on S/S_min
    double beta = 1.0;     // noise over-estimation
    double lowHz = 60.0;
    double highHz = 16000.0;
    int binLo = 0;            // first bin inside the band
    int binHi = 0;            // last bin inside the band
    double holdHops = 0.0;    // non-speech hops before strong mode asks more of a candidate
    double secondCount = 0.0; // hops the gate stays open after speech
    double thresholdA = 99.0; // dB a speech hop may lie below the talker level
    double thresholdB = 0.0;  // dB the recent peak may lie below it (0: unused)
    double mixFactor = 0.45;  // presence share a candidate hop needs
};

// Mode (0..3; others are clamped) and level (clamped to 0..100) to parameters.
IsolationParams mapIsolation(int mode, int level, double sampleRate);

// The exponential integral E1(v) by the approximations the gain law uses:
// a series below 1, a rational form up to 50, 0 above; v ≤ 0 gives 50.
double expIntegralE1(double v) noexcept;

class NoiseSuppressor {
public:
    void prepare(double sampleRate);
    // Clears every estimate and the queues; the next 20 hops are silent.
    void reset() noexcept;
    // New mode and level; the estimates carry on.
    void setParameters(const IsolationParams& params) noexcept;
    const IsolationParams& parameters() const { return params_; }
    // The microphone gain stepped by dB: moves the noise and level trackers
    // with it, so the step is not taken for a change of noise or of talker.
    void shiftLevel(double db) noexcept;
    // A key press or click happened: for a short while no bin may jump far
    // above its level before the press, and a sound that does not continue
    // speech cannot open the gate. (Bright broadband clicks that nobody
    // reports are cut too, but they may still open the gate.)
    void noteInputActivity() noexcept;
    void process(float* samples, int frames) noexcept;

    // Observations for tests and displays.
    bool gateOpen() const { return release_ > 0.0; }
    double gateGain() const { return gateGain_; }
    double talkerLevelDb() const { return talkerDb_; }
    double noiseEstimate(int bin) const { return lambda_[static_cast<size_t>(bin)]; }
    double appliedGain(int bin) const { return gain_[static_cast<size_t>(bin)]; }
    uint64_t hops() const { return hops_; }
    int speechCount() const { return speechBins_; }
    // A key press or click was noted within the last 30 hops.
    bool activityRecent() const { return activityHops_ > 0; }

private:
    void processHop() noexcept;
    void trackAndGain() noexcept;
    void speechGate() noexcept;
    void limitClicks() noexcept;
    bool looksLikeClick() const noexcept;

    double sampleRate_ = 48000.0;
    IsolationParams params_;
    RealFft fft_;
    std::vector<float> window_; // square-root Hann, analysis and synthesis
    std::vector<float> input_;  // the last 1024 input frames
    std::vector<float> frame_;
    std::vector<float> overlap_;  // overlap-add accumulator, 1024
    std::vector<float> outQueue_; // 256 finished frames
    std::vector<std::complex<float>> spectrum_;
    std::vector<double> power_; // smoothed across frequency
    std::vector<double> smoothed_, minimum_, runningMin_, presence_, lambda_;
    std::vector<double> cleanPower_; // G_H1²·γ of the previous hop
    std::vector<double> gain_, gainH1_;
    std::vector<double> clickRef_; // per-bin ceiling while a key press is recent
    int fill_ = 0;
    uint64_t hops_ = 0;
    int minWindowCount_ = 0;

    // Speech gate.
    int detLo_ = 0;
    int detHi_ = 0;
    bool talkerStarted_ = false;
    double talkerDb_ = -200.0;
    double peakDb_ = -200.0;
    double secondDb_ = -200.0;
    double farCount_ = 0.0;
    int candidateRun_ = 0;
    int speechBins_ = 0; // the speech count of the last hop
    double release_ = 0.0;
    double nonSpeechHops_ = 0.0;
    double gateGain_ = 1.0;
    double gateGainFloor_ = 1.0;
    double speechWeight_ = 1.0; // 1: per-bin gains; 0: the uniform floor
    int activityHops_ = 0;
    int clickHops_ = 0;
    int highBin_ = 0;
    std::array<uint8_t, kIsolationHistoryHops> history_{};
    int historyPos_ = 0;
    int historySpeech_ = 0;
};

} // namespace dsp
