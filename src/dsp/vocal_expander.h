#pragma once
// Vocal isolation mode: a per-sample downward expander that pushes the room
// down below a threshold, then a three-band gate tone (first-order low shelf
// at 60.5 Hz, a wide peak at 652 Hz, first-order high shelf at 6310 Hz) and an
// output gain. Mono, in place, no allocation.

#include "dsp/biquad.h"

#include <cstddef>
#include <cstdint>

namespace dsp {

// What the expander runs with; built from the settings each time they change.
struct ExpanderRecord {
    bool on = true;
    double thresholdDb = -17.0;
    double exponent = 0.95;
    double loDb = 12.0;
    double midDb = 12.0;
    double hiDb = 12.0;
    double outDb = -5.0;
    bool operator==(const ExpanderRecord&) const = default;
};

// vocal_level (clamped to 0..100) and the gate bands and output in tenths of a dB.
ExpanderRecord expanderRecordFrom(int32_t vocalLevel, int32_t gateLo, int32_t gateMid, int32_t gateHi, int32_t gateOut);

// First-order shelves in biquad form (b2 = a2 = 0). g is the linear gain at DC
// (low shelf) or at Nyquist (high shelf).
BiquadCoeffs designFirstOrderLowShelf(double freq, double gain, double sampleRate);
BiquadCoeffs designFirstOrderHighShelf(double freq, double gain, double sampleRate);

class VocalExpander {
public:
    void prepare(double sampleRate);
    // Envelope to silence, gain to unity, filter states cleared.
    void reset() noexcept;
    void set(const ExpanderRecord& record) noexcept;
    const ExpanderRecord& record() const { return record_; }
    // The microphone gain stepped by dB: the envelope moves with the signal.
    void shiftLevel(double db) noexcept;
    void process(float* samples, int frames) noexcept;

    double envelope() const { return envelope_; }
    double gain() const { return gain_; }

private:
    double sampleRate_ = 48000.0;
    ExpanderRecord record_;
    double threshold_ = 0.1;
    double outGain_ = 1.0;
    double envCoeff_ = 1.0;
    double riseCoeff_ = 1.0;
    double fallCoeff_ = 1.0;
    double envelope_ = 0.0;
    double gain_ = 1.0;
    Biquad lowShelf_;
    Biquad peak_;
    Biquad highShelf_;
};

} // namespace dsp
