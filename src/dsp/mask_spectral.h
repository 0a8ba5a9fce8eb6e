#pragma once
// The spectral engine of the "Anonymous", "Ghost" and "Whisper" masks: a
// 1024-point short-time transform (square-root Hann analysis and synthesis,
// hops of 256 frames) that measures the spectral envelope in 36 bands and
// rebuilds each frame from it. Its five parameters:
//
//   whisper   the fine structure (harmonics, phase) is replaced by noise that
//             keeps the envelope: the voice loses its pitch and turns breathy;
//   warp      the envelope is read at bin/warp, so formants move by this
//             factor (above 1 a smaller throat, below 1 a larger one);
//   flutter   each band's gain is redrawn every hop within ±(flutter × 100) dB,
//             a rough, unsteady timbre that blurs who is speaking;
//   wet       percent of the rebuilt spectrum in the output, the rest is the
//             unprocessed spectrum (mixed in the spectral domain, so no delay
//             needs lining up);
//   breath    noise following the envelope, at this fraction of it, added on top.
//
// The output comes 1024 frames after the input. Memory is taken in prepare().

#include "dsp/crossfade.h"
#include "dsp/fft.h"
#include "dsp/random.h"

#include <array>
#include <complex>
#include <vector>

namespace dsp {

struct SpectralSetup {
    bool whisper = false;
    double warp = 1.0;
    double flutter = 0.0;
    double wetPercent = 100.0;
    double breath = 0.0;
};

class MaskSpectral {
public:
    static constexpr int kSize = 1024;
    static constexpr int kHop = 256;
    static constexpr int kBands = 36;
    static constexpr int kBins = kSize / 2 + 1;
    static constexpr int kLatency = kSize;

    void prepare(double sampleRate);
    // Clears the queues and the noise generator; keeps the setup.
    void reset() noexcept;
    // Parameters are clamped: warp 0.5..2, flutter 0..0.2, wet 0..100 %, breath 0..1.
    void setup(const SpectralSetup& s) noexcept;
    void process(float* samples, int frames) noexcept;

    // First bin of each band and one past the last band (for tests).
    const std::array<int, kBands + 1>& bandEdges() const { return edges_; }

private:
    void processFrame() noexcept;
    double envelopeAt(double bin) const noexcept;

    SpectralSetup setup_;
    RealFft fft_;
    std::vector<float> window_;
    std::vector<float> input_;  // the last kSize input frames
    std::vector<float> output_; // overlap-add accumulator, kSize
    std::vector<float> ready_;  // kHop frames being played out
    std::vector<float> frame_;
    std::vector<std::complex<float>> bins_;
    std::vector<double> envelope_; // the measured envelope per bin, before warp and flutter
    std::array<int, kBands + 1> edges_{};
    std::array<double, kBands> centres_{}; // band centres in bins
    std::array<int, kBins> firstCentre_{}; // per whole bin: the first band whose centre is not below it (at least 1)
    std::array<double, kBands> level_{};   // band RMS magnitude of this frame
    std::array<double, kBands> flutter_{}; // this hop's band gains
    std::array<std::complex<float>, 256> phasors_{};
    int position_ = 0;
    Lcg random_{0x2545F491u};
};

} // namespace dsp
