#pragma once
// The mask channel engine: applies one voice mask, given by its kind (0..26)
// and two parameters, to one channel of float samples.
//
// Kinds 1..4 are light per-sample effects (ring modulation, tremolo, radio
// drive, vibrato) that both channels of a stereo stream run. Kinds 5..26 are
// the extended masks, run on one (mono or mid) signal: filters, modulated
// delays, the spectral engine, synthetic layers (beeps, bubbles, breaths),
// followed by level matching against the input (one-second power followers,
// ±12 dB) and the output stage, the relative look-ahead limiter (64 frames of
// delay). Sounds that the mask adds on its own (radio beeps and hiss, bubbles,
// breaths) join after the limiter, which would otherwise hold them at the
// level of a silent input.
//
// A kind change clears filters, delays and sub-processors and sets them up
// for the new kind; new parameters for the same kind keep all state, the
// oscillator phase included. Memory is taken in prepare() only.

#include "dsp/biquad.h"
#include "dsp/delay_ring.h"
#include "dsp/gain.h"
#include "dsp/mask_kind.h"
#include "dsp/mask_spectral.h"
#include "dsp/one_pole.h"
#include "dsp/random.h"

#include <array>
#include <memory>
#include <vector>

namespace dsp {


// A rate drawn uniformly in [low, high) from the engine's generator.
struct RandomRate {
    double low = 0.0;
    double high = 0.0;
    double value = 0.0;

    void draw(Lcg& random) noexcept { value = low + (high - low) * random.uniform(); }
};

class ThreeOfMeVoices;

class MaskChannel {
public:
    static constexpr int kMaxChunk = 16384;

    MaskChannel();
    ~MaskChannel();
    MaskChannel(const MaskChannel&) = delete;
    MaskChannel& operator=(const MaskChannel&) = delete;

    // extendedKinds: false for an engine that only ever runs kinds 0..4 (the
    // right channel of a stereo stream), which then takes far less memory and
    // treats an extended kind as kind 0. maxChunk: the largest block process()
    // gets at once (larger blocks are split; at most 16384).
    void prepare(double sampleRate, bool extendedKinds = true, int maxChunk = kMaxChunk);
    // Clears every state and returns to kind 0.
    void reset() noexcept;
    void configure(MaskKind kind, double p1, double p2) noexcept;
    // A kind by its number, clamped to 0..26.
    void configure(int kind, double p1, double p2) noexcept { configure(maskKindOf(kind), p1, p2); }
    void process(float* samples, int frames) noexcept;

    MaskKind kind() const { return kind_; }
    double p1() const { return p1_; }
    double p2() const { return p2_; }
    double phase() const { return phase_; }
    // Filter slots A..D (0..3).
    const Biquad& slot(int index) const { return filters_[static_cast<size_t>(index)]; }
    // The level matcher's current gain (extended kinds).
    double levelMatchDb() const { return matcher_.gainDb(); }
    // Frames of the past a glitch event (kind 11) can reach back to.
    size_t glitchHistoryFrames() const { return echo_.length(); }

private:
    void setUpKind() noexcept;
    void processBasic(float* samples, int frames) noexcept;
    void processExtended(float* samples, int frames) noexcept;
    float extendedFrame(float x, float dry, int index) noexcept;
    void advanceClocks() noexcept;
    bool detectOnset(float dry) noexcept;
    float vibrato(float v) noexcept;
    float blip(float v, bool onset) noexcept;
    float glitchEvent(float v, bool onset, double level) noexcept;
    float radioStage(double talkLevel) noexcept;
    float breathingStage(double talkLevel) noexcept;
    float bubbles(double level) noexcept;
    float phone(float v) noexcept;
    // Reads an echo or comb `delay` frames back before this frame is written.
    double echoRead(double delay) const noexcept { return echo_.delayedLinear(delay - 1.0); }
    double secondPhaseStep() noexcept;

    double fs_ = 48000.0;
    bool extended_ = true;
    int maxChunk_ = kMaxChunk;
    MaskKind kind_ = MaskKind::None;
    double p1_ = 0.0;
    double p2_ = 0.0;
    bool configured_ = false;

    double phase_ = 0.0; // radians, kinds 1..4 at P1 Hz, kind 21 at 38 Hz
    double clock_ = 0.0; // seconds, wraps at 1000
    DelayRing<double> ring4_;   // kind 4's vibrato; kind 6's pitch blips
    std::array<Biquad, 4> filters_{};
    Lcg random_{0x9E3779B9u};
    RandomRate rateA_;   // vibrato, stumble or modulation rate
    RandomRate rateB_;   // the second phase's rate
    double phaseA_ = 0.0; // cycles, 0..1
    double phaseB_ = 0.0;

    // Vibrato delay (kinds 6, 8, 14, 16, 19).
    DelayRing<float> vibratoRing_;
    double vibratoDeviation_ = 0.0;
    double vibratoBase_ = 0.0;
    double drunkDepth_ = 0.0;
    double stumbleAmount_ = 0.0;
    int stumblePosition_ = -1; // −1: no stumble running

    // Onset detector (kinds 6, 8, 11) and followers.
    OnePole onsetFast_;
    OnePole onsetSlow_;
    int refractory_ = 0;
    int cooldown_ = 0;
    PowerFollower level_; // one second: the level follower (bubbles, glitch events)
    // The talk detector of kinds 7 and 20 reads a 50 ms RMS instead: behind
    // the one-second follower the closing beep and the first breath would come
    // about four seconds after the voice has stopped.
    PowerFollower talkLevel_;

    // Pitch blips (kind 6).
    int blipLength_ = 0;
    int blipPosition_ = -1;
    int blipMode_ = 1;

    // Glitch events (kind 11); the echo ring is their history.
    std::vector<float> eventBuffer_; // 0.4 s
    int eventLength_ = 0;
    int eventPosition_ = -1;
    int eventType_ = 0;
    int sliceLength_ = 0;
    int holdEvery_ = 1;
    float held_ = 0.0f;

    // Radio stage (kind 7).
    bool talk_ = false;
    int quietFrames_ = 0;
    double talkSmooth_ = 0.0;
    int beepPosition_ = -1;
    double beepFrequency_ = 0.0;
    bool burstPending_ = false;
    int burstPosition_ = -1;

    // Breathing stage (kind 20).
    double talkTimer_ = 0.0;
    double pauseTimer_ = 0.0;
    double breathGate_ = 0.0;

    // Bubbles (kind 14).
    struct Bubble {
        int position = -1; // −1: free
        int length = 0;
        double frequency = 0.0;
        double rise = 1.0; // per-frame frequency factor
        double amplitude = 0.0;
        double phase = 0.0;
        double attack = 1.0;
        double decay = 1.0;
    };
    std::array<Bubble, 4> bubbles_{};
    double bubbleAttack_ = 0.0; // per-frame decay factors of the bubble envelope
    double bubbleDecay_ = 0.0;

    // Phone quantiser (kind 23).
    int phoneCount_ = 0;
    float phoneHeld_ = 0.0f;

    // Echoes and combs (kinds 10, 18, 20, 21, 22); the glitch history (kind 11).
    DelayRing<float> echo_;
    // Three of Me (kind 13): the dry voice delayed by the voices' latency.
    DelayRing<float> dryRing_;
    std::unique_ptr<ThreeOfMeVoices> voices_;

    MaskSpectral spectral_;
    LevelMatcher matcher_;
    LookAheadLimiter limiter_;
    std::vector<float> dry_;     // the chunk before processing
    std::vector<float> overlay_; // sounds added after the output stage
};

} // namespace dsp
