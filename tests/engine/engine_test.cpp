// The engine stepped one packet at a time on simulated endpoints: the block
// cycle, gap filling, monitor management, failures and their recovery.

#include "engine/engine_thread.h"
#include "engine/mix.h"
#include "engine_rig.h"

#include "console/status_text.h"
#include "platform/audio_thread.h"
#include "support/alloc_counter.h"

#include <gtest/gtest.h>

#include <array>
#include <barrier>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using test::EngineRig;
using test::kCable;
using test::kMic;
using test::kMic2;
using test::kPhones;

// Records what each block looked like when it reached the mic tone step.
class RecordingSteps : public engine::BlockSteps {
public:
    struct Seen {
        int pass = 1;
        uint32_t frames = 0;
        bool allZero = true;
    };
    std::vector<Seen> blocks;
    int packets = 0; // pass-1 blocks

    RecordingSteps() { blocks.reserve(100000); }

    void micTone(engine::Block& b) noexcept override
    {
        Seen s{b.pass, b.frames, true};
        for (uint32_t i = 0; i < b.frames; ++i)
            s.allZero = s.allZero && b.voice[i] == 0.0f;
        if (blocks.size() < blocks.capacity())
            blocks.push_back(s);
        packets += b.pass;
    }
};

TEST(Engine, PacketFlaggedSilentIsProcessedAsZerosNotSkipped)
{
    RecordingSteps steps;
    EngineRig rig(steps);
    rig.open();
    ASSERT_TRUE(rig.report().running);
    rig.runPackets(3, steps.packets);
    rig.audio.markNextPacketsSilent(kMic, 1);
    rig.runPackets(2, steps.packets);

    ASSERT_EQ(steps.blocks.size(), 5u);
    EXPECT_FALSE(steps.blocks[2].allZero);
    EXPECT_EQ(steps.blocks[3].frames, 480u);
    EXPECT_TRUE(steps.blocks[3].allZero) << "the silent packet's data is not used";
    EXPECT_FALSE(steps.blocks[4].allZero);
}

TEST(Engine, AfterEightPunctualPacketsASmallJumpIsFilledWithSilence)
{
    RecordingSteps steps;
    EngineRig rig(steps);
    rig.settings.set(&settings::Settings::raw, 1); // the low-latency capture: a buffer below 3840 frames
    rig.open();
    ASSERT_LT(rig.session().captureBufferFrames(), engine::kGapLimitFrames);
    rig.runPackets(9, steps.packets);
    ASSERT_EQ(rig.session().goodPackets(), 8);

    rig.audio.skipFrames(kMic, 480);
    steps.blocks.clear();
    rig.runPackets(1, steps.packets);
    ASSERT_EQ(steps.blocks.size(), 2u);
    EXPECT_EQ(steps.blocks[0].pass, 0);
    EXPECT_EQ(steps.blocks[0].frames, 480u);
    EXPECT_TRUE(steps.blocks[0].allZero);
    EXPECT_EQ(steps.blocks[1].pass, 1);
    EXPECT_EQ(steps.blocks[1].frames, 480u);
    EXPECT_EQ(rig.session().goodPackets(), 8) << "a filled gap keeps the count";

    // Just beyond the limit: no fill, and the count starts again.
    rig.audio.skipFrames(kMic, engine::kGapLimitFrames + 1);
    steps.blocks.clear();
    rig.runPackets(1, steps.packets);
    ASSERT_EQ(steps.blocks.size(), 1u);
    EXPECT_EQ(steps.blocks[0].pass, 1);
    EXPECT_EQ(rig.session().goodPackets(), 0);
}

TEST(Engine, NoGapFillBeforeEightPunctualPacketsOrWithALargeCaptureBuffer)
{
    RecordingSteps steps;
    EngineRig rig(steps);
    rig.open(); // without raw: the 100 ms shared buffer
    ASSERT_GE(rig.session().captureBufferFrames(), engine::kGapLimitFrames);
    rig.runPackets(12, steps.packets);
    ASSERT_EQ(rig.session().goodPackets(), 8);
    rig.audio.skipFrames(kMic, 480);
    steps.blocks.clear();
    rig.runPackets(1, steps.packets);
    ASSERT_EQ(steps.blocks.size(), 1u);
    EXPECT_EQ(rig.session().goodPackets(), 0);

    rig.settings.set(&settings::Settings::raw, 1);
    rig.open();
    rig.runPackets(5, steps.packets);
    rig.audio.skipFrames(kMic, 480);
    steps.blocks.clear();
    rig.runPackets(1, steps.packets);
    EXPECT_EQ(steps.blocks.size(), 1u) << "only five punctual packets";
}

TEST(Engine, StepsRunInTheFixedOrderOfTheBlockCycle)
{
    class OrderSteps : public engine::BlockSteps {
    public:
        std::vector<std::string> log;
        void reloadEq(const settings::Snapshot&) noexcept override { log.push_back("eq"); }
        void setBassBoost(float) noexcept override { log.push_back("bass boost"); }
        void isolation(engine::Block&) noexcept override { log.push_back("isolation"); }
        void micTone(engine::Block&) noexcept override { log.push_back("tone"); }
        void voiceSpeed(engine::Block&, int, bool) noexcept override { log.push_back("speed"); }
        void voiceChangerAndMask(engine::Block&) noexcept override { log.push_back("changer"); }
        void glitch(engine::Block&, bool) noexcept override { log.push_back("glitch"); }
        void cardMicVoicing(engine::Block&) noexcept override { log.push_back("card mic"); }
        void driveAndBass(engine::Block&) noexcept override { log.push_back("drive"); }
        void environment(engine::Block& b) noexcept override
        {
            log.push_back("environment");
            BlockSteps::environment(b);
        }
        void voiceOutput(engine::Block& b) noexcept override
        {
            log.push_back("voice output");
            BlockSteps::voiceOutput(b);
        }
        void voicePan(engine::Block&) noexcept override { log.push_back("pan"); }
        void mixBuses(engine::Block&) noexcept override { log.push_back("buses"); }
        void mixPreviews(engine::Block&) noexcept override { log.push_back("previews"); }
    } steps;
    EngineRig rig(steps);
    rig.settings.set(&settings::Settings::isolate, 1);
    rig.settings.touch(settings::Counter::Eq);
    rig.open();
    while (steps.log.empty() || steps.log.back() != "previews")
        rig.run(1000);
    EXPECT_EQ(steps.log,
        (std::vector<std::string>{"eq", "bass boost", "isolation", "tone", "speed", "changer", "glitch", "card mic",
            "drive", "environment", "voice output", "pan", "buses", "previews"}));
}

TEST(Engine, PassThroughCarriesTheVoiceToBothOutputsWithTheMicGainAndTheRecorderRings)
{
    engine::BlockSteps steps;
    EngineRig rig(steps);
    rig.audio.setCaptureSource(kMic, [](uint64_t, float* out, uint32_t frames) {
        for (uint32_t i = 0; i < 2 * frames; ++i)
            out[i] = (i % 2) ? 0.1f : 0.3f; // mono 0.2
    });
    rig.audio.recordRender(kCable, true);
    rig.audio.recordRender(kPhones, true);
    rig.settings.set(&settings::Settings::mic_level, 200); // x 2^1.301
    rig.rings.take.armed.store(1);
    rig.open();
    rig.runMillis(200);

    const float expected = 0.2f * engine::levelGain(200);
    for (const auto& id : {kCable, kPhones}) {
        const auto out = rig.audio.rendered(id);
        ASSERT_FALSE(out.empty());
        EXPECT_FLOAT_EQ(out.back(), expected);
    }
    EXPECT_EQ(rig.console.reports().takeOutputPeak(), static_cast<int32_t>(expected * 10000.0f));
    EXPECT_EQ(rig.console.reports().takeOutputPeak(), 0);

    std::vector<int16_t> taken(4096);
    ASSERT_EQ(rig.rings.take.read(taken.data(), taken.size()), taken.size());
    EXPECT_EQ(taken[100], static_cast<int16_t>(expected * 32767.0f));
    EXPECT_EQ(rig.rings.last.writePosition(), 0u) << "an unarmed ring gets nothing";
}

TEST(Engine, OutOfRangeAndNanInputIsSilenced)
{
    RecordingSteps steps;
    EngineRig rig(steps);
    rig.audio.setCaptureSource(kMic, [](uint64_t first, float* out, uint32_t frames) {
        for (uint32_t i = 0; i < frames; ++i)
            out[2 * i] = out[2 * i + 1] = (first / 480) % 2 ? 4.0f : std::numeric_limits<float>::quiet_NaN();
    });
    rig.open();
    rig.runPackets(4, steps.packets);
    for (const auto& b : steps.blocks)
        EXPECT_TRUE(b.allZero);
}

TEST(Engine, MonitorThatKeepsFailingIsRetriedWithBackOff)
{
    engine::BlockSteps steps;
    EngineRig rig(steps);
    rig.audio.setRefuseOpen(kPhones, true);
    rig.open();
    ASSERT_TRUE(rig.report().running);
    std::vector<int64_t> attempts{rig.clock.nowMillis()};
    int seen = rig.audio.stats(kPhones).activationAttempts;
    ASSERT_GE(seen, 1);
    while (attempts.size() < 7) {
        rig.runMillis(10);
        const int now = rig.audio.stats(kPhones).activationAttempts;
        if (now != seen) {
            attempts.push_back(rig.clock.nowMillis());
            seen = now;
        }
        ASSERT_LT(rig.clock.nowMillis(), 200000);
    }
    const std::array<int64_t, 6> expected{2000, 4000, 8000, 16000, 32000, 32000};
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(attempts[i + 1] - attempts[i], expected[i], 20) << "retry " << i;
    EXPECT_EQ(rig.report().cableStatus, engine::kCableOpen) << "the cable kept running";

    rig.audio.setRefuseOpen(kPhones, false);
    rig.runMillis(33000);
    EXPECT_TRUE(rig.session().monitorOutput().isOpen());
}

TEST(Engine, MonitorFollowsItsNeedsAndLowLatencyOption)
{
    engine::BlockSteps steps;
    EngineRig rig(steps);
    rig.open();
    ASSERT_TRUE(rig.session().monitorOutput().isOpen());
    EXPECT_TRUE(rig.session().monitorOutput().lowLatency);
    EXPECT_FALSE(rig.session().cableOutput().lowLatency) << "the cable never uses the low-latency option";

    rig.settings.set(&settings::Settings::monitor, 0);
    rig.settings.set(&settings::Settings::clip_hear, 0);
    rig.runMillis(20);
    EXPECT_FALSE(rig.session().monitorOutput().isOpen());

    rig.state.previewNeedsMonitor.store(1);
    rig.runMillis(20);
    ASSERT_TRUE(rig.session().monitorOutput().isOpen());
    EXPECT_FALSE(rig.session().monitorOutput().lowLatency);
}

TEST(Engine, ApplicationAudioAloneOpensNoMonitorOnAMixerInput)
{
    engine::BlockSteps steps;
    EngineRig rig(steps);
    rig.audio.addEndpoint(test::endpointSetup(platform::Flow::Render, L"{vm}", L"Voicemeeter Input"));
    settings::setDeviceName(rig.settings, settings::DeviceKind::Spk, L"{vm}");
    rig.settings.set(&settings::Settings::monitor, 0);
    rig.settings.set(&settings::Settings::clip_hear, 0);
    rig.state.appCaptureActive.store(1);
    rig.open();
    rig.runMillis(50);
    EXPECT_FALSE(rig.session().monitorOutput().isOpen());
    EXPECT_EQ(rig.audio.stats(L"{vm}").activationAttempts, 0);

    rig.settings.set(&settings::Settings::monitor, 1);
    rig.runMillis(20);
    EXPECT_TRUE(rig.session().monitorOutput().isOpen());
    EXPECT_EQ(rig.session().monitorEndpoint(), L"{vm}");
}

TEST(Engine, EmptyMicShowsTheMessageAndRetriesAboutOnceASecondWithoutSpinning)
{
    engine::BlockSteps steps;
    EngineRig rig(steps);
    settings::setDeviceName(rig.settings, settings::DeviceKind::Mic, L"");
    rig.open();
    EXPECT_EQ(console::engineStatusText(rig.report().status), L"Can't open this microphone. Pick another one.");
    EXPECT_FALSE(rig.report().running);

    const int attemptsBefore = rig.engine->openAttempts();
    const int stepsBefore = rig.steps;
    rig.runMillis(10000);
    const int attempts = rig.engine->openAttempts() - attemptsBefore;
    EXPECT_GE(attempts, 9);
    EXPECT_LE(attempts, 11);
    EXPECT_LE(rig.steps - stepsBefore, 150) << "the engine waits between its checks";

    // Picking a microphone ends the retries.
    settings::setDeviceName(rig.settings, settings::DeviceKind::Mic, kMic);
    rig.runMillis(1100);
    EXPECT_TRUE(rig.report().running);
    EXPECT_EQ(console::engineStatusText(rig.report().status), L"");
}

TEST(Engine, SelectingAnotherMicrophoneSwapsTheCaptureWhileTheOutputsKeepRunning)
{
    RecordingSteps steps;
    EngineRig rig(steps);
    rig.open();
    rig.runMillis(300);
    const auto cableBefore = rig.audio.stats(kCable);
    ASSERT_EQ(rig.audio.stats(kMic).openStreams, 1);

    settings::setDeviceName(rig.settings, settings::DeviceKind::Mic, kMic2);
    engine::requestMicReopen(rig.state);
    rig.runPackets(1, steps.packets); // posts the open
    rig.engine->waitForDeviceThread();
    rig.runMillis(300);

    EXPECT_EQ(rig.session().captureEndpoint(), kMic2);
    EXPECT_EQ(rig.audio.stats(kMic).openStreams, 0);
    EXPECT_EQ(rig.audio.stats(kMic2).starts, 1);
    const auto cableAfter = rig.audio.stats(kCable);
    EXPECT_EQ(cableAfter.starts, cableBefore.starts) << "the cable was not re-opened";
    EXPECT_EQ(cableAfter.underruns, 0u);
    EXPECT_GT(cableAfter.framesWritten, cableBefore.framesWritten + 480 * 25);
    EXPECT_EQ(rig.audio.stats(kPhones).starts, 1);
    EXPECT_EQ(rig.audio.stats(kPhones).underruns, 0u);
    EXPECT_TRUE(rig.report().running);
    EXPECT_EQ(rig.events(), std::vector{engine::EngineEventKind::MicReopened});
}

TEST(Engine, MicrophoneReopenThatFailsKeepsTheOldCapture)
{
    RecordingSteps steps;
    EngineRig rig(steps);
    rig.open();
    rig.runMillis(50);
    settings::setDeviceName(rig.settings, settings::DeviceKind::Mic, L"{nowhere}");
    engine::requestMicReopen(rig.state);
    rig.runPackets(1, steps.packets);
    rig.engine->waitForDeviceThread();
    const int before = steps.packets;
    rig.runMillis(100);
    EXPECT_EQ(rig.session().captureEndpoint(), kMic);
    EXPECT_GE(steps.packets - before, 9);
    EXPECT_EQ(rig.events(), std::vector{engine::EngineEventKind::MicReopenFailed});
}

// Runs the rig and notes each new cableStatus value.
std::vector<int32_t> statusesOver(EngineRig& rig, int64_t ms, std::vector<int32_t> seen)
{
    for (int64_t t = 0; t < ms; t += 5) {
        rig.runMillis(5);
        if (rig.report().cableStatus != seen.back())
            seen.push_back(rig.report().cableStatus);
    }
    return seen;
}

TEST(Engine, CaptureFailingMidStreamRecoversWithinASecondOfTheDeviceComingBack)
{
    engine::BlockSteps steps;
    EngineRig rig(steps);
    rig.open();
    rig.runMillis(100);
    ASSERT_EQ(rig.report().cableStatus, engine::kCableOpen);

    rig.audio.setCallsFail(kMic, true);
    auto seen = statusesOver(rig, 100, {engine::kCableOpen});
    EXPECT_FALSE(rig.report().running);
    rig.audio.setCallsFail(kMic, false);
    seen = statusesOver(rig, 1100, seen);
    EXPECT_TRUE(rig.report().running);
    EXPECT_EQ(seen, (std::vector<int32_t>{engine::kCableOpen, engine::kCableNotRunning, engine::kCableOpen}));
    EXPECT_EQ(rig.events(), std::vector{engine::EngineEventKind::DeviceLost}) << "one loss, reported once";
}

TEST(Engine, CableThatDisappearsRunsWithoutItAndComesBackOnRequest)
{
    engine::BlockSteps steps;
    EngineRig rig(steps);
    rig.open();
    rig.runMillis(100);
    const auto cableSetup = test::endpointSetup(
        platform::Flow::Render, kCable, L"CABLE Input (VB-Audio Virtual Cable)", L"VB-Audio Virtual Cable");
    rig.audio.removeEndpoint(kCable);
    auto seen = statusesOver(rig, 1200, {engine::kCableOpen});
    EXPECT_TRUE(rig.report().running) << "running on the monitor alone";
    EXPECT_TRUE(rig.session().monitorOutput().isOpen());

    // The cable watcher asks for an open once the cable is back.
    rig.audio.addEndpoint(cableSetup);
    engine::requestOpen(rig.state);
    seen = statusesOver(rig, 100, seen);
    EXPECT_EQ(seen,
        (std::vector<int32_t>{
            engine::kCableOpen, engine::kCableNotRunning, engine::kCableMissing, engine::kCableOpen}));
}

TEST(Engine, RefusedCableReportsThreeUntilARetryRequestOpensIt)
{
    engine::BlockSteps steps;
    EngineRig rig(steps);
    rig.audio.setRefuseOpen(kCable, true);
    rig.open();
    EXPECT_EQ(rig.report().cableStatus, engine::kCableRefused);
    rig.runMillis(50);
    rig.audio.setRefuseOpen(kCable, false);
    rig.runMillis(50);
    EXPECT_EQ(rig.report().cableStatus, engine::kCableRefused);
    engine::requestCableReopen(rig.state);
    rig.runMillis(20);
    EXPECT_EQ(rig.report().cableStatus, engine::kCableOpen);
    EXPECT_EQ(rig.events(), std::vector{engine::EngineEventKind::CableRefused});
}

// Opens while the voice flows run on the device thread: an output that takes
// seconds to open (on the virtual clock) never holds up the other one.
TEST(Engine, AnOutputThatIsSlowToOpenNeverStopsTheOtherOne)
{
    engine::BlockSteps steps;
    console::SimOptions options;
    options.settleDeviceThread = false; // the opens are meant to be under way while the engine runs
    EngineRig rig(steps, options);
    rig.audio.setRefuseOpen(kCable, true);
    rig.open();
    rig.runMillis(100);
    ASSERT_TRUE(rig.session().monitorOutput().isOpen());
    ASSERT_EQ(rig.report().cableStatus, engine::kCableRefused);

    // An open of 2 s has just been asked for: for a second the other output
    // keeps every block and the slow one stays closed; then it opens.
    auto slowOpen = [&rig](const std::wstring& other, auto slowIsOpen) {
        rig.run(1);
        rig.clock.awaitWaiters(1); // the device thread waits inside the open from now on
        const auto before = rig.audio.stats(other);
        rig.runMillis(1000);
        EXPECT_FALSE(slowIsOpen());
        EXPECT_GE(rig.audio.stats(other).framesWritten - before.framesWritten, 480u * 95);
        EXPECT_EQ(rig.audio.stats(other).underruns, before.underruns);
        rig.runMillis(1100);
        rig.engine->waitForDeviceThread();
        rig.runMillis(20);
        EXPECT_TRUE(slowIsOpen());
    };

    rig.audio.setRefuseOpen(kCable, false);
    rig.audio.setOpenDelay(kCable, 2000000);
    engine::requestCableReopen(rig.state);
    slowOpen(kPhones, [&rig] { return rig.session().cableOutput().isOpen(); });
    EXPECT_EQ(rig.report().cableStatus, engine::kCableOpen);

    // The monitor closes, then takes 2 s to open again.
    rig.settings.set(&settings::Settings::monitor, 0);
    rig.settings.set(&settings::Settings::clip_hear, 0);
    rig.runMillis(20);
    ASSERT_FALSE(rig.session().monitorOutput().isOpen());
    rig.audio.setOpenDelay(kPhones, 2000000);
    rig.settings.set(&settings::Settings::monitor, 1);
    slowOpen(kCable, [&rig] { return rig.session().monitorOutput().isOpen(); });
    EXPECT_TRUE(rig.report().monitorOpen);
}

TEST(Engine, DriftBetweenCaptureAndCableClocksIsAbsorbed)
{
    engine::BlockSteps steps;
    for (double ppm : {-300.0, 300.0}) {
        EngineRig rig(steps);
        rig.audio.setDriftPpm(kCable, ppm);
        rig.open();
        rig.runMillis(120000);
        const auto& cable = rig.session().cableOutput();
        EXPECT_EQ(rig.audio.stats(kCable).underruns, 0u) << ppm;
        EXPECT_NEAR(cable.smoothedFill, cable.targetFill, cable.tolerance + 10.0) << ppm;
    }
}

TEST(Engine, StopRequestEndsTheEngineFromEveryState)
{
    engine::BlockSteps steps;
    {
        EngineRig rig(steps);
        engine::requestStop(rig.state);
        rig.run(1);
        EXPECT_EQ(rig.engine->phase(), engine::EnginePhase::Ended);
    }
    {
        EngineRig rig(steps);
        rig.open();
        rig.runMillis(30);
        engine::requestStop(rig.state);
        rig.run(1);
        EXPECT_EQ(rig.engine->phase(), engine::EnginePhase::Ended);
        EXPECT_FALSE(rig.report().running);
        EXPECT_EQ(rig.audio.stats(kMic).openStreams + rig.audio.stats(kCable).openStreams, 0);
    }
    {
        EngineRig rig(steps);
        settings::setDeviceName(rig.settings, settings::DeviceKind::Mic, L"");
        rig.open();
        ASSERT_EQ(rig.engine->phase(), engine::EnginePhase::RetryWait);
        engine::requestStop(rig.state);
        rig.run(1);
        EXPECT_EQ(rig.engine->phase(), engine::EnginePhase::Ended);
    }
}

TEST(Engine, BlockCycleAllocatesNothingAfterWarmUp)
{
    engine::BlockSteps steps;
    EngineRig rig(steps);
    rig.settings.set(&settings::Settings::isolate, 1);
    rig.rings.take.armed.store(1);
    rig.rings.last.armed.store(1);
    rig.open();
    rig.runMillis(1000);
    const auto before = rig.audio.stats(kCable).framesWritten;
    size_t allocations = 0;
    {
        test::AllocationCounter counter;
        rig.runMillis(100000); // 10 000 blocks of 480 frames
        allocations = counter.count();
    }
    EXPECT_GE(rig.audio.stats(kCable).framesWritten - before, 480u * 9990);
    EXPECT_EQ(allocations, 0u);
}

TEST(Engine, ThreadRegistersAsProAudioOrFallsBackToTimeCritical)
{
    engine::BlockSteps steps;
    EngineRig rig(steps);
    EXPECT_EQ(rig.engine->priority(), platform::ThreadPriority::ProAudio);
    console::SimOptions options;
    options.steps = &steps;
    console::SimConsole other(options);
    other.audio.setRegistrationFails(true);
    other.engine().start();
    EXPECT_EQ(other.engine().priority(), platform::ThreadPriority::TimeCritical);
    EXPECT_TRUE(platform::denormalsFlushed());
}

TEST(OutputPeak, ConcurrentRaisesAndReadAndClearNeverLoseAPeak)
{
    engine::EngineReports reports;
    constexpr int kRounds = 2000;
    constexpr int kBurst = 64;
    std::barrier sync(2);
    std::vector<int32_t> roundMax(kRounds);
    std::vector<int32_t> roundRead(kRounds, 0);
    std::thread writer([&] {
        std::mt19937 rng(7);
        for (int r = 0; r < kRounds; ++r) {
            int32_t top = 0;
            for (int i = 0; i < kBurst; ++i) {
                const auto v = static_cast<int32_t>(rng() % 1000000) + 1;
                top = std::max(top, v);
                reports.raiseOutputPeak(v);
            }
            roundMax[r] = top;
            sync.arrive_and_wait(); // burst done
            sync.arrive_and_wait(); // reader finished the round
        }
    });
    for (int r = 0; r < kRounds; ++r) {
        int32_t best = 0;
        // Read and clear while the writer raises, then once more after it stopped.
        for (int i = 0; i < kBurst / 4; ++i)
            best = std::max(best, reports.takeOutputPeak());
        sync.arrive_and_wait();
        best = std::max(best, reports.takeOutputPeak());
        roundRead[r] = best;
        sync.arrive_and_wait();
    }
    writer.join();
    EXPECT_EQ(roundRead, roundMax);
}

TEST(RecorderRing, DropsWhatDoesNotFitAndClampsToSixteenBits)
{
    engine::RecorderRing ring;
    const std::vector<float> block{2.0f, -2.0f, 0.5f, -0.5f, std::numeric_limits<float>::quiet_NaN(), 0.0f};
    EXPECT_EQ(ring.push(block.data(), 6), 6u);
    std::vector<int16_t> out(6);
    ASSERT_EQ(ring.read(out.data(), 6), 6u);
    EXPECT_EQ(out, (std::vector<int16_t>{32767, -32767, 16383, -16383, 0, 0}));

    std::vector<float> big(engine::RecorderRing::kSize + 10, 0.25f);
    EXPECT_EQ(ring.push(big.data(), static_cast<uint32_t>(big.size())), engine::RecorderRing::kSize);
    EXPECT_EQ(ring.push(big.data(), 10), 0u) << "a full ring drops";
    EXPECT_EQ(ring.read(out.data(), 6), 6u);
    EXPECT_EQ(ring.push(big.data(), 10), 6u);
}

} // namespace

// The engine on its own thread while an interface thread raises requests,
// changes settings, reads the reports and arms the recorder rings all the
// time; the thread sanitizer run checks every access that crosses threads.
TEST(EngineThread, RunsBesideAnInterfaceThreadThatPokesEverythingItShares)
{
    engine::BlockSteps steps;
    console::SimOptions options;
    options.steps = &steps;
    console::SimConsole rig(options);
    rig.audio.addEndpoint(test::endpointSetup(platform::Flow::Capture, kMic, L"Microphone (Sim USB)"));
    rig.audio.addEndpoint(test::endpointSetup(
        platform::Flow::Render, kCable, L"CABLE Input (VB-Audio Virtual Cable)", L"VB-Audio Virtual Cable"));
    console::Console& console = rig.console();
    settings::Settings& settings = console.settings();
    engine::EngineState& state = console.state();
    settings::setDeviceName(settings, settings::DeviceKind::Mic, kMic);
    console.startEngineThread();

    std::atomic<bool> done{false};
    std::thread ui([&] {
        std::vector<int16_t> taken(4096);
        engine::EngineEvent event;
        int64_t seen = -1;
        while (!done.load()) {
            // One round of pokes per simulated millisecond, while the engine runs it.
            const int64_t now = rig.clock.nowMicros();
            if (now == seen) {
                std::this_thread::yield();
                continue;
            }
            seen = now;
            const auto i = static_cast<int>(now / 1000);
            settings.set(&settings::Settings::mic_level, 50 + i % 50);
            settings.set(&settings::Settings::preset, i / 64 % 15);
            settings.set(&settings::Settings::mask_on, i / 32 % 2);
            state.glitchButtonHeld.store(static_cast<uint8_t>(i / 16 % 2));
            if (i % 200 == 0)
                engine::requestMicReopen(state);
            if (i % 300 == 0)
                engine::requestCableReopen(state);
            (void)console.reports().takeOutputPeak();
            (void)console.report();
            (void)console.reports().nextEvent(event);
            console.rings().take.armed.store(static_cast<uint8_t>(i / 100 % 2), std::memory_order_release);
            (void)console.rings().take.read(taken.data(), taken.size());
        }
    });
    // A waiter counts until it has run again, so on a busy machine the clock can
    // run ahead of the engine thread; go on until the cable has been written.
    for (int ms = 0; ms < 3000 || (rig.audio.stats(kCable).framesWritten == 0 && ms < 60000); ++ms) {
        rig.clock.awaitWaiters(1); // the engine waits for its next packet
        rig.clock.advance(1000);
        rig.audio.tick();
    }
    done.store(true);
    ui.join();
    // Time keeps moving while the stop request reaches the engine's wait.
    std::atomic<bool> stopped{false};
    std::thread ticker([&] {
        while (!stopped.load()) {
            rig.clock.advance(1000);
            rig.audio.tick();
            std::this_thread::yield();
        }
    });
    console.stopEngineThread();
    stopped.store(true);
    ticker.join();
    EXPECT_GT(rig.audio.stats(kCable).framesWritten, 0u); // the race check itself is the sanitizer's
}
