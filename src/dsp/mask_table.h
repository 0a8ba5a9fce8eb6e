#pragma once
// The 42 voice masks: what each one loads into the voice settings when it is
// chosen (ratio, size), what the mask channel engine does with it (kind and
// two parameters) and the four values it hands the voice changer. Header-only
// so that the settings operation that chooses a mask can read it without
// linking the effects library.

#include "dsp/voice_changer.h"

#include <array>
#include <cstddef>

namespace dsp {

inline constexpr int kMaskCount = 42;
// Rows 0..17 form the first group of the list, 18..41 the extended masks.
inline constexpr int kZephraMaskCount = 18;
inline constexpr const char* kMaskListHeading = "Voice Changer & 42 Masks (18 Zephra + 24 Extended)";
inline constexpr const char* kZephraMaskGroup = "Zephra Masks (18):";

// The four voice-changer values of a mask (VoiceMaskValues): every mask but
// "Stranger" holds the neutral set, which is also what no mask gives.
inline constexpr bool isNeutral(const VoiceMaskValues& v)
{
    return v.macro == 0.0 && v.pitchExponent == 1.0 && v.formantExponent == 0.0 && v.alternateAttenuation == 0.0;
}

struct MaskRow {
    const char* name;
    int ratio; // per mille, 1000 = unchanged pitch
    int size;  // percent, 100 = unchanged
    int kind;  // 0..26, the mask channel engine's processing
    double p1; // a rate in Hz or a drive
    double p2; // a depth
    VoiceMaskValues voice{};
};

inline constexpr std::array<MaskRow, kMaskCount> kMasks{{
    {"Alien Brute", 850, 132, 1, 90, 0.6},
    {"Alien Infiltrator", 1000, 100, 1, 150, 0.5},
    {"Deep Voice", 790, 116, 0, 0, 0},
    {"Demon", 600, 148, 0, 0, 0},
    {"Dwarf", 820, 130, 0, 0, 0},
    {"Elderly", 880, 112, 2, 5, 0.55},
    {"Elf", 1300, 84, 0, 0, 0},
    {"Emo", 850, 114, 0, 0, 0},
    {"Female to Male", 750, 122, 0, 0, 0},
    {"From Up North", 880, 118, 0, 0, 0},
    {"Male to Female", 1430, 84, 0, 0, 0},
    {"Marine", 970, 100, 3, 5.5, 0},
    {"Munchkin", 1950, 68, 0, 0, 0},
    {"Neutral", 1000, 100, 0, 0, 0},
    {"Orc", 700, 134, 0, 0, 0},
    {"Robot", 1000, 100, 1, 75, 1},
    {"Scrappy Kid", 1600, 78, 2, 6.5, 0.28},
    {"Unstable", 1850, 82, 4, 5.5, 0.65},
    {"Anonymous", 1000, 100, 5, 0, 0},
    {"Alien", 1220, 86, 6, 0, 0},
    {"Astronaut", 1000, 100, 7, 0, 0},
    {"Drunk", 940, 106, 8, 0, 0},
    {"Duck", 1450, 64, 9, 0, 0},
    {"Ghost", 1000, 100, 10, 0, 0},
    {"Glitch", 1000, 100, 11, 0, 0},
    {"Monster", 560, 148, 12, 0, 0},
    {"Three of Me", 1000, 100, 13, 0, 0},
    {"Underwater", 960, 108, 14, 0, 0},
    {"Mickey Mouse", 2250, 72, 15, 0, 0},
    {"Chipmunk", 2450, 60, 0, 0, 0},
    {"Helium", 1100, 60, 0, 0, 0},
    {"Baby", 1700, 70, 16, 0, 0},
    {"Goblin", 1450, 126, 17, 0, 0},
    {"Giant", 560, 150, 18, 0, 0},
    {"Zombie", 760, 122, 19, 0, 0},
    {"Dark Lord", 790, 134, 20, 0, 0},
    {"Cyborg", 1000, 100, 21, 0, 0},
    {"Megaphone", 1000, 100, 22, 0, 0},
    {"Phone Call", 1000, 100, 23, 0, 0},
    {"Bumblebee", 1650, 80, 24, 0, 0},
    {"Whisper", 1000, 100, 25, 0, 0},
    {"Stranger", 720, 120, 26, 0, 0, {1.0, 0.6, 0.3, 0.15}},
}};

// The row of a mask index, or nullptr for "no mask" (negative or above 41).
inline constexpr const MaskRow* findMask(int index)
{
    return index >= 0 && index < kMaskCount ? &kMasks[static_cast<std::size_t>(index)] : nullptr;
}

// The voice changer's values for a mask index; the neutral set for no mask.
inline constexpr VoiceMaskValues maskVoiceValues(int index)
{
    const MaskRow* row = findMask(index);
    return row ? row->voice : VoiceMaskValues{};
}

// Whether the mask does anything beyond its pitch and size: a processing kind
// or voice-changer values other than the neutral set.
inline constexpr bool maskHasExtraEffect(int index)
{
    const MaskRow* row = findMask(index);
    return row && (row->kind != 0 || !isNeutral(row->voice));
}

} // namespace dsp
