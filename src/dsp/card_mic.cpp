#include "dsp/card_mic.h"

namespace dsp {

void CardMicVoicing::prepare(double sampleRate, double shelfDb, double shelfHz, double peakDb, double peakHz, double q)
{
    shelf_.setCoeffs(designLowShelf(shelfHz, shelfDb, sampleRate));
    peak_.setCoeffs(designPeaking(peakHz, q, peakDb, sampleRate));
    fade_.prepare(0.01, sampleRate);
    reset();
}

void CardMicVoicing::reset() noexcept
{
    shelf_.reset();
    peak_.reset();
    fade_.snap(false);
}

void CardMicVoicing::enable(bool on) noexcept
{
    if (on && fade_.settled() && fade_.value() == 0.0f) {
        // The filters sat idle; start them from silence, not from stale state.
        shelf_.reset();
        peak_.reset();
    }
    fade_.setTarget(on);
}

} // namespace dsp
