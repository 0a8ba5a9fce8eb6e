#pragma once
// What the "Mic Tone & Vocal Lift" window does to the settings record: the XY
// pad that moves the three tone bands around their bases, the band sliders
// with their rebase rule, the gate sliders and "Reset All". Pure functions on
// the record, called on the interface thread; each moves the change counter
// of the fields it changed (toneRevision, isolationRevision) once.

#include "settings/settings.h"

namespace settings {

enum class ToneBand { Lo, Mid, Hi };
enum class GateControl { VocalLevel, Lo, Mid, Hi, Out };

inline constexpr int32_t kToneBandLimit = 240; // tenths of a dB

// A pad position (−100..100) as tenths of a dB: 2.4 × v rounded half away from zero.
int32_t tonePadOffset(int32_t v);

// The pad moved to (x, y), each −100..100 (clamped; the window maps its
// points to these): stores the position and sets the bands from their bases
// (x moves lo down and hi up, y moves mid).
void toneMovePad(Settings& s, int32_t x, int32_t y);
// Double-click in the pad: pad to (0, 0), every band to its base.
void toneResetPad(Settings& s);
// A band slider moved (value clamped to ±240) or double-clicked (value 0); then the rebase rule.
void toneSetBand(Settings& s, ToneBand band, int32_t value);
// When any band differs from its base plus the pad's offset, the bases take
// the band values and the pad returns to (0, 0). Returns whether it rebased.
bool toneRebase(Settings& s);
// A gate slider moved (clamped to its range) or, with resetToDefault, double-clicked.
void gateSet(Settings& s, GateControl control, int32_t value);
void gateResetToDefault(Settings& s, GateControl control);
// "Reset All": tone on, pad, bases and bands 0, vocal level and gate to their defaults.
void toneResetAll(Settings& s);

} // namespace settings
