#pragma once
// The mask channel engine's kinds of processing, named, by family. The numbers
// are the mask table's kind column (and what a stored setup means by them).

namespace dsp {

enum class MaskKind : int {
    None = 0, // passes the signal through

    // Light kinds: per-sample effects each channel of a stereo stream runs on its own.
    RingModulation = 1,
    Tremolo = 2,
    RadioDrive = 3,
    Vibrato = 4,

    // The extended kinds, on one (mono or mid) signal.
    // The spectral engine.
    Anonymous = 5,
    Ghost = 10,
    Whisper = 25,
    // The vibrato delay: a modulated read of the voice's recent past.
    Alien = 6,
    Drunk = 8,
    Underwater = 14,
    Baby = 16,
    Zombie = 19,
    // Filters, shaped by drives and amplitude modulation.
    Duck = 9,
    Monster = 12,
    MickeyMouse = 15,
    Goblin = 17,
    Bumblebee = 24,
    Stranger = 26,
    // Echoes and combs.
    Giant = 18,
    DarkLord = 20,
    Cyborg = 21,
    Megaphone = 22,
    // Lines: a walkie-talkie and a telephone.
    Astronaut = 7,
    PhoneCall = 23,
    // Events and extra voices.
    Glitch = 11,
    ThreeOfMe = 13,
};

inline constexpr int kMaskKindCount = 27; // kinds 0..26
inline constexpr int kFirstExtendedKind = 5;

// Kinds outside 0..26 read as the nearest end.
constexpr MaskKind maskKindOf(int kind) noexcept
{
    return static_cast<MaskKind>(kind < 0 ? 0 : kind > kMaskKindCount - 1 ? kMaskKindCount - 1 : kind);
}
constexpr bool isExtended(MaskKind kind) noexcept
{
    return static_cast<int>(kind) >= kFirstExtendedKind;
}
constexpr bool usesSpectralEngine(MaskKind kind) noexcept
{
    return kind == MaskKind::Anonymous || kind == MaskKind::Ghost || kind == MaskKind::Whisper;
}
// The kinds whose processing starts on word onsets (blips, stumbles, glitch events).
constexpr bool usesOnsets(MaskKind kind) noexcept
{
    return kind == MaskKind::Alien || kind == MaskKind::Drunk || kind == MaskKind::Glitch;
}

} // namespace dsp
