#pragma once
// Page resets: each group restores its own fields to their defaults. The
// interface takes the actions the outcome names (status message, registry
// save, redraw and the side effects that touch other subsystems).

#include "settings/settings.h"

namespace settings {

enum class ResetGroup {
    Voice,             // page 0
    MixerBasic,        // page 1, basic tab
    MixerAdvanced,     // page 1, advanced tab
    Equalizer,         // page 2
    SpeakerSelection,  // page 3, "Speaker Selection"
    BassManagement,    // page 3, "Bass Management"
    BassBoost,         // page 3, "Bass Boost"
    VirtualCable,      // page 3, "Virtual Cable"
    SoundClip,         // page 4, "Sound Clip"
    Soundboard,        // page 4, "Soundboard (12)"
    ProgramOnMic,      // page 4, "Program on Mic"
    RecorderAndSetups, // page 4, "Recorder & Editor" and "Setups & Hotkeys"
    Appearance,        // page 5
};

struct ResetOutcome {
    const wchar_t* message = L"";
    bool saveRegistry = true; // every reset saves the registry settings
    bool saveEqualizer = false;
    bool showEnvironmentRow8 = false;
    bool releaseGlitch = false;
    bool stopSpeakerTest = false;
    bool resetSoundboard = false;
    bool refreshAppRouting = false;
    bool applyWindowLook = false; // opacity, topmost, zoom and font changed
};

ResetOutcome applyResetGroup(Settings& settings, ResetGroup group);

} // namespace settings
