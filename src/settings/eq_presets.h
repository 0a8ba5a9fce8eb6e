#pragma once
// The equalizer preset list: ten built-in presets, then the user presets that
// the registry store keeps. Selecting a preset copies its gains into eq_bands.

#include "settings/settings.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace settings {

// The program's one table of built-in presets: "Flat", "Bass", "Treble",
// "Vocal", "Rock", "Pop", "Jazz", "Classical", "Dance", "Acoustic".
extern const EqPreset kBuiltInEqPresetTable[10];

// Seven gains from text such as "3,-2,0,0,1,4,6": each number is read like a
// setup-file number and clamped to -12..12; the next number starts after the
// next comma; reading stops after seven numbers or when no comma follows.
// Gains the text does not reach are 0.
EqGains parseEqGains(std::wstring_view text);
EqGains parseEqGains(std::string_view text);
// The gains joined by commas, no blanks, 125 Hz first.
std::wstring formatEqGains(const EqGains& gains);

// Name of preset-list entry index (built-ins, then user presets); empty when out of range.
std::wstring eqPresetName(const Settings& settings, int index);
// Index of the first preset whose name equals name, ignoring case; -1 when none.
int findEqPreset(const Settings& settings, std::wstring_view name);
// Makes index the selected preset and copies its gains into the bands (one
// eqRevision step). Returns false, changing nothing, for an index out of range.
bool selectEqPreset(Settings& settings, int index);

} // namespace settings
