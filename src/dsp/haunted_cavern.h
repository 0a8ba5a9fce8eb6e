#pragma once
// The procedural "Haunted Cavern": what runs beside the room instance of row 8
// when no convolution response is in use. A single slap repeat from the far
// wall, two plate reverbs that split the send by the input compressor's gain
// (the quiet part and the loud part of the voice ring differently), and the
// duck of the dry voice that lets the cave sound bigger than the speaker.
// prepare() allocates; process() neither allocates nor locks.

#include "dsp/biquad.h"
#include "dsp/delay_ring.h"
#include "dsp/one_pole.h"
#include "dsp/reverb.h"

#include <array>
#include <cstdint>
#include <vector>

namespace dsp {

// The slap echo: one repeat without feedback, from 0.4867 s at amount ≤ 20
// down to 0.4733 s at 100, darkened by two 3.5 kHz one-pole stages and the
// 500 Hz +5.5 dB shelf.
class SlapEcho {
public:
    static constexpr int kRingFrames = 24001;

    void prepare(double sampleRate);
    // Clears the ring and the filters (done when the slap echo is switched in).
    void reset() noexcept;
    // Adds the repeat of the high-passed voice to left and subtracts 0.2× it from right.
    void process(const float* highPassed, float* left, float* right, int frames, int amount) noexcept;

    // Delay in frames for an amount (percent), within 1 .. kRingFrames − 1.
    static int delayFrames(int amount, double sampleRate);
    // min(0.0765, 1.77·(amount/100)^1.4).
    static float sendLevel(int amount);

private:
    double sampleRate_ = 48000.0;
    std::vector<float> ring_ = std::vector<float>(kRingFrames);
    int read_ = 0;
    double lowPassDecay_ = 0.0;
    double stage1_ = 0.0;
    double stage2_ = 0.0;
    Biquad shelf_;
};

// One plate: a mono-in, mono-out network. Its 17 values, in order:
//  0 pre-delay (ms)             1 output level (dB)          2 decay time (s)
//  3 HF decay ratio             4 longest input all-pass (ms) 5 modulation depth (ms)
//  6 shortest network line (ms) 7 level of the early tap     8 line spread (longest/shortest − 1)
//  9 input all-pass coefficient 10 low shelf (dB, 250 Hz)    11 high shelf (dB, at the HF reference)
// 12 gain of each line's output 13 rotation angle of the mixing matrix (rad)
// 14 modulation period (s)     15 HF reference (Hz)          16 reserved
// The input passes four all-pass diffusers (output scaled by 0.6665) and a DC
// blocker, then enters eight feedback lines mixed by a butterfly of plane
// rotations (orthogonal, so the loop gain is set by the line gains alone);
// line 0 is read at a slowly modulated position.
class PlateReverb {
public:
    using Params = std::array<double, 17>;
    static constexpr int kLines = 8;
    // process() works through its frames in chunks of at most this many.
    static constexpr int kChunk = 256;

    void prepare(double sampleRate, const Params& params);
    void reset() noexcept;
    // Adds the plate's output for `in` to `out`.
    void process(const float* in, float* out, int frames) noexcept;

private:
    // One chunk, a stage at a time: the input diffusion into diffused_, the
    // feedback lines (which take diffused_ and leave their output sum in
    // lineSum_), then the output shelves.
    void processDiffusion(const float* in, int frames) noexcept;
    void processLines(int frames) noexcept;

    double sampleRate_ = 48000.0;
    Params params_{};
    DelayRing<float> preDelay_;
    int64_t preDelayFrames_ = 0;
    std::array<DelayRing<float>, 4> diffuser_;
    std::array<int64_t, 4> diffuserLength_{};
    double diffuserCoeff_ = 0.4;
    double dcIn_ = 0.0;
    double dcState_ = 0.0;
    std::array<DelayRing<float>, kLines> lines_;
    std::array<int64_t, kLines> lineLength_{};
    std::array<double, kLines> lineGain_{};
    BiquadBank<kLines> damping_;
    double rotCos_ = 1.0;
    double rotSin_ = 0.0;
    double modPhase_ = 0.0;
    double modRate_ = 0.0;
    double modDepth_ = 0.0;
    double earlyLevel_ = 0.0;
    double lineLevel_ = 0.0;
    double outGain_ = 1.0;
    Biquad lowShelf_;
    Biquad highShelf_;
    int chunk_ = kChunk; // shorter than every line, so a chunk's line reads precede its writes
    std::array<double, kChunk> diffused_{};
    std::array<double, kChunk> lineSum_{};
    std::array<std::array<double, kChunk>, kLines> lineOut_{}; // by line, then frame
};

// The two plates' parameter blocks (decay 17.01 s and 15 s).
extern const PlateReverb::Params kCavernPlateA;
extern const PlateReverb::Params kCavernPlateB;

// The duck of the dry voice while the cavern sounds, in dB: up to 6 dB at
// amount 100 (none at 10 or below), applied in full once the dry voice is
// above −15 dBFS and fading out towards −45 dBFS, so that quiet passages and
// pauses are left alone. The level follows the dry mono sum with a 5 ms attack
// and a 300 ms release.
class CavernDryDuck {
public:
    void prepare(double sampleRate);
    void reset() noexcept { level_.reset(); }
    // Measures one block of the dry mono sum and returns the duck in dB (≥ 0).
    float process(const float* dry, int frames, int amount) noexcept;

private:
    AttackRelease level_;
};

// Everything the procedural cavern adds beside its room instance.
class HauntedCavern {
public:
    void prepare(double sampleRate);
    // Clears the slap ring and both plates (call when the procedural cavern is switched in).
    void reset() noexcept;
    // `highPassed`: the 20 Hz high-passed voice; `compressorGain`: the input
    // compressor's gain per frame; `send`: the send level (0 closes the input
    // of every stage, so they ring out). Adds the slap echo and the plates to
    // the wet pair.
    void process(const float* highPassed, const float* compressorGain, float send, int amount, float* left,
        float* right, int frames) noexcept;

    // The dry-voice duck in dB for this block of the dry mono sum.
    float dryDuckDb(const float* dry, int frames, int amount) noexcept { return duck_.process(dry, frames, amount); }

private:
    static constexpr int kChunk = 256;
    SlapEcho slap_;
    PlateReverb plateA_;
    PlateReverb plateB_;
    CavernDryDuck duck_;
    std::array<float, kChunk> inA_{}, inB_{}, plates_{};
};

} // namespace dsp
