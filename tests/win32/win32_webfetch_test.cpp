// The web page fetch on the real services under wine, against the test's own
// HTTPS server on 127.0.0.1 (webfetch.sh starts it, with a certificate the
// host trusts): the stand-in helper is downloaded, checked against the served
// checksum list, run hidden inside its job, and the player streams what it
// saved. Arguments after GoogleTest's own: the server's address, the address
// of one that serves the helper with one byte changed, a work folder, the
// page's WAV and the stand-in's SHA-256 as sha256sum prints it.

#include "clip/player.h"
#include "clip/web_fetch.h"
#include "platform/text.h"
#include "platform/win32/win32_platform.h"
#include "win32/media_test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

namespace {

struct Setup {
    std::wstring goodHost, tamperedHost, work, wav;
    std::string sha;
} setup;

const std::wstring kSoundLink = L"http://127.0.0.1:9/watch?v=sound";
const std::wstring kHangLink = L"http://127.0.0.1:9/watch?v=hang";

std::string readText(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Polls until done() or the deadline (a fetch under wine takes seconds).
bool waitFor(const std::function<bool()>& done, DWORD millis)
{
    const ULONGLONG end = GetTickCount64() + millis;
    while (!done()) {
        if (GetTickCount64() > end)
            return false;
        Sleep(20);
    }
    return true;
}

class Win32WebFetch : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (setup.goodHost.empty())
            GTEST_SKIP() << "no server given (webfetch.sh runs this suite)";
        if (!session.started)
            GTEST_SKIP() << "Media Foundation is missing";
        tools = setup.work + L"\\"
            + platform::wideFromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_TRUE(CreateDirectoryW(tools.c_str(), nullptr)) << "the work folder must be new";
        ASSERT_TRUE(CopyFileW(setup.wav.c_str(), (tools + L"\\page-sound.wav").c_str(), FALSE));
        registry->deleteValue(clip::kToolsRegistryKey, clip::kPinValue);
        log.emplace(files.get(), tools);
        player.emplace(*session.media, *clock, &*log);
        useHost(setup.goodHost);
    }
    void TearDown() override
    {
        if (player)
            player->stop();
    }

    // Points the player's page branch at a server (once no decode uses the old one).
    clip::WebFetch& useHost(const std::wstring& host)
    {
        waitFor([&] { return player->activeDecodes() == 0; }, 30000);
        fetch.emplace(clip::WebFetchServices{
            *files, web.get(), processes.get(), hashes.get(), registry.get(), &*log, tools, host});
        player->setPageFetch(
            [this](const std::wstring& link, uint32_t generation, clip::PageDecode& page, std::wstring& message) {
                return fetch->fetchPageSound(link, generation, page, message);
            });
        return *fetch;
    }

    // Pulls the player as the engine would until it ends or fails; the frames' peak.
    float play(const std::wstring& link, size_t& frames)
    {
        player->open(link, 0.0);
        std::vector<float> left(4800), right(4800);
        float peak = 0.0f;
        frames = 0;
        waitFor(
            [&] {
                const uint32_t got = player->read(left.data(), right.data(), 4800);
                for (uint32_t i = 0; i < got; ++i)
                    peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
                frames += got;
                const auto state = player->state();
                return state == clip::PlayerState::Ended || state == clip::PlayerState::Failed;
            },
            90000);
        return peak;
    }

    std::string marker() { return readText(tools + L"\\standin-runs.txt"); }
    std::string clipLog() { return readText(tools + L"\\clip.log"); }

    ovix_media_test::MediaSession session;
    std::unique_ptr<platform::Clock> clock = platform::win32::makeClock();
    std::unique_ptr<platform::Files> files = platform::win32::makeFiles();
    std::unique_ptr<platform::Web> web = platform::win32::makeWeb();
    std::unique_ptr<platform::Processes> processes = platform::win32::makeProcesses();
    std::unique_ptr<platform::Hashes> hashes = platform::win32::makeHashes();
    std::unique_ptr<platform::RegistryStore> registry = platform::win32::makeRegistry(platform::Hive::CurrentUser);
    std::wstring tools;
    std::optional<clip::ClipLog> log;
    // The player goes first: it waits for its decode threads, which use the fetch.
    std::optional<clip::WebFetch> fetch;
    std::optional<clip::Player> player;
};

TEST_F(Win32WebFetch, TheFirstFetchDownloadsVerifiesAndRunsTheHelperAndThePageSoundPlays)
{
    size_t frames = 0;
    const float peak = play(kSoundLink, frames);
    ASSERT_EQ(player->state(), clip::PlayerState::Ended) << platform::utf8FromWide(player->statusText());
    // page-sound.wav: 1.5 s of a sine at 0.5.
    EXPECT_NEAR(frames, 72000, 2400);
    EXPECT_NEAR(peak, 0.5f, 0.05f);

    const std::string text = clipLog();
    EXPECT_NE(text.find("fetching yt-dlp.exe"), std::string::npos) << text;
    EXPECT_NE(text.find("verified yt-dlp.exe SHA-256: " + setup.sha), std::string::npos) << text;
    EXPECT_NE(text.find("helper exit code 0"), std::string::npos) << text;
    EXPECT_EQ(readText(tools + L"\\yt-dlp.sha256"), setup.sha + "  yt-dlp.exe\n");
    EXPECT_EQ(registry->readString(clip::kToolsRegistryKey, clip::kPinValue, 127),
        std::optional<std::wstring>(platform::wideFromUtf8(setup.sha)));
    const std::string runs = marker();
    EXPECT_EQ(runs.rfind("helper ", 0), 0u) << runs;
    EXPECT_EQ(std::count(runs.begin(), runs.end(), '\n'), 1) << "the stand-in ran once: " << runs;
    EXPECT_FALSE(exists(tools + L"\\yt-dlp.exe.part"));
}

TEST_F(Win32WebFetch, AHelperWithOneByteChangedIsRefusedAndNeverStarted)
{
    // Served with one byte changed: the download is refused.
    useHost(setup.tamperedHost);
    size_t frames = 0;
    play(kSoundLink, frames);
    EXPECT_EQ(player->state(), clip::PlayerState::Failed);
    EXPECT_EQ(player->statusText(), L"Security warning: downloaded yt-dlp.exe failed SHA-256 checksum verification.");
    EXPECT_FALSE(exists(tools + L"\\yt-dlp.exe"));
    EXPECT_FALSE(exists(tools + L"\\yt-dlp.exe.part"));

    // A trusted copy changed on disk fails its pin, and the fresh copy is refused too.
    std::wstring message;
    ASSERT_TRUE(useHost(setup.goodHost)
                    .ensureHelper(
                        false, [] { return false; }, message))
        << platform::utf8FromWide(message);
    useHost(setup.tamperedHost);
    const std::wstring helper = tools + L"\\yt-dlp.exe";
    {
        std::fstream file(std::filesystem::path(helper), std::ios::in | std::ios::out | std::ios::binary);
        file.seekg(1100);
        const char old = static_cast<char>(file.get());
        file.seekp(1100);
        file.put(static_cast<char>(old + 1));
    }
    play(kSoundLink, frames);
    EXPECT_EQ(player->state(), clip::PlayerState::Failed);
    EXPECT_EQ(player->statusText(), L"Security warning: downloaded yt-dlp.exe failed SHA-256 checksum verification.");
    EXPECT_NE(clipLog().find("SECURITY WARNING: yt-dlp.exe SHA-256 mismatch against registry pin"), std::string::npos)
        << clipLog();
    EXPECT_FALSE(exists(tools + L"\\standin-runs.txt")) << "the stand-in ran: " << marker();
}

// The processes named in the marker still running (by a snapshot of all).
std::vector<DWORD> stillRunning(const std::vector<DWORD>& pids)
{
    std::vector<DWORD> running;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (std::find(pids.begin(), pids.end(), entry.th32ProcessID) != pids.end())
            running.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return running;
}

TEST_F(Win32WebFetch, StopDuringAHangingHelperEndsItAndItsChildWithinASecondAndReportsNoFailure)
{
    player->open(kHangLink, 0.0);
    std::vector<DWORD> pids;
    ASSERT_TRUE(waitFor(
        [&] {
            std::istringstream lines(marker());
            std::string role;
            DWORD pid = 0;
            pids.clear();
            while (lines >> role >> pid)
                pids.push_back(pid);
            return pids.size() == 2;
        },
        90000))
        << "helper and child did not both start: " << marker() << clipLog();
    HANDLE handles[2] = {OpenProcess(SYNCHRONIZE, FALSE, pids[0]), OpenProcess(SYNCHRONIZE, FALSE, pids[1])};
    ASSERT_TRUE(handles[0] && handles[1]);

    player->stop();
    EXPECT_EQ(WaitForMultipleObjects(2, handles, TRUE, 1000), WAIT_OBJECT_0) << "still running after 1 s";
    for (HANDLE handle : handles)
        CloseHandle(handle);
    const std::vector<DWORD> left = stillRunning(pids);
    EXPECT_TRUE(left.empty());
    // Whatever survived is ended here, so that the player's decode can end too.
    for (DWORD pid : left) {
        if (HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid)) {
            TerminateProcess(process, 1);
            CloseHandle(process);
        }
    }

    ASSERT_TRUE(waitFor([&] { return player->activeDecodes() == 0; }, 30000));
    EXPECT_EQ(player->state(), clip::PlayerState::Idle) << platform::utf8FromWide(player->statusText());
    EXPECT_EQ(clipLog().find("FAILED"), std::string::npos) << clipLog();
}

// Stops the transfer once it has seen some bytes.
struct StopEarly final : platform::DownloadWatch {
    uint64_t seen = 0;
    bool progress(uint64_t bytesSoFar, uint64_t) override
    {
        seen = std::max(seen, bytesSoFar);
        return bytesSoFar < 65536;
    }
};

TEST_F(Win32WebFetch, AWatchThatSaysStopAbortsTheDownloadWithItsOwnCode)
{
    StopEarly watch;
    const std::wstring part = tools + L"\\aborted.part";
    EXPECT_EQ(web->downloadWatched(setup.goodHost + clip::kHelperPath, part, watch), platform::kDownloadAborted);
    EXPECT_GE(watch.seen, 65536u);
    DeleteFileW(part.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc == 6) {
        setup = {platform::wideFromUtf8(argv[1]), platform::wideFromUtf8(argv[2]), platform::wideFromUtf8(argv[3]),
            platform::wideFromUtf8(argv[4]), argv[5]};
    }
    return RUN_ALL_TESTS();
}
