// The ring the engine reads, the program list, the parking choice, the
// status texts, and the capture and policy threads over the simulated
// platform (their waits on a manual clock).

#include "appcapture/app_capture.h"
#include "platform/sim/manual_clock.h"
#include "platform/sim/sim_app_audio.h"
#include "platform/sim/sim_audio.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using appcapture::AppCapture;
using appcapture::AppRing;
using appcapture::AppState;
using platform::EndpointRole;

// Interleaved stereo frames whose left sample is first + i (in thousandths),
// so a test can tell which frames came out.
std::vector<float> ramp(uint32_t frames, uint32_t first = 0)
{
    std::vector<float> v(static_cast<size_t>(frames) * 2);
    for (uint32_t i = 0; i < frames; ++i) {
        v[2 * i] = static_cast<float>(first + i) * 0.001f;
        v[2 * i + 1] = -v[2 * i];
    }
    return v;
}

TEST(AppRing, ReaderWaitsForFortyMillisecondsAfterAResetAndSkipsAheadAboveTheMaximum)
{
    AppRing ring;
    std::vector<float> l(480), r(480);
    ring.write(ramp(500).data(), 500);
    ring.reset();
    EXPECT_EQ(ring.read(l.data(), r.data(), 480), 0u) << "the reset drops what was queued";
    ring.write(ramp(1000).data(), 1000);
    EXPECT_EQ(ring.read(l.data(), r.data(), 480), 0u);
    EXPECT_EQ(l[0], 0.0f);
    EXPECT_EQ(ring.queued(), 1000u) << "waiting leaves the queue alone";
    ring.write(ramp(920, 1000).data(), 920);
    EXPECT_EQ(ring.read(l.data(), r.data(), 480), 480u);
    EXPECT_FLOAT_EQ(r[1], -0.001f);

    AppRing full;
    full.reset();
    full.read(l.data(), r.data(), 480); // takes the reset
    full.write(ramp(12000).data(), 12000);
    EXPECT_EQ(full.read(l.data(), r.data(), 480), 480u);
    EXPECT_FLOAT_EQ(l[0], 10.080f) << "10080 frames dropped";
    EXPECT_EQ(full.queued(), 1440u);

    // Running dry: the rest is silence and the reader waits for 1920 again.
    std::vector<float> big(2000), bigR(2000);
    EXPECT_EQ(full.read(big.data(), bigR.data(), 2000), 1440u);
    EXPECT_EQ(big[1999], 0.0f);
    full.write(ramp(1000).data(), 1000);
    EXPECT_EQ(full.read(l.data(), r.data(), 480), 0u);
}

TEST(AppRing, AFullRingDropsWhatDoesNotFitInsteadOfOverwritingUnreadFrames)
{
    AppRing ring;
    ring.reset();
    std::vector<float> l(480), r(480);
    ring.read(l.data(), r.data(), 480);
    ring.write(ramp(40000).data(), 40000);
    ring.write(ramp(12000, 40000).data(), 12000);
    EXPECT_EQ(ring.queued(), AppRing::kCapacity - 1);
}

// A program whose clock runs `ratio` times the engine's delivers 480-frame
// packets; the engine reads 480 frames every 10 ms. Records the lowest and
// highest fill the reader met after the first settling seconds, and counts
// the reads that came up short.
struct FillRange {
    uint32_t low = UINT32_MAX, high = 0;
    int shortReads = 0;
};
void runDrift(AppRing& ring, double ratio, int seconds, FillRange& range)
{
    const auto packet = ramp(480);
    std::vector<float> l(480), r(480);
    const double packetPeriod = 1.0 / ratio; // in engine blocks
    double nextPacket = 0.0;
    for (int block = 0; block < seconds * 100; ++block) {
        for (; nextPacket <= block; nextPacket += packetPeriod)
            ring.write(packet.data(), 480);
        const uint32_t queued = ring.queued();
        const bool shortRead = ring.read(l.data(), r.data(), 480) < 480;
        if (block < 500)
            continue;
        range.low = std::min(range.low, queued);
        range.high = std::max(range.high, queued);
        range.shortReads += shortRead ? 1 : 0;
    }
}

TEST(AppRing, DriftCorrectionHoldsTheFillWhenTheProgramsClockIsHalfAPercentFastThenSlow)
{
    AppRing ring;
    ring.reset();
    FillRange fast, slow;
    runDrift(ring, 1.005, 600, fast);
    runDrift(ring, 0.995, 600, slow);
    for (const FillRange* range : {&fast, &slow}) {
        EXPECT_EQ(range->shortReads, 0) << "the reader never runs dry";
        EXPECT_GT(range->low, AppRing::kTolerance);
        EXPECT_LT(range->high, AppRing::kMaxLevel / 2) << "far from the skip";
    }
}

TEST(AppPrograms, EqualNamesAreNumberedChildrenFoldIntoTheirParentAndShellHostsAreLeftOut)
{
    platform::sim::SimAppAudio audio;
    audio.setOwnProcessId(1);
    audio.addProcess(1, 2, L"VantorOvix.exe", 5);
    audio.addProcess(2, 0, L"explorer.exe", 1);
    audio.addProcess(10, 2, L"player.exe", 10);
    audio.addProcess(11, 10, L"PLAYER.EXE", 11); // its own child: shown as 10
    audio.addProcess(20, 2, L"player.exe", 20);
    audio.addProcess(21, 20, L"player.exe", 19); // older than its "parent": a reused id
    audio.addProcess(30, 2, L"TextInputHost.exe", 3);
    audio.addProcess(40, 2, L"Browser.exe", 4);
    audio.addProcess(50, 2, L"game.exe", std::nullopt);
    audio.setWindowProcesses({10, 1, 30, 20, 99});
    audio.addSession(11, 1.0f, false);
    audio.addSession(21, 1.0f, false);
    audio.addSession(40, 1.0f, false);
    audio.addSession(50, 1.0f, false, /*expired=*/true);

    std::vector<std::pair<uint32_t, std::wstring>> got;
    for (const auto& e : appcapture::listAudioPrograms(audio))
        got.emplace_back(e.processId, e.name);
    const std::vector<std::pair<uint32_t, std::wstring>> want
        = {{40, L"Browser"}, {10, L"player"}, {20, L"player (2)"}, {21, L"player (3)"}};
    EXPECT_EQ(got, want);
}

TEST(AppParking, ScoresAndExclusions)
{
    struct Row {
        const wchar_t* name;
        const wchar_t* adapter;
        bool allowSteam;
        bool chosen;
    };
    const Row rows[] = {
        {L"Voicemeeter Aux Input (VB-Audio Voicemeeter AUX VAIO)", L"VB-Audio Voicemeeter AUX VAIO", false, true},
        {L"Voicemeeter VAIO3 Input", L"VB-Audio Voicemeeter VAIO3", false, true},
        {L"Steam Streaming Speakers", L"Steam Streaming Speakers", true, true},
        {L"Steam Streaming Speakers", L"Steam Streaming Speakers", false, false},
        {L"Voicemeeter Input (VB-Audio Voicemeeter VAIO)", L"VB-Audio Voicemeeter VAIO", true, false},
        {L"CABLE-A Aux Input", L"VB-Audio Cable A", true, false},
        {L"Aux Input", L"VB-Audio Virtual Cable", true, false},
        {L"Omnimix Aux Input", L"Some Adapter", true, false},
        {L"Speakers", L"Realtek Audio", true, false},
    };
    for (const Row& row : rows) {
        const std::vector<platform::EndpointInfo> list = {{row.name, L"x", L"", row.adapter}};
        const auto choice = appcapture::parkingEndpoint(list, L"def", L"cable", L"spk", row.allowSteam);
        EXPECT_EQ(choice.id, row.chosen ? L"x" : L"") << platform::utf8FromWide(row.name);
    }

    // The default, the cable, the chosen speaker and an empty id never; the
    // highest score wins, the first of equal scores.
    std::vector<platform::EndpointInfo> list;
    for (auto [name, id] : {std::pair{L"Aux Input 1", L"def"}, {L"Aux Input 2", L"cable"}, {L"Aux Input 3", L"spk"},
             {L"Aux Input 4", L""}, {L"Steam Streaming Speakers", L"steam"}, {L"VAIO3 Input", L"vaio3"},
             {L"Voicemeeter Aux Input", L"aux"}, {L"Aux Input 5", L"aux2"}})
        list.push_back({name, id, L"", L"Adapter"});
    const auto best = appcapture::parkingEndpoint(list, L"def", L"cable", L"spk", true);
    EXPECT_EQ(best.id, L"aux");
    EXPECT_EQ(best.name, L"Voicemeeter Aux Input");
}

TEST(AppTexts, StatusLinesAndPolicyPaths)
{
    using appcapture::appStatusText;
    EXPECT_EQ(appStatusText(AppState::Unsupported, 0, L"player"), L"Needs Windows 10 (2004) or newer");
    EXPECT_EQ(appStatusText(AppState::Refused, platform::kAppNotImplemented, L"player"),
        L"Windows blocked this app's sound (0x80004001)");
    EXPECT_EQ(appStatusText(AppState::Exited, 0, L"player"), L"player closed");
    for (AppState s : {AppState::Off, AppState::Starting, AppState::Capturing})
        EXPECT_EQ(appStatusText(s, 5, L"player"), L"");

    const std::wstring path = L"\\\\?\\SWD#MMDEVAPI#{0.0.0.00000000}.{abc}#{e6327cad-dcec-4949-ae8a-991e976a79d2}";
    EXPECT_EQ(appcapture::policyDevicePath(L"{0.0.0.00000000}.{abc}"), path);
    EXPECT_EQ(appcapture::policyDevicePath(path), path);
}

// A capture over the simulated platform: a player (10) with a child (11),
// an "Aux Input" endpoint to park on, and the policy's defaults before.
class AppCaptureTest : public ::testing::Test {
protected:
    static constexpr const wchar_t* kOldPath = L"\\\\?\\SWD#MMDEVAPI#speakers#{e6327cad-dcec-4949-ae8a-991e976a79d2}";

    AppCaptureTest()
    {
        app.addProcess(10, 2, L"player.exe", 10);
        app.addProcess(11, 10, L"helper.exe", 11);
        app.addProcess(12, 2, L"other.exe", 12);
        app.setPersisted(10, EndpointRole::Console, kOldPath);
        childSession = app.addSession(11, 0.0f, true);
        otherSession = app.addSession(12, 0.0f, true);
        addRender(L"speakers", L"Speakers");
        devices.setDefault(platform::Flow::Render, L"speakers");
    }
    void addRender(const wchar_t* id, const wchar_t* name)
    {
        platform::sim::SimEndpointSetup e;
        e.flow = platform::Flow::Render;
        e.id = id;
        e.name = name;
        devices.addEndpoint(e);
    }
    std::wstring persisted(uint32_t pid, EndpointRole role) const { return app.persisted(pid, role); }
    // The threads run on their own; the test only waits for what they report.
    void awaitState(AppState s) const
    {
        while (capture.state() != s)
            std::this_thread::yield();
    }
    void awaitUnparked() const
    {
        while (capture.parked())
            std::this_thread::yield();
    }
    void expectRestored()
    {
        EXPECT_EQ(persisted(10, EndpointRole::Console), kOldPath);
        for (auto role : {EndpointRole::Multimedia, EndpointRole::Communications})
            EXPECT_EQ(persisted(10, role), L"") << "a role without a default of its own is cleared";
        for (auto role : {EndpointRole::Console, EndpointRole::Multimedia, EndpointRole::Communications})
            EXPECT_EQ(persisted(11, role), L"");
        EXPECT_FALSE(capture.parked());
    }
    void parkAndCheck()
    {
        awaitState(AppState::Capturing);
        EXPECT_EQ(state.appCaptureActive.load(), 1);
        capture.policyPass();
        const std::wstring aux = appcapture::policyDevicePath(L"aux");
        for (uint32_t pid : {10u, 11u})
            for (auto role : {EndpointRole::Console, EndpointRole::Multimedia, EndpointRole::Communications})
                EXPECT_EQ(persisted(pid, role), aux);
        EXPECT_EQ(persisted(12, EndpointRole::Console), L"") << "not of the tree";
        capture.policyPass(); // a second pass keeps what was there before parking
        EXPECT_TRUE(capture.parked());
        EXPECT_EQ(app.sessionVolume(childSession), 1.0f);
        EXPECT_FALSE(app.sessionMuted(childSession));
        EXPECT_TRUE(app.sessionMuted(otherSession));
    }

    platform::sim::ManualClock clock;
    platform::sim::SimAudio devices{clock};
    platform::sim::SimAppAudio app;
    settings::Settings settings;
    engine::EngineState state;
    AppCapture capture{app, devices, clock, settings, state};
    size_t childSession = 0, otherSession = 0;
};

TEST_F(AppCaptureTest, Build19040IsRefusedAnd19041Captures)
{
    app.setSystemBuild(19040);
    capture.startAppCapture({10, L"player"});
    awaitState(AppState::Unsupported);
    EXPECT_EQ(capture.statusText(), L"Needs Windows 10 (2004) or newer");
    EXPECT_EQ(state.appCaptureActive.load(), 0);
    EXPECT_EQ(app.activations(), 0);

    app.setSystemBuild(19041);
    capture.startAppCapture({10, L"player"});
    awaitState(AppState::Capturing);
    EXPECT_EQ(app.lastActivatedProcess(), 10u);
    EXPECT_TRUE(app.lastInitWasLoopbackEvent());
    EXPECT_EQ(capture.statusText(), L"");
    capture.stopAppCapture();
    EXPECT_EQ(capture.state(), AppState::Off);
    EXPECT_EQ(state.appCaptureActive.load(), 0);
}

TEST_F(AppCaptureTest, WithoutASpareEndpointNothingIsParked)
{
    capture.startAppCapture({10, L"player"});
    EXPECT_FALSE(capture.parkRequested());
    awaitState(AppState::Capturing);
    capture.policyPass();
    EXPECT_FALSE(capture.parked());
    EXPECT_EQ(persisted(10, EndpointRole::Multimedia), L"");
    EXPECT_FALSE(app.sessionMuted(childSession)) << "still kept audible";
}

TEST_F(AppCaptureTest, ChangingTheRoutingRestartsWithTheNewParkingChoice)
{
    addRender(L"steam", L"Steam Streaming Speakers");
    settings.set(&settings::Settings::app_hear, 1);
    settings.set(&settings::Settings::app_only, 0);
    capture.startAppCapture({10, L"player"});
    EXPECT_FALSE(capture.parkRequested()) << "heard privately: the Steam speakers are not a place to park";
    settings.set(&settings::Settings::app_only, 1);
    capture.refreshAppRouting();
    EXPECT_TRUE(capture.parkRequested());
    EXPECT_EQ(capture.parkingName(), L"Steam Streaming Speakers");
    awaitState(AppState::Capturing);
    EXPECT_EQ(capture.appName(), L"player");
}

TEST_F(AppCaptureTest, StopPutsBackEveryParkedProcesssThreeRoles)
{
    addRender(L"aux", L"Voicemeeter Aux Input");
    capture.startAppCapture({10, L"player"});
    EXPECT_TRUE(capture.parkRequested());
    EXPECT_EQ(capture.parkingName(), L"Voicemeeter Aux Input");
    parkAndCheck();
    capture.stopAppCapture();
    expectRestored();
    EXPECT_FALSE(capture.parkRequested());
}

TEST_F(AppCaptureTest, AProgramThatExitsEndsTheCaptureAndIsRestored)
{
    addRender(L"aux", L"Voicemeeter Aux Input");
    app.setOpenable(10, false); // the existence check instead of a handle
    capture.startAppCapture({10, L"player"});
    parkAndCheck();
    app.exitProcess(10);
    clock.advanceMillis(2000); // the next existence check is due
    app.pushPacket(ramp(480)); // wakes the capture thread
    awaitState(AppState::Exited);
    awaitUnparked();
    expectRestored();
    EXPECT_EQ(capture.statusText(), L"player closed");
    EXPECT_EQ(state.appCaptureActive.load(), 0);
}

TEST_F(AppCaptureTest, PacketsReachTheRingAndABrokenCaptureIsRetriedAfterItOnceWorked)
{
    capture.startAppCapture({10, L"player"});
    awaitState(AppState::Capturing);
    std::vector<float> l(480), r(480);
    EXPECT_EQ(capture.read(l.data(), r.data(), 480), 0u); // the engine takes the start's reset
    std::vector<float> quiet(960, 0.00000001f);
    app.pushPacket(quiet);                              // below the silence threshold
    app.pushPacket(ramp(480), platform::kPacketSilent); // flagged silent
    clock.advanceMillis(7);
    app.pushPacket(ramp(1920, 1));
    while (capture.ring().queued() < 1920)
        std::this_thread::yield();
    EXPECT_EQ(capture.ring().queued(), 1920u) << "only the sound is queued";
    EXPECT_EQ(capture.lastAudibleMillis(), 7);
    EXPECT_EQ(capture.read(l.data(), r.data(), 480), 480u);
    EXPECT_FLOAT_EQ(l[0], 0.001f);

    const int before = app.activations();
    app.setActivationError(0x88890004u);
    app.setCaptureFails(true);
    awaitState(AppState::Starting);
    EXPECT_EQ(state.appCaptureActive.load(), 1);
    while (app.activations() == before) // the refused re-activation
        std::this_thread::yield();
    app.setCaptureFails(false);
    app.setActivationError(0);
    while (capture.state() != AppState::Capturing) {
        clock.advanceMillis(50); // the half-second retry
        std::this_thread::yield();
    }
    EXPECT_EQ(capture.lastError(), 0u) << "a retry is not a refusal";
}

TEST_F(AppCaptureTest, ARefusedFirstActivationReportsItsCode)
{
    app.setActivationError(platform::kAppNotImplemented);
    capture.startAppCapture({10, L"player"});
    awaitState(AppState::Refused);
    EXPECT_EQ(capture.statusText(), L"Windows blocked this app's sound (0x80004001)");
}

} // namespace
