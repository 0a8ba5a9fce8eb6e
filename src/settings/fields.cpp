#include "settings/fields.h"

#include <algorithm>
#include <iterator>

namespace settings {
namespace {

constexpr auto S = RegistryKey::Settings;
constexpr auto E = RegistryKey::Equalizer;
constexpr auto N = RegistryKey::None;

// One row of a table. Slots are plain functions so that rows can name array
// elements as well as members.
#define OVIX_INT(key, reg, where, lo, hi, def, counter, member)                                                        \
    FieldInfo                                                                                                          \
    {                                                                                                                  \
        key, reg, where, FieldKind::Int, lo, hi, def, Counter::counter,                                                \
            [](Settings& s) -> IntField* { return &s.member; }, nullptr                                                \
    }
#define OVIX_FLAG(key, reg, where, def, counter, member)                                                               \
    FieldInfo                                                                                                          \
    {                                                                                                                  \
        key, reg, where, FieldKind::Flag, 0, 1, def, Counter::counter, nullptr,                                        \
            [](Settings& s) -> FlagField* { return &s.member; }                                                        \
    }

const FieldInfo kRecordFields[] = {
    OVIX_INT("preset", L"", N, 0, 14, 8, None, preset),
    OVIX_INT("amount", L"", N, 0, 100, 9, None, amount),
    OVIX_INT("mic_level", L"", N, 0, 1000, 100, None, mic_level),
    OVIX_INT("pan", L"", N, -100, 100, 0, None, pan),
    OVIX_FLAG("pan_cable", L"", N, 1, None, pan_cable),
    OVIX_FLAG("pan_mon", L"", N, 1, None, pan_mon),
    OVIX_INT("app_pan", L"", N, -100, 100, 0, None, app_pan),
    OVIX_FLAG("effects", L"", N, 1, None, effects),
    OVIX_INT("echo_on", L"EchoOn", S, 0, 7, 7, None, echo_on),
    OVIX_INT("mask_on", L"MaskOn", S, 0, 7, 1, None, mask_on),
    OVIX_FLAG("monitor", L"", N, 1, None, monitor),
    OVIX_FLAG("wide", L"", N, 0, None, wide),
    OVIX_FLAG("raw", L"", N, 0, None, raw),
    OVIX_FLAG("ambit", L"", N, 0, None, ambit),
    OVIX_FLAG("card_mic", L"", N, 1, None, card_mic),
    OVIX_FLAG("isolate", L"Isolation", S, 0, Isolation, isolate),
    OVIX_INT("iso_mode", L"IsoMode", S, 0, 4, 4, Isolation, iso_mode),
    OVIX_INT("iso_level", L"IsoLevel", S, 0, 100, 60, Isolation, iso_level),
    OVIX_INT("vocal_level", L"VocalLevel", S, 0, 100, 50, Isolation, vocal_level),
    OVIX_INT("gate_lo", L"GateLo", S, -120, 120, 120, Isolation, gate_lo),
    OVIX_INT("gate_mid", L"GateMid", S, -120, 120, 120, Isolation, gate_mid),
    OVIX_INT("gate_hi", L"GateHi", S, -120, 120, 120, Isolation, gate_hi),
    OVIX_INT("gate_out", L"GateOut", S, -120, 120, -50, Isolation, gate_out),
    OVIX_FLAG("tone_on", L"ToneOn", S, 1, Tone, tone_on),
    OVIX_INT("tone_lo", L"ToneLo", S, -240, 240, 0, Tone, tone_lo),
    OVIX_INT("tone_mid", L"ToneMid", S, -240, 240, 0, Tone, tone_mid),
    OVIX_INT("tone_hi", L"ToneHi", S, -240, 240, 0, Tone, tone_hi),
    OVIX_INT("tone_pad_x", L"TonePadX", S, -100, 100, 0, Tone, tone_pad_x),
    OVIX_INT("tone_pad_y", L"TonePadY", S, -100, 100, 0, Tone, tone_pad_y),
    OVIX_INT("tone_base_lo", L"ToneBaseLo", S, -240, 240, 0, Tone, tone_base_lo),
    OVIX_INT("tone_base_mid", L"ToneBaseMid", S, -240, 240, 0, Tone, tone_base_mid),
    OVIX_INT("tone_base_hi", L"ToneBaseHi", S, -240, 240, 0, Tone, tone_base_hi),
    OVIX_INT("clip_level", L"ClipLevel", S, 0, 1000, 84, None, clip_level),
    OVIX_FLAG("clip_hear", L"ClipHear", S, 1, None, clip_hear),
    OVIX_FLAG("clip_mic", L"ClipToMic", S, 1, None, clip_mic),
    OVIX_FLAG("app_hear", L"AppHear", S, 0, None, app_hear),
    OVIX_FLAG("app_only", L"AppOnly", S, 0, None, app_only),
    OVIX_INT("pitch_hz", L"PitchHz", S, -150, 150, 0, None, pitch_hz),
    OVIX_INT("voice_size", L"VoiceSize", S, 60, 150, 100, None, voice_size),
    OVIX_INT("voice_macro", L"VoiceMacro", S, -100, 100, 0, None, voice_macro),
    OVIX_INT("voice_ratio", L"VoiceRatio", S, 400, 2500, 1000, None, voice_ratio),
    OVIX_INT("voice_mask", L"VoiceMask", S, -1, 41, 13, None, voice_mask),
    OVIX_INT("app_gain", L"AppGain", S, 0, 1000, 80, None, app_gain),
    OVIX_INT("voice_speed", L"VoiceSpeed", S, 50, 200, 100, None, voice_speed),
    OVIX_FLAG("voice_keep_pitch", L"VoiceKeepPitch", S, 1, None, voice_keep_pitch),
    OVIX_INT("clip_speed", L"ClipSpeed", S, 50, 200, 100, None, clip_speed),
    OVIX_FLAG("clip_keep_pitch", L"ClipKeepPitch", S, 1, None, clip_keep_pitch),
    OVIX_FLAG("clip_follow_voice", L"ClipFollowVoice", S, 1, None, clip_follow_voice),
    OVIX_INT("glitch_style", L"GlitchStyle", S, 0, 12, 0, None, glitch_style),
    OVIX_INT("alpha", L"UiAlpha", S, 20, 100, 100, None, alpha),
    OVIX_FLAG("font_bold", L"UiBold", S, 0, None, font_bold),
    OVIX_INT("font_size", L"UiSize", S, 11, 13, 12, None, font_size),
    OVIX_FLAG("eq_on", L"Enabled", E, 1, Eq, eq_on),
    OVIX_INT("eq_preset", L"Preset", E, 0, 9, 0, Eq, eq_preset), // the top grows with the user presets
    OVIX_INT("eq_level", L"Level", E, 0, 24, 0, Eq, eq_level),
    OVIX_INT("eq_bands", L"Band0", E, -12, 12, 0, Eq, eq_bands[0]),
    OVIX_INT("eq_bands", L"Band1", E, -12, 12, 0, Eq, eq_bands[1]),
    OVIX_INT("eq_bands", L"Band2", E, -12, 12, 0, Eq, eq_bands[2]),
    OVIX_INT("eq_bands", L"Band3", E, -12, 12, 0, Eq, eq_bands[3]),
    OVIX_INT("eq_bands", L"Band4", E, -12, 12, 0, Eq, eq_bands[4]),
    OVIX_INT("eq_bands", L"Band5", E, -12, 12, 0, Eq, eq_bands[5]),
    OVIX_INT("eq_bands", L"Band6", E, -12, 12, 0, Eq, eq_bands[6]),
};

const FieldInfo kRegistryOnlyFields[] = {
    OVIX_INT("", L"UiZoom", S, 70, 250, 100, None, UiZoom),
    OVIX_FLAG("", L"UiAnim", S, 1, None, UiAnim),
    OVIX_FLAG("", L"UiTop", S, 0, None, UiTop),
    OVIX_FLAG("", L"UiPlace", S, 1, None, UiPlace),
    OVIX_FLAG("", L"UiHints", S, 1, None, UiHints),
    OVIX_INT("", L"WinX", S, -32000, 32000, 0, None, WinX),
    OVIX_INT("", L"WinY", S, -32000, 32000, 0, None, WinY),
    OVIX_INT("", L"TakeFormat", S, 0, 4, 0, None, TakeFormat),
    OVIX_INT("", L"RecSources", S, 1, 3, 1, None, RecSources),
    OVIX_INT("", L"KeepLast", S, 0, 600, 60, None, KeepLast),
    OVIX_FLAG("", L"LastQuiet", S, 1, None, LastQuiet),
    OVIX_INT("", L"PresetTop", S, 0, 14, Settings::kUnset, None, PresetTop),
    OVIX_INT("", L"GlitchKey", S, 0, 0xFFFFF, 0, None, GlitchKey),
    OVIX_FLAG("", L"SpkHeadphone", S, 0, None, SpkHeadphone),
    OVIX_INT("", L"SpkTestVol", S, 5, 100, 35, None, SpkTestVol),
    OVIX_INT("", L"HotLast", S, 0, 0xFFFFF, 0, None, hotkeys[0]),
    OVIX_INT("", L"HotRecord", S, 0, 0xFFFFF, 0, None, hotkeys[1]),
    OVIX_INT("", L"HotSend", S, 0, 0xFFFFF, 0, None, hotkeys[2]),
    OVIX_INT("", L"HotEffects", S, 0, 0xFFFFF, 0, None, hotkeys[3]),
    OVIX_INT("", L"HotMask", S, 0, 0xFFFFF, 0, None, hotkeys[4]),
    OVIX_INT("", L"HotEcho", S, 0, 0xFFFFF, 0, None, hotkeys[5]),
    OVIX_INT("", L"HotIsolation", S, 0, 0xFFFFF, 0, None, hotkeys[6]),
    OVIX_INT("", L"HotHear", S, 0, 0xFFFFF, 0, None, hotkeys[7]),
    OVIX_INT("", L"HotNextSetup", S, 0, 0xFFFFF, 0, None, hotkeys[8]),
    OVIX_INT("", L"HotPrevSetup", S, 0, 0xFFFFF, 0, None, hotkeys[9]),
};

#undef OVIX_INT
#undef OVIX_FLAG

} // namespace

const std::wstring_view kHotkeyNames[kHotkeyCount] = {L"HotLast", L"HotRecord", L"HotSend", L"HotEffects", L"HotMask",
    L"HotEcho", L"HotIsolation", L"HotHear", L"HotNextSetup", L"HotPrevSetup"};

int32_t FieldInfo::load(const Settings& settings) const
{
    // The slots only hand out addresses; reading through them does not write.
    auto& mutableSettings = const_cast<Settings&>(settings);
    if (kind == FieldKind::Flag)
        return flagSlot(mutableSettings)->load(std::memory_order_relaxed);
    return intSlot(mutableSettings)->load(std::memory_order_relaxed);
}

std::span<const FieldInfo> recordFields()
{
    return kRecordFields;
}

std::span<const FieldInfo> registryOnlyFields()
{
    return kRegistryOnlyFields;
}

const FieldInfo* findField(std::string_view key)
{
    for (const auto& field : kRecordFields) {
        if (field.key == key)
            return &field;
    }
    return nullptr;
}

const FieldInfo* findRegistryField(std::wstring_view registryName)
{
    for (std::span<const FieldInfo> table : {recordFields(), registryOnlyFields()}) {
        for (const auto& field : table) {
            if (!field.registryName.empty() && field.registryName == registryName)
                return &field;
        }
    }
    return nullptr;
}

int32_t clampField(const FieldInfo& field, int64_t value, int userEqPresets)
{
    if (field.kind == FieldKind::Flag)
        return value != 0 ? 1 : 0;
    int64_t top = field.maximum;
    if (field.key == "eq_preset")
        top = 9 + std::max(0, userEqPresets);
    return static_cast<int32_t>(std::clamp<int64_t>(value, field.minimum, top));
}

bool isAllowedKeepLast(int32_t seconds)
{
    return std::find(std::begin(kKeepLastLengths), std::end(kKeepLastLengths), seconds) != std::end(kKeepLastLengths);
}

} // namespace settings
