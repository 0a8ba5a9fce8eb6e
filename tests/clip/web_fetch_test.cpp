// The web page fetch on the simulated web, files, registry and processes:
// the download helper's download, checks, pin and sidecar, its hidden runs,
// and a page's sound played through the player (whose decode threads run for
// real).

#include "clip/clip_log.h"
#include "clip/player.h"
#include "clip/web_fetch.h"
#include "platform/sim/manual_clock.h"
#include "platform/sim/memory_files.h"
#include "platform/sim/memory_registry.h"
#include "platform/sim/sim_hashes.h"
#include "platform/sim/sim_media.h"
#include "platform/sim/sim_processes.h"
#include "platform/sim/sim_web.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using clip::PlayerState;
using platform::sim::SimProcesses;

const std::wstring kTools = L"C:\\ProgramData\\VantorOvix\\tools";
const std::wstring kHelper = kTools + L"\\yt-dlp.exe";
const std::wstring kHelperUrl = std::wstring(clip::kHelperReleaseHost) + clip::kHelperPath;
const std::wstring kListUrl = std::wstring(clip::kHelperReleaseHost) + clip::kChecksumListPath;
const std::wstring kPage = L"https://video.example/watch?v=1";
constexpr wchar_t kDownloadFailed[] = L"Couldn't download the helper. Check your connection and try again.";

template <class Condition> bool until(Condition condition)
{
    for (int i = 0; i < 20000; ++i) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return condition();
}

std::vector<uint8_t> helperBytes(uint8_t fill)
{
    std::vector<uint8_t> bytes(clip::kHelperMinBytes + 16, fill);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    return bytes;
}

std::string sumsFor(const std::vector<uint8_t>& helper)
{
    return "0000000000000000000000000000000000000000000000000000000000000000  yt-dlp_linux\n"
        + platform::sim::sha256Hex(helper) + " *yt-dlp.exe\n";
}

// The player's side of a decode, for the calls made without a player.
class Decode final : public clip::PageDecode {
public:
    bool cancelled() const override { return false; }
    void setStatus(const std::wstring&) override { }
    bool streamFile(const std::wstring&, std::wstring&) override { return false; }
    void markHelperSuspect() override { }
    bool takeHelperSuspect() override { return false; }
    std::atomic<platform::RunKiller*>& helperJob() override { return job; }
    std::atomic<platform::RunKiller*> job{nullptr};
};

class WebFetchTest : public ::testing::Test {
protected:
    WebFetchTest()
    {
        web.serve(kListUrl, sumsFor(helper));
        web.serve(kHelperUrl, helper);
        player.setPageFetch([this](const std::wstring& link, uint32_t generation, clip::PageDecode& page,
                                std::wstring& message) { return fetch.fetchPageSound(link, generation, page, message); });
    }
    void TearDown() override
    {
        player.stop();
        ASSERT_TRUE(until([&] { return player.activeDecodes() == 0; }));
    }

    // The helper stand-in: each run does what the next entry of runs says
    // (saves nothing when runs is used up).
    struct Run {
        std::wstring ext{};    // empty: saves nothing
        bool playable = true;  // the media can decode what it saved
        uint32_t exitCode = 0;
        std::string output{};
        bool hangs = false;
        size_t bytes = 30000;
    };
    void scriptHelper(std::vector<Run> scripted)
    {
        runs = std::move(scripted);
        ran = 0;
        const Run first = runs.empty() ? Run{} : runs.front();
        processes.script(kHelper,
            {.exitCode = first.exitCode,
                .keepsRunning = first.hangs,
                .onStart = [this] { helperRan(); },
                .output = first.output});
    }
    void helperRan()
    {
        statusAtRun.push_back(player.statusText());
        const size_t index = ran++;
        if (index >= runs.size())
            return;
        const Run& run = runs[index];
        if (!run.ext.empty()) {
            const std::wstring line = processes.starts().back().commandLine;
            const size_t from = line.find(L"-o \"") + 4;
            const std::wstring pattern = line.substr(from, line.find(L'"', from) - from);
            const std::wstring path = pattern.substr(0, pattern.find(L"%(ext)s")) + run.ext;
            files.put(path, std::vector<uint8_t>(run.bytes, 1));
            if (run.playable) {
                platform::sim::SimMediaSource source;
                source.native = {true, 2, 48000, 32, 0};
                source.frames = 24000;
                media.addSource(path, source);
            }
        }
        // The next run's exit code and output.
        if (index + 1 < runs.size()) {
            const Run& next = runs[index + 1];
            processes.script(kHelper,
                {.exitCode = next.exitCode,
                    .keepsRunning = next.hangs,
                    .onStart = [this] { helperRan(); },
                    .output = next.output});
        }
    }
    std::string logText()
    {
        const auto bytes = files.readAll(kTools + L"\\clip.log");
        return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
    }
    // Each line appears in the log, in this order.
    void expectLogged(const std::vector<std::string>& lines)
    {
        const std::string text = logText();
        size_t at = 0;
        for (const auto& line : lines) {
            const size_t found = text.find(line, at);
            ASSERT_NE(found, std::string::npos) << line << "\nin:\n" << text;
            at = found + line.size();
        }
    }
    std::vector<std::wstring> partFiles()
    {
        std::vector<std::wstring> parts;
        for (const auto& path : files.paths()) {
            if (path.ends_with(L".part"))
                parts.push_back(path);
        }
        return parts;
    }
    std::vector<SimProcesses::Start> helperStarts()
    {
        std::vector<SimProcesses::Start> hidden;
        for (const auto& start : processes.starts()) {
            if (start.kind == SimProcesses::Start::Kind::Hidden)
                hidden.push_back(start);
        }
        return hidden;
    }
    // Opens link and waits for its decode; the tag of its saved files.
    std::wstring play(const std::wstring& link)
    {
        player.open(link, 0.0);
        const uint32_t generation = player.clipGeneration();
        EXPECT_TRUE(until([&] { return player.activeDecodes() == 0; }));
        return std::to_wstring(generation) + L"_";
    }
    // The engine gets a whole block of the page's sound.
    bool sounds()
    {
        std::vector<float> left(480), right(480);
        return player.decodeFinished() && player.read(left.data(), right.data(), 480) == 480
            && player.state() == PlayerState::Playing;
    }

    const std::vector<uint8_t> helper = helperBytes(0x5A);
    const std::string checksum = platform::sim::sha256Hex(helper);
    platform::sim::ManualClock clock;
    platform::sim::MemoryFiles files;
    platform::sim::MemoryRegistry registry;
    platform::sim::SimWeb web{&files};
    SimProcesses processes{clock};
    platform::sim::SimHashes hashes{files};
    platform::sim::SimMedia media{&clock};
    clip::ClipLog log{&files, kTools};
    clip::WebFetch fetch{{files, &web, &processes, &hashes, &registry, &log, kTools}};
    clip::Player player{media, clock, &log};
    std::vector<Run> runs;
    size_t ran = 0;
    std::vector<std::wstring> statusAtRun;
    Decode decode;
};

TEST(WebFetchParts, TheChecksumListCountsOnlyAWellFormedLineForTheWindowsHelper)
{
    const std::string hex(64, 'a');
    const std::string upper = "ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789";
    struct Case {
        std::string text;
        std::optional<std::string> sum;
    };
    const Case cases[] = {
        {hex + "  yt-dlp.exe\n", hex},
        {upper + "\t*./yt-dlp.exe \r\n", "abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789"},
        {hex + " yt-dlp.exe", hex}, // no final line feed
        {std::string(64, 'b') + "  yt-dlp_x86.exe\n" + hex + "  yt-dlp.exe\n" + std::string(64, 'c') + "  yt-dlp.exe",
            hex},
        {hex + "yt-dlp.exe\n", std::nullopt},                 // no blank after the digits
        {hex.substr(1) + "g  yt-dlp.exe\n", std::nullopt},    // not hex
        {hex + "0  yt-dlp.exe\n", std::nullopt},              // 65 digits
        {hex + "  **yt-dlp.exe\n", std::nullopt},             // one star at most
        {hex + "  yt-dlp.exe.sig\n", std::nullopt},           // another file
        {hex + "  dir/yt-dlp.exe\n", std::nullopt},           // another folder
        {hex + " \n", std::nullopt},                          // no name
        {" " + hex + "  yt-dlp.exe\n", std::nullopt},         // indented
        {std::string("\n\r\n\t\n"), std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(clip::parseChecksumList(c.text), c.sum) << c.text;
    EXPECT_EQ(clip::parseChecksumList(hex + "  yt-dlp.exe" + std::string(1, '\0') + "x\n"), std::nullopt);
}

TEST(WebFetchParts, TheLinkIsEncodedSoItCannotLeaveItsQuotedArgument)
{
    EXPECT_EQ(clip::encodeHelperLink(L"https://a.example/p?q=\"x\" <b>\\c\x7f\t%41\x00e9"),
        L"https://a.example/p?q=%22x%22%20%3Cb%3E%5Cc%7F%09%41\x00e9");
    EXPECT_EQ(clip::helperArguments(L"bestaudio/best", L"C:\\T", L"clip_4_2", L"https://a.example/\"&x=1"),
        L"--no-playlist --playlist-items 1 --no-warnings --no-progress -f \"bestaudio/best\" "
        L"-o \"C:\\T\\clip_4_2.%(ext)s\" -- \"https://a.example/%22&x=1\"");
}

TEST(WebFetchParts, TheFailureTextIsTheLastLineCutAt120)
{
    EXPECT_EQ(clip::helperFailureMessage(""), L"the helper could not fetch that link");
    EXPECT_EQ(clip::helperFailureMessage(" \r\n\n  \r\n"), L"the helper could not fetch that link");
    EXPECT_EQ(clip::helperFailureMessage("first\r\nERROR: \xc3\xa9t\xc3\xa9  \r\n\n"), L"ERROR: \u00e9t\u00e9");
    EXPECT_EQ(clip::helperFailureMessage(std::string(120, 'x')), std::wstring(120, L'x'));
    EXPECT_EQ(clip::helperFailureMessage(std::string(121, 'x')), std::wstring(117, L'x') + L"...");
}

TEST(WebFetchParts, TheWatchAbortsPastItsLimitOrWhenCancelledAndKeepsTheLargestAnnouncedSize)
{
    bool cancel = false;
    clip::FetchWatch watch(1000, [&] { return cancel; });
    EXPECT_TRUE(watch.progress(0, 0));
    EXPECT_TRUE(watch.progress(1000, 1000));
    EXPECT_TRUE(watch.progress(500, 700));
    EXPECT_EQ(watch.largestAnnounced(), 1000u);
    EXPECT_FALSE(watch.progress(1001, 0)) << "more bytes than the limit";
    EXPECT_FALSE(watch.progress(10, 1001)) << "more announced than the limit";
    EXPECT_FALSE(watch.progress(10, 0x1'0000'0005)) << "announced beyond 32 bits";
    EXPECT_EQ(watch.largestAnnounced(), 0xFFFFFFFFu);
    cancel = true;
    EXPECT_FALSE(watch.progress(10, 10));
}

TEST(WebFetchParts, Sha256MatchesTheKnownVectors)
{
    const std::string abc = "abc";
    EXPECT_EQ(platform::sim::sha256Hex({reinterpret_cast<const uint8_t*>(abc.data()), abc.size()}),
        "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(platform::sim::sha256Hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"; // 56 bytes
    EXPECT_EQ(platform::sim::sha256Hex({reinterpret_cast<const uint8_t*>(twoBlocks.data()), twoBlocks.size()}),
        "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST_F(WebFetchTest, AFirstFetchOnACleanMachineGetsAndPinsTheHelperRunsItAndPlaysThePage)
{
    scriptHelper({{.ext = L"m4a"}});
    const std::wstring tag = play(kPage);
    EXPECT_TRUE(sounds()) << player.statusText();
    const std::wstring saved = kTools + L"\\clip_" + tag + L"0.m4a";
    EXPECT_EQ(player.source(), saved) << "a seek re-opens the saved file";
    EXPECT_EQ(statusAtRun, std::vector<std::wstring>{L"Getting the sound from that page..."});

    EXPECT_EQ(web.downloads(), (std::vector<std::wstring>{kListUrl, kHelperUrl}));
    EXPECT_EQ(web.log().front().kind, platform::sim::SimWeb::Request::Kind::Forget);
    EXPECT_EQ(files.readAll(kHelper), helper);
    EXPECT_EQ(registry.readString(clip::kToolsRegistryKey, clip::kPinValue, 126),
        std::wstring(checksum.begin(), checksum.end()));
    const auto sidecar = files.readAll(kTools + L"\\yt-dlp.sha256");
    EXPECT_EQ(std::string(sidecar->begin(), sidecar->end()), checksum + "  yt-dlp.exe\n");
    EXPECT_EQ(partFiles(), std::vector<std::wstring>{});

    const auto starts = helperStarts();
    ASSERT_EQ(starts.size(), 1u);
    const std::wstring arguments = L"--no-playlist --playlist-items 1 --no-warnings --no-progress -f \""
        + std::wstring(clip::kFormatSelectors[0]) + L"\" -o \"" + saved.substr(0, saved.size() - 3) + L"%(ext)s\" -- \"" + kPage
        + L"\"";
    EXPECT_EQ(starts[0].commandLine, L"\"" + kHelper + L"\" " + arguments);
    EXPECT_EQ(starts[0].folder, kTools);
    expectLogged({"fetching yt-dlp.exe", "fetch result 0x00000000, 4000016 bytes of 4000016 announced",
        "verified yt-dlp.exe SHA-256: " + checksum, "run: " + platform::utf8FromWide(arguments), "helper exit code 0",
        "got " + platform::utf8FromWide(saved) + " (30000 bytes)", "done"});
}

TEST_F(WebFetchTest, AReplacedHelperFailsItsPinAndIsFetchedAfreshAndALostSidecarIsWrittenAgain)
{
    std::wstring message;
    ASSERT_TRUE(fetch.ensureHelper(false, nullptr, message)) << message;

    ASSERT_TRUE(files.removeFile(kTools + L"\\yt-dlp.sha256"));
    bool mismatch = true;
    EXPECT_TRUE(fetch.verifyHelper(mismatch, message));
    EXPECT_FALSE(mismatch);
    EXPECT_EQ(fetch.readSidecar(), checksum) << "repaired silently";

    files.put(kHelper, helperBytes(0x11));
    EXPECT_FALSE(fetch.verifyHelper(mismatch, message));
    EXPECT_TRUE(mismatch);
    EXPECT_EQ(message, L"Security warning: yt-dlp.exe SHA-256 does not match the verified checksum.");
    scriptHelper({{.ext = L"mp3"}});
    play(kPage);
    EXPECT_TRUE(sounds()) << player.statusText();
    EXPECT_EQ(files.readAll(kHelper), helper);
    expectLogged({"SECURITY WARNING: yt-dlp.exe SHA-256 mismatch against registry pin",
        "replacing tampered yt-dlp.exe from verified GitHub release", "fetching yt-dlp.exe",
        "verified yt-dlp.exe SHA-256: " + checksum, "run: "});

    // Against the sidecar when there is no pin.
    registry.deleteValue(clip::kToolsRegistryKey, clip::kPinValue);
    files.put(kHelper, helperBytes(0x22));
    EXPECT_FALSE(fetch.verifyHelper(mismatch, message));
    EXPECT_TRUE(mismatch);
    EXPECT_EQ(message, L"Security warning: yt-dlp.exe SHA-256 does not match yt-dlp.sha256.");
}

TEST_F(WebFetchTest, AHelperPutThereByHandIsAdoptedOnlyWhenItIsThePublishedOne)
{
    files.put(kHelper, helper);
    std::wstring message;
    bool mismatch = true;
    EXPECT_FALSE(fetch.verifyHelper(mismatch, message));
    EXPECT_FALSE(mismatch);
    EXPECT_EQ(message, L"yt-dlp.exe checksum is not yet verified.");
    ASSERT_TRUE(fetch.ensureHelper(false, nullptr, message));
    EXPECT_EQ(web.downloads(), std::vector<std::wstring>{kListUrl});
    EXPECT_EQ(fetch.readPin(), checksum);
    expectLogged({"verified existing yt-dlp.exe against GitHub SHA2-256SUMS"});

    registry.deleteValue(clip::kToolsRegistryKey, clip::kPinValue);
    files.removeFile(kTools + L"\\yt-dlp.sha256");
    files.put(kHelper, helperBytes(0x33));
    ASSERT_TRUE(fetch.ensureHelper(false, nullptr, message));
    EXPECT_EQ(files.readAll(kHelper), helper) << "the unpublished copy was replaced";
}

TEST_F(WebFetchTest, ADownloadThatIsNotTheWholePublishedHelperIsRefusedAndLeavesNoPartFile)
{
    auto cut = helper;
    cut.resize(clip::kHelperMinBytes - 1);
    auto notExe = helper;
    notExe[0] = 'Z';
    struct Case {
        const char* what;
        std::function<void(platform::sim::SimWeb&)> serve;
        std::wstring message;
        std::string logLine;
    };
    const std::vector<Case> cases = {
        {"over its limit", [](auto& site) { site.announce(kHelperUrl, clip::kHelperLimit + 1); }, kDownloadFailed,
            "fetch result 0x80004004, 65536 bytes of 104857601 announced"},
        {"announced size differs", [](auto& site) { site.announce(kHelperUrl, 4000017); }, kDownloadFailed,
            "fetch result 0x00000000, 4000016 bytes of 4000017 announced"},
        {"too small", [&](auto& site) { site.serve(kHelperUrl, cut); }, kDownloadFailed, "3999999 bytes"},
        {"not an executable", [&](auto& site) { site.serve(kHelperUrl, notExe); }, kDownloadFailed, "4000016 bytes"},
        {"transfer failed", [](auto& site) { site.fail(kHelperUrl); }, kDownloadFailed, "fetch result 0x80004005"},
        {"another checksum", [](auto& site) { site.serve(kHelperUrl, helperBytes(0x44)); },
            L"Security warning: downloaded yt-dlp.exe failed SHA-256 checksum verification.",
            "SECURITY WARNING: downloaded yt-dlp.exe SHA-256 mismatch (expected " + checksum + ", got "},
        {"checksum list over its limit",
            [](auto& site) { site.serve(kListUrl, std::string(clip::kChecksumListLimit + 1, '\n')); },
            L"Couldn't verify the download helper checksum from GitHub. Check your connection and try again.",
            "Couldn't verify the download helper checksum"},
        {"checksum list without the helper", [](auto& site) { site.serve(kListUrl, "nothing here\n"); },
            L"Couldn't verify the download helper checksum from GitHub. Check your connection and try again.",
            "Couldn't verify"},
    };
    for (const Case& c : cases) {
        platform::sim::MemoryFiles caseFiles;
        platform::sim::SimWeb caseWeb{&caseFiles};
        platform::sim::SimHashes caseHashes{caseFiles};
        platform::sim::MemoryRegistry caseRegistry;
        clip::ClipLog caseLog{&caseFiles, kTools};
        caseWeb.serve(kListUrl, sumsFor(helper));
        caseWeb.serve(kHelperUrl, helper);
        c.serve(caseWeb);
        clip::WebFetch caseFetch{{caseFiles, &caseWeb, &processes, &caseHashes, &caseRegistry, &caseLog, kTools}};
        std::wstring message;
        EXPECT_FALSE(caseFetch.ensureHelper(false, nullptr, message)) << c.what;
        EXPECT_EQ(message, c.message) << c.what;
        const auto logged = caseFiles.readAll(kTools + L"\\clip.log");
        EXPECT_NE(std::string(logged->begin(), logged->end()).find(c.logLine), std::string::npos) << c.what;
        for (const auto& path : caseFiles.paths())
            EXPECT_FALSE(path.ends_with(L".part") || path == kHelper) << c.what << " left " << platform::utf8FromWide(path);
        EXPECT_EQ(caseFetch.readPin(), std::nullopt) << c.what;
    }
}

TEST_F(WebFetchTest, ACancellationAtAnyStepOfTheHelpersDownloadLeavesNoPartFile)
{
    web.setPieceBytes(1 << 20);
    bool ready = false;
    int steps = 0;
    for (int cancelAt = 1; !ready && cancelAt < 50; ++cancelAt) {
        int checks = 0;
        std::wstring message;
        ready = fetch.ensureHelper(false, [&] { return ++checks >= cancelAt; }, message);
        EXPECT_EQ(partFiles(), std::vector<std::wstring>{}) << "cancelled at check " << cancelAt;
        EXPECT_EQ(files.exists(kHelper), ready) << cancelAt;
        steps = cancelAt;
    }
    EXPECT_TRUE(ready);
    EXPECT_GE(steps, 6) << "the list and the helper's pieces were each a place to cancel";
}

TEST_F(WebFetchTest, AFileThatDoesNotDecodeGoesOnToTheNextFormatAndNothingPlayableNamesTheLastFile)
{
    scriptHelper({{.ext = L"m4a", .playable = false}, {.ext = L"webm"}});
    std::wstring tag = play(kPage);
    EXPECT_TRUE(sounds()) << player.statusText();
    EXPECT_EQ(player.source(), kTools + L"\\clip_" + tag + L"1.webm");
    EXPECT_EQ(statusAtRun,
        (std::vector<std::wstring>{L"Getting the sound from that page...", L"No sound in that one, trying another format..."}));
    const auto starts = helperStarts();
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_NE(starts[1].commandLine.find(L"-f \"" + std::wstring(clip::kFormatSelectors[1]) + L"\""),
        std::wstring::npos);
    EXPECT_FALSE(files.exists(kTools + L"\\clip_" + tag + L"0.m4a")) << "each fetch clears the earlier files";

    scriptHelper({{.ext = L"m4a", .playable = false}, {.ext = L"webm", .playable = false},
        {.ext = L"opus", .playable = false}});
    tag = play(kPage);
    EXPECT_EQ(player.state(), PlayerState::Failed);
    EXPECT_EQ(player.statusText(), L"Windows can't play clip_" + tag + L"2.opus");
    EXPECT_TRUE(files.exists(kTools + L"\\clip.log"));
}

TEST_F(WebFetchTest, AFailedRunReplacesTheHelperOnceAndItsPackerTextSaysItWasDamaged)
{
    scriptHelper({{.exitCode = 0, .output = "[123] PyInstaller: Failed to extract the PKG archive\n"},
        {.ext = L"m4a"}});
    const std::wstring tag = play(kPage);
    EXPECT_TRUE(sounds()) << player.statusText();
    EXPECT_EQ(web.downloads(), (std::vector<std::wstring>{kListUrl, kHelperUrl, kListUrl, kHelperUrl}));
    expectLogged({"  | [123] PyInstaller: Failed to extract the PKG archive", "helper exit code 1",
        "replacing yt-dlp.exe", "verified yt-dlp.exe SHA-256", "clip_" + platform::utf8FromWide(tag) + "0.%(ext)s",
        "helper exit code 0"});

    // Every run fails: one repair, then the helper's last line is the message.
    scriptHelper({{.exitCode = 1, .output = "ERROR: [generic] Unsupported URL: x\n"},
        {.exitCode = 1, .output = "ERROR: no\n"}, {.exitCode = 1}, {.exitCode = 1}});
    play(kPage);
    EXPECT_EQ(player.state(), PlayerState::Failed);
    EXPECT_EQ(player.statusText(), L"the helper could not fetch that link");
    EXPECT_EQ(helperStarts().size(), 2u + 4u);
    EXPECT_EQ(statusAtRun.back(), L"Getting the sound from that page...");
}

TEST_F(WebFetchTest, StopDuringAHangingHelperEndsItAndReportsNoFailure)
{
    scriptHelper({{.hangs = true}});
    player.open(kPage, 0.0);
    ASSERT_TRUE(until([&] { return processes.runningCount(kHelper) == 1; }));
    player.stop();
    ASSERT_TRUE(until([&] { return player.activeDecodes() == 0; }));
    EXPECT_EQ(processes.runningCount(kHelper), 0);
    EXPECT_EQ(player.state(), PlayerState::Idle);
    EXPECT_EQ(logText().find("FAILED"), std::string::npos) << logText();
}

TEST_F(WebFetchTest, TheHelperNeverRunsUnverifiedAndASavedFileMustBeThere)
{
    std::wstring message;
    std::string output;
    files.put(kHelper, helperBytes(0x66));
    EXPECT_FALSE(fetch.runHelper(L"-x", decode, output, message));
    EXPECT_EQ(message, L"yt-dlp.exe checksum is not yet verified.");
    EXPECT_EQ(helperStarts().size(), 0u);
    expectLogged({"helper verification blocked execution: yt-dlp.exe checksum is not yet verified."});

    ASSERT_TRUE(fetch.ensureHelper(true, nullptr, message));
    scriptHelper({{.ext = L"m4a.part"}, {.ext = L"m4a", .bytes = clip::kMinSavedBytes - 1}});
    struct Case {
        std::wstring link;
        std::wstring message;
    };
    for (const Case& c : {Case{L"https://a.example/v", L"The download helper didn't save anything"},
             Case{L"ftp://a.example/v", L"Only http:// and https:// links are supported."},
             Case{L"https://a.example/v", L"The site refused the download"}}) {
        EXPECT_EQ(fetch.runHelperFetch(c.link, clip::kFormatSelectors[2], L"9_2", decode, message), L"");
        EXPECT_EQ(message, c.message);
    }
    EXPECT_EQ(decode.job.load(), nullptr) << "the killer was taken back";
}

} // namespace
