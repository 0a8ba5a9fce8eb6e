#pragma once
// One environment: a room record turned into a feedback delay network that
// makes a true-stereo wet signal from a mono send. The shape follows the
// classic EFX-style reverb: an early section of four tapped reflections with a
// Householder-style mix, all-passes and short lines, and a late section of four
// modulated feedback lines with per-line LF/HF decay shelves and an orthogonal
// scatter matrix. "Haunted Cavern" adds explicit reflection taps, extra echo
// lines, a diffuser and wet equalization.
//
// prepare() and setPreset() allocate (a room change rebuilds the environment);
// process() neither allocates nor locks.

#include "dsp/biquad.h"
#include "dsp/delay_ring.h"
#include "dsp/room.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace dsp {

// The parabolic sine of a phase f in [0, 1): 8f − 16f² below one half,
// 16f² − 24f + 8 above; a cheap sine shape for slow modulators.
inline double parabolicSine(double f)
{
    return f < 0.5 ? 8.0 * f - 16.0 * f * f : 16.0 * f * f - 24.0 * f + 8.0;
}

// The same biquad step for N parallel lines at once, each with its own
// coefficients, laid out line by line so that the steps pair up in vector
// registers. The arithmetic is that of processBiquad().
template <size_t N> struct BiquadBank {
    std::array<double, N> b0 = filled(1.0), b1{}, b2{}, a1{}, a2{}, s1{}, s2{};

    void setCoeffs(size_t line, const BiquadCoeffs& c) noexcept
    {
        b0[line] = c.b0;
        b1[line] = c.b1;
        b2[line] = c.b2;
        a1[line] = c.a1;
        a2[line] = c.a2;
    }
    void reset() noexcept { s1 = s2 = {}; }
    void process(std::array<double, N>& x) noexcept
    {
        for (size_t i = 0; i < N; ++i) {
            const double y = b0[i] * x[i] + s1[i];
            s1[i] = b1[i] * x[i] - a1[i] * y + s2[i];
            s2[i] = b2[i] * x[i] - a2[i] * y;
            x[i] = y;
        }
    }

    // The same steps over a block of frames held line by line (x[line][frame]),
    // four lines side by side at a time, so that their coefficients and
    // states stay in registers.
    template <size_t Frames> void process(std::array<std::array<double, Frames>, N>& x, int frames) noexcept
    {
        static_assert(N % 4 == 0);
        for (size_t g = 0; g < N; g += 4) {
            std::array<double, 4> c0, c1, c2, d1, d2, t1, t2; // locals, so the stores to x alias none of them
            for (size_t i = 0; i < 4; ++i) {
                c0[i] = b0[g + i];
                c1[i] = b1[g + i];
                c2[i] = b2[g + i];
                d1[i] = a1[g + i];
                d2[i] = a2[g + i];
                t1[i] = s1[g + i];
                t2[i] = s2[g + i];
            }
            for (size_t f = 0; f < static_cast<size_t>(frames); ++f)
                for (size_t i = 0; i < 4; ++i) {
                    const double in = x[g + i][f];
                    const double y = c0[i] * in + t1[i];
                    t1[i] = c1[i] * in - d1[i] * y + t2[i];
                    t2[i] = c2[i] * in - d2[i] * y;
                    x[g + i][f] = y;
                }
            for (size_t i = 0; i < 4; ++i) {
                s1[g + i] = t1[i];
                s2[g + i] = t2[i];
            }
        }
    }

private:
    static constexpr std::array<double, N> filled(double v)
    {
        std::array<double, N> a{};
        a.fill(v);
        return a;
    }
};

class Reverb {
public:
    // process() works through its frames in chunks of at most this many.
    static constexpr int kBlockLength = 256;

    // Allocates an instance prepared for the room of `preset` (clamped into 0..14).
    static std::unique_ptr<Reverb> create(double sampleRate, int preset);

    // Copies the room record and derives every delay, gain and filter; all
    // lines start silent. Allocates.
    void prepare(double sampleRate, const RoomParams& params);
    void prepare(double sampleRate, int preset) { prepare(sampleRate, room(preset)); }
    // Rebuilds for another room at the same rate. Allocates.
    void setPreset(int preset) { prepare(sampleRate_, room(preset)); }
    // Silences every line and filter; keeps the room.
    void reset() noexcept;

    // Mono send in, stereo wet out (overwritten). When `input2` is given the two
    // inputs are averaged first. Non-finite input samples count as silence.
    void process(const float* input, const float* input2, float* left, float* right, int frames) noexcept;

    // The two gains of the explicit taps ("Haunted Cavern"): the send gain
    // scales the taps that feed the late input, the compensation gain the
    // stereo reflections. Both 1 until set.
    void setTapGains(float send, float compensation) noexcept;

    const RoomParams& params() const { return params_; }
    double sampleRate() const { return sampleRate_; }
    double sizeScale() const { return sizeScale_; }
    // Late decay times after the HF limit and clamping, seconds.
    double decayTime() const { return params_.decayTime; }
    double decayTimeHf() const { return decayHf_; }
    double decayTimeLf() const { return decayLf_; }

private:
    static constexpr int kLines = 4;

    // A Schroeder all-pass on a ring: H = (z^−N − g)/(1 − g·z^−N).
    struct AllPass {
        DelayRing<float> ring;
        int64_t length = 1;
        double process(double x, double g) noexcept
        {
            const double d = ring.at(ring.writeCounter() - length);
            const double w = x + g * d;
            ring.write(static_cast<float>(w));
            return d - g * w;
        }
        void prepare(int64_t samples, size_t headroom);
    };
    // A delay of `length` frames.
    struct Line {
        DelayRing<float> ring;
        int64_t length = 1;
        double process(double x) noexcept
        {
            const double d = ring.at(ring.writeCounter() - length);
            ring.write(static_cast<float>(x));
            return d;
        }
    };
    // A feedback echo per late line: in = out·inGain + delayed·feedback; out mixes in delayed by depth.
    struct Echo {
        bool on = false;
        std::array<DelayRing<float>, kLines> rings;
        int64_t length = 16;
        double feedback = 0.0;
        double inGain = 1.0;
        double depth = 0.0;
        void prepare(double seconds, double fb, double mix, double sampleRate, double minSeconds);
        void process(std::array<std::array<double, kBlockLength>, kLines>& v, int frames) noexcept;
    };

    void mix(std::array<double, kLines>& v) const noexcept;
    // Six-point reads of the four late lines, each `modulation[i]` frames further back.
    void readLate(const std::array<double, kLines>& modulation, std::array<double, kLines>& out) const noexcept;
    // The explicit taps of a whole chunk at once: every tap reads a run of
    // consecutive frames. The rings' 264 frames of headroom cover a chunk, so
    // the chunk can be written before any of it is read.
    void processTaps(int frames) noexcept;
    // The recurrent part, frame by frame: input, early section and late lines.
    // Leaves each frame's early and late values in early_ and lateOut_.
    void processNetwork(int frames) noexcept;
    // The feed-forward colouring of the late values (diffuser, echoes), one
    // line and one stage at a time over the chunk, then the stereo decode.
    void processDiffuser(int frames) noexcept;
    void processOutput(float* left, float* right, int frames) noexcept;

    double sampleRate_ = 48000.0;
    RoomParams params_;
    double sizeScale_ = 1.0;
    double decayHf_ = 1.0;
    double decayLf_ = 1.0;

    // Input filters: the main (early/late) path, the explicit-tap input and the
    // explicit mono sum on its way into the late input.
    Biquad inputHf_, inputLf_;
    Biquad tapHf_, tapLf_, tapPeak_;
    Biquad monoHf_, monoLf_, monoPeak_;

    // Early section.
    DelayRing<float> input_;
    std::array<int64_t, kLines> earlyTap_{};
    std::array<AllPass, kLines> earlyAllPass_;
    std::array<Line, kLines> earlyLine_;
    double earlyGain_ = 0.0;

    // Late section.
    double scatterX_ = 1.0;
    double scatterY_ = 0.0;
    double densityGain_ = 1.0;
    std::array<DelayRing<float>, kLines> late_;
    std::array<int64_t, kLines> lateDelay_{};
    std::array<double, kLines> lateDecay_{};
    BiquadBank<kLines> lateLf_, lateHf_, latePeak_;
    bool hasLatePeak_ = false;
    std::array<AllPass, kLines> lateAllPass_;
    std::array<double, kLines> phase_{};
    double modRate_ = 0.0;
    double modDepth_ = 0.0;

    // Diffuser: three all-passes per line, then a spread and one more scatter.
    bool hasDiffuser_ = false;
    std::array<std::array<AllPass, 3>, kLines> diffuser_;
    double diffuserShared_ = 0.0;
    double diffuserOwn_ = 0.0;

    Echo echo_;
    std::array<Echo, 2> extraEcho_;

    // Wet equalization of the late pair.
    bool hasWetFilters_ = false;
    std::array<StereoBiquad, 4> wetPeaks_;
    std::array<bool, 4> hasWetPeak_{};
    std::array<Biquad, 2> midFilter_, sideFilter_;
    Biquad outputShelf_;

    // A ring stored twice over, so any run of up to its length starting
    // anywhere is contiguous in memory.
    struct MirroredRing {
        std::vector<float> data = std::vector<float>(2);
        size_t mask = 0;
        int64_t written = 0;
        void prepare(size_t needed);
        void reset() noexcept;
        void write(float x) noexcept
        {
            const size_t at = static_cast<size_t>(written++) & mask;
            data[at] = x;
            data[at + mask + 1] = x;
        }
        const float* run(int64_t position) const noexcept { return &data[static_cast<size_t>(position) & mask]; }
    };

    // Explicit taps.
    bool hasTaps_ = false;
    MirroredRing tapCompensated_; // read by the stereo list
    MirroredRing tapSent_;        // read by the mono list
    // One list of taps per destination; taps of zero gain are left out.
    struct TapList {
        int count = 0;
        std::array<int64_t, kMaxExplicitTaps> position{};
        std::array<float, kMaxExplicitTaps> gain{};
        void add(int64_t at, double g) noexcept;
    };
    TapList tapsLeft_, tapsRight_, tapsMono_;
    double sendGain_ = 1.0;
    double compensationGain_ = 1.0;

    // Per chunk: the (averaged) input, the stereo tap sums and the explicit late input.
    std::array<float, kBlockLength> scratch_{};
    std::array<float, kBlockLength> tapLeft_{}, tapRight_{}, monoSum_{};
    std::array<double, kBlockLength> explicitIn_{};
    // Per chunk and line: the early section's and the late section's output.
    std::array<std::array<double, kBlockLength>, kLines> early_{}, lateOut_{};
};

} // namespace dsp
