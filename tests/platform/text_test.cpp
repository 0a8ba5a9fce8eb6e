#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

using platform::equalsNoCase;
using platform::utf8FromWide;
using platform::wideFromUtf8;

TEST(Text, Utf8RoundTripsEveryPlane)
{
    const std::wstring wide = L"Caf\u00e9 \u6f22\u5b57 \U0001F3A4 end";
    const std::string utf8 = utf8FromWide(wide);
    EXPECT_EQ(utf8, "Caf\xC3\xA9 \xE6\xBC\xA2\xE5\xAD\x97 \xF0\x9F\x8E\xA4 end");
    EXPECT_EQ(wideFromUtf8(utf8), wide);
    EXPECT_EQ(wideFromUtf8(""), L"");
}

TEST(Text, BrokenUtf8BecomesReplacementCharactersWithoutLosingTheRest)
{
    EXPECT_EQ(wideFromUtf8("a\xFF"
                           "b"),
        L"a\uFFFD"
        L"b");
    EXPECT_EQ(wideFromUtf8("a\xE6\xBC"), L"a\uFFFD");
    EXPECT_EQ(wideFromUtf8("\xC0\xAF"), L"\uFFFD") << "overlong forms are refused";
    EXPECT_EQ(wideFromUtf8("\xED\xA0\x80x"), L"\uFFFDx") << "encoded surrogates are refused";
    EXPECT_EQ(wideFromUtf8("\xE6"
                           "abc"),
        L"\uFFFD"
        L"abc");
}

TEST(Text, NamesCompareWithoutCase)
{
    EXPECT_TRUE(equalsNoCase(L"Tahoma", L"TAHOMA"));
    EXPECT_TRUE(equalsNoCase(L"", L""));
    EXPECT_FALSE(equalsNoCase(L"Tahoma", L"Tahom"));
    EXPECT_FALSE(equalsNoCase(L"Arial", L"Arian"));
}

} // namespace
