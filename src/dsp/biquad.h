#pragma once
// Normalised biquads (a0 divided out) in transposed direct form II with double
// state, and the audio-EQ cookbook designs (R. Bristow-Johnson) that every
// effect builds its filters from. Frequencies in Hz, gains in dB, rates in Hz.

namespace dsp {

inline constexpr double kPi = 3.14159265358979323846;

// Q of a Butterworth section: alpha = sin(w0)/sqrt(2).
inline constexpr double kButterworthQ = 0.70710678118654752440;
// The "Q 0.7072" filters form alpha as sin(w0)/1.414, which is Q = 0.707.
inline constexpr double kQ07072 = 1.414 / 2.0;

struct BiquadCoeffs {
    double b0 = 1.0;
    double b1 = 0.0;
    double b2 = 0.0;
    double a1 = 0.0;
    double a2 = 0.0;

    bool isIdentity() const { return b0 == 1.0 && b1 == 0.0 && b2 == 0.0 && a1 == 0.0 && a2 == 0.0; }
    bool operator==(const BiquadCoeffs&) const = default;
};

struct BiquadState {
    double s1 = 0.0;
    double s2 = 0.0;
};

// One step of transposed direct form II: y = b0·x + s1; s1 = b1·x − a1·y + s2; s2 = b2·x − a2·y.
inline double processBiquad(const BiquadCoeffs& c, BiquadState& s, double x) noexcept
{
    const double y = c.b0 * x + s.s1;
    s.s1 = c.b1 * x - c.a1 * y + s.s2;
    s.s2 = c.b2 * x - c.a2 * y;
    return y;
}

// A mono biquad: one coefficient set and its state.
struct Biquad {
    BiquadCoeffs coeffs;
    BiquadState state;

    // Clears the state and keeps the coefficients.
    void reset() noexcept { state = {}; }
    // Swaps in new coefficients and keeps the state, so a retune does not click.
    void setCoeffs(const BiquadCoeffs& c) noexcept { coeffs = c; }
    double process(double x) noexcept { return processBiquad(coeffs, state, x); }
    float process(float x) noexcept { return static_cast<float>(processBiquad(coeffs, state, x)); }
    void process(float* samples, int frames) noexcept
    {
        for (int i = 0; i < frames; ++i)
            samples[i] = process(samples[i]);
    }
};

// A stereo biquad: identical coefficients per channel, one state pair per channel.
struct StereoBiquad {
    BiquadCoeffs coeffs[2];
    BiquadState state[2];

    void reset() noexcept { state[0] = state[1] = {}; }
    void setCoeffs(const BiquadCoeffs& c) noexcept { coeffs[0] = coeffs[1] = c; }
    void process(float& left, float& right) noexcept
    {
        left = static_cast<float>(processBiquad(coeffs[0], state[0], left));
        right = static_cast<float>(processBiquad(coeffs[1], state[1], right));
    }
};

// Cookbook designs. Frequencies are clamped into (0, fs/2) and Q and bandwidth
// to small positive values, so any request yields a stable filter.
BiquadCoeffs designLowPass(double freq, double q, double sampleRate);
BiquadCoeffs designHighPass(double freq, double q, double sampleRate);
// Peaking EQ with Q; exactly 0 dB gives the identity.
BiquadCoeffs designPeaking(double freq, double q, double gainDb, double sampleRate);
// Peaking EQ by bandwidth in octaves: alpha = sin w0 · sinh(ln2/2 · BW · w0/sin w0); 0 dB gives the identity.
BiquadCoeffs designPeakingBandwidth(double freq, double octaves, double gainDb, double sampleRate);
// Shelves of slope 1; exactly 0 dB gives the identity.
BiquadCoeffs designLowShelf(double freq, double gainDb, double sampleRate);
BiquadCoeffs designHighShelf(double freq, double gainDb, double sampleRate);

// |H(e^jw)| in dB of a coefficient set at a frequency (for tests and displays).
double magnitudeDb(const BiquadCoeffs& c, double freq, double sampleRate);

// The fixed 20 Hz Butterworth high-pass in front of the reverb send.
BiquadCoeffs designReverbSendHighPass(double sampleRate);
// The fixed 500 Hz, +5.5 dB low shelf (A = 10^0.1375) that colours the slap echo.
BiquadCoeffs designSlapShelf(double sampleRate);
// Decay factor of the slap echo's two-stage one-pole low-pass: exp(−2π·3500/fs).
double slapLowPassDecay(double sampleRate);

} // namespace dsp
