#include "clip/clip_log.h"
#include "clip/messages.h"
#include "clip/source_check.h"
#include "platform/sim/memory_files.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace {

TEST(ClipSource, ValidationSortsLinksFromPathsAndSaysWhatIsWrong)
{
    struct Case {
        const wchar_t* text;
        bool ok, isWeb;
        const wchar_t* message;
    };
    const Case cases[] = {
        {L" \t\r\n\u00A0", false, false, clip::kEmptySource},
        {L"\u00A0 https://example.com/a.mp3 \n", true, true, L""},
        {L"HTTP://Example.com", true, true, L""},
        {L"http://", false, true, clip::kBadWebLink},
        {L"https://exa mple.com/", false, true, clip::kBadWebLink},
        {L"ftp://example.com/a.mp3", false, false, clip::kNotLinkOrPath},
        {L"C:\\Sounds\\a.wav", true, false, L""},
        {L"\\\\server\\share\\a.wav", false, false, clip::kNotLinkOrPath},
        {L"sounds\\a.wav", false, false, clip::kNotLinkOrPath},
    };
    for (const Case& c : cases) {
        const clip::SourceCheck check = clip::validateSource(c.text);
        EXPECT_EQ(check.ok, c.ok) << c.text;
        EXPECT_EQ(check.isWeb, c.isWeb) << c.text;
        EXPECT_EQ(check.message, c.message) << c.text;
    }
    EXPECT_EQ(clip::trimSource(L"\u3000 C:\\a b.wav\t "), L"C:\\a b.wav");
}

TEST(ClipSource, AWebLinkNeedsASchemeAHostAndNoCharacterAParserWouldStumbleOn)
{
    for (const wchar_t* good : {L"https://h", L"http://user:pw@example.com:8080/a?b=c#d", L"http://[::1]:80/x",
             L"https://example.com?x=http://y"})
        EXPECT_TRUE(clip::isWebLink(good)) << good;
    for (const wchar_t* bad : {L"https://", L"https:///path", L"http://user@/a", L"http://:80/", L"http://h:99999/",
             L"http://h:8a/", L"http://[::1/", L"http://h/a b", L"http://h/\"", L"http://h/<", L"http://h\\a",
             L"http://h/\x7f", L"http://h/\x01", L"mailto:x@h"})
        EXPECT_FALSE(clip::isWebLink(bad)) << bad;
    const std::wstring prefix = L"https://example.com/";
    EXPECT_TRUE(clip::isWebLink(prefix + std::wstring(2048 - prefix.size(), L'a')));
    EXPECT_FALSE(clip::isWebLink(prefix + std::wstring(2049 - prefix.size(), L'a')));
}

TEST(ClipSource, ALocalPathIsADrivePathOfFourTo1039Characters)
{
    for (const wchar_t* good : {L"C:/a", L"z:\\Music\\song.flac", L"D:\\odd name (1).mp3"})
        EXPECT_TRUE(clip::isLocalPath(good)) << good;
    for (const wchar_t* bad : {L"C:\\", L"CC:\\a.wav", L"1:\\a.wav", L"C:a.wav", L"C:\\a|b.wav", L"C:\\a\"b",
             L"C:\\x://y", L"C:\\a\tb", L"//server/a.wav"})
        EXPECT_FALSE(clip::isLocalPath(bad)) << bad;
    EXPECT_TRUE(clip::isLocalPath(L"C:\\" + std::wstring(1036, L'a')));
    EXPECT_FALSE(clip::isLocalPath(L"C:\\" + std::wstring(1037, L'a')));
}

TEST(ClipSource, OnlyLinksToPagesGoThroughTheDownloadHelper)
{
    // The path decides, with the query and fragment cut away.
    for (const wchar_t* direct : {L"https://example.com/a.mp3?token=1&x=.html", L"https://example.com/A.MP3#t=10",
             L"http://example.com/dir/take.aiff", L"https://example.com/v.webm?a#b"})
        EXPECT_FALSE(clip::needsHelper(direct)) << direct;
    for (const wchar_t* page : {L"https://example.com/watch?v=a.mp3", L"https://example.com/page#a.mp3",
             L"https://example.com/a.mp3.html", L"https://example.com/"})
        EXPECT_TRUE(clip::needsHelper(page)) << page;
    // Not a web link at all: local files go straight to the reader.
    EXPECT_FALSE(clip::needsHelper(L"C:\\page"));
    EXPECT_FALSE(clip::needsHelper(L"https://"));
}

TEST(ClipLog, TheToolsFolderFollowsProgramDataWhenItIsUsable)
{
    const std::wstring data = L"D:\\Data";
    const std::wstring empty, longest(259, L'x'), tooLong(260, L'x');
    EXPECT_EQ(clip::toolsFolderFor(nullptr), L"C:\\ProgramData\\VantorOvix\\tools");
    EXPECT_EQ(clip::toolsFolderFor(&data), L"D:\\Data\\VantorOvix\\tools");
    EXPECT_EQ(clip::toolsFolderFor(&empty), L"C:\\ProgramData\\VantorOvix\\tools");
    EXPECT_EQ(clip::toolsFolderFor(&longest), longest + L"\\VantorOvix\\tools");
    EXPECT_EQ(clip::toolsFolderFor(&tooLong), L"C:\\ProgramData\\VantorOvix\\tools");
}

std::string text(const std::vector<uint8_t>& bytes)
{
    return {bytes.begin(), bytes.end()};
}

TEST(ClipLog, EachLineIsStampedInUtf8AndTheLogEmptiesOnceBeyond200000Bytes)
{
    platform::sim::MemoryFiles files;
    const std::wstring folder = L"C:\\ProgramData\\VantorOvix\\tools";
    clip::ClipLog log(&files, folder);
    EXPECT_EQ(log.path(), folder + L"\\clip.log");
    log.line(L"open: C:\\Gr\u00FC\u00DFe.wav");
    log.line(std::string_view("done"));
    EXPECT_TRUE(files.isFolder(folder));
    const std::regex twoLines("\\d\\d:\\d\\d:\\d\\d  open: C:\\\\Gr\xC3\xBC\xC3\x9F"
                              "e\\.wav\n\\d\\d:\\d\\d:\\d\\d  done\n");
    EXPECT_TRUE(std::regex_match(text(*files.readAll(log.path())), twoLines)) << text(*files.readAll(log.path()));

    files.put(log.path(), std::vector<uint8_t>(clip::kClipLogLimit, 'x'));
    log.line(std::string_view("kept"));
    EXPECT_EQ(files.readAll(log.path())->size(), clip::kClipLogLimit + 15);
    log.line(std::string_view("fresh"));
    EXPECT_TRUE(std::regex_match(text(*files.readAll(log.path())), std::regex("\\d\\d:\\d\\d:\\d\\d  fresh\n")));

    // Without files, or when the log cannot be written, lines are dropped quietly.
    clip::ClipLog(nullptr, folder).line(std::string_view("nowhere"));
    files.failCreate(true);
    log.line(std::string_view("lost"));
    EXPECT_EQ(text(*files.readAll(log.path())).find("lost"), std::string::npos);
}

} // namespace
