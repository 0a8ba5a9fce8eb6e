#pragma once
// Fundamental detector for the voice: a cumulative-mean-normalised difference
// function (de Cheveigné and Kawahara's YIN measure) over a 2048-frame window,
// computed through the real FFT. The period is the first clear dip of the
// normalised difference, refined by a parabola through its neighbours.
//
// The dip is looked for over a wider range of lags than the voice range, so a
// whistle above the range (whose own period is shorter) or a growl below it
// (whose period is longer) is recognised as what it is and reported as no
// detection, rather than as an octave of itself that happens to fit.

#include "dsp/fft.h"

#include <complex>
#include <vector>

namespace dsp {

struct PitchEstimate {
    double hz = 0.0;         // 0: no fundamental in range
    double confidence = 0.0; // 0..1: 1 − the normalised difference at the period; 0 with no detection
    double period = 0.0;     // frames, fractional; 0 with no detection
};

class PitchDetector {
public:
    static constexpr int kWindow = 2048; // frames analysed per call
    static constexpr int kMaxLag = 1024; // longest lag examined (half the window)

    // Fundamentals from minHz to maxHz are reported; the longest period is
    // capped at kMaxLag frames. Allocates the FFT and the work buffers.
    void prepare(double sampleRate, double minHz = 70.0, double maxHz = 400.0);

    // Analyses kWindow frames, oldest first.
    PitchEstimate analyse(const float* window) noexcept;

    int shortestPeriod() const { return minPeriod_; }
    int longestPeriod() const { return maxPeriod_; }

private:
    double fs_ = 48000.0;
    int minPeriod_ = 120;
    int maxPeriod_ = 685;
    RealFft fft_;
    std::vector<float> padded_;
    std::vector<std::complex<float>> whole_;
    std::vector<std::complex<float>> head_;
    std::vector<float> correlation_;
    std::vector<double> energy_;     // prefix sums of squares over the window
    std::vector<double> normalised_; // the cumulative-mean-normalised difference, by lag
};

} // namespace dsp
