#pragma once
// The one process-wide record of user settings. The interface thread is the
// only writer; the engine reads each field once per block. Every numeric field
// is its own atomic 32-bit value and every flag an atomic byte, so a reader
// sees the old or the new value, never half of one. Groups of fields that the
// engine turns into filters are guarded by change counters, not locks.
//
// Field names are the setup-file keys; fields kept only in the registry carry
// their registry value names.

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace settings {

using IntField = std::atomic<int32_t>;
using FlagField = std::atomic<uint8_t>;
using Revision = std::atomic<uint32_t>;

inline constexpr int kEqBandCount = 7;
inline constexpr int kHotkeyCount = 10;
inline constexpr int kTextCapacity = 256; // wide characters, terminator included

enum class DeviceKind { Mic, Spk };

// A user equalizer preset: a name of at most 63 characters and seven band
// gains in decibels (-12..12), 125 Hz first.
struct EqPreset {
    std::wstring name;
    std::array<int32_t, kEqBandCount> gains{};
};

struct Settings {
    // Every field holds its default (the tables in fields.cpp) after construction.
    Settings();
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    // Audio and routing.
    IntField preset{};
    IntField amount{};
    IntField mic_level{};
    IntField pan{};
    FlagField pan_cable{};
    FlagField pan_mon{};
    IntField app_pan{};
    FlagField effects{};
    IntField echo_on{};
    IntField mask_on{};
    FlagField monitor{};
    FlagField wide{};
    FlagField raw{};
    FlagField ambit{};
    FlagField card_mic{};
    FlagField isolate{};
    IntField iso_mode{};
    IntField iso_level{};
    IntField vocal_level{};
    IntField gate_lo{};
    IntField gate_mid{};
    IntField gate_hi{};
    IntField gate_out{};
    FlagField tone_on{};
    IntField tone_lo{};
    IntField tone_mid{};
    IntField tone_hi{};
    IntField tone_pad_x{};
    IntField tone_pad_y{};
    IntField tone_base_lo{};
    IntField tone_base_mid{};
    IntField tone_base_hi{};
    IntField clip_level{};
    FlagField clip_hear{};
    FlagField clip_mic{};
    FlagField app_hear{};
    FlagField app_only{};
    IntField pitch_hz{};
    IntField voice_size{};
    IntField voice_macro{}; // slider position only; the engine never reads it
    IntField voice_ratio{};
    IntField voice_mask{};
    IntField app_gain{};
    IntField voice_speed{};
    FlagField voice_keep_pitch{};
    IntField clip_speed{};
    FlagField clip_keep_pitch{};
    FlagField clip_follow_voice{};
    IntField glitch_style{};
    IntField alpha{};
    FlagField font_bold{};
    IntField font_size{};
    FlagField eq_on{};
    IntField eq_preset{}; // -1 is "Custom"
    IntField eq_level{};
    std::array<IntField, kEqBandCount> eq_bands{}; // decibels, 125 Hz first

    // Kept only in the registry.
    IntField UiZoom{};
    FlagField UiAnim{};
    FlagField UiTop{};
    FlagField UiPlace{};
    FlagField UiHints{};
    FlagField WinSet{}; // WinX and WinY hold a position only when set
    IntField WinX{};
    IntField WinY{};
    IntField TakeFormat{};
    IntField RecSources{};
    IntField KeepLast{};
    FlagField LastQuiet{};
    IntField PresetTop{}; // kUnset when unset
    IntField GlitchKey{};
    FlagField SpkHeadphone{};
    IntField SpkTestVol{};
    std::array<IntField, kHotkeyCount> hotkeys{}; // HotLast ... HotPrevSetup, in that order

    // Change counters: incremented after the write, never reset.
    Revision eqRevision{};
    Revision toneRevision{};
    Revision isolationRevision{};

    // Owned by the interface thread; never read elsewhere.
    std::wstring font;
    std::wstring ClipsFolder;
    std::wstring LastSetup;
    std::vector<std::wstring> CopyFolders;
    // The user equalizer presets in registry order; preset-list index 10 is the first.
    std::vector<EqPreset> userEqPresets;

    // Guards mic, spk and the three status texts; held only to copy or assign.
    mutable std::mutex deviceNameLock;
    std::wstring mic;               // endpoint id of the chosen microphone
    std::wstring spk;               // endpoint id of the chosen output
    std::wstring engineStatusText;  // at most 255 characters
    std::wstring cableProblem;      // at most 255 characters
    std::wstring cableEndpointName; // at most 255 characters

    static constexpr int32_t kUnset = -1;
};

// mic or spk, assigned and copied under deviceNameLock.
void setDeviceName(Settings& settings, DeviceKind kind, const std::wstring& identifier);
std::wstring deviceName(const Settings& settings, DeviceKind kind);
// The status texts, cut to 255 characters, under deviceNameLock.
void setLockedText(Settings& settings, std::wstring Settings::*text, const std::wstring& value);
std::wstring lockedText(const Settings& settings, std::wstring Settings::*text);

} // namespace settings
