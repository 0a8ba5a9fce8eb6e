#include "settings/reset_groups.h"

#include "settings/fields.h"

#include <initializer_list>

namespace settings {
namespace {

// Sets each named field to its default. The reset is one transaction, so
// each counter moves at most once, after all of its writes.
void restore(Settings& settings, std::initializer_list<std::string_view> keys)
{
    for (auto key : keys) {
        const FieldInfo* field = findField(key);
        settings.set(*field, field->defaultValue);
    }
}

void restoreRegistryOnly(Settings& settings, std::initializer_list<std::wstring_view> names)
{
    for (auto name : names) {
        const FieldInfo* field = findRegistryField(name);
        settings.set(*field, field->defaultValue);
    }
}

} // namespace

ResetOutcome applyResetGroup(Settings& settings, ResetGroup group)
{
    ResetOutcome outcome;
    Settings::Transaction transaction(settings);
    switch (group) {
    case ResetGroup::Voice:
        restore(settings,
            {"effects", "preset", "amount", "mic_level", "monitor", "wide", "raw", "ambit", "card_mic", "echo_on"});
        outcome.showEnvironmentRow8 = true;
        outcome.message = L"Restored default Ovix Settings";
        break;
    case ResetGroup::MixerBasic:
        restore(settings,
            {"mic_level", "clip_level", "app_gain", "pan", "pan_cable", "pan_mon", "app_pan", "isolate", "iso_mode",
                "iso_level", "vocal_level"});
        settings.touch(Counter::Isolation);
        outcome.message = L"Restored default Surround Mixer levels";
        break;
    case ResetGroup::MixerAdvanced:
        restore(settings,
            {"voice_mask", "voice_ratio", "voice_size", "pitch_hz", "voice_macro", "voice_speed", "voice_keep_pitch",
                "mask_on", "glitch_style", "pan", "app_pan"});
        outcome.releaseGlitch = true;
        outcome.message = L"Reset Voice Masks & Glitch";
        break;
    case ResetGroup::Equalizer:
        // Selecting built-in preset 0 ("Flat") sets every band to 0; the
        // engine has to rebuild the equalizer, so its counter moves once.
        restore(settings, {"eq_on", "eq_level", "eq_preset"});
        for (int band = 0; band < kEqBandCount; ++band)
            settings.setEqBand(band, 0);
        settings.touch(Counter::Eq);
        outcome.saveEqualizer = true;
        outcome.message = L"Reset Graphic Equalizer to Flat";
        break;
    case ResetGroup::SpeakerSelection:
        restoreRegistryOnly(settings, {L"SpkHeadphone", L"SpkTestVol"});
        restore(settings, {"monitor", "wide", "ambit", "raw"});
        outcome.stopSpeakerTest = true;
        outcome.message = L"Restored Speaker defaults";
        break;
    case ResetGroup::BassManagement:
        restore(settings, {"card_mic", "tone_on", "effects", "pan", "pan_cable", "pan_mon", "app_pan"});
        settings.touch(Counter::Tone);
        outcome.message = L"Restored Speaker defaults";
        break;
    case ResetGroup::BassBoost:
        restore(settings, {"mic_level", "eq_level", "eq_on"});
        settings.touch(Counter::Eq);
        outcome.message = L"Restored Speaker defaults";
        break;
    case ResetGroup::VirtualCable:
        outcome.message = L"Restored Speaker defaults";
        break;
    case ResetGroup::SoundClip:
        restore(
            settings, {"clip_level", "clip_speed", "clip_keep_pitch", "clip_follow_voice", "clip_hear", "clip_mic"});
        outcome.message = L"Restored Media tab defaults";
        break;
    case ResetGroup::Soundboard:
        outcome.resetSoundboard = true;
        outcome.message = L"Restored Media tab defaults";
        break;
    case ResetGroup::ProgramOnMic:
        restore(settings, {"app_gain", "app_pan", "app_only", "app_hear"});
        outcome.refreshAppRouting = true;
        outcome.message = L"Restored Media tab defaults";
        break;
    case ResetGroup::RecorderAndSetups:
        outcome.message = L"Restored Media tab defaults";
        break;
    case ResetGroup::Appearance:
        restore(settings, {"alpha", "font_bold", "font_size"});
        restoreRegistryOnly(settings, {L"UiAnim", L"UiTop", L"UiPlace", L"UiHints", L"UiZoom"});
        settings.setFont(L"Tahoma");
        outcome.applyWindowLook = true;
        outcome.message = L"Restored default Appearance & Settings";
        break;
    }
    return outcome;
}

} // namespace settings
