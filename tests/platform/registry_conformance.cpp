#include "platform/registry_conformance.h"

#include "platform/registry_values.h"

#include <algorithm>

using platform::DeleteResult;
using platform::ValueType;

TEST_P(RegistryConformance, DwordsRoundTripAndAMissingKeyReadsNothing)
{
    EXPECT_FALSE(store().keyExists(key()));
    EXPECT_FALSE(store().readDword(key(), L"UiZoom").has_value());
    ASSERT_TRUE(store().writeDword(key(), L"UiZoom", 125));
    ASSERT_TRUE(store().writeDword(key(), L"GlitchKey", 0xFFFFFFFFu));
    EXPECT_TRUE(store().keyExists(key()));
    EXPECT_EQ(store().readDword(key(), L"UiZoom"), 125u);
    EXPECT_EQ(store().readDword(key(), L"uizoom"), 125u) << "value names ignore case";
    EXPECT_EQ(store().readDword(key(), L"GlitchKey"), 0xFFFFFFFFu);
    EXPECT_FALSE(store().readDword(key(), L"Missing").has_value());
}

TEST_P(RegistryConformance, ValuesOfTheWrongTypeOrSizeReadAsMissing)
{
    plant(L"AsString", ValueType::String, platform::stringBytes(L"70"));
    plant(L"ShortDword", ValueType::Dword, {1, 0});
    plant(L"Qword", ValueType::Qword, {1, 0, 0, 0, 0, 0, 0, 0});
    plant(L"Binary4", ValueType::Binary, {1, 0, 0, 0});
    plant(L"Number", ValueType::Dword, {7, 0, 0, 0});
    EXPECT_FALSE(store().readDword(key(), L"AsString").has_value());
    EXPECT_FALSE(store().readDword(key(), L"ShortDword").has_value());
    EXPECT_FALSE(store().readDword(key(), L"Qword").has_value());
    EXPECT_FALSE(store().readDword(key(), L"Binary4").has_value());
    EXPECT_EQ(store().readDword(key(), L"Number"), 7u);
    EXPECT_FALSE(store().readString(key(), L"Number", 30).has_value());
    EXPECT_FALSE(store().readMultiString(key(), L"AsString", 32764).has_value());
    plant(L"Expand", ValueType::ExpandString, platform::stringBytes(L"%APPDATA%"));
    EXPECT_FALSE(store().readString(key(), L"Expand", 260).has_value());
}

TEST_P(RegistryConformance, StringsAreReadOnlyWithinTheirLimit)
{
    ASSERT_TRUE(store().writeString(key(), L"UiFont", std::wstring(30, L'F')));
    ASSERT_TRUE(store().writeString(key(), L"TooLong", std::wstring(31, L'F')));
    ASSERT_TRUE(store().writeString(key(), L"Empty", L""));
    ASSERT_TRUE(store().writeString(key(), L"Unicode", L"Caf\u00e9 \u6f22\u5b57"));
    EXPECT_EQ(store().readString(key(), L"UiFont", 30), std::wstring(30, L'F'));
    EXPECT_FALSE(store().readString(key(), L"TooLong", 30).has_value());
    EXPECT_EQ(store().readString(key(), L"TooLong", 31), std::wstring(31, L'F'));
    EXPECT_EQ(store().readString(key(), L"Empty", 30), L"");
    EXPECT_EQ(store().readString(key(), L"Unicode", 30), L"Caf\u00e9 \u6f22\u5b57");
}

TEST_P(RegistryConformance, AStringStoredWithoutItsTerminatorStillReads)
{
    std::vector<uint8_t> bytes = platform::stringBytes(L"Tahoma");
    bytes.resize(bytes.size() - 2);
    plant(L"NoTerminator", ValueType::String, bytes);
    EXPECT_EQ(store().readString(key(), L"NoTerminator", 30), L"Tahoma");
}

TEST_P(RegistryConformance, MultiStringsRoundTripWithinTheirByteLimit)
{
    const std::vector<std::wstring> folders = {L"C:\\Tools\\Ovix", L"D:\\Portable\\Ovix \u00e9", L"E:\\x"};
    ASSERT_TRUE(store().writeMultiString(key(), L"CopyFolders", folders));
    EXPECT_EQ(store().readMultiString(key(), L"CopyFolders", 32764), folders);
    EXPECT_FALSE(store().readMultiString(key(), L"CopyFolders", 20).has_value());
    ASSERT_TRUE(store().writeMultiString(key(), L"None", {}));
    auto none = store().readMultiString(key(), L"None", 32764);
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->empty());
}

TEST_P(RegistryConformance, ListingGivesEveryValueOnceWithItsTypeAndSize)
{
    // Windows lists values in creation order and wine sorts them by name; callers
    // take whatever order the store gives.
    ASSERT_TRUE(store().writeString(key(L"Presets"), L"Bright", L"1,2,3,4,5,6,7"));
    ASSERT_TRUE(store().writeString(key(L"Presets"), L"Alpha", L"0,0,0,0,0,0,0"));
    ASSERT_TRUE(store().writeDword(key(L"Presets"), L"Number", 3));
    ASSERT_TRUE(store().writeString(key(L"Presets"), L"Bright", L"7,6,5,4,3,2,1"));
    auto values = store().listValues(key(L"Presets"));
    ASSERT_EQ(values.size(), 3u);
    std::sort(values.begin(), values.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    EXPECT_EQ(values[0].name, L"Alpha");
    EXPECT_EQ(values[1].name, L"Bright");
    EXPECT_EQ(values[1].type, ValueType::String);
    EXPECT_EQ(values[1].sizeBytes, 28u);
    EXPECT_EQ(values[2].name, L"Number");
    EXPECT_EQ(values[2].type, ValueType::Dword);
    EXPECT_EQ(values[2].sizeBytes, 4u);
    EXPECT_TRUE(store().listValues(key(L"Nowhere")).empty());
}

TEST_P(RegistryConformance, DeletingValuesAndKeysSaysWhetherAnythingWasThere)
{
    ASSERT_TRUE(store().writeDword(key(L"Sub\\Deeper"), L"A", 1));
    ASSERT_TRUE(store().writeDword(key(), L"B", 2));
    EXPECT_EQ(store().deleteValue(key(), L"B"), DeleteResult::Deleted);
    EXPECT_EQ(store().deleteValue(key(), L"B"), DeleteResult::Missing);
    EXPECT_EQ(store().deleteValue(key(L"NoSuchKey"), L"B"), DeleteResult::Missing);
    EXPECT_FALSE(store().readDword(key(), L"B").has_value());
    EXPECT_TRUE(store().keyExists(key(L"Sub")));
    EXPECT_EQ(store().deleteKey(key(L"Sub")), DeleteResult::Deleted);
    EXPECT_FALSE(store().keyExists(key(L"Sub\\Deeper")));
    EXPECT_FALSE(store().keyExists(key(L"Sub")));
    EXPECT_TRUE(store().keyExists(key()));
    EXPECT_EQ(store().deleteKey(key(L"Sub")), DeleteResult::Missing);
}
