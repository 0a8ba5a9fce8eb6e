// Setup files: the byte-exact format, every reading rule, atomic saves, names,
// cycling, the two-way sync and the installations search, on in-memory files
// and registry (and a real disk where a write failure needs one).

#include "platform/sim/fixed_known_folders.h"
#include "platform/sim/manual_clock.h"
#include "platform/sim/memory_files.h"
#include "platform/sim/memory_registry.h"
#include "settings/fields.h"
#include "settings/setup_files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <random>
#include <sys/resource.h>

namespace settings {
namespace {

std::vector<uint8_t> bytesOf(std::string_view text)
{
    return {text.begin(), text.end()};
}

class SetupFiles : public ::testing::Test {
protected:
    std::wstring own(const std::wstring& name)
    {
        return L"C:\\Users\\u\\AppData\\Roaming\\VantorOvix\\setups\\" + name;
    }
    SetupApplied apply(std::string_view text) { return applySetupText(bytesOf(text), s, env); }
    std::string fileText(const std::wstring& path)
    {
        const auto bytes = files.readAll(path);
        return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<missing>");
    }

    platform::sim::MemoryFiles files;
    platform::sim::MemoryRegistry registry;
    RegistrySettings store{registry};
    Settings s;
    Setups setups{files, store, s, L"C:\\Users\\u\\AppData\\Roaming\\VantorOvix"};
    SetupEnvironment env{{L"{0.0.1}.{mic-a}", L"{0.0.1}.{mic-b}"}, {L"{0.0.0}.{spk-a}"}, {L"Tahoma", L"Verdana"}};
};

TEST_F(SetupFiles, ASavedFileIsByteForByteTheFormat)
{
    setDeviceName(s, DeviceKind::Mic, L"{0.0.1}.{mic-\u00e9}");
    s.set(&Settings::pan, -35);
    s.setFont(L"Verdana");
    s.set(&Settings::eq_preset, -1);
    s.setEqBand(0, -12);
    s.setEqBand(6, 4);
    ASSERT_TRUE(setups.saveSetupFile(setups.setupPath(L"Night")));
    EXPECT_EQ(fileText(own(L"Night.ini")),
        "# Vantor Ovix Settings\n"
        "mic={0.0.1}.{mic-\xc3\xa9}\n"
        "spk=\n"
        "preset=8\namount=9\nmic_level=100\n"
        "pan=-35\npan_cable=1\npan_mon=1\napp_pan=0\n"
        "effects=1\necho_on=7\nmask_on=1\nmonitor=1\nwide=0\nraw=0\nambit=0\n"
        "card_mic=1\n"
        "isolate=0\niso_mode=4\niso_level=60\n"
        "vocal_level=50\ngate_lo=120\ngate_mid=120\ngate_hi=120\ngate_out=-50\n"
        "tone_on=1\ntone_lo=0\ntone_mid=0\ntone_hi=0\ntone_pad_x=0\ntone_pad_y=0\n"
        "tone_base_lo=0\ntone_base_mid=0\ntone_base_hi=0\n"
        "clip_level=84\nclip_hear=1\nclip_mic=1\napp_hear=0\napp_only=0\n"
        "pitch_hz=0\nvoice_size=100\nvoice_macro=0\nvoice_ratio=1000\n"
        "voice_mask=13\napp_gain=80\n"
        "voice_speed=100\nvoice_keep_pitch=1\nclip_speed=100\nclip_keep_pitch=1\n"
        "clip_follow_voice=1\n"
        "glitch_style=0\n"
        "alpha=100\nfont=Verdana\nfont_bold=0\nfont_size=12\n"
        "eq_on=1\neq_preset=-1\neq_level=0\neq_bands=-12,0,0,0,0,0,4\n");
    EXPECT_FALSE(files.exists(own(L"Night.ini.part")));
}

TEST_F(SetupFiles, AFileLoadsBackAndCrlfLinesLoadTheSame)
{
    for (auto table : {recordFields()})
        for (const auto& field : table)
            s.set(field, field.defaultValue == field.maximum ? field.minimum : field.maximum);
    s.set(&Settings::eq_preset, 9);
    setDeviceName(s, DeviceKind::Mic, env.captureIds[1]);
    const std::string lf = formatSetupFile(s);
    std::string crlf;
    for (char c : lf)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);

    for (const std::string& text : {lf, crlf}) {
        Settings loaded;
        const auto applied = applySetupText(bytesOf(text), loaded, env);
        for (const auto& field : recordFields())
            EXPECT_EQ(field.load(loaded), field.load(s)) << field.key;
        EXPECT_EQ(deviceName(loaded, DeviceKind::Mic), env.captureIds[1]);
        EXPECT_EQ(applied.micIndex, 1);
        EXPECT_EQ(applied.spkIndex, -1);
        EXPECT_TRUE(applied.presetSeen && applied.glitchStyleSeen && applied.equalizerSeen);
    }
}

TEST_F(SetupFiles, ReadingRulesForKeysAndNumbers)
{
    const uint32_t tone = s.toneRevision;
    const auto applied = apply("pan =40\n"     // the key is "pan ": no such key
                               "# amount=50\n" // a comment
                               "noequals\n"
                               "amount= 55xyz\n"  // leading blanks, stops at the first non-digit
                               "voice_size=abc\n" // no digits reads 0, then clamps
                               "mic_level=99999999999999\n"
                               "pan_cable=0\npan_mon=5\n"
                               "Preset=3\n" // keys are case-sensitive
                               "alpha=0\nfont_size=99\n"
                               "eq_preset=50\n"
                               "eq_bands=3,20\n"
                               "glitch_style=-4"); // no line feed at the end
    EXPECT_EQ(s.pan, 0);
    EXPECT_EQ(s.amount, 55);
    EXPECT_EQ(s.voice_size, 60);
    EXPECT_EQ(s.mic_level, 1000);
    EXPECT_EQ(s.pan_cable, 0);
    EXPECT_EQ(s.pan_mon, 1);
    EXPECT_EQ(s.preset, 8);
    EXPECT_EQ(s.alpha, 20);
    EXPECT_EQ(applied.opacity, 20 * 255 / 100);
    EXPECT_EQ(s.font_size, 13);
    EXPECT_EQ(s.eq_preset, 9);
    EXPECT_EQ(s.eq_bands[0], 3);
    EXPECT_EQ(s.eq_bands[1], 12);
    EXPECT_EQ(s.eq_bands[2], 0);
    EXPECT_EQ(s.glitch_style, 0);
    EXPECT_EQ(s.toneRevision, tone + 1);

    s.setUserEqPresets(std::vector<settings::EqPreset>(2));
    apply("eq_preset=50\n");
    EXPECT_EQ(s.eq_preset, 11);
    apply("eq_preset=-1\n");
    EXPECT_EQ(s.eq_preset, 0) << "Custom never comes back from a file";
}

TEST_F(SetupFiles, ALineLongerThanTheBufferIsReadAsSeveral)
{
    std::string text = "font=" + std::string(2042, 'x') + "amount=33\n";
    apply(text);
    EXPECT_EQ(s.amount, 33) << "the tail of a 2047-byte read starts a new line";
    EXPECT_EQ(s.font(), L"Tahoma");
}

TEST_F(SetupFiles, DevicesAndTheFontMustExistHere)
{
    setDeviceName(s, DeviceKind::Mic, env.captureIds[0]);
    const auto applied = apply("mic={9.9.9}.{unplugged}\nspk={0.0.0}.{spk-a}\nfont=verdana\nfont_bold=7\n");
    EXPECT_EQ(deviceName(s, DeviceKind::Mic), env.captureIds[0]);
    EXPECT_EQ(applied.micIndex, -1);
    EXPECT_EQ(deviceName(s, DeviceKind::Spk), L"{0.0.0}.{spk-a}");
    EXPECT_EQ(applied.spkIndex, 0);
    EXPECT_EQ(s.font(), L"Verdana");
    EXPECT_EQ(s.font_bold, 1);
    apply("font=Wingdings\n");
    EXPECT_EQ(s.font(), L"Verdana");
}

TEST_F(SetupFiles, TheOldRoutingKeyMapsToEchoOn)
{
    const std::pair<const char*, int32_t> cases[] = {{"1", 6}, {"2", 7}, {"9", 7}, {"0", 3}, {"-5", 3}, {"x", 3}};
    for (auto [value, echo] : cases) {
        apply(std::string("fx_route=") + value + "\n");
        EXPECT_EQ(s.echo_on, echo) << value;
    }
}

TEST_F(SetupFiles, ApplyingAFileSavesTheRegistryAndTheEqualizerWhenItHasEqualizerKeys)
{
    files.put(own(L"A.ini"), bytesOf("amount=3\n"));
    files.put(own(L"B.ini"), bytesOf("eq_level=4\ngate_out=-120\n"));
    ASSERT_TRUE(setups.applySetupFile(own(L"A.ini"), env));
    EXPECT_TRUE(registry.keyExists(store.settingsKey()));
    EXPECT_FALSE(registry.keyExists(store.equalizerKey()));
    const uint32_t eq = s.eqRevision;
    ASSERT_TRUE(setups.applySetupFile(own(L"B.ini"), env));
    EXPECT_EQ(registry.readDword(store.equalizerKey(), L"Level"), 4u);
    EXPECT_EQ(registry.readDword(store.settingsKey(), L"GateOut"), 0u);
    EXPECT_GT(s.eqRevision, eq);
    EXPECT_FALSE(setups.applySetupFile(own(L"Missing.ini"), env));
}

TEST_F(SetupFiles, AFailedSaveLeavesThePreviousFileAndNoTemporary)
{
    files.put(own(L"Night.ini"), bytesOf("# Vantor Ovix Settings\namount=1\n"));
    files.failWritesBeyond(100);
    EXPECT_FALSE(setups.saveSetupFile(own(L"Night.ini")));
    files.failWritesBeyond(-1);
    files.failMoves(true);
    EXPECT_FALSE(setups.saveSetupFile(own(L"Night.ini")));
    files.failMoves(false);
    files.failCreate(true);
    EXPECT_FALSE(setups.saveCurrentSetupAs(L"Night"));
    EXPECT_EQ(setups.currentSetup(), L"");
    EXPECT_EQ(fileText(own(L"Night.ini")), "# Vantor Ovix Settings\namount=1\n");
    EXPECT_FALSE(files.exists(own(L"Night.ini.part")));
}

TEST(SetupFilesOnDisk, AWriteThatRunsOutOfRoomLeavesThePreviousFileAndNoTemporary)
{
    // A file-size limit makes the disk refuse writes past 200 bytes, as a full disk would.
    const auto dir = std::filesystem::temp_directory_path() / ("ovix-setups-" + std::to_string(std::random_device{}()));
    platform::sim::StdFiles files;
    platform::sim::MemoryRegistry registry;
    RegistrySettings store(registry);
    Settings s;
    Setups setups(files, store, s, dir.wstring());
    const std::wstring path = setups.setupPath(L"Night");
    ASSERT_TRUE(platform::replaceFile(files, path, bytesOf("# Vantor Ovix Settings\namount=1\n")));

    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    auto handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = previous;
    small.rlim_cur = 200;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = setups.saveSetupFile(path);
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, handler);

    EXPECT_FALSE(saved);
    EXPECT_EQ(files.readAll(path), bytesOf("# Vantor Ovix Settings\namount=1\n"));
    EXPECT_FALSE(files.exists(path + L".part"));
    EXPECT_TRUE(setups.saveSetupFile(path)) << "with room again";
    std::error_code error;
    std::filesystem::remove_all(dir, error);
}

TEST(SetupNames, SanitisingForTheFileSystem)
{
    EXPECT_EQ(sanitizeSetupName(L" con "), L"con_");
    EXPECT_EQ(sanitizeSetupName(L"\\/:*?\"<>|"), L"") << "refused: the prompt stays open";
    EXPECT_EQ(sanitizeSetupName(L"  \t "), L"");
    for (int i = 1; i <= 9; ++i) {
        EXPECT_EQ(sanitizeSetupName(L"COM" + std::to_wstring(i)), L"COM" + std::to_wstring(i) + L"_");
        EXPECT_EQ(sanitizeSetupName(L"lpt" + std::to_wstring(i)), L"lpt" + std::to_wstring(i) + L"_");
    }
    EXPECT_EQ(sanitizeSetupName(L"COM10"), L"COM10");
    EXPECT_EQ(sanitizeSetupName(L"Prn"), L"Prn_");
    EXPECT_EQ(sanitizeSetupName(L"console"), L"console");
    EXPECT_EQ(sanitizeSetupName(L" Late: night / live\x01 "), L"Late night  live");
    EXPECT_EQ(sanitizeSetupName(std::wstring(50, L'n')), std::wstring(40, L'n'));
}

TEST_F(SetupFiles, TheListIsSortedByCodeUnit)
{
    for (auto name : {L"beta.ini", L"Alpha.INI", L"Zed.ini", L".ini", L"notes.txt"})
        files.put(own(name), bytesOf("# Vantor Ovix Settings\n"));
    files.createFolders(own(L"folder.ini"));
    EXPECT_EQ(setups.listSetups(), (std::vector<std::wstring>{L"Alpha", L"Zed", L"beta"}));
}

TEST_F(SetupFiles, CyclingWrapsAndStartsFromTheEnds)
{
    files.put(own(L"A.ini"), bytesOf("amount=1\n"));
    files.put(own(L"B.ini"), bytesOf("amount=2\n"));
    files.put(own(L"C.ini"), bytesOf("amount=3\n"));
    ASSERT_TRUE(setups.cycleSetup(-1, env));
    EXPECT_EQ(setups.currentSetup(), L"C") << "backward with no current setup loads the last";
    EXPECT_EQ(s.amount, 3);
    ASSERT_TRUE(setups.cycleSetup(+1, env));
    EXPECT_EQ(setups.currentSetup(), L"A") << "forward from the last loads the first";
    EXPECT_EQ(s.amount, 1);
    EXPECT_EQ(registry.readString(store.settingsKey(), L"LastSetup", 254), L"A");
    ASSERT_TRUE(setups.cycleSetup(-1, env));
    EXPECT_EQ(setups.currentSetup(), L"C");
}

TEST_F(SetupFiles, SaveLoadAndDeleteFlows)
{
    EXPECT_FALSE(setups.loadSetup(L"Nowhere", env));
    EXPECT_FALSE(setups.deleteCurrentSetup()) << "nothing current";
    const std::wstring sync = L"D:\\Portable\\Ovix\\setups";
    files.createFolders(sync);
    ASSERT_TRUE(setups.addSyncFolder(sync));
    EXPECT_FALSE(setups.addSyncFolder(L"d:\\portable\\ovix\\SETUPS"));
    EXPECT_FALSE(setups.addSyncFolder(setups.setupsFolder()));

    s.set(&Settings::amount, 42);
    EXPECT_FALSE(setups.saveCurrentSetupAs(L"<>"));
    ASSERT_TRUE(setups.saveCurrentSetupAs(L" Night "));
    EXPECT_EQ(setups.currentSetup(), L"Night");
    EXPECT_EQ(s.lastSetup(), L"Night");
    EXPECT_EQ(setups.setupList(), std::vector<std::wstring>{L"Night"});
    EXPECT_EQ(fileText(sync + L"\\Night.ini"), fileText(own(L"Night.ini")));
    EXPECT_EQ(savedSetupMessage(L"Night"), L"Saved setup \"Night\"");

    s.set(&Settings::amount, 0);
    ASSERT_TRUE(setups.loadSetup(L"Night", env));
    EXPECT_EQ(s.amount, 42);

    ASSERT_TRUE(setups.deleteCurrentSetup());
    EXPECT_FALSE(files.exists(own(L"Night.ini")));
    EXPECT_FALSE(files.exists(sync + L"\\Night.ini"));
    EXPECT_EQ(setups.currentSetup(), L"");
    EXPECT_EQ(registry.readString(store.settingsKey(), L"LastSetup", 254), L"");
    EXPECT_TRUE(setups.setupList().empty());
}

TEST_F(SetupFiles, SyncCopiesOnlySetupFilesInAndEverySetupOutNewerWinning)
{
    const std::wstring sync = L"E:\\Ovix\\setups";
    files.createFolders(sync);
    setups.addSyncFolder(sync);
    files.put(sync + L"\\Foreign.ini", bytesOf("[section]\nkey=value of another program\n"));
    files.put(sync + L"\\Short.ini", bytesOf("# Vantor Ovix\n"));
    files.put(sync + L"\\Theirs.ini", bytesOf("# VantorOvix old header\namount=7\n"));
    files.put(own(L"Mine.ini"), bytesOf("no header at all, still ours\n"));
    files.put(own(L"Shared.ini"), bytesOf("# Vantor Ovix Settings\namount=1\n"));
    files.put(sync + L"\\Shared.ini", bytesOf("# Vantor Ovix Settings\namount=2\n")); // newer
    files.put(own(L"Foreign.ini"), bytesOf("# Vantor Ovix Settings\n"));
    files.setLastWrite(own(L"Foreign.ini"), 0); // older than theirs, but theirs is not a setup

    setups.syncSetups();
    EXPECT_EQ(fileText(own(L"Theirs.ini")), "# VantorOvix old header\namount=7\n");
    EXPECT_FALSE(files.exists(own(L"Short.ini")));
    EXPECT_EQ(fileText(own(L"Shared.ini")), "# Vantor Ovix Settings\namount=2\n");
    EXPECT_EQ(fileText(own(L"Foreign.ini")), "# Vantor Ovix Settings\n");
    EXPECT_EQ(fileText(sync + L"\\Mine.ini"), "no header at all, still ours\n");
    EXPECT_EQ(fileText(sync + L"\\Foreign.ini"), "[section]\nkey=value of another program\n") << "ours is older";
    EXPECT_EQ(setups.setupList(), (std::vector<std::wstring>{L"Foreign", L"Mine", L"Shared", L"Theirs"}));

    files.put(own(L"Shared.ini"), bytesOf("# Vantor Ovix Settings\namount=3\n")); // now ours is newer
    setups.syncSetups();
    EXPECT_EQ(fileText(sync + L"\\Shared.ini"), "# Vantor Ovix Settings\namount=3\n");
}

TEST_F(SetupFiles, SyncFoldersComeFromCopyFoldersAndTheAutostartEntry)
{
    store.writeCopyFolders({L"C:\\Old\\Ovix", L"C:\\Gone"});
    files.createFolders(L"C:\\Old\\Ovix\\setups");
    files.createFolders(L"F:\\Run\\setups");
    setups.buildSyncFolders(L"F:\\Run");
    EXPECT_EQ(setups.syncFolders(), (std::vector<std::wstring>{L"C:\\Old\\Ovix\\setups", L"F:\\Run\\setups"}));
    EXPECT_EQ(store.readCopyFolders(), (std::vector<std::wstring>{L"C:\\Old\\Ovix", L"C:\\Gone", L"F:\\Run"}));
}

TEST_F(SetupFiles, StartUpRestoresTheLastSetupOrOnAFirstRunTheSeedFile)
{
    files.put(L"G:\\Ovix\\VantorOvix.ini", bytesOf("amount=77\n"));
    EXPECT_FALSE(setups.restoreCurrentSetup(false, L"G:\\Ovix", env));
    ASSERT_TRUE(setups.restoreCurrentSetup(true, L"G:\\Ovix", env));
    EXPECT_EQ(s.amount, 77);
    EXPECT_EQ(setups.currentSetup(), L"");
    files.put(own(L"Night.ini"), bytesOf("amount=5\n"));
    s.setLastSetup(L"Night");
    ASSERT_TRUE(setups.restoreCurrentSetup(true, L"G:\\Ovix", env));
    EXPECT_EQ(s.amount, 5);
    EXPECT_EQ(setups.currentSetup(), L"Night");
}

// Files whose folder listings take clock time, as a slow disk's would.
class SlowFiles final : public platform::Files {
public:
    SlowFiles(platform::Files& inner, platform::sim::ManualClock& clock, int64_t micros)
        : inner_(inner), clock_(clock), micros_(micros)
    { }
    std::unique_ptr<platform::FileWriter> beginReplace(const std::wstring& p, const std::wstring& t) override
    {
        return inner_.beginReplace(p, t);
    }
    std::optional<std::vector<uint8_t>> readAll(const std::wstring& p) override { return inner_.readAll(p); }
    bool exists(const std::wstring& p) override { return inner_.exists(p); }
    bool removeFile(const std::wstring& p) override { return inner_.removeFile(p); }
    std::optional<std::vector<platform::FolderEntry>> listFolder(const std::wstring& folder) override
    {
        ++listings;
        clock_.advance(micros_);
        return inner_.listFolder(folder);
    }
    bool isFolder(const std::wstring& p) override { return inner_.isFolder(p); }
    bool createFolders(const std::wstring& p) override { return inner_.createFolders(p); }
    bool copyFile(const std::wstring& f, const std::wstring& t) override { return inner_.copyFile(f, t); }
    bool moveReplace(const std::wstring& f, const std::wstring& t, uint32_t& e) override
    {
        return inner_.moveReplace(f, t, e);
    }
    bool appendToLog(const std::wstring& p, std::span<const uint8_t> b, uint64_t limit) override
    {
        return inner_.appendToLog(p, b, limit);
    }

    int listings = 0;

private:
    platform::Files& inner_;
    platform::sim::ManualClock& clock_;
    int64_t micros_;
};

class InstallationSearch : public ::testing::Test {
protected:
    void SetUp() override
    {
        known.set(platform::KnownFolder::Desktop, L"C:\\Users\\u\\Desktop");
        known.set(platform::KnownFolder::Documents, L"C:\\Users\\u\\Documents");
    }
    void install(const std::wstring& folder, const std::wstring& exe = L"VantorOvix.exe")
    {
        files.put(folder + L"\\" + exe, bytesOf("MZ"));
        files.createFolders(folder + L"\\Setups");
    }

    platform::sim::MemoryFiles files;
    platform::sim::ManualClock clock;
    platform::sim::FixedKnownFolders known;
};

TEST_F(InstallationSearch, FindsCopiesThreeLevelsDownAndNotFour)
{
    install(L"C:\\Users\\u\\Desktop\\a\\b\\three");
    install(L"C:\\Users\\u\\Desktop\\a\\b\\c\\four");
    install(L"C:\\Users\\u\\Documents\\Tools", L"vantor ovix 2.exe");
    install(L"C:\\Users\\u\\Documents\\Other", L"Ovix.exe");
    install(L"C:\\Users\\u\\Documents\\.cache\\x");
    install(L"C:\\Users\\u\\Documents\\Hidden\\x");
    files.setFlags(L"C:\\Users\\u\\Documents\\Hidden", true, false, false);
    const auto found = findOtherInstallations(files, clock, known);
    EXPECT_EQ(found,
        (std::vector<std::wstring>{
            L"C:\\Users\\u\\Desktop\\a\\b\\three\\setups", L"C:\\Users\\u\\Documents\\Tools\\setups"}));
}

TEST_F(InstallationSearch, StopsAtItsDeadlineAndItsVisitLimit)
{
    for (int i = 0; i < 40; ++i)
        files.createFolders(L"C:\\Users\\u\\Desktop\\d" + std::to_wstring(i));
    install(L"C:\\Users\\u\\Documents\\Tools");
    SlowFiles slow(files, clock, 100'000); // 0.1 s a folder
    EXPECT_TRUE(findOtherInstallations(slow, clock, known).empty()) << "the Desktop alone uses up 3 s";
    EXPECT_EQ(slow.listings, 30);

    for (int i = 0; i < 2000; ++i)
        files.createFolders(L"C:\\Users\\u\\Desktop\\e" + std::to_wstring(i));
    SlowFiles counted(files, clock, 0);
    EXPECT_EQ(findOtherInstallations(counted, clock, known).size(), 1u);
    EXPECT_EQ(counted.listings, 1500 + 2) << "1500 on the Desktop, then the Documents root and Tools";
}

} // namespace
} // namespace settings
