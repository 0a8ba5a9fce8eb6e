// Another program's sound on the real platform under wine (app_audio.sh):
// a tone player started by the test is in the program list, and capturing
// it brings its tone into the ring or ends in the refused state with the
// platform's code (below build 19041: the unsupported state), never hangs
// in between. Needs the rig's PulseAudio daemon and a display.

#include "appcapture/app_capture.h"
#include "platform/win32/win32_audio.h"
#include "platform/win32/win32_platform.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

using appcapture::AppState;

// The player next to this test, running for at most a minute; ended with the test.
class TonePlayer {
public:
    TonePlayer()
    {
        wchar_t self[MAX_PATH];
        const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring path(self, length);
        path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"ovix_tone_player.exe";
        std::wstring command = L"\"" + path + L"\" 60";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        if (CreateProcessW(
                path.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info_))
            CloseHandle(info_.hThread);
        else
            info_ = {};
    }
    ~TonePlayer()
    {
        if (!info_.hProcess)
            return;
        TerminateProcess(info_.hProcess, 0);
        WaitForSingleObject(info_.hProcess, 5000);
        CloseHandle(info_.hProcess);
    }
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;

    uint32_t id() const { return info_.dwProcessId; }
    bool running() const { return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }

private:
    PROCESS_INFORMATION info_{};
};

class Win32AppAudio : public ::testing::Test {
protected:
    std::unique_ptr<platform::AudioDevices> devices = platform::win32::makeAudioDevices();
    std::unique_ptr<platform::AppAudio> audio = platform::win32::makeAppAudio();
    std::unique_ptr<platform::Clock> clock = platform::win32::makeClock();

    void SetUp() override
    {
        if (devices->enumerate(platform::Flow::Render, platform::kStateActive).empty())
            GTEST_SKIP() << "no active audio endpoint: start the rig's PulseAudio daemon (e2e/pulse_rig.sh)";
    }

    // Bounded polling of the real system (a process start, a capture thread).
    template <class Done> bool within(int64_t micros, Done done)
    {
        const int64_t deadline = clock->nowMicros() + micros;
        while (!done()) {
            if (clock->nowMicros() > deadline)
                return false;
            Sleep(50);
        }
        return true;
    }
};

TEST_F(Win32AppAudio, APlayingProgramIsListedAndItsCaptureEndsCleanly)
{
    TonePlayer player;
    ASSERT_NE(player.id(), 0u) << "ovix_tone_player.exe did not start";
    appcapture::AppEntry entry;
    const bool listed = within(15000000, [&] {
        for (const auto& e : appcapture::listAudioPrograms(*audio))
            if (e.processId == player.id())
                entry = e;
        return entry.processId != 0 || !player.running();
    });
    ASSERT_TRUE(player.running()) << "the player ended early (no playback endpoint?)";
    // What this system offers, for the record.
    const auto windows = audio->windowProcesses();
    bool sessionSeen = false;
    for (auto& s : audio->sessions())
        sessionSeen = sessionSeen || s->processId() == player.id();
    const auto policy = audio->persistedDefaultEndpoint(player.id(), platform::EndpointRole::Console);
    std::printf("system build %u; player's window listed: %d; player's session listed: %d; policy: %s\n",
        audio->systemBuild(), std::find(windows.begin(), windows.end(), player.id()) != windows.end() ? 1 : 0,
        sessionSeen ? 1 : 0, policy ? "answers" : "unavailable");
    ASSERT_TRUE(listed) << "the playing program is not in the list";
    EXPECT_EQ(entry.name, L"ovix_tone_player");
    EXPECT_FALSE(audio->creationTime(player.id()) == std::nullopt);
    EXPECT_TRUE(audio->processExists(player.id()));
    EXPECT_GT(audio->systemBuild(), 0u);
    if (!policy) {
        EXPECT_FALSE(audio->setPersistedDefaultEndpoint(player.id(), platform::EndpointRole::Console, L""));
    }

    settings::Settings settings;
    engine::EngineState state;
    appcapture::AppCapture capture(*audio, *devices, *clock, settings, state);
    capture.startAppCapture(entry);
    ASSERT_TRUE(within(10000000, [&] { return capture.state() != AppState::Starting; }))
        << "the capture stayed in its starting state";
    std::printf("capture state %d, code 0x%08x, status \"%ls\"\n", static_cast<int>(capture.state()),
        capture.lastError(), capture.statusText().c_str());
    if (capture.state() == AppState::Unsupported) {
        EXPECT_LT(audio->systemBuild(), appcapture::kFirstSupportedBuild);
        EXPECT_EQ(capture.statusText(), L"Needs Windows 10 (2004) or newer");
    } else if (capture.state() == AppState::Refused) {
        char expected[64];
        std::snprintf(expected, sizeof(expected), "Windows blocked this app's sound (0x%08x)", capture.lastError());
        EXPECT_EQ(capture.statusText(), std::wstring(expected, expected + std::strlen(expected)));
        EXPECT_NE(capture.lastError(), 0u);
        EXPECT_FALSE(capture.running());
    } else {
        ASSERT_EQ(capture.state(), AppState::Capturing);
        // The tone (peak 0.3) reaches the ring the engine reads.
        float left[480], right[480];
        float peak = 0.0f;
        within(5000000, [&] {
            capture.read(left, right, 480);
            for (float s : left)
                peak = std::max(peak, std::fabs(s));
            return peak > 0.1f;
        });
        EXPECT_GT(peak, 0.1f) << "no captured sound reached the ring";
    }
    capture.stopAppCapture();
    EXPECT_EQ(capture.state(), AppState::Off);
}

} // namespace
