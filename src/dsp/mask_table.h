#pragma once
// The 42 voice masks: what each one loads into the voice settings when it is
// chosen (ratio, size), what the mask channel engine does with it (kind and
// two parameters) and the four values it hands the voice changer. Their names
// are with the interface's texts (engine/texts.h), row for row.

#include "dsp/mask_kind.h"
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
    MaskKind kind; // the mask channel engine's processing
    double p1; // a rate in Hz or a drive
    double p2; // a depth
    VoiceMaskValues voice{};
};

inline constexpr std::array<MaskRow, kMaskCount> kMasks{{
    {850, 132, MaskKind::RingModulation, 90, 0.6}, //  0 Alien Brute
    {1000, 100, MaskKind::RingModulation, 150, 0.5}, //  1 Alien Infiltrator
    {790, 116, MaskKind::None, 0, 0}, //  2 Deep Voice
    {600, 148, MaskKind::None, 0, 0}, //  3 Demon
    {820, 130, MaskKind::None, 0, 0}, //  4 Dwarf
    {880, 112, MaskKind::Tremolo, 5, 0.55}, //  5 Elderly
    {1300, 84, MaskKind::None, 0, 0}, //  6 Elf
    {850, 114, MaskKind::None, 0, 0}, //  7 Emo
    {750, 122, MaskKind::None, 0, 0}, //  8 Female to Male
    {880, 118, MaskKind::None, 0, 0}, //  9 From Up North
    {1430, 84, MaskKind::None, 0, 0}, // 10 Male to Female
    {970, 100, MaskKind::RadioDrive, 5.5, 0}, // 11 Marine
    {1950, 68, MaskKind::None, 0, 0}, // 12 Munchkin
    {1000, 100, MaskKind::None, 0, 0}, // 13 Neutral
    {700, 134, MaskKind::None, 0, 0}, // 14 Orc
    {1000, 100, MaskKind::RingModulation, 75, 1}, // 15 Robot
    {1600, 78, MaskKind::Tremolo, 6.5, 0.28}, // 16 Scrappy Kid
    {1850, 82, MaskKind::Vibrato, 5.5, 0.65}, // 17 Unstable
    {1000, 100, MaskKind::Anonymous, 0, 0}, // 18 Anonymous
    {1220, 86, MaskKind::Alien, 0, 0}, // 19 Alien
    {1000, 100, MaskKind::Astronaut, 0, 0}, // 20 Astronaut
    {940, 106, MaskKind::Drunk, 0, 0}, // 21 Drunk
    {1450, 64, MaskKind::Duck, 0, 0}, // 22 Duck
    {1000, 100, MaskKind::Ghost, 0, 0}, // 23 Ghost
    {1000, 100, MaskKind::Glitch, 0, 0}, // 24 Glitch
    {560, 148, MaskKind::Monster, 0, 0}, // 25 Monster
    {1000, 100, MaskKind::ThreeOfMe, 0, 0}, // 26 Three of Me
    {960, 108, MaskKind::Underwater, 0, 0}, // 27 Underwater
    {2250, 72, MaskKind::MickeyMouse, 0, 0}, // 28 Mickey Mouse
    {2450, 60, MaskKind::None, 0, 0}, // 29 Chipmunk
    {1100, 60, MaskKind::None, 0, 0}, // 30 Helium
    {1700, 70, MaskKind::Baby, 0, 0}, // 31 Baby
    {1450, 126, MaskKind::Goblin, 0, 0}, // 32 Goblin
    {560, 150, MaskKind::Giant, 0, 0}, // 33 Giant
    {760, 122, MaskKind::Zombie, 0, 0}, // 34 Zombie
    {790, 134, MaskKind::DarkLord, 0, 0}, // 35 Dark Lord
    {1000, 100, MaskKind::Cyborg, 0, 0}, // 36 Cyborg
    {1000, 100, MaskKind::Megaphone, 0, 0}, // 37 Megaphone
    {1000, 100, MaskKind::PhoneCall, 0, 0}, // 38 Phone Call
    {1650, 80, MaskKind::Bumblebee, 0, 0}, // 39 Bumblebee
    {1000, 100, MaskKind::Whisper, 0, 0}, // 40 Whisper
    {720, 120, MaskKind::Stranger, 0, 0, {1.0, 0.6, 0.3, 0.15}}, // 41 Stranger
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
    return row && (row->kind != MaskKind::None || !isNeutral(row->voice));
}

} // namespace dsp
