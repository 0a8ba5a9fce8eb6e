#pragma once
// The 42 voice masks: what each one loads into the voice settings when it is
// chosen (ratio, size), what the mask channel engine does with it (kind and
// two parameters) and the four values it hands the voice changer. Their names
// are with the interface's texts (engine/texts.h), row for row.

#include "dsp/voice_changer.h"

#include <array>
#include <cstddef>

namespace dsp {

inline constexpr int kMaskCount = 42;
// Rows 0..17 form the first group of the list, 18..41 the extended masks.
inline constexpr int kZephraMaskCount = 18;

// The four voice-changer values of a mask (VoiceMaskValues): every mask but
// "Stranger" holds the neutral set, which is also what no mask gives.
inline constexpr bool isNeutral(const VoiceMaskValues& v)
{
    return v.macro == 0.0 && v.pitchExponent == 1.0 && v.formantExponent == 0.0 && v.alternateAttenuation == 0.0;
}

struct MaskRow {
    int ratio; // per mille, 1000 = unchanged pitch
    int size;  // percent, 100 = unchanged
    int kind;  // 0..26, the mask channel engine's processing
    double p1; // a rate in Hz or a drive
    double p2; // a depth
    VoiceMaskValues voice{};
};

inline constexpr std::array<MaskRow, kMaskCount> kMasks{{
    {850, 132, 1, 90, 0.6}, //  0 Alien Brute
    {1000, 100, 1, 150, 0.5}, //  1 Alien Infiltrator
    {790, 116, 0, 0, 0}, //  2 Deep Voice
    {600, 148, 0, 0, 0}, //  3 Demon
    {820, 130, 0, 0, 0}, //  4 Dwarf
    {880, 112, 2, 5, 0.55}, //  5 Elderly
    {1300, 84, 0, 0, 0}, //  6 Elf
    {850, 114, 0, 0, 0}, //  7 Emo
    {750, 122, 0, 0, 0}, //  8 Female to Male
    {880, 118, 0, 0, 0}, //  9 From Up North
    {1430, 84, 0, 0, 0}, // 10 Male to Female
    {970, 100, 3, 5.5, 0}, // 11 Marine
    {1950, 68, 0, 0, 0}, // 12 Munchkin
    {1000, 100, 0, 0, 0}, // 13 Neutral
    {700, 134, 0, 0, 0}, // 14 Orc
    {1000, 100, 1, 75, 1}, // 15 Robot
    {1600, 78, 2, 6.5, 0.28}, // 16 Scrappy Kid
    {1850, 82, 4, 5.5, 0.65}, // 17 Unstable
    {1000, 100, 5, 0, 0}, // 18 Anonymous
    {1220, 86, 6, 0, 0}, // 19 Alien
    {1000, 100, 7, 0, 0}, // 20 Astronaut
    {940, 106, 8, 0, 0}, // 21 Drunk
    {1450, 64, 9, 0, 0}, // 22 Duck
    {1000, 100, 10, 0, 0}, // 23 Ghost
    {1000, 100, 11, 0, 0}, // 24 Glitch
    {560, 148, 12, 0, 0}, // 25 Monster
    {1000, 100, 13, 0, 0}, // 26 Three of Me
    {960, 108, 14, 0, 0}, // 27 Underwater
    {2250, 72, 15, 0, 0}, // 28 Mickey Mouse
    {2450, 60, 0, 0, 0}, // 29 Chipmunk
    {1100, 60, 0, 0, 0}, // 30 Helium
    {1700, 70, 16, 0, 0}, // 31 Baby
    {1450, 126, 17, 0, 0}, // 32 Goblin
    {560, 150, 18, 0, 0}, // 33 Giant
    {760, 122, 19, 0, 0}, // 34 Zombie
    {790, 134, 20, 0, 0}, // 35 Dark Lord
    {1000, 100, 21, 0, 0}, // 36 Cyborg
    {1000, 100, 22, 0, 0}, // 37 Megaphone
    {1000, 100, 23, 0, 0}, // 38 Phone Call
    {1650, 80, 24, 0, 0}, // 39 Bumblebee
    {1000, 100, 25, 0, 0}, // 40 Whisper
    {720, 120, 26, 0, 0, {1.0, 0.6, 0.3, 0.15}}, // 41 Stranger
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
