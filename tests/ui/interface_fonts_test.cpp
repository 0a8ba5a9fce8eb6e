#include "platform/sim/memory_files.h"
#include "platform/sim/memory_registry.h"
#include "platform/text.h"
#include "support/fake_font_system.h"
#include "support/font_image.h"
#include "ui/font_names.h"
#include "ui/interface_fonts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>

using test_support::collectionImage;
using test_support::fontImage;
using test_support::FontNameRecord;
using testing::ElementsAre;
using ::ui::readFamilyNames;

namespace {

constexpr uint16_t kGerman = 1031;
constexpr uint16_t kMacintosh = 1;

using FakeFontSystem = test_support::FakeFontSystem;

const std::wstring kAppData = L"C:\\Users\\me\\AppData\\Roaming\\VantorOvix";
const std::wstring kFonts = kAppData + L"\\fonts";

struct Fonts {
    platform::sim::MemoryFiles files;
    platform::sim::MemoryRegistry registry;
    settings::RegistrySettings store{registry, L"Software\\FontTest"};
    settings::Settings settings;
    FakeFontSystem system;
    ui::InterfaceFonts fonts{files, system, settings, store, kAppData};

    // A font file whose name table says family, and that the system lists as
    // family while registered.
    void putFont(const std::wstring& path, const std::wstring& family)
    {
        files.put(path, fontImage({{family}}));
        system.fileFamilies[path] = {family};
    }
    std::optional<std::wstring> savedFace() { return registry.readString(store.settingsKey(), L"UiFont", 31); }
};

// Writes the images the fuzz target starts from when OVIX_WRITE_FONT_SEEDS
// names a folder; otherwise only checks what the reader makes of them.
void seed(const char* name, const std::vector<uint8_t>& bytes)
{
    if (const char* folder = std::getenv("OVIX_WRITE_FONT_SEEDS")) {
        std::ofstream out(std::string(folder) + "/" + name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
}

} // namespace

TEST(FontNames, UsEnglishWinsWhicheverComesFirstAndOnlyWindowsRecordsCount)
{
    const auto germanFirst = fontImage({{L"Schrift", kGerman}, {L"Script", 1033}});
    const auto englishFirst = fontImage({{L"Script", 1033}, {L"Schrift", kGerman}});
    seed("german_first.ttf", germanFirst);
    EXPECT_THAT(readFamilyNames(germanFirst), ElementsAre(L"Script"));
    EXPECT_THAT(readFamilyNames(englishFirst), ElementsAre(L"Script"));
    // Without US English the first usable record stays; a second one of the
    // same rank does not replace it.
    EXPECT_THAT(readFamilyNames(fontImage({{L"Schrift", kGerman}, {L"Police", 1036}})), ElementsAre(L"Schrift"));

    const auto macOnly = fontImage({{L"Mac Face", 0, kMacintosh, 0}});
    seed("macintosh_only.ttf", macOnly);
    EXPECT_TRUE(readFamilyNames(macOnly).empty());
    // Other name ids and non-Unicode Windows encodings give nothing either.
    EXPECT_TRUE(readFamilyNames(fontImage({{L"Full Name", 1033, 3, 1, 4}, {L"Big5", 1033, 3, 4}})).empty());
    EXPECT_THAT(readFamilyNames(fontImage({{L"Wide", 1033, 3, 10}})), ElementsAre(L"Wide"));
    EXPECT_THAT(readFamilyNames(fontImage({{std::wstring(L"Ze\0ro", 5)}})), ElementsAre(L"Zero"));
    // A whole font: the name table among nine others, beside style and full names.
    const auto whole = test_support::completeFontImage(L"Whole Face");
    seed("complete.ttf", whole);
    EXPECT_THAT(readFamilyNames(whole), ElementsAre(L"Whole Face"));
}

TEST(FontNames, ACollectionDeclaringAHundredFontsIsReadAsSixtyFourAndEachNameOnce)
{
    std::vector<std::vector<FontNameRecord>> fonts;
    for (int i = 0; i < 100; ++i)
        fonts.push_back({{L"Face " + std::to_wstring(i)}});
    const auto names = readFamilyNames(collectionImage(fonts));
    ASSERT_EQ(names.size(), 64u);
    EXPECT_EQ(names.front(), L"Face 0");
    EXPECT_EQ(names.back(), L"Face 63");

    const auto pair = collectionImage({{{L"Duo"}}, {{L"duo", kGerman}}, {{L"Duo Bold"}}});
    seed("collection.ttc", pair);
    EXPECT_THAT(readFamilyNames(pair), ElementsAre(L"Duo", L"Duo Bold"));
    // A collection that declares more fonts than its header holds offsets for.
    seed("collection_overdeclared.ttc", collectionImage({{{L"Only"}}}, 0xFFFFFFFF));
    EXPECT_THAT(readFamilyNames(collectionImage({{{L"Only"}}}, 0xFFFFFFFF)), ElementsAre(L"Only"));
}

TEST(FontNames, ReadsPastTheEndYieldNothing)
{
    const auto font = fontImage({{L"Cut", kGerman}, {L"Whole", 1033}});
    // Every shorter copy gives the whole name or nothing, never a piece.
    for (size_t size = 0; size < font.size(); ++size) {
        const auto names = readFamilyNames(std::span(font.data(), size));
        EXPECT_TRUE(names.empty() || names == std::vector<std::wstring>{L"Cut"}) << size;
    }
    EXPECT_THAT(readFamilyNames(font), ElementsAre(L"Whole"));

    // A record whose string lies past the end gives nothing; the next record still counts.
    auto outside = fontImage({{L"Far", 1033}, {L"Near", kGerman}});
    const size_t nameTable = 12 + 2 * 16 + 32;
    outside[nameTable + 6 + 10] = 0x7F; // the first record's string offset
    seed("string_outside.ttf", outside);
    EXPECT_THAT(readFamilyNames(outside), ElementsAre(L"Near"));

    // A collection whose font offset and a font whose name table offset point far away.
    auto badCollection = collectionImage({{{L"Gone"}}});
    badCollection[12] = 0xFF;
    EXPECT_TRUE(readFamilyNames(badCollection).empty());
    auto badTable = fontImage({{L"Gone"}});
    badTable[12 + 16 + 8] = 0xFF;
    EXPECT_TRUE(readFamilyNames(badTable).empty());

    std::vector<uint8_t> huge(ui::kMaxFontFileBytes + 1, 0);
    std::copy(font.begin(), font.end(), huge.begin());
    EXPECT_TRUE(readFamilyNames(huge).empty());
}

TEST(InterfaceFonts, BuiltInFacesPassTheFaceCheckInOrderAndTahomaStandsAloneWhenNoneDoes)
{
    Fonts f;
    f.fonts.loadNow();
    EXPECT_THAT(f.fonts.faces(), ElementsAre(L"Tahoma"));

    f.system.installed = {L"consolas", L"Arial", L"Segoe UI", L"Wingdings"};
    f.fonts.loadNow();
    EXPECT_THAT(f.fonts.faces(), ElementsAre(L"Segoe UI", L"Arial", L"Consolas"));
}

TEST(InterfaceFonts, TheStartUpScanSkipsMarkedFilesAndFindsUnreadableNamesByComparingFamilies)
{
    Fonts f;
    f.system.installed = {L"Tahoma"};
    f.putFont(kFonts + L"\\kept.ttf", L"Kept");
    f.putFont(kFonts + L"\\gone.otf", L"Gone");
    f.files.put(kFonts + L"\\gone.otf.removed", {});
    f.putFont(kFonts + L"\\notes.txt", L"Notes");
    // Its name table is Macintosh-only, but the system lists it while registered.
    f.files.put(kFonts + L"\\zmac.TTC", fontImage({{L"Mac Face", 0, kMacintosh, 0}}));
    f.system.fileFamilies[kFonts + L"\\zmac.TTC"] = {L"Mac Face"};
    // Its name table names a family the system never shows: the face check drops it.
    f.files.put(kFonts + L"\\odd.ttf", fontImage({{L"Substituted"}}));

    f.fonts.loadNow();
    EXPECT_THAT(f.fonts.faces(), ElementsAre(L"Tahoma", L"Kept", L"Mac Face"));
    EXPECT_EQ(f.system.registrations[kFonts + L"\\gone.otf"], 0);
    EXPECT_EQ(f.system.registrations[kFonts + L"\\zmac.TTC"], 1);
    EXPECT_TRUE(f.fonts.isAdded(L"mac face"));
    EXPECT_FALSE(f.fonts.isAdded(L"Tahoma"));
}

TEST(InterfaceFonts, AnAddedFontThenRemovedLeavesItsMarkerAndTheFaceFallsBackToTahoma)
{
    Fonts f;
    f.system.installed = {L"Tahoma", L"Arial"};
    f.fonts.loadNow();
    const std::wstring source = L"D:\\Downloads\\Neat.ttf";
    f.putFont(source, L"Neat Sans");
    f.system.fileFamilies[kFonts + L"\\Neat.ttf"] = {L"Neat Sans"};
    f.system.chosen = source;

    const auto added = f.fonts.addFontFromDialog();
    EXPECT_EQ(added.toast, L"Added font: Neat Sans");
    EXPECT_TRUE(f.files.isFolder(kFonts));
    EXPECT_EQ(f.files.readAll(kFonts + L"\\Neat.ttf"), f.files.readAll(source));
    EXPECT_EQ(f.system.registrations[kFonts + L"\\Neat.ttf"], 1);
    EXPECT_THAT(f.fonts.faces(), ElementsAre(L"Tahoma", L"Arial", L"Neat Sans"));
    EXPECT_EQ(f.savedFace(), L"Tahoma");

    f.settings.setFont(L"Neat Sans");
    const auto removed = f.fonts.removeFont(L"Neat Sans");
    EXPECT_EQ(removed.toast, L"Removed font: Neat Sans");
    EXPECT_TRUE(removed.faceChanged);
    EXPECT_EQ(f.settings.font(), L"Tahoma");
    EXPECT_EQ(f.savedFace(), L"Tahoma");
    EXPECT_TRUE(f.files.exists(kFonts + L"\\Neat.ttf.removed"));
    EXPECT_EQ(f.system.registrations[kFonts + L"\\Neat.ttf"], 0);
    EXPECT_THAT(f.fonts.faces(), ElementsAre(L"Tahoma", L"Arial"));
    f.fonts.loadNow();
    EXPECT_THAT(f.fonts.faces(), ElementsAre(L"Tahoma", L"Arial"));

    // Adding the file from the fonts folder itself takes the removal back.
    EXPECT_EQ(f.fonts.addFont(kFonts + L"\\Neat.ttf").toast, L"Added font: Neat Sans");
    EXPECT_FALSE(f.files.exists(kFonts + L"\\Neat.ttf.removed"));
    f.fonts.loadNow();
    EXPECT_THAT(f.fonts.faces(), ElementsAre(L"Tahoma", L"Arial", L"Neat Sans"));
}

TEST(InterfaceFonts, EachNameIsListedOnceAndAFailedAddChangesNothing)
{
    Fonts f;
    f.system.installed = {L"Tahoma", L"Arial"};
    f.fonts.loadNow();
    f.settings.setFont(L"Arial");
    f.files.put(L"D:\\a.ttf", collectionImage({{{L"arial"}}, {{L"Twin"}}}));
    f.files.put(L"D:\\b.ttf", fontImage({{L"TWIN"}}));
    EXPECT_EQ(f.fonts.addFont(L"D:\\a.ttf").toast, L"Added font: arial");
    EXPECT_EQ(f.fonts.addFont(L"D:\\b.ttf").toast, L"Added font: TWIN");
    EXPECT_THAT(f.fonts.faces(), ElementsAre(L"Tahoma", L"Arial", L"Twin"));

    // Removing the file that also named a built-in face keeps that face.
    const auto removed = f.fonts.removeFont(L"Arial");
    EXPECT_EQ(removed.toast, L"Removed font: Arial");
    EXPECT_FALSE(removed.faceChanged);
    EXPECT_EQ(f.settings.font(), L"Arial");
    EXPECT_THAT(f.fonts.faces(), ElementsAre(L"Tahoma", L"Arial", L"TWIN"));
    EXPECT_EQ(f.fonts.removeFont(L"Tahoma").toast, L"");

    const auto before = f.fonts.faces();
    f.files.put(L"D:\\text.ttf", {'n', 'o', 't', ' ', 'a', ' ', 'f', 'o', 'n', 't', '!', '!', '!'});
    EXPECT_EQ(f.fonts.addFont(L"D:\\text.ttf").toast, L"Could not load that font file");
    EXPECT_EQ(f.fonts.addFont(L"D:\\missing.ttf").toast, L"Could not load that font file");
    f.files.put(L"D:\\refused.ttf", fontImage({{L"Refused"}}));
    f.system.refuse.insert(kFonts + L"\\refused.ttf");
    EXPECT_EQ(f.fonts.addFont(L"D:\\refused.ttf").toast, L"Could not load that font file");
    f.files.put(L"D:\\nospace.ttf", fontImage({{L"No Space"}}));
    f.files.failCreate(true);
    EXPECT_EQ(f.fonts.addFont(L"D:\\nospace.ttf").toast, L"Could not load that font file");
    EXPECT_FALSE(f.files.exists(kFonts + L"\\nospace.ttf"));
    // Without its marker a removal would come back at the next start, so it is refused.
    EXPECT_EQ(f.fonts.removeFont(L"Twin").toast, L"Could not remove that font file");
    EXPECT_EQ(f.fonts.faces(), before);
    EXPECT_EQ(f.settings.font(), L"Arial");
}
