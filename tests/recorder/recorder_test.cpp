// The recorder and its rolling Last buffer, fed through the tap rings the way
// the engine and the loopback tap feed them, with the loopback stream itself
// stepped on the simulated platform where the timing matters.

#include "recorder/recorder.h"

#include "engine/output_tap.h"
#include "platform/sim/manual_clock.h"
#include "platform/sim/memory_files.h"
#include "platform/sim/sim_audio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

namespace {

using settings::Settings;

constexpr int64_t kRate = 48000;

// Frame n as a ring stores it: left n mod 30000, right the count of 30000s, exactly.
void codedFrames(uint64_t first, size_t frames, std::vector<float>& out)
{
    out.resize(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const uint64_t n = first + i;
        out[2 * i] = (static_cast<float>(n % 30000) + 0.5f) / 32767.0f;
        out[2 * i + 1] = (static_cast<float>(n / 30000 % 30000) + 0.5f) / 32767.0f;
    }
}

uint64_t frameOf(const clip::Sound& sound, size_t frame)
{
    return static_cast<uint64_t>(sound.samples[2 * frame]) + 30000u * static_cast<uint64_t>(sound.samples[2 * frame + 1]);
}

void push(engine::RecorderRing& ring, const std::vector<float>& interleaved)
{
    for (size_t at = 0; at < interleaved.size();) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(interleaved.size() - at, 1u << 18));
        ASSERT_EQ(ring.push(interleaved.data() + at, n), n) << "the ring was not drained in time";
        at += n;
    }
}

void pushLevel(engine::RecorderRing& ring, size_t frames, float left, float right)
{
    std::vector<float> block(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        block[2 * i] = left;
        block[2 * i + 1] = right;
    }
    push(ring, block);
}

class RecorderTest : public ::testing::Test {
protected:
    // The recorder's own tap never finds a speaker (its clock never moves):
    // tests that need playback feed the loopback rings themselves.
    platform::sim::ManualClock idleClock;
    platform::sim::SimAudio idleAudio{idleClock};
    engine::OutputTap tap{idleClock, idleAudio};
    Settings settings;
    engine::RecorderRings rings;
    recorder::BusyFlags flags;
    engine::SoundPlayer phones, toMic;
    engine::EngineState state;
    std::vector<std::wstring> statuses;
    recorder::TakeEditor editor{flags, [this](const std::wstring& t) { statuses.push_back(t); }, phones, toMic, state};
    recorder::Recorder rec{settings, rings, tap, [] { return std::wstring(); }, flags, editor,
        [this](const std::wstring& t) { statuses.push_back(t); }};

    std::wstring status() const { return statuses.empty() ? L"" : statuses.back(); }

    // Frames [first, first + frames) of the coded voice, pumped in 350 ms pieces.
    void feedLast(uint64_t first, uint64_t frames)
    {
        std::vector<float> block;
        for (uint64_t at = 0; at < frames; at += 16800) {
            codedFrames(first + at, std::min<uint64_t>(16800, frames - at), block);
            push(rings.last, block);
            rec.pumpLast();
        }
    }
};

TEST_F(RecorderTest, ATakeShorterThanATenthOfASecondMoreIsRefusedAndTheEditorKeepsItsTake)
{
    auto previous = std::make_shared<clip::Sound>();
    previous->samples.assign(20000, 7);
    editor.setTake(previous, false);

    ASSERT_TRUE(rec.startRecording());
    EXPECT_EQ(status(), L"Recording...");
    EXPECT_FALSE(rec.startRecording()) << "already recording";
    pushLevel(rings.take, 9120, 0.5f, 0.5f); // 0.19 s
    rec.drainTake();
    rec.stopRecording();
    EXPECT_EQ(status(), L"Recording was shorter than 0.2 s");
    EXPECT_EQ(editor.source(), previous);
    EXPECT_FALSE(flags.recording);
    EXPECT_FALSE(rings.take.armed.load());

    pushLevel(rings.take, 4800, 0.5f, 0.5f);
    rec.toggleRecording();
    pushLevel(rings.take, 9600, 0.25f, -0.25f);
    rec.toggleRecording();
    ASSERT_NE(editor.source(), previous);
    ASSERT_EQ(editor.source()->frames(), 9600u) << "what waited before the start is not part of the take";
    EXPECT_EQ(editor.source()->samples[0], 8191);
    EXPECT_EQ(editor.source()->samples[1], -8191);
}

TEST_F(RecorderTest, BothSourcesSaturateInsteadOfWrappingAndTheLevelsFollowTheFirst)
{
    settings.set(&Settings::RecSources, 3);
    ASSERT_TRUE(rec.startRecording());
    EXPECT_TRUE(rings.take.armed.load() && rings.loopTake.armed.load());
    pushLevel(rings.take, 24000, 0.9f, -0.9f);
    pushLevel(rings.loopTake, 12000, 0.9f, -0.9f);
    rec.drainTake();
    pushLevel(rings.take, 2400, 0.1f, 0.0f);
    rec.drainTake();
    EXPECT_DOUBLE_EQ(rec.recordedSeconds(), 26400.0 / kRate);
    ASSERT_EQ(rec.levelHistory().size(), 11u);
    EXPECT_FLOAT_EQ(rec.levelHistory()[0], 29490.0f / 32768.0f);
    EXPECT_FLOAT_EQ(rec.levelHistory()[10], 3276.0f / 32768.0f);
    rec.stopRecording();

    const clip::SoundRef take = editor.source();
    ASSERT_TRUE(take);
    ASSERT_EQ(take->frames(), 26400u);
    EXPECT_EQ(take->samples[0], 32767);
    EXPECT_EQ(take->samples[1], -32768);
    EXPECT_EQ(take->samples[2 * 11999], 32767);
    EXPECT_EQ(take->samples[2 * 12000], 29490) << "the shorter source adds nothing past its end";
    EXPECT_EQ(take->samples[2 * 24000], 3276);
}

TEST_F(RecorderTest, ATakeStopsByItselfAtTenMinutes)
{
    ASSERT_TRUE(rec.startRecording());
    std::vector<float> block(240000 * 2, 0.25f);
    for (int i = 0; i < 130 && flags.recording; ++i) {
        push(rings.take, block);
        rec.drainTake();
    }
    EXPECT_FALSE(flags.recording);
    ASSERT_TRUE(editor.source());
    EXPECT_EQ(editor.source()->frames(), 28800000u);
}

TEST_F(RecorderTest, SourcesToggleButNeverAllOffAndNotWhileRecording)
{
    rec.toggleSource(1);
    EXPECT_EQ(settings.RecSources.load(), 1) << "the only source stays";
    rec.toggleSource(2);
    EXPECT_EQ(settings.RecSources.load(), 3);
    rec.toggleSource(1);
    EXPECT_EQ(settings.RecSources.load(), 2);
    rec.startRecording();
    rec.toggleSource(1);
    EXPECT_EQ(settings.RecSources.load(), 2);
    rec.stopRecording();

    rec.toggleQuiet();
    EXPECT_EQ(settings.LastQuiet.load(), 0);
}

TEST_F(RecorderTest, KeepLastStepsAlongTheListAndLabelsItsLength)
{
    EXPECT_EQ(recorder::lastLabel(0), L"Last: Off");
    EXPECT_EQ(recorder::lastLabel(45), L"Last 45 s");
    EXPECT_EQ(recorder::lastLabel(60), L"Last 1 min");
    EXPECT_EQ(recorder::lastLabel(120), L"Last 2 mins");
    EXPECT_EQ(recorder::lastLabel(90), L"Last 1:30");

    rec.stepKeepLast(+1);
    EXPECT_EQ(settings.KeepLast.load(), 90);
    EXPECT_EQ(rec.lastCapacity(), 90 * kRate);
    settings.set(&Settings::KeepLast, 540);
    rec.stepKeepLast(+1);
    rec.stepKeepLast(+1);
    EXPECT_EQ(settings.KeepLast.load(), 600);
    settings.set(&Settings::KeepLast, 5);
    rec.stepKeepLast(-1);
    rec.stepKeepLast(-1);
    EXPECT_EQ(settings.KeepLast.load(), 0);
    EXPECT_FALSE(rings.last.armed.load());
    rec.grabLast();
    EXPECT_EQ(status(), L"Last rolling buffer is Off");
}

TEST_F(RecorderTest, ShorteningTheLastBufferKeepsTheNewestAudioAndLengtheningItGrowsFromThere)
{
    settings.set(&Settings::LastQuiet, 0);
    rec.pumpLast();
    ASSERT_TRUE(rings.last.armed.load());
    feedLast(0, 20 * kRate);
    ASSERT_EQ(rec.lastFill(), 20 * kRate);

    settings.set(&Settings::KeepLast, 10);
    rec.reconfigureLast();
    clip::SoundRef excerpt = rec.lastExcerpt();
    ASSERT_EQ(excerpt->frames(), 10u * kRate);
    for (size_t f = 0; f < excerpt->frames(); f += 997)
        ASSERT_EQ(frameOf(*excerpt, f), 10u * kRate + f) << f;

    // Wrap the short ring a few times, then grow it again.
    feedLast(20 * kRate, 25 * kRate);
    settings.set(&Settings::KeepLast, 60);
    rec.reconfigureLast();
    feedLast(45 * kRate, 5 * kRate);
    excerpt = rec.lastExcerpt();
    ASSERT_EQ(excerpt->frames(), 15u * kRate);
    for (size_t f = 0; f < excerpt->frames(); ++f)
        ASSERT_EQ(frameOf(*excerpt, f), 35u * kRate + f) << f;
}

TEST_F(RecorderTest, GrabAndSaveTellWhyTheyCannotAndNameWhatTheyMade)
{
    settings.set(&Settings::LastQuiet, 0);
    settings.set(&Settings::TakeFormat, 1); // WAV
    rec.grabLast();
    EXPECT_EQ(status(), L"Nothing recorded in Last buffer yet");
    EXPECT_FALSE(rec.saveLast(L"C:\\Rec", {2026, 3, 4, 5, 6, 7}));
    EXPECT_EQ(status(), L"Nothing in Last buffer to save");

    // Not yet pumped: the grab takes in what waits.
    pushLevel(rings.last, 12000, 0.5f, 0.5f);
    flags.saving = true;
    rec.grabLast();
    EXPECT_FALSE(editor.source()) << "refused while saving";
    flags.saving = false;
    rec.grabLast();
    EXPECT_EQ(status(), L"Grabbed Last 1 min");
    ASSERT_TRUE(editor.source());
    EXPECT_EQ(editor.source()->frames(), 12000u);

    const std::optional<recorder::SaveRequest> request = rec.saveLast(L"C:\\Rec", {2026, 3, 4, 5, 6, 7});
    ASSERT_TRUE(request);
    EXPECT_EQ(status(), L"Saving rolling Last clip...");
    EXPECT_EQ(request->path, L"C:\\Rec\\VantorOvix_Last_20260304_050607.wav");

    platform::sim::MemoryFiles files;
    files.createFolders(L"C:\\Rec");
    const recorder::SaveResult saved = recorder::runSave(*request, files, nullptr);
    EXPECT_TRUE(saved.ok);
    EXPECT_EQ(saved.text, L"Saved Last: VantorOvix_Last_20260304_050607");
    EXPECT_TRUE(files.exists(request->path));

    files.failWritesBeyond(1000);
    const recorder::SaveResult failed = recorder::runSave(*request, files, nullptr);
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.text, L"The file could not be written there");
}

// One word (0.4 s of a loud tone) at 15 s in 30 s of faint room noise.
TEST_F(RecorderTest, OneWordInThirtySecondsOfRoomNoiseIsGrabbedAloneWithQuiet)
{
    settings.set(&Settings::KeepLast, 30);
    rec.pumpLast();
    std::mt19937 random(5);
    std::uniform_real_distribution<float> noise(-0.001f, 0.001f);
    std::vector<float> room(30 * kRate * 2);
    for (size_t f = 0; f < room.size() / 2; ++f) {
        const bool word = f >= 15 * kRate && f < 15 * kRate + 19200;
        const float tone = word ? 0.5f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 300.0 * f / kRate)) : 0.0f;
        room[2 * f] = tone + noise(random);
        room[2 * f + 1] = tone + noise(random);
    }
    for (size_t at = 0; at < room.size(); at += 96000) {
        push(rings.last, std::vector<float>(room.begin() + at, room.begin() + at + 96000));
        rec.pumpLast();
    }
    ASSERT_EQ(rec.lastFill(), 30 * kRate);

    settings.set(&Settings::LastQuiet, 0);
    const clip::SoundRef full = rec.lastExcerpt();
    ASSERT_EQ(full->frames(), 30u * kRate);

    settings.set(&Settings::LastQuiet, 1);
    rec.grabLast();
    const clip::SoundRef take = editor.source();
    ASSERT_TRUE(take);
    // 0.05 s of the noise before and after the word stay.
    const size_t first = 15 * kRate - 2400;
    ASSERT_EQ(take->frames(), 24000u);
    for (size_t k = 0; k < take->frames(); ++k) {
        double gain = 1.0;
        if (k < 144)
            gain = std::sin((k + 0.5) / 144.0 * std::numbers::pi / 2);
        if (take->frames() - k <= 144)
            gain = std::sin((take->frames() - k - 0.5) / 144.0 * std::numbers::pi / 2);
        for (size_t c = 0; c < 2; ++c)
            ASSERT_EQ(take->samples[2 * k + c], std::lround(full->samples[2 * (first + k) + c] * gain)) << k;
    }
}

// The voice carries frame n's number on the left; the speaker plays it on both
// sides, through the loopback stream with random quiet stretches. In the mix
// the voice is then left minus right, and both must name the same frame.
TEST_F(RecorderTest, VoiceAndPlaybackStayOnTheSameFrameOverALongRunWithGapsInThePlayback)
{
    constexpr float kScale = 0.25f;
    auto mark = [](uint64_t n) { return static_cast<float>(n % 1000) / 1000.0f * kScale; };
    platform::sim::ManualClock clock{10'000'000};
    platform::sim::SimAudio audio{clock};
    platform::sim::SimEndpointSetup speaker;
    speaker.flow = platform::Flow::Render;
    speaker.id = L"spk";
    speaker.packetFrames = 480;
    audio.addEndpoint(speaker);
    audio.setDefault(platform::Flow::Render, L"spk");
    audio.setCaptureSource(L"spk", [&](uint64_t first, float* out, uint32_t frames) {
        for (uint32_t i = 0; i < frames; ++i)
            out[2 * i] = out[2 * i + 1] = mark(first + i);
    });

    settings.set(&Settings::LastQuiet, 0);
    settings.set(&Settings::KeepLast, 20);
    settings.set(&Settings::RecSources, 3);
    rec.pumpLast();
    ASSERT_TRUE(rings.last.armed.load() && rings.loopLast.armed.load());
    engine::TapStream stream(clock, audio, 48000, [] { return std::wstring(); }, rings.loopTake, rings.loopLast);
    ASSERT_TRUE(stream.open());

    auto index = [](int v) { return static_cast<int>(std::lround(v / (32767.0 * kScale) * 1000.0)); };
    auto checkAligned = [&](int pass) {
        const clip::SoundRef excerpt = rec.lastExcerpt();
        size_t compared = 0;
        for (size_t f = 0; f < excerpt->frames(); ++f) {
            const int right = excerpt->samples[2 * f + 1];
            const int voice = excerpt->samples[2 * f] - right;
            if (right == 0 || voice == 0)
                continue; // the playback was quiet, or frame 0 of a thousand
            const int apart = (index(voice) - index(right) + 1000) % 1000;
            ASSERT_TRUE(apart <= 1 || apart >= 999) << "pass " << pass << " frame " << f << " apart " << apart;
            ++compared;
        }
        EXPECT_GT(compared, excerpt->frames() / 4) << "pass " << pass;
    };

    std::mt19937 random(31);
    std::vector<float> voice(480 * 2);
    uint64_t frame = 0;
    bool idle = false;
    int stretch = 100;
    for (int pass = 1; pass <= 12000; ++pass) {
        if (--stretch == 0) {
            idle = !idle;
            audio.setRenderIdle(L"spk", idle);
            stretch = idle ? 3 + static_cast<int>(random() % 300) : 1 + static_cast<int>(random() % 500);
        }
        clock.advanceMillis(10);
        for (size_t i = 0; i < 480; ++i, ++frame) {
            voice[2 * i] = mark(frame);
            voice[2 * i + 1] = 0.0f;
        }
        push(rings.last, voice);
        ASSERT_EQ(stream.pass(), engine::TapStream::Pass::Ok);
        if (pass % 35 == 0)
            rec.pumpLast();
        if (pass % 3000 == 0)
            checkAligned(pass);
    }
}

} // namespace
