#pragma once
// The one process-wide record of user settings. The interface thread is the
// only writer, and it writes through the record's setters only: each clamps,
// stores, moves the change counter of its group and asks for a registry save.
// Changes of several fields (a mask choice, an equalizer preset, a setup load,
// a page reset) are one transaction: its counters move once, after all of its
// fields are written, and a reader's snapshot sees all of it or none of it.
//
// Any thread may load a single field. The engine instead copies the whole
// record once per block into a plain Snapshot (trySnapshot), which is
// coherent across transactions: a sequence number around every transaction
// tells the copy whether a write ran while it was taken.
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

inline constexpr int kEqBandCount = 7;
inline constexpr int kHotkeyCount = 10;
inline constexpr int kTextCapacity = 256; // wide characters, terminator included

enum class DeviceKind { Mic, Spk };
// The cable subsystem's two texts.
enum class CableText { Problem, EndpointName };
// The change counters: each tells the engine that a group of fields changed
// and its filters must be rebuilt.
enum class Counter { None, Eq, Tone, Isolation };
// Where a field's registry value lives.
enum class RegistryKey { None, Settings, Equalizer };

struct FieldInfo;
struct Settings;

// One value of the record. Any thread may load it; only the record's setters
// store it.
template <typename T> class FieldValue {
public:
    T load(std::memory_order order = std::memory_order_relaxed) const noexcept { return value_.load(order); }
    operator T() const noexcept { return load(); }

private:
    friend struct Settings;
    void store(T value) noexcept { value_.store(value, std::memory_order_relaxed); }
    std::atomic<T> value_{};
};

using IntField = FieldValue<int32_t>;
using FlagField = FieldValue<uint8_t>;
// A change counter: incremented at the end of a transaction that changed its
// group, never reset.
using Revision = FieldValue<uint32_t>;

// Every numeric field, with its kind (Int: 32-bit signed; Flag: a byte holding
// 0 or 1), in record order. The seven eq_bands and the ten hotkeys are arrays
// beside them.
// clang-format off
#define OVIX_SETTINGS_FIELDS(X) \
    X(Int, preset) \
    X(Int, amount) \
    X(Int, mic_level) \
    X(Int, pan) \
    X(Flag, pan_cable) \
    X(Flag, pan_mon) \
    X(Int, app_pan) \
    X(Flag, effects) \
    X(Int, echo_on) \
    X(Int, mask_on) \
    X(Flag, monitor) \
    X(Flag, wide) \
    X(Flag, raw) \
    X(Flag, ambit) \
    X(Flag, card_mic) \
    X(Flag, isolate) \
    X(Int, iso_mode) \
    X(Int, iso_level) \
    X(Int, vocal_level) \
    X(Int, gate_lo) \
    X(Int, gate_mid) \
    X(Int, gate_hi) \
    X(Int, gate_out) \
    X(Flag, tone_on) \
    X(Int, tone_lo) \
    X(Int, tone_mid) \
    X(Int, tone_hi) \
    X(Int, tone_pad_x) \
    X(Int, tone_pad_y) \
    X(Int, tone_base_lo) \
    X(Int, tone_base_mid) \
    X(Int, tone_base_hi) \
    X(Int, clip_level) \
    X(Flag, clip_hear) \
    X(Flag, clip_mic) \
    X(Flag, app_hear) \
    X(Flag, app_only) \
    X(Int, pitch_hz) \
    X(Int, voice_size) \
    X(Int, voice_macro) /* slider position only; the engine never reads it */ \
    X(Int, voice_ratio) \
    X(Int, voice_mask) \
    X(Int, app_gain) \
    X(Int, voice_speed) \
    X(Flag, voice_keep_pitch) \
    X(Int, clip_speed) \
    X(Flag, clip_keep_pitch) \
    X(Flag, clip_follow_voice) \
    X(Int, glitch_style) \
    X(Int, alpha) \
    X(Flag, font_bold) \
    X(Int, font_size) \
    X(Flag, eq_on) \
    X(Int, eq_preset) /* -1 is "Custom" */ \
    X(Int, eq_level) \
    /* Kept only in the registry. */ \
    X(Int, UiZoom) \
    X(Flag, UiAnim) \
    X(Flag, UiTop) \
    X(Flag, UiPlace) \
    X(Flag, UiHints) \
    X(Flag, WinSet) /* WinX and WinY hold a position only when set */ \
    X(Int, WinX) \
    X(Int, WinY) \
    X(Int, TakeFormat) \
    X(Int, RecSources) \
    X(Int, KeepLast) \
    X(Flag, LastQuiet) \
    X(Int, PresetTop) /* kUnset when unset */ \
    X(Int, GlitchKey) \
    X(Flag, SpkHeadphone) \
    X(Int, SpkTestVol)
// clang-format on

// The record as the engine reads it: one coherent copy per block.
struct Snapshot {
#define OVIX_SNAPSHOT_FIELD(kind, name) kind##Value name = 0;
    using IntValue = int32_t;
    using FlagValue = uint8_t;
    OVIX_SETTINGS_FIELDS(OVIX_SNAPSHOT_FIELD)
#undef OVIX_SNAPSHOT_FIELD
    std::array<IntValue, kEqBandCount> eq_bands{}; // decibels, 125 Hz first
    std::array<IntValue, kHotkeyCount> hotkeys{};  // HotLast ... HotPrevSetup, in that order
    uint32_t eqRevision = 0;
    uint32_t toneRevision = 0;
    uint32_t isolationRevision = 0;
};

// An equalizer preset, built-in or the user's: a name (a user's has at most 63
// characters) and seven band gains in decibels (-12..12), 125 Hz first.
using EqGains = std::array<int32_t, kEqBandCount>;
struct EqPreset {
    std::wstring name;
    EqGains gains{};
};

struct Settings {
    // Every field holds its default (the tables in fields.cpp) after construction.
    Settings();
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

#define OVIX_RECORD_FIELD(kind, name) kind##Field name{};
    OVIX_SETTINGS_FIELDS(OVIX_RECORD_FIELD)
#undef OVIX_RECORD_FIELD
    std::array<IntField, kEqBandCount> eq_bands{}; // decibels, 125 Hz first
    std::array<IntField, kHotkeyCount> hotkeys{};  // HotLast ... HotPrevSetup, in that order

    Revision eqRevision{};        // eq_on, eq_preset, eq_level, eq_bands
    Revision toneRevision{};      // tone_on and the tone values; every setup and registry load
    Revision isolationRevision{}; // isolate, iso_mode, iso_level, vocal_level, the gate; every registry load

    // Setters (interface thread). Each clamps the value to its field's range
    // (the load clamp, except that eq_preset may be -1, "Custom", and
    // PresetTop kUnset), stores it when it differs, and then moves its
    // counter and asks for a save of its registry key. Returns whether the
    // value changed. Inside a transaction the counters and save requests wait
    // for its end.
    bool set(const FieldInfo& field, int64_t value);
    bool set(IntField Settings::*field, int64_t value);
    bool set(FlagField Settings::*field, int64_t value);
    bool setEqBand(int band, int64_t gainDb);
    bool setHotkey(int index, int64_t code);
    // Both coordinates, or none (unset).
    void setWindowPosition(bool isSet, int32_t x, int32_t y);
    // Moves the counter once at the end of the transaction (or now, outside
    // one) even when no field of its group changed.
    void touch(Counter counter);

    // Fields changed inside one Transaction's life reach readers together:
    // the counters move once, after every field is written, and no snapshot
    // shows part of it. Transactions nest; the outermost one commits.
    class Transaction {
    public:
        // Loads from the registry pass requestSave = false: what they write is
        // what the store already holds.
        explicit Transaction(Settings& settings, bool requestSave = true);
        ~Transaction();
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;

    private:
        Settings& settings_;
        bool outerRequestSave_;
    };

    // Engine thread: copies every numeric field and counter into into as one
    // coherent whole. Gives up after a few tries while the interface thread is
    // inside a transaction (returns false, into unchanged), so the caller
    // never waits on the interface: it keeps the copy of its last block.
    bool trySnapshot(Snapshot& into) const noexcept;
    // The same, trying until it succeeds: for threads that may wait.
    Snapshot snapshot() const;

    // Save requests of the registry fields, one count per key, moved at the
    // end of each transaction that changed a field kept under that key. The
    // interface's saver compares them with the counts it saved last.
    uint32_t saveRequests(RegistryKey key) const;

    // The texts and lists, owned by the interface thread and never read by
    // the engine. The font and the clips folder ask for a save of their
    // registry key like the numeric fields; the last setup, the copy folders
    // and the user equalizer presets are written to the store by whoever
    // sets them.
    const std::wstring& font() const
    {
        return font_;
    }
    void setFont(std::wstring face);
    const std::wstring& clipsFolder() const
    {
        return clipsFolder_;
    }
    void setClipsFolder(std::wstring folder);
    const std::wstring& lastSetup() const
    {
        return lastSetup_;
    }
    void setLastSetup(std::wstring name);
    const std::vector<std::wstring>& copyFolders() const
    {
        return copyFolders_;
    }
    void setCopyFolders(std::vector<std::wstring> folders);
    // The user equalizer presets in registry order; preset-list index 10 is the first.
    const std::vector<EqPreset>& userEqPresets() const
    {
        return userEqPresets_;
    }
    void setUserEqPresets(std::vector<EqPreset> presets);

    // Any thread: the chosen endpoints and the cable texts, copied or
    // assigned under a lock held for that only. The texts are cut to 255
    // characters.
    std::wstring deviceName(DeviceKind kind) const;
    void setDeviceName(DeviceKind kind, const std::wstring& identifier);
    std::wstring cableText(CableText text) const;
    void setCableText(CableText text, const std::wstring& value);

    static constexpr int32_t kUnset = -1;
    static constexpr int32_t kCustomEqPreset = -1;

private:
    void write(const FieldInfo& field, int32_t value) noexcept;
    // A text of registry key changed: its save is asked for like a field's.
    void textChanged(RegistryKey key);
    void begin(bool requestSave) noexcept;
    void commit() noexcept;
    static constexpr int kSnapshotTries = 8;

    // Odd while a transaction is being written.
    std::atomic<uint32_t> sequence_{0};
    std::array<std::atomic<uint32_t>, 3> saveRequests_{}; // by RegistryKey
    // Interface thread only: the open transaction.
    int depth_ = 0;
    bool requestSave_ = true;
    std::array<bool, 4> countersMoved_{}; // by Counter
    std::array<bool, 3> keysChanged_{};   // by RegistryKey

    // Interface thread only.
    std::wstring font_ = L"Tahoma";
    std::wstring clipsFolder_;
    std::wstring lastSetup_;
    std::vector<std::wstring> copyFolders_;
    std::vector<EqPreset> userEqPresets_;

    mutable std::mutex deviceNameLock_; // guards the four texts below
    std::wstring mic_;                  // endpoint id of the chosen microphone
    std::wstring spk_;                  // endpoint id of the chosen output
    std::wstring cableProblem_;
    std::wstring cableEndpointName_;
};

// mic or spk: the record's deviceName and setDeviceName.
inline void setDeviceName(Settings& settings, DeviceKind kind, const std::wstring& identifier)
{
    settings.setDeviceName(kind, identifier);
}
inline std::wstring deviceName(const Settings& settings, DeviceKind kind)
{
    return settings.deviceName(kind);
}

} // namespace settings
