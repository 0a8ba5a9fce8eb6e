// The settings tables as the program promises them: every key, registry name,
// range, default and change counter is restated here independently, so that a
// change to any row of the program's tables fails a test.

#include "settings/fields.h"
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <thread>

namespace settings {
namespace {

struct Row {
    const char* key;
    const wchar_t* registryName;
    FieldKind kind;
    int32_t minimum;
    int32_t maximum;
    int32_t defaultValue;
    Counter counter;
};

constexpr auto I = FieldKind::Int;
constexpr auto F = FieldKind::Flag;

const Row kExpectedRecord[] = {
    {"preset", L"", I, 0, 14, 8, Counter::None},
    {"amount", L"", I, 0, 100, 9, Counter::None},
    {"mic_level", L"", I, 0, 1000, 100, Counter::None},
    {"pan", L"", I, -100, 100, 0, Counter::None},
    {"pan_cable", L"", F, 0, 1, 1, Counter::None},
    {"pan_mon", L"", F, 0, 1, 1, Counter::None},
    {"app_pan", L"", I, -100, 100, 0, Counter::None},
    {"effects", L"", F, 0, 1, 1, Counter::None},
    {"echo_on", L"EchoOn", I, 0, 7, 7, Counter::None},
    {"mask_on", L"MaskOn", I, 0, 7, 1, Counter::None},
    {"monitor", L"", F, 0, 1, 1, Counter::None},
    {"wide", L"", F, 0, 1, 0, Counter::None},
    {"raw", L"", F, 0, 1, 0, Counter::None},
    {"ambit", L"", F, 0, 1, 0, Counter::None},
    {"card_mic", L"", F, 0, 1, 1, Counter::None},
    {"isolate", L"Isolation", F, 0, 1, 0, Counter::Isolation},
    {"iso_mode", L"IsoMode", I, 0, 4, 4, Counter::Isolation},
    {"iso_level", L"IsoLevel", I, 0, 100, 60, Counter::Isolation},
    {"vocal_level", L"VocalLevel", I, 0, 100, 50, Counter::Isolation},
    {"gate_lo", L"GateLo", I, -120, 120, 120, Counter::Isolation},
    {"gate_mid", L"GateMid", I, -120, 120, 120, Counter::Isolation},
    {"gate_hi", L"GateHi", I, -120, 120, 120, Counter::Isolation},
    {"gate_out", L"GateOut", I, -120, 120, -50, Counter::Isolation},
    {"tone_on", L"ToneOn", F, 0, 1, 1, Counter::Tone},
    {"tone_lo", L"ToneLo", I, -240, 240, 0, Counter::Tone},
    {"tone_mid", L"ToneMid", I, -240, 240, 0, Counter::Tone},
    {"tone_hi", L"ToneHi", I, -240, 240, 0, Counter::Tone},
    {"tone_pad_x", L"TonePadX", I, -100, 100, 0, Counter::Tone},
    {"tone_pad_y", L"TonePadY", I, -100, 100, 0, Counter::Tone},
    {"tone_base_lo", L"ToneBaseLo", I, -240, 240, 0, Counter::Tone},
    {"tone_base_mid", L"ToneBaseMid", I, -240, 240, 0, Counter::Tone},
    {"tone_base_hi", L"ToneBaseHi", I, -240, 240, 0, Counter::Tone},
    {"clip_level", L"ClipLevel", I, 0, 1000, 84, Counter::None},
    {"clip_hear", L"ClipHear", F, 0, 1, 1, Counter::None},
    {"clip_mic", L"ClipToMic", F, 0, 1, 1, Counter::None},
    {"app_hear", L"AppHear", F, 0, 1, 0, Counter::None},
    {"app_only", L"AppOnly", F, 0, 1, 0, Counter::None},
    {"pitch_hz", L"PitchHz", I, -150, 150, 0, Counter::None},
    {"voice_size", L"VoiceSize", I, 60, 150, 100, Counter::None},
    {"voice_macro", L"VoiceMacro", I, -100, 100, 0, Counter::None},
    {"voice_ratio", L"VoiceRatio", I, 400, 2500, 1000, Counter::None},
    {"voice_mask", L"VoiceMask", I, -1, 41, 13, Counter::None},
    {"app_gain", L"AppGain", I, 0, 1000, 80, Counter::None},
    {"voice_speed", L"VoiceSpeed", I, 50, 200, 100, Counter::None},
    {"voice_keep_pitch", L"VoiceKeepPitch", F, 0, 1, 1, Counter::None},
    {"clip_speed", L"ClipSpeed", I, 50, 200, 100, Counter::None},
    {"clip_keep_pitch", L"ClipKeepPitch", F, 0, 1, 1, Counter::None},
    {"clip_follow_voice", L"ClipFollowVoice", F, 0, 1, 1, Counter::None},
    {"glitch_style", L"GlitchStyle", I, 0, 12, 0, Counter::None},
    {"alpha", L"UiAlpha", I, 20, 100, 100, Counter::None},
    {"font_bold", L"UiBold", F, 0, 1, 0, Counter::None},
    {"font_size", L"UiSize", I, 11, 13, 12, Counter::None},
    {"eq_on", L"Enabled", F, 0, 1, 1, Counter::Eq},
    {"eq_preset", L"Preset", I, 0, 9, 0, Counter::Eq},
    {"eq_level", L"Level", I, 0, 24, 0, Counter::Eq},
    {"eq_bands", L"Band0", I, -12, 12, 0, Counter::Eq},
    {"eq_bands", L"Band1", I, -12, 12, 0, Counter::Eq},
    {"eq_bands", L"Band2", I, -12, 12, 0, Counter::Eq},
    {"eq_bands", L"Band3", I, -12, 12, 0, Counter::Eq},
    {"eq_bands", L"Band4", I, -12, 12, 0, Counter::Eq},
    {"eq_bands", L"Band5", I, -12, 12, 0, Counter::Eq},
    {"eq_bands", L"Band6", I, -12, 12, 0, Counter::Eq},
};

const Row kExpectedRegistryOnly[] = {
    {"", L"UiZoom", I, 70, 250, 100, Counter::None},
    {"", L"UiAnim", F, 0, 1, 1, Counter::None},
    {"", L"UiTop", F, 0, 1, 0, Counter::None},
    {"", L"UiPlace", F, 0, 1, 1, Counter::None},
    {"", L"UiHints", F, 0, 1, 1, Counter::None},
    {"", L"WinX", I, -32000, 32000, 0, Counter::None},
    {"", L"WinY", I, -32000, 32000, 0, Counter::None},
    {"", L"TakeFormat", I, 0, 4, 0, Counter::None},
    {"", L"RecSources", I, 1, 3, 1, Counter::None},
    {"", L"KeepLast", I, 0, 600, 60, Counter::None},
    {"", L"LastQuiet", F, 0, 1, 1, Counter::None},
    {"", L"PresetTop", I, 0, 14, Settings::kUnset, Counter::None},
    {"", L"GlitchKey", I, 0, 0xFFFFF, 0, Counter::None},
    {"", L"SpkHeadphone", F, 0, 1, 0, Counter::None},
    {"", L"SpkTestVol", I, 5, 100, 35, Counter::None},
    {"", L"HotLast", I, 0, 0xFFFFF, 0, Counter::None},
    {"", L"HotRecord", I, 0, 0xFFFFF, 0, Counter::None},
    {"", L"HotSend", I, 0, 0xFFFFF, 0, Counter::None},
    {"", L"HotEffects", I, 0, 0xFFFFF, 0, Counter::None},
    {"", L"HotMask", I, 0, 0xFFFFF, 0, Counter::None},
    {"", L"HotEcho", I, 0, 0xFFFFF, 0, Counter::None},
    {"", L"HotIsolation", I, 0, 0xFFFFF, 0, Counter::None},
    {"", L"HotHear", I, 0, 0xFFFFF, 0, Counter::None},
    {"", L"HotNextSetup", I, 0, 0xFFFFF, 0, Counter::None},
    {"", L"HotPrevSetup", I, 0, 0xFFFFF, 0, Counter::None},
};

std::string describe(const Row& row)
{
    std::string name(row.key);
    for (const wchar_t* c = row.registryName; *c; ++c)
        name += static_cast<char>(*c);
    return name;
}

// eq_bands rows share a key, so rows with a registry name are found by it.
const FieldInfo& fieldFor(const Row& row)
{
    const FieldInfo* field = *row.registryName ? findRegistryField(row.registryName) : findField(row.key);
    EXPECT_NE(field, nullptr);
    return *field;
}

void expectTableMatches(std::span<const FieldInfo> actual, std::span<const Row> expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    const Settings fresh;
    for (size_t i = 0; i < expected.size(); ++i) {
        const Row& row = expected[i];
        const FieldInfo& field = actual[i];
        SCOPED_TRACE(describe(row));
        EXPECT_EQ(field.key, row.key);
        EXPECT_EQ(field.registryName, std::wstring_view(row.registryName));
        EXPECT_EQ(field.kind, row.kind);
        EXPECT_EQ(field.minimum, row.minimum);
        EXPECT_EQ(field.maximum, row.maximum);
        EXPECT_EQ(field.counter, row.counter);
        EXPECT_EQ(field.load(fresh), row.defaultValue) << "default of a new record";
    }
}

TEST(SettingsTables, EveryRecordFieldHasItsKeyRangeDefaultAndCounterInFileOrder)
{
    expectTableMatches(recordFields(), kExpectedRecord);
}

TEST(SettingsTables, EveryRegistryOnlyFieldHasItsRangeAndDefault)
{
    expectTableMatches(registryOnlyFields(), kExpectedRegistryOnly);
}

TEST(SettingsTables, ANewRecordHoldsTheDefaultsOfItsStringsAndUnsetPositions)
{
    const Settings s;
    EXPECT_EQ(s.font(), L"Tahoma");
    EXPECT_TRUE(s.deviceName(settings::DeviceKind::Mic).empty());
    EXPECT_TRUE(s.deviceName(settings::DeviceKind::Spk).empty());
    EXPECT_TRUE(s.lastSetup().empty());
    EXPECT_TRUE(s.clipsFolder().empty());
    EXPECT_TRUE(s.copyFolders().empty());
    EXPECT_EQ(s.WinSet.load(), 0);
    EXPECT_EQ(s.PresetTop.load(), Settings::kUnset);
    EXPECT_EQ(s.eqRevision.load(), 0u);
    EXPECT_EQ(s.toneRevision.load(), 0u);
    EXPECT_EQ(s.isolationRevision.load(), 0u);
    // The named members and the table rows are the same storage.
    EXPECT_EQ(s.voice_mask.load(), 13);
    EXPECT_EQ(s.gate_out.load(), -50);
    EXPECT_EQ(s.KeepLast.load(), 60);
}

TEST(SettingsClamp, EveryRangeClampsAtAndBeyondBothEnds)
{
    auto check = [](std::span<const Row> rows) {
        for (const Row& row : rows) {
            SCOPED_TRACE(describe(row));
            if (row.kind == FieldKind::Flag)
                continue;
            const FieldInfo& field = fieldFor(row);
            EXPECT_EQ(clampField(field, row.minimum), row.minimum);
            EXPECT_EQ(clampField(field, row.maximum), row.maximum);
            EXPECT_EQ(clampField(field, int64_t{row.minimum} - 1), row.minimum);
            EXPECT_EQ(clampField(field, int64_t{row.maximum} + 1), row.maximum);
            EXPECT_EQ(clampField(field, std::numeric_limits<int64_t>::min()), row.minimum);
            EXPECT_EQ(clampField(field, std::numeric_limits<int64_t>::max()), row.maximum);
        }
    };
    check(kExpectedRecord);
    check(kExpectedRegistryOnly);
}

TEST(SettingsClamp, FlagsReadAnyNonZeroNumberAsOne)
{
    for (const Row& row : kExpectedRecord) {
        if (row.kind != FieldKind::Flag)
            continue;
        SCOPED_TRACE(row.key);
        const FieldInfo& field = *findField(row.key);
        EXPECT_EQ(clampField(field, 0), 0);
        EXPECT_EQ(clampField(field, 1), 1);
        EXPECT_EQ(clampField(field, 5), 1);
        EXPECT_EQ(clampField(field, -3), 1);
    }
}

TEST(SettingsClamp, LoadRulesFromTheFileExamples)
{
    EXPECT_EQ(clampField(*findField("voice_size"), 5), 60);
    EXPECT_EQ(clampField(*findField("voice_size"), 500), 150);
    EXPECT_EQ(clampField(*findField("alpha"), 0), 20);
    EXPECT_EQ(clampField(*findField("font_size"), 0), 11);
    EXPECT_EQ(clampField(*findField("font_size"), 10), 11);
    EXPECT_EQ(clampField(*findField("font_size"), 99), 13);
    EXPECT_EQ(clampField(*findField("pan_cable"), 5), 1);
    EXPECT_EQ(clampField(*findField("preset"), -4), 0);
    EXPECT_EQ(clampField(*findField("preset"), 15), 14);
}

TEST(SettingsClamp, EqPresetNeverLoadsCustomAndTopsOutAtTheUserPresets)
{
    const FieldInfo& preset = *findField("eq_preset");
    EXPECT_EQ(clampField(preset, -1, 2), 0);
    EXPECT_EQ(clampField(preset, 50, 2), 11);
    EXPECT_EQ(clampField(preset, 50, 0), 9);
    EXPECT_EQ(clampField(preset, 10, 1), 10);
}

TEST(SettingsClamp, KeepLastAcceptsOnlyTheListedLengths)
{
    for (int32_t seconds : {0, 5, 10, 15, 20, 30, 45, 60, 90, 120, 180, 240, 300, 360, 420, 480, 540, 600})
        EXPECT_TRUE(isAllowedKeepLast(seconds)) << seconds;
    for (int32_t seconds : {-5, 1, 50, 59, 61, 599, 601, 700})
        EXPECT_FALSE(isAllowedKeepLast(seconds)) << seconds;
}

// A value in range that differs from the default.
int32_t otherValue(const FieldInfo& field)
{
    return field.defaultValue == field.maximum ? field.minimum : field.maximum;
}

TEST(ChangeCounters, EachWriteMovesExactlyItsGroupsCounterOnce)
{
    for (const Row& row : kExpectedRecord) {
        SCOPED_TRACE(describe(row));
        Settings s;
        const FieldInfo& field = fieldFor(row);
        const uint32_t eq = s.eqRevision, tone = s.toneRevision, iso = s.isolationRevision;
        EXPECT_TRUE(s.set(field, otherValue(field)));
        EXPECT_EQ(s.eqRevision - eq, row.counter == Counter::Eq ? 1u : 0u);
        EXPECT_EQ(s.toneRevision - tone, row.counter == Counter::Tone ? 1u : 0u);
        EXPECT_EQ(s.isolationRevision - iso, row.counter == Counter::Isolation ? 1u : 0u);

        // Writing the value it already holds is no change.
        const uint32_t before = s.eqRevision + s.toneRevision + s.isolationRevision;
        EXPECT_FALSE(s.set(field, otherValue(field)));
        EXPECT_EQ(s.eqRevision + s.toneRevision + s.isolationRevision, before);
    }
}

TEST(ChangeCounters, SetFieldStoresTheClampedValue)
{
    Settings s;
    EXPECT_TRUE(s.set(*findField("gate_out"), 999));
    EXPECT_EQ(s.gate_out.load(), 120);
    EXPECT_TRUE(s.set(*findField("monitor"), 0));
    EXPECT_EQ(s.monitor.load(), 0);
    EXPECT_TRUE(s.set(*findField("monitor"), 7));
    EXPECT_EQ(s.monitor.load(), 1);
}

TEST(DeviceNames, AssignAndCopyUnderTheLockFromTwoThreads)
{
    Settings s;
    const std::wstring a(200, L'a'), b(200, L'b');
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i)
            setDeviceName(s, DeviceKind::Mic, i % 2 ? a : b);
    });
    for (int i = 0; i < 2000; ++i) {
        const std::wstring seen = deviceName(s, DeviceKind::Mic);
        ASSERT_TRUE(seen.empty() || seen == a || seen == b);
    }
    writer.join();
    setDeviceName(s, DeviceKind::Spk, L"{0.0.0.00000000}.{spk}");
    EXPECT_EQ(deviceName(s, DeviceKind::Spk), L"{0.0.0.00000000}.{spk}");
    EXPECT_NE(deviceName(s, DeviceKind::Mic), deviceName(s, DeviceKind::Spk));
}

TEST(DeviceNames, StatusTextsKeepAtMost255Characters)
{
    Settings s;
    s.setCableText(settings::CableText::EndpointName, std::wstring(400, L'x'));
    EXPECT_EQ(s.cableText(settings::CableText::EndpointName).size(), 255u);
    s.setCableText(settings::CableText::Problem, L"Virtual cable not installed");
    EXPECT_EQ(s.cableText(settings::CableText::Problem), L"Virtual cable not installed");
}

} // namespace
} // namespace settings
