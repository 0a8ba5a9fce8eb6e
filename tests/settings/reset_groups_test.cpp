// Page resets restore exactly their own fields, say their own message, and
// move the change counters they name once.

#include "settings/fields.h"
#include "settings/reset_groups.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace settings {
namespace {

// Moves every numeric field of the record away from its default.
void scramble(Settings& s)
{
    for (auto table : {recordFields(), registryOnlyFields()}) {
        for (const auto& field : table)
            s.set(field, field.defaultValue == field.maximum ? field.minimum : field.maximum);
    }
    s.setFont(L"Verdana");
}

std::string nameOf(const FieldInfo& field)
{
    if (!field.key.empty() && field.key != "eq_bands")
        return std::string(field.key);
    std::string name;
    for (wchar_t c : field.registryName)
        name += static_cast<char>(c);
    return name;
}

struct Case {
    ResetGroup group;
    std::set<std::string> restored; // keys, or registry names for registry-only fields and bands
    std::wstring message;
    int eq = 0, tone = 0, isolation = 0;
};

const Case kCases[] = {
    {ResetGroup::Voice,
        {"effects", "preset", "amount", "mic_level", "monitor", "wide", "raw", "ambit", "card_mic", "echo_on"},
        L"Restored default Ovix Settings"},
    {ResetGroup::MixerBasic,
        {"mic_level", "clip_level", "app_gain", "pan", "pan_cable", "pan_mon", "app_pan", "isolate", "iso_mode",
            "iso_level", "vocal_level"},
        L"Restored default Surround Mixer levels", 0, 0, 1},
    {ResetGroup::MixerAdvanced,
        {"voice_mask", "voice_ratio", "voice_size", "pitch_hz", "voice_macro", "voice_speed", "voice_keep_pitch",
            "mask_on", "glitch_style", "pan", "app_pan"},
        L"Reset Voice Masks & Glitch"},
    {ResetGroup::Equalizer,
        {"eq_on", "eq_level", "eq_preset", "Band0", "Band1", "Band2", "Band3", "Band4", "Band5", "Band6"},
        L"Reset Graphic Equalizer to Flat", 1},
    {ResetGroup::SpeakerSelection, {"SpkHeadphone", "SpkTestVol", "monitor", "wide", "ambit", "raw"},
        L"Restored Speaker defaults"},
    {ResetGroup::BassManagement, {"card_mic", "tone_on", "effects", "pan", "pan_cable", "pan_mon", "app_pan"},
        L"Restored Speaker defaults", 0, 1, 0},
    {ResetGroup::BassBoost, {"mic_level", "eq_level", "eq_on"}, L"Restored Speaker defaults", 1},
    {ResetGroup::VirtualCable, {}, L"Restored Speaker defaults"},
    {ResetGroup::SoundClip,
        {"clip_level", "clip_speed", "clip_keep_pitch", "clip_follow_voice", "clip_hear", "clip_mic"},
        L"Restored Media tab defaults"},
    {ResetGroup::Soundboard, {}, L"Restored Media tab defaults"},
    {ResetGroup::ProgramOnMic, {"app_gain", "app_pan", "app_only", "app_hear"}, L"Restored Media tab defaults"},
    {ResetGroup::RecorderAndSetups, {}, L"Restored Media tab defaults"},
    {ResetGroup::Appearance, {"alpha", "UiAnim", "UiTop", "UiPlace", "UiHints", "font_bold", "font_size", "UiZoom"},
        L"Restored default Appearance & Settings"},
};

TEST(ResetGroups, EachGroupRestoresOnlyItsOwnFields)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(static_cast<int>(c.group));
        Settings s;
        scramble(s);
        const uint32_t eq = s.eqRevision, tone = s.toneRevision, iso = s.isolationRevision;

        const ResetOutcome outcome = applyResetGroup(s, c.group);

        EXPECT_EQ(std::wstring(outcome.message), c.message);
        EXPECT_TRUE(outcome.saveRegistry);
        for (auto table : {recordFields(), registryOnlyFields()}) {
            for (const auto& field : table) {
                const std::string name = nameOf(field);
                const bool restored = c.restored.count(name) != 0;
                const int32_t scrambled = field.defaultValue == field.maximum ? field.minimum : field.maximum;
                EXPECT_EQ(field.load(s), restored ? field.defaultValue : scrambled) << name;
            }
        }
        EXPECT_EQ(s.font(), c.group == ResetGroup::Appearance ? L"Tahoma" : L"Verdana");
        EXPECT_EQ(s.eqRevision - eq, static_cast<uint32_t>(c.eq));
        EXPECT_EQ(s.toneRevision - tone, static_cast<uint32_t>(c.tone));
        EXPECT_EQ(s.isolationRevision - iso, static_cast<uint32_t>(c.isolation));
    }
}

TEST(ResetGroups, SideEffectsAreNamedForTheInterfaceToTake)
{
    Settings s;
    EXPECT_TRUE(applyResetGroup(s, ResetGroup::Voice).showEnvironmentRow8);
    EXPECT_TRUE(applyResetGroup(s, ResetGroup::MixerAdvanced).releaseGlitch);
    EXPECT_TRUE(applyResetGroup(s, ResetGroup::SpeakerSelection).stopSpeakerTest);
    EXPECT_TRUE(applyResetGroup(s, ResetGroup::Soundboard).resetSoundboard);
    EXPECT_TRUE(applyResetGroup(s, ResetGroup::ProgramOnMic).refreshAppRouting);
    EXPECT_TRUE(applyResetGroup(s, ResetGroup::Appearance).applyWindowLook);
    EXPECT_TRUE(applyResetGroup(s, ResetGroup::Equalizer).saveEqualizer);
    const ResetOutcome cable = applyResetGroup(s, ResetGroup::VirtualCable);
    EXPECT_TRUE(cable.saveRegistry);
    EXPECT_FALSE(cable.releaseGlitch || cable.stopSpeakerTest || cable.resetSoundboard || cable.refreshAppRouting);
}

TEST(ResetGroups, MixerBasicResetRaisesIsolationRevisionByOneEvenWhenNothingChanged)
{
    Settings s;
    const uint32_t before = s.isolationRevision;
    applyResetGroup(s, ResetGroup::MixerBasic);
    EXPECT_EQ(s.isolationRevision, before + 1);
}

} // namespace
} // namespace settings
