#include "settings/registry_settings_cases.h"

#include "platform/registry_values.h"
#include "settings/fields.h"

#include <string>

using platform::ValueType;
using settings::Settings;

namespace {

const std::vector<std::wstring> kFaces = {L"Tahoma", L"Segoe UI", L"Verdana"};

constexpr int32_t kCtrl = 1 << 17;
constexpr int32_t kShift = 1 << 18;

} // namespace

TEST_P(RegistrySettingsCases, AMissingKeyChangesNothingAtAll)
{
    Settings s;
    s.set(&Settings::UiZoom, 180);
    const uint32_t tone = s.toneRevision;
    store().loadRegistrySettings(s, kFaces);
    EXPECT_EQ(s.UiZoom, 180);
    EXPECT_EQ(s.toneRevision, tone);
}

TEST_P(RegistrySettingsCases, ValuesOfTheWrongTypeOrMissingTakeTheirDefaults)
{
    writeSetting(L"UiZoom", 150);
    plant(settingsKey(), L"GateOut", ValueType::String, platform::stringBytes(L"70"));
    Settings s;
    s.set(&Settings::gate_out, 0);
    s.set(&Settings::voice_ratio, 2000);
    const uint32_t tone = s.toneRevision;
    const uint32_t isolation = s.isolationRevision;
    store().loadRegistrySettings(s, kFaces);
    EXPECT_EQ(s.UiZoom, 150);
    EXPECT_EQ(s.gate_out, -50) << "a string is not a number";
    EXPECT_EQ(s.voice_ratio, 1000) << "missing";
    EXPECT_EQ(s.PresetTop, Settings::kUnset);
    EXPECT_EQ(s.toneRevision, tone + 1);
    EXPECT_EQ(s.isolationRevision, isolation + 1);
}

TEST_P(RegistrySettingsCases, StoredNumbersAreClampedToTheStoredRangeThenConverted)
{
    writeSetting(L"VoiceMask", 0);
    writeSetting(L"GateLo", -5);
    writeSetting(L"ToneLo", 999);
    writeSetting(L"UiSize", 10);
    writeSetting(L"RecSources", 0);
    writeSetting(L"UiBold", -3);
    writeSetting(L"GlitchKey", 0x7FFFFFFF);
    writeSetting(L"KeepLast", 50);
    writeSetting(L"PresetTop", 40);
    Settings s;
    store().loadRegistrySettings(s, kFaces);
    EXPECT_EQ(s.voice_mask, -1) << "no mask";
    EXPECT_EQ(s.gate_lo, -120);
    EXPECT_EQ(s.tone_lo, 240);
    EXPECT_EQ(s.font_size, 11);
    EXPECT_EQ(s.RecSources, 1);
    EXPECT_EQ(s.font_bold, 0) << "a negative flag clamps to 0";
    EXPECT_EQ(s.GlitchKey, 0xFFFFF);
    EXPECT_EQ(s.KeepLast, 60) << "50 is not an allowed length";
    EXPECT_EQ(s.PresetTop, 14);

    writeSetting(L"KeepLast", 700);
    store().loadRegistrySettings(s, kFaces);
    EXPECT_EQ(s.KeepLast, 600);
}

TEST_P(RegistrySettingsCases, TheWindowPositionLoadsOnlyAsAPair)
{
    writeSetting(L"WinX", 300);
    Settings s;
    store().loadRegistrySettings(s, kFaces);
    EXPECT_EQ(s.WinSet, 0);
    store().saveRegistrySettings(s);
    EXPECT_EQ(registry().readDword(settingsKey(), L"WinX"), 300u) << "an unset position is not written";
    EXPECT_FALSE(registry().readDword(settingsKey(), L"WinY").has_value());

    writeSetting(L"WinY", -40000);
    store().loadRegistrySettings(s, kFaces);
    EXPECT_EQ(s.WinSet, 1);
    EXPECT_EQ(s.WinX, 300);
    EXPECT_EQ(s.WinY, -32000);
}

TEST_P(RegistrySettingsCases, HotkeysAreValidatedAndAnEarlierHotkeyKeepsARepeatedKey)
{
    writeSetting(L"HotLast", kCtrl | 'L');
    writeSetting(L"HotRecord", kCtrl | 'L');   // repeats HotLast
    writeSetting(L"HotSend", 'A');             // a bare letter
    writeSetting(L"HotEffects", 0x74);         // F5 needs no modifier
    writeSetting(L"HotMask", (1 << 19) | 'M'); // the Windows-key bit is not kept
    writeSetting(L"HotEcho", kShift | 255);
    writeSetting(L"HotIsolation", -5);
    writeSetting(L"HotHear", 186); // bare punctuation
    writeSetting(L"HotNextSetup", 193);
    writeSetting(L"HotPrevSetup", kShift | 0x20);
    Settings s;
    store().loadRegistrySettings(s, kFaces);
    const int32_t expected[] = {kCtrl | 'L', 0, 0, 0x74, 0, 0, 0, 0, 193, kShift | 0x20};
    for (int i = 0; i < settings::kHotkeyCount; ++i)
        EXPECT_EQ(s.hotkeys[i], expected[i])
            << std::string(settings::kHotkeyNames[i].begin(), settings::kHotkeyNames[i].end());
}

TEST_P(RegistrySettingsCases, TheFontIsTakenOnlyWhenInstalledAndSpelledAsInstalled)
{
    ASSERT_TRUE(registry().writeString(settingsKey(), L"UiFont", L"segoe ui"));
    Settings s;
    store().loadRegistrySettings(s, kFaces);
    EXPECT_EQ(s.font(), L"Segoe UI");
    ASSERT_TRUE(registry().writeString(settingsKey(), L"UiFont", L"Comic Sans MS"));
    store().loadRegistrySettings(s, kFaces);
    EXPECT_EQ(s.font(), L"Segoe UI");
    ASSERT_TRUE(registry().writeString(settingsKey(), L"UiFont", std::wstring(31, L'V')));
    const std::vector<std::wstring> longFace = {std::wstring(31, L'V')};
    store().loadRegistrySettings(s, longFace);
    EXPECT_EQ(s.font(), L"Segoe UI") << "longer than 30 characters is ignored";
}

TEST_P(RegistrySettingsCases, ASaveThenALoadRestoresEveryValueOfEveryTable)
{
    Settings saved;
    for (auto table : {settings::recordFields(), settings::registryOnlyFields()}) {
        for (const auto& field : table) {
            if (field.registryKey != settings::RegistryKey::None)
                saved.set(field, field.defaultValue == field.maximum ? field.minimum : field.maximum);
        }
    }
    saved.setWindowPosition(true, saved.WinX, saved.WinY);
    saved.set(&Settings::KeepLast, 45);
    saved.set(&Settings::eq_preset, 9);
    for (int i = 0; i < settings::kHotkeyCount; ++i)
        saved.setHotkey(i, kCtrl | (0x70 + i));
    saved.setFont(L"Verdana");
    saved.setClipsFolder(L"D:\\Takes \u00e9");
    store().saveRegistrySettings(saved);
    store().saveEqualizer(saved);

    Settings loaded;
    store().loadEqualizer(loaded);
    store().loadRegistrySettings(loaded, kFaces);
    for (auto table : {settings::recordFields(), settings::registryOnlyFields()}) {
        for (const auto& field : table) {
            if (field.registryKey != settings::RegistryKey::None) {
                EXPECT_EQ(field.load(loaded), field.load(saved)) << std::string(field.key);
            }
        }
    }
    EXPECT_EQ(loaded.WinSet, 1);
    EXPECT_EQ(loaded.font(), L"Verdana");
    EXPECT_EQ(loaded.clipsFolder(), saved.clipsFolder());
}

TEST_P(RegistrySettingsCases, OffsetValuesAreStoredWithTheirConversions)
{
    struct Row {
        const char* key;
        int32_t field;
        const wchar_t* name;
        uint32_t stored;
    };
    const Row rows[] = {{"gate_lo", -120, L"GateLo", 0}, {"gate_out", -50, L"GateOut", 70},
        {"tone_mid", -240, L"ToneMid", static_cast<uint32_t>(-120)}, {"tone_pad_x", -100, L"TonePadX", 0},
        {"pitch_hz", -150, L"PitchHz", 0}, {"voice_macro", -100, L"VoiceMacro", 0}, {"voice_mask", -1, L"VoiceMask", 0},
        {"tone_base_hi", 240, L"ToneBaseHi", 360}, {"app_gain", 1000, L"AppGain", 1000}, {"alpha", 20, L"UiAlpha", 20}};
    Settings s;
    for (const auto& row : rows)
        s.set(*settings::findField(row.key), row.field);
    store().saveRegistrySettings(s);
    for (const auto& row : rows)
        EXPECT_EQ(registry().readDword(settingsKey(), row.name), row.stored) << row.key;
}

TEST_P(RegistrySettingsCases, TheEqualizerKeyConvertsBandsAndPreset)
{
    Settings s;
    s.set(&Settings::eq_preset, -1); // "Custom"
    s.setEqBand(0, -12);
    s.setEqBand(6, 5);
    store().saveEqualizer(s);
    EXPECT_EQ(registry().readDword(store().equalizerKey(), L"Preset"), 0u);
    EXPECT_EQ(registry().readDword(store().equalizerKey(), L"Band0"), 0u);
    EXPECT_EQ(registry().readDword(store().equalizerKey(), L"Band6"), 17u);

    Settings loaded;
    loaded.set(&Settings::eq_preset, 4);
    store().loadEqualizer(loaded);
    EXPECT_EQ(loaded.eq_preset, 0) << "Custom comes back as built-in preset 0";
    EXPECT_EQ(loaded.eq_bands[0], -12) << "while the bands keep the custom curve";
    EXPECT_EQ(loaded.eq_bands[6], 5);

    ASSERT_TRUE(registry().writeDword(store().equalizerKey(), L"Preset", 50));
    store().loadEqualizer(loaded);
    EXPECT_EQ(loaded.eq_preset, 9) << "no user presets";
    loaded.setUserEqPresets(std::vector<settings::EqPreset>(2));
    store().loadEqualizer(loaded);
    EXPECT_EQ(loaded.eq_preset, 11);
}

TEST_P(RegistrySettingsCases, UserPresetsLoadWithTheirSkipRulesAndParsing)
{
    const std::wstring key = store().presetsKey();
    ASSERT_TRUE(registry().writeString(key, L"Warm", L"3, -2,x,99,-40"));
    ASSERT_TRUE(registry().writeString(key, L"Short", L"1;2,5"));
    ASSERT_TRUE(registry().writeString(key, L"Two", L"-3,4"));
    ASSERT_TRUE(registry().writeDword(key, L"Number", 3));
    ASSERT_TRUE(registry().writeString(key, std::wstring(64, L'N'), L"1,1,1,1,1,1,1"));
    ASSERT_TRUE(registry().writeString(key, L"Huge", std::wstring(127, L'1')));
    ASSERT_TRUE(registry().writeString(key, L"Full", L"1,2,3,4,5,6,7,8"));
    Settings s;
    store().loadUserEqPresets(s);
    ASSERT_EQ(s.userEqPresets().size(), 4u);
    std::vector<settings::EqPreset> presets = s.userEqPresets();
    std::sort(presets.begin(), presets.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    EXPECT_EQ(presets[0].name, L"Full");
    EXPECT_EQ(presets[0].gains, (settings::EqGains{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(presets[1].name, L"Short");
    EXPECT_EQ(presets[1].gains, (settings::EqGains{1, 5, 0, 0, 0, 0, 0})) << "the next number follows a comma";
    EXPECT_EQ(presets[2].gains, (settings::EqGains{-3, 4, 0, 0, 0, 0, 0})) << "missing gains are 0";
    EXPECT_EQ(presets[3].gains, (settings::EqGains{3, -2, 0, 12, -12, 0, 0}));
}

TEST_P(RegistrySettingsCases, SavingAndDeletingUserPresets)
{
    Settings s;
    ASSERT_TRUE(store().saveUserEqPreset(s, L"Warm", {1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(s.eq_preset, 10);
    EXPECT_EQ(registry().readString(store().presetsKey(), L"Warm", 126), L"1,2,3,4,5,6,7");
    // The same name in other letters renames the preset and takes the new gains.
    ASSERT_TRUE(store().saveUserEqPreset(s, L"WARM", {-1, 0, 0, 0, 0, 0, 1}));
    store().loadUserEqPresets(s);
    ASSERT_EQ(s.userEqPresets().size(), 1u);
    EXPECT_EQ(s.userEqPresets()[0].name, L"WARM");
    EXPECT_EQ(s.userEqPresets()[0].gains, (settings::EqGains{-1, 0, 0, 0, 0, 0, 1}));
    // Named like a built-in: stored, but the built-in one is selected.
    ASSERT_TRUE(store().saveUserEqPreset(s, L"bass", {0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(s.eq_preset, 1);
    EXPECT_EQ(s.eq_bands[0], 8);
    EXPECT_EQ(registry().readDword(store().equalizerKey(), L"Preset"), 2u);

    EXPECT_FALSE(store().deleteUserEqPreset(s, 3)) << "built-ins cannot be deleted";
    ASSERT_TRUE(store().deleteUserEqPreset(s, 10));
    EXPECT_EQ(s.eq_preset, 0);
    EXPECT_EQ(s.eq_bands[0], 0);
    store().loadUserEqPresets(s);
    ASSERT_EQ(s.userEqPresets().size(), 1u);
    EXPECT_EQ(s.userEqPresets()[0].name, L"bass");
}

TEST_P(RegistrySettingsCases, LastSetupAndCopyFoldersHaveTheirOwnOperations)
{
    std::vector<std::wstring> folders;
    for (int i = 0; i < 40; ++i)
        folders.push_back(L"C:\\Copy" + std::to_wstring(i));
    store().writeCopyFolders(folders);
    store().storeLastSetup(L"Night");
    Settings s;
    store().saveRegistrySettings(s); // leaves both alone
    store().loadRegistrySettings(s, kFaces);
    EXPECT_EQ(s.lastSetup(), L"Night");
    ASSERT_EQ(s.copyFolders().size(), 32u);
    EXPECT_EQ(s.copyFolders().front(), L"C:\\Copy8") << "the newest 32 remain";
    EXPECT_EQ(s.copyFolders().back(), L"C:\\Copy39");
}

TEST_P(RegistrySettingsCases, TheAutostartEntry)
{
    const std::wstring exe = L"C:\\Apps\\Ovix\\VantorOvix.exe";
    EXPECT_FALSE(store().autostartEnabled());
    EXPECT_TRUE(store().setAutostart(false, exe)) << "turning off an absent entry succeeds";
    ASSERT_TRUE(store().setAutostart(true, exe));
    EXPECT_TRUE(store().autostartEnabled());
    EXPECT_EQ(registry().readString(env_.root + L"\\Run", settings::kAutostartValue, 300), L"\"" + exe + L"\"");
    EXPECT_EQ(store().autostartFolder(), L"C:\\Apps\\Ovix");

    store().refreshAutostart(L"D:\\Moved\\VantorOvix.exe");
    EXPECT_EQ(store().autostartFolder(), L"D:\\Moved");
    store().refreshAutostart(L"d:\\moved\\vantorovix.exe");
    EXPECT_EQ(
        registry().readString(env_.root + L"\\Run", settings::kAutostartValue, 300), L"\"D:\\Moved\\VantorOvix.exe\"")
        << "a path equal but for case is left alone";

    ASSERT_TRUE(store().setAutostart(false, exe));
    EXPECT_FALSE(store().autostartEnabled());
    store().refreshAutostart(exe);
    EXPECT_FALSE(store().autostartEnabled()) << "refresh never creates the entry";

    ASSERT_TRUE(registry().writeString(env_.root + L"\\Run", settings::kAutostartValue, L"E:\\Old\\VantorOvix.exe"));
    EXPECT_EQ(store().autostartFolder(), L"E:\\Old") << "unquoted";
    ASSERT_TRUE(registry().writeDword(env_.root + L"\\Run", L"Other", 1));
    plant(env_.root + L"\\Run", settings::kAutostartValue, ValueType::Dword, platform::dwordBytes(1));
    EXPECT_FALSE(store().autostartEnabled()) << "only a string counts";
}
