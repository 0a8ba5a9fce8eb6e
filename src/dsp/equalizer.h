#pragma once
// The seven-band graphic equalizer (octave-wide cookbook peaking filters at
// 125 Hz .. 8 kHz, then an output attenuation), with the Ambit width stage,
// which lives in the same object so that each equalized stream has its own.
// The engine keeps four of them; the take renderer makes fresh ones.

#include "dsp/biquad.h"

#include <array>

namespace dsp {

inline constexpr int kEqBands = 7;
inline constexpr int kEqMaxGainDb = 12;
inline constexpr int kEqMaxLevel = 24;

// Band centres in band order, Hz, and their interface labels.
inline constexpr std::array<double, kEqBands> kEqCentres{125, 250, 500, 1000, 2000, 4000, 8000};
inline constexpr std::array<const char*, kEqBands> kEqBandLabels{"125", "250", "500", "1k", "2k", "4k", "8k"};

// One band: the identity at 0 dB, else the 1-octave cookbook peaking filter.
BiquadCoeffs designEqBand(double centre, int gainDb, double sampleRate);

class Equalizer {
public:
    // Stores the rate, clears the band and Ambit state, designs the bands from
    // the current gains and level, and computes the Ambit decay factors.
    void prepare(double sampleRate);
    // Gains in dB clamped to ±12, level (dB of attenuation) to 0..24. Redesigns
    // every band but keeps the filter state, and glides the output gain to its
    // new value over 10 ms, so a change does not click.
    void setBandsAndLevel(const std::array<int, kEqBands>& gains, int level) noexcept;
    // One stereo frame in place: the bands 125 Hz → 8 kHz on each channel in
    // double precision, then the output gain.
    void process(float& left, float& right) noexcept
    {
        double l = left;
        double r = right;
        for (int b = 0; b < kEqBands; ++b) {
            l = processBiquad(coeffs_[b][0], state_[b][0], l);
            r = processBiquad(coeffs_[b][1], state_[b][1], r);
        }
        if (glideLeft_ > 0) {
            gain_ = --glideLeft_ == 0 ? outputGain_ : gain_ + glideStep_;
        }
        left = static_cast<float>(l) * gain_;
        right = static_cast<float>(r) * gain_;
    }
    // A run of stereo frames in place: the same as process() on each frame in turn.
    void process(float* left, float* right, int frames) noexcept;
    // The Ambit width stage on one frame in place; runs after process() when
    // `ambit` is on, whether or not the bands themselves are.
    void processAmbit(float& left, float& right) noexcept;

    const std::array<int, kEqBands>& gains() const { return gains_; }
    int level() const { return level_; }
    // The output gain the level asks for (reached 10 ms after a change).
    float outputGain() const { return outputGain_; }
    double sampleRate() const { return sampleRate_; }
    const BiquadCoeffs& bandCoeffs(int band) const { return coeffs_[band][0]; }

private:
    void design(bool glide) noexcept;

    double sampleRate_ = 48000.0;
    std::array<int, kEqBands> gains_{};
    int level_ = 0;
    float outputGain_ = 1.0f; // 10^(−level/20)
    float gain_ = 1.0f;       // the gain applied now, gliding towards outputGain_
    float glideStep_ = 0.0f;
    int glideLeft_ = 0;                // frames until gain_ reaches outputGain_
    BiquadCoeffs coeffs_[kEqBands][2]; // per band, per channel (identical copies)
    BiquadState state_[kEqBands][2];

    // Ambit: the mid delayed 12 frames (0.25 ms at 48 kHz) and low-passed at
    // 1400 Hz, and a 200 Hz low-pass of the side whose difference from the side
    // lifts the side's presence.
    static constexpr int kAmbitDelay = 12;
    std::array<float, kAmbitDelay> ambitRing_{};
    int ambitIndex_ = 0;
    float ambitMid_ = 0.0f;
    float ambitSide_ = 0.0f;
    float ambitMidDecay_ = 0.0f;  // exp(−2π·1400/fs)
    float ambitSideDecay_ = 0.0f; // exp(−2π·200/fs)
};

} // namespace dsp
