// The hotkeys on the simulated key state and hotkey service: key names, the
// capture of each kind of binding, the conflict rule, registration with the
// system, the actions a hotkey runs, and the bindings' registry round trip.

#include "soundboard/hotkeys.h"

#include "engine/sound_player.h"
#include "platform/sim/manual_clock.h"
#include "platform/sim/memory_registry.h"
#include "platform/sim/sim_hotkeys.h"
#include "platform/sim/sim_keys.h"
#include "settings/registry_settings.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace {

using platform::kKeyAlt;
using platform::kKeyControl;
using platform::kKeyShift;
using platform::kKeyWin;
using soundboard::CaptureInput;
using soundboard::CaptureKind;
using soundboard::CaptureTarget;

constexpr uint16_t kCtrl = platform::kVkControl;
constexpr uint16_t kAlt = platform::kVkAlt;
constexpr uint16_t kShift = platform::kVkShift;
constexpr uint16_t kF1 = 112, kF2 = 113, kF5 = 116, kF9 = 120, kNum5 = 101, kQ = 'Q';
constexpr uint16_t kBackspace = 8, kEscape = 27, kDelete = 46;

constexpr CaptureTarget kRecordRow{CaptureKind::Action, soundboard::kActionRecord};
constexpr CaptureTarget kGlitch{CaptureKind::Glitch};
constexpr CaptureTarget kStopAll{CaptureKind::StopAll};
constexpr CaptureTarget pad(int index)
{
    return {CaptureKind::Pad, index};
}

struct RecordingActions final : soundboard::HotkeyActions {
    void saveLast() override { calls.push_back(L"saveLast"); }
    void toggleRecording() override { calls.push_back(L"record"); }
    void toggleSendToMic() override { calls.push_back(L"send"); }
    void cycleSetup(int step) override { calls.push_back(step > 0 ? L"next" : L"previous"); }
    void redraw() override { ++redraws; }
    std::vector<std::wstring> calls;
    int redraws = 0;
};

class Hotkeys : public ::testing::Test {
protected:
    void SetUp() override { system.setKeyName(kQ, L"Q"); }

    // One key of a capture with the modifiers held at that moment.
    bool press(uint16_t key, std::initializer_list<uint16_t> held = {}, CaptureInput input = CaptureInput::KeyDown)
    {
        for (uint16_t m : held)
            keys.press(m);
        const bool consumed = hotkeys.handleCaptureInput(input, key);
        keys.releaseAll();
        return consumed;
    }
    void capture(CaptureTarget target, uint16_t key, std::initializer_list<uint16_t> held = {})
    {
        hotkeys.startCapture(target);
        press(key, held);
    }
    // A pad with a sound file (not loaded: no runner is given).
    void fillPad(int index, const std::wstring& path)
    {
        board.addFiles({path});
        board.selectedRow = static_cast<int>(board.library().size()) - 1;
        board.assignLibraryItem(index);
    }
    std::wstring hotkeysStatus() const { return hotkeys.hotkeysStatus().text; }
    std::wstring glitchStatus() const { return hotkeys.glitchStatus().text; }

    platform::sim::ManualClock clock{5'000'000};
    platform::sim::MemoryRegistry registry;
    platform::sim::SimKeys keys;
    platform::sim::SimHotkeys system;
    settings::Settings settings;
    engine::SoundPlayer player;
    soundboard::Soundboard board{player, clock, &registry};
    soundboard::Hotkeys hotkeys{settings, board, &system, &keys, clock};
};

TEST(HotkeyNames, ModifiersComeInOrderThenTheKeysOwnName)
{
    platform::sim::SimHotkeys system;
    system.setKeyName('Q', L"Q");
    using soundboard::keyName;
    EXPECT_EQ(keyName(0, &system), L"Not set");
    EXPECT_EQ(keyName(kF5 | kKeyWin | kKeyShift | kKeyAlt | kKeyControl, &system), L"Ctrl+Alt+Shift+Win+F5");
    EXPECT_EQ(keyName(135, &system), L"F24");
    EXPECT_EQ(keyName(96, &system), L"Num 0");
    EXPECT_EQ(keyName(kNum5 | kKeyAlt, &system), L"Alt+Num 5");
    EXPECT_EQ(keyName(4, &system), L"Middle mouse");
    EXPECT_EQ(keyName(5, &system), L"Mouse 4");
    EXPECT_EQ(keyName(6, &system), L"Mouse 5");
    EXPECT_EQ(keyName('Q' | kKeyControl, &system), L"Ctrl+Q");
    EXPECT_EQ(keyName(200 | kKeyShift, &system), L"Shift+Key 200"); // the system has no name for it
    EXPECT_EQ(keyName('Q', nullptr), L"Key 81");
}

TEST_F(Hotkeys, APlainLetterShowsTheHintAndKeepsCapturingUntilAModifierComesWithIt)
{
    hotkeys.startCapture(kRecordRow);
    EXPECT_TRUE(press(kQ));
    EXPECT_EQ(hotkeysStatus(), L"Pick a modifier + key, F-key, Numpad, or extra mouse button");
    EXPECT_TRUE(press(kCtrl, {kCtrl})); // the modifier alone is consumed and waited past
    EXPECT_EQ(hotkeys.capture(), kRecordRow);
    EXPECT_EQ(hotkeys.actionCode(soundboard::kActionRecord), 0u);

    EXPECT_TRUE(press(kQ, {kCtrl}));
    EXPECT_FALSE(hotkeys.capturing());
    EXPECT_EQ(hotkeys.actionCode(soundboard::kActionRecord), kQ | kKeyControl);
    EXPECT_EQ(hotkeysStatus(), L"Record -> Ctrl+Q");
    EXPECT_FALSE(hotkeys.handleCaptureInput(CaptureInput::KeyDown, kQ)); // no capture: not consumed

    // The modifiers the key's message carries count, not what is down by
    // the time it is handled (a quick Ctrl+F9 has let go of Ctrl by then).
    hotkeys.startCapture(kRecordRow);
    EXPECT_TRUE(hotkeys.handleCaptureInput(CaptureInput::KeyDown, kF9, kKeyControl));
    EXPECT_EQ(hotkeys.actionCode(soundboard::kActionRecord), kF9 | kKeyControl);
}

TEST_F(Hotkeys, FKeysNumpadAndMouseButtonsNeedNoModifierButTheWindowsKeyIsRefused)
{
    capture(kRecordRow, kF5, {platform::kVkRightWin});
    EXPECT_TRUE(hotkeys.capturing());
    EXPECT_EQ(hotkeysStatus(), L"Pick a modifier + key, F-key, Numpad, or extra mouse button");
    press(kF5);
    EXPECT_EQ(hotkeys.actionCode(soundboard::kActionRecord), kF5);

    capture(pad(0), kNum5);
    EXPECT_EQ(board.pad(0).key, kNum5);
    EXPECT_EQ(board.status(), L"Assigned Num 5 to pad");

    hotkeys.startCapture(kStopAll);
    press(0, {kShift}, CaptureInput::MiddleButton);
    EXPECT_EQ(board.stopKey(), 4u | kKeyShift);
    EXPECT_EQ(board.status(), L"Stop all -> Shift+Middle mouse");

    hotkeys.startCapture({CaptureKind::Action, soundboard::kActionHear});
    press(0, {}, CaptureInput::ExtraButton2);
    EXPECT_EQ(hotkeys.actionCode(soundboard::kActionHear), 6u);
}

TEST_F(Hotkeys, EscapeEndsTheCaptureAndChangesNoBinding)
{
    capture(kRecordRow, kF1, {kCtrl});
    capture(pad(3), kF2);
    hotkeys.startCapture(kRecordRow);
    press(kEscape);
    EXPECT_FALSE(hotkeys.capturing());
    EXPECT_EQ(hotkeysStatus(), L"Key capture cancelled");
    hotkeys.startCapture(pad(3));
    press(kEscape, {kCtrl});
    capture(kGlitch, kEscape);
    EXPECT_EQ(glitchStatus(), L"Cancelled");

    EXPECT_EQ(hotkeys.actionCode(soundboard::kActionRecord), kF1 | kKeyControl);
    EXPECT_EQ(board.pad(3).key, kF2);
    EXPECT_EQ(settings.GlitchKey.load(), 0);
    EXPECT_EQ(system.registered().size(), 2u);
}

TEST_F(Hotkeys, BackspaceOrDeleteClearsTheCapturedBindingAndItsRegistration)
{
    capture(kRecordRow, kF1, {kCtrl});
    capture(pad(0), kF2);
    capture(kStopAll, kF5);
    capture(kGlitch, kF5, {kAlt});
    ASSERT_EQ(system.registered().size(), 3u);

    capture(kRecordRow, kBackspace);
    EXPECT_EQ(hotkeysStatus(), L"Record cleared");
    capture(pad(0), kDelete);
    EXPECT_EQ(board.status(), L"Pad key cleared");
    capture(kStopAll, kBackspace);
    EXPECT_EQ(board.status(), L"Stop-all key cleared");
    capture(kGlitch, kDelete);
    EXPECT_EQ(glitchStatus(), L"Key cleared");

    EXPECT_EQ(hotkeys.actionCode(soundboard::kActionRecord), 0u);
    EXPECT_EQ(board.pad(0).key, 0u);
    EXPECT_EQ(board.stopKey(), 0u);
    EXPECT_EQ(settings.GlitchKey.load(), 0);
    EXPECT_TRUE(system.registered().empty());
    EXPECT_FALSE(hotkeys.capturing());
}

TEST_F(Hotkeys, TheGlitchKeyHasItsOwnHintAndStatusAndIsNeverRegistered)
{
    capture(kGlitch, 'G');
    EXPECT_EQ(glitchStatus(), L"Add Ctrl/Alt/Shift or pick F-key / mouse button");
    EXPECT_TRUE(hotkeysStatus().empty());
    press('G', {kCtrl, kShift});
    EXPECT_EQ(settings.GlitchKey.load(), static_cast<int32_t>('G' | kKeyControl | kKeyShift));
    EXPECT_EQ(glitchStatus(), L"Ctrl+Shift+Key 71");
    EXPECT_TRUE(system.registered().empty());
}

TEST_F(Hotkeys, BindingRecordToAPadsKeyClearsThePadAndNamesItInTheStatus)
{
    fillPad(2, L"C:\\sounds\\horn.wav");
    board.renamePad(2, L"Airhorn");
    board.setPadKey(2, kF1 | kKeyControl);
    hotkeys.registerAllHotkeys();
    ASSERT_EQ(system.press(platform::kHotkeyControl, kF1), 3);

    capture(kRecordRow, kF1, {kCtrl});
    EXPECT_EQ(hotkeysStatus(), L"Record -> Ctrl+F1 (replaced Airhorn)");
    EXPECT_EQ(board.pad(2).key, 0u);
    EXPECT_EQ(system.press(platform::kHotkeyControl, kF1), 201);
}

TEST_F(Hotkeys, APadTakingAnActionsKeyClearsTheRowSilently)
{
    capture({CaptureKind::Action, soundboard::kActionEffects}, kF1, {kCtrl});
    const auto before = hotkeys.hotkeysStatus();

    capture(pad(0), kF1, {kCtrl});
    EXPECT_EQ(hotkeys.actionCode(soundboard::kActionEffects), 0u);
    EXPECT_EQ(board.status(), L"Assigned Ctrl+F1 to pad");
    EXPECT_EQ(hotkeys.hotkeysStatus().text, before.text);
    EXPECT_EQ(hotkeys.hotkeysStatus().serial, before.serial);
    EXPECT_EQ(system.press(platform::kHotkeyControl, kF1), 1);
}

TEST_F(Hotkeys, TakingOverAKeyClearsEveryOtherHolderInOrderAndNamesTheLast)
{
    const uint32_t code = kF5 | kKeyAlt;
    board.setPadKey(4, code); // untitled
    EXPECT_EQ(hotkeys.takeOverKey(code, pad(0)), L"Pad 5");
    board.setPadKey(4, code);
    board.setStopKey(code);
    EXPECT_EQ(hotkeys.takeOverKey(code, pad(0)), L"Stop all");
    board.setPadKey(0, code); // the target keeps its own key
    board.setStopKey(code);
    settings.set(&settings::Settings::GlitchKey, code);
    settings.setHotkey(soundboard::kActionPrevSetup, code);
    EXPECT_EQ(hotkeys.takeOverKey(code, pad(0)), L"Previous setup");
    EXPECT_EQ(board.pad(0).key, code);
    EXPECT_EQ(board.pad(4).key, 0u);
    EXPECT_EQ(board.stopKey(), 0u);
    EXPECT_EQ(settings.GlitchKey.load(), 0);
    EXPECT_EQ(hotkeys.actionCode(soundboard::kActionPrevSetup), 0u);

    settings.set(&settings::Settings::GlitchKey, code);
    EXPECT_EQ(hotkeys.takeOverKey(code, kStopAll), L"Repeat glitch");
    EXPECT_EQ(hotkeys.takeOverKey(0, kStopAll), L""); // unset bindings are not "holders" of 0
}

TEST_F(Hotkeys, RegistrationUsesTheTableIdsAndTheSystemsModifierFlagsWithoutRepeat)
{
    board.setPadKey(0, kF2 | kKeyAlt | kKeyShift);
    board.setPadKey(11, kNum5);
    board.setStopKey(kQ | kKeyControl);
    settings.setHotkey(soundboard::kActionPrevSetup, kF5 | kKeyControl | kKeyAlt);
    hotkeys.registerAllHotkeys();

    using Reg = platform::sim::SimHotkeys::Registration;
    EXPECT_EQ(system.registration(1), (Reg{platform::kHotkeyAlt | platform::kHotkeyShift | 0x4000, kF2}));
    EXPECT_EQ(system.registration(12), (Reg{0x4000, kNum5}));
    EXPECT_EQ(system.registration(13), (Reg{platform::kHotkeyControl | 0x4000, kQ}));
    EXPECT_EQ(system.registration(209), (Reg{platform::kHotkeyControl | platform::kHotkeyAlt | 0x4000, kF5}));
    EXPECT_EQ(system.registered().size(), 4u);

    hotkeys.unregisterAllHotkeys();
    EXPECT_TRUE(system.registered().empty());
}

TEST_F(Hotkeys, ARefusedRegistrationClearsThatBindingAndSavesIt)
{
    system.refuse(platform::kHotkeyControl, kF1);
    board.setPadKey(5, kF1 | kKeyControl);
    settings.setHotkey(soundboard::kActionSend, kF2 | kKeyControl);
    settings.setHotkey(
        soundboard::kActionHear, kF2 | kKeyControl); // as a stale pair would: the system refuses the second
    const uint32_t savesBefore = settings.saveRequests(settings::RegistryKey::Settings);
    hotkeys.registerAllHotkeys();

    EXPECT_EQ(board.pad(5).key, 0u);
    EXPECT_EQ(registry.readDword(soundboard::kSoundboardKey, L"Pad5Key"), 0u);
    EXPECT_EQ(hotkeys.actionCode(soundboard::kActionSend), kF2 | kKeyControl);
    EXPECT_EQ(hotkeys.actionCode(soundboard::kActionHear), 0u);
    EXPECT_GT(settings.saveRequests(settings::RegistryKey::Settings), savesBefore);

    // Captured while another program holds it: the status says so instead of "->".
    capture(kRecordRow, kF1, {kCtrl});
    EXPECT_EQ(hotkeys.actionCode(soundboard::kActionRecord), 0u);
    EXPECT_EQ(hotkeysStatus(), L"Record: Ctrl+F1 is used by another program");
    capture(kStopAll, kF1, {kCtrl});
    EXPECT_EQ(board.status(), L"Ctrl+F1 is used by another program");
}

TEST_F(Hotkeys, EachHotkeyRunsItsActionThenRedrawsAndUnknownIdsAreIgnored)
{
    RecordingActions actions;
    settings.set(&settings::Settings::mask_on, 6);
    settings.set(&settings::Settings::echo_on, 3);
    const bool effects = settings.effects, isolate = settings.isolate, monitor = settings.monitor;
    const uint32_t isolation = settings.isolationRevision;

    for (int id = 200; id <= 209; ++id)
        hotkeys.onHotkey(id, actions);
    EXPECT_EQ(actions.calls, (std::vector<std::wstring>{L"saveLast", L"record", L"send", L"next", L"previous"}));
    EXPECT_EQ(actions.redraws, 10);
    EXPECT_NE(settings.effects, effects);
    EXPECT_EQ(settings.mask_on.load(), 7); // only bit 0, the voice
    EXPECT_EQ(settings.echo_on.load(), 2);
    EXPECT_NE(settings.isolate, isolate);
    EXPECT_EQ(settings.isolationRevision.load(), isolation + 1);
    EXPECT_NE(settings.monitor, monitor);

    for (int id : {0, 14, 199, 210, -1})
        hotkeys.onHotkey(id, actions);
    EXPECT_EQ(actions.redraws, 10);

    // A pad's hotkey triggers it: with its sound not loaded yet, it plays once loaded.
    fillPad(6, L"C:\\sounds\\horn.wav");
    hotkeys.onHotkey(7, actions);
    EXPECT_TRUE(board.pad(6).playWhenLoaded);
    hotkeys.onHotkey(13, actions);
    EXPECT_EQ(actions.redraws, 12);
}

TEST_F(Hotkeys, BindingsSurviveARestartThroughTheRegistry)
{
    settings::RegistrySettings store(registry);
    capture({CaptureKind::Action, soundboard::kActionNextSetup}, kF5, {kCtrl, kShift});
    capture(kGlitch, kF1, {kAlt});
    capture(pad(9), kNum5, {kAlt});
    capture(kStopAll, kF2);
    store.saveRegistrySettings(settings);

    settings::Settings restarted;
    store.loadRegistrySettings(restarted, {});
    EXPECT_EQ(
        restarted.hotkeys[soundboard::kActionNextSetup].load(), static_cast<int32_t>(kF5 | kKeyControl | kKeyShift));
    EXPECT_EQ(restarted.GlitchKey.load(), static_cast<int32_t>(kF1 | kKeyAlt));
    soundboard::Soundboard reloaded(player, clock, &registry);
    reloaded.load();
    EXPECT_EQ(reloaded.pad(9).key, kNum5 | kKeyAlt);
    EXPECT_EQ(reloaded.stopKey(), kF2);

    soundboard::Hotkeys again(restarted, reloaded, &system, &keys, clock);
    again.registerAllHotkeys();
    EXPECT_EQ(system.press(platform::kHotkeyControl | platform::kHotkeyShift, kF5), 208);
    EXPECT_EQ(system.press(platform::kHotkeyAlt, kNum5), 10);
    EXPECT_EQ(system.press(0, kF2), 13);
}

} // namespace
