// The pads, the library, the trim range and their registry layout, with the
// real pad player underneath and loads run by hand.

#include "soundboard/soundboard.h"

#include "platform/sim/manual_clock.h"
#include "platform/sim/memory_registry.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

namespace {

using soundboard::kSoundboardKey;

struct LoadCall {
    std::wstring path;
    double from = 0.0, to = 0.0;
    bool cancelled = false; // the flag as the worker saw it
};

struct Board {
    platform::sim::MemoryRegistry registry;
    platform::sim::ManualClock clock{5'000'000};
    engine::SoundPlayer player;
    soundboard::Soundboard board{player, clock, &registry};
    std::vector<std::pair<std::function<void()>, std::function<void()>>> jobs;
    std::vector<LoadCall> calls;

    Board()
    {
        // "bad" paths fail with the path's own message, "mute" ones without one;
        // other sounds are (from + 1) × 1000 frames long, so each load can be told apart.
        board.setLoader([this](const std::wstring& path, double from, double to, const std::atomic<uint8_t>* cancel,
                            std::wstring& message) -> clip::SoundRef {
            calls.push_back({path, from, to, cancel && cancel->load() != 0});
            if (path.find(L"bad") != std::wstring::npos) {
                message = L"Can't open that file";
                return nullptr;
            }
            if (path.find(L"mute") != std::wstring::npos)
                return nullptr;
            auto sound = std::make_shared<clip::Sound>();
            sound->samples.assign(static_cast<size_t>((from + 1.0) * 1000.0) * 2, 8000);
            return sound;
        });
        board.setRunner([this](std::function<void()> work, std::function<void()> done) {
            jobs.emplace_back(std::move(work), std::move(done));
        });
    }
    void drain()
    {
        auto running = std::move(jobs);
        jobs.clear();
        for (auto& [work, done] : running) {
            work();
            done();
        }
    }
    uint32_t mixPlaying()
    {
        // Longer than a stop's fade, shorter than any loaded sound.
        std::vector<float> l(300), r(300);
        player.mixInto(l.data(), r.data(), 300);
        return player.playingMask();
    }
    void addAndAssign(int pad, const std::wstring& path)
    {
        board.addFiles({path});
        for (size_t i = 0; i < board.library().size(); ++i) {
            if (board.library()[i] == path)
                board.selectedRow = static_cast<int>(i);
        }
        board.assignLibraryItem(pad);
    }
};

constexpr uint32_t kF5 = 0x74;
constexpr uint32_t kCtrlQ = (1u << 17) | 'Q';

TEST(Soundboard, AddingFilesKeepsEachOnceAndCountsOnlyNewOnesInTheStatus)
{
    Board b;
    EXPECT_EQ(b.board.addFiles({L"C:\\s\\a.wav", L"C:\\s\\b.mp3", L"C:\\s\\a.wav"}), 2);
    EXPECT_EQ(b.board.status(), L"Added 2 sound(s)");
    EXPECT_DOUBLE_EQ(b.board.statusTime(), 5.0);
    EXPECT_EQ(b.board.addFiles({L"C:\\s\\b.mp3", L"C:\\s\\c.ogg"}), 1);
    EXPECT_EQ(b.board.status(), L"Added 1 sound(s)");
    const uint32_t serial = b.board.statusSerial();
    EXPECT_EQ(b.board.addFiles({L"C:\\s\\a.wav", L"C:\\s\\c.ogg"}), 0);
    EXPECT_EQ(b.board.statusSerial(), serial);
    EXPECT_EQ(b.board.addFiles({L"C:\\s\\A.wav"}), 1); // exact comparison: case counts
    EXPECT_EQ(b.registry.readDword(kSoundboardKey, L"Count"), 4u);

    std::vector<std::wstring> many;
    for (int i = 0; i < 300; ++i)
        many.push_back(L"C:\\m\\" + std::to_wstring(i) + L".wav");
    EXPECT_EQ(b.board.addFiles(many), 252);
    EXPECT_EQ(b.board.library().size(), soundboard::kLibraryLimit);
}

TEST(Soundboard, LoadingReadsAtMost256EntriesAndDropsUnusableKeys)
{
    Board b;
    b.registry.writeDword(kSoundboardKey, L"Count", 1000);
    for (int i = 0; i < 1000; ++i)
        b.registry.writeString(kSoundboardKey, L"File" + std::to_wstring(i), L"C:\\f" + std::to_wstring(i));
    b.registry.writeDword(kSoundboardKey, L"StopKey", 'A'); // a bare letter is no global key
    b.registry.writeString(kSoundboardKey, L"Pad0Path", L"C:\\snd\\horn.blast.wav");
    b.registry.writeDword(kSoundboardKey, L"Pad0Key", (1u << 19) | kF5); // the Windows key is not allowed
    b.registry.writeDword(kSoundboardKey, L"Pad1Key", kF5);
    b.board.load();
    ASSERT_EQ(b.board.library().size(), 256u);
    EXPECT_EQ(b.board.library().back(), L"C:\\f255");
    EXPECT_EQ(b.board.stopKey(), 0u);
    EXPECT_EQ(b.board.pad(0).key, 0u);
    EXPECT_EQ(b.board.pad(1).key, kF5);
    EXPECT_EQ(b.board.pad(0).title, L"horn.blast");
    EXPECT_TRUE(b.board.pad(0).needsLoad);
    EXPECT_FALSE(b.board.pad(1).needsLoad);

    // A shrinking library leaves no entries behind Count.
    b.board.selectedRow = 255;
    b.board.removeLibraryItem();
    EXPECT_EQ(b.board.selectedRow, 254);
    EXPECT_FALSE(b.registry.readString(kSoundboardKey, L"File255", 600).has_value());
    EXPECT_FALSE(b.registry.readString(kSoundboardKey, L"File999", 600).has_value());
    EXPECT_TRUE(b.registry.readString(kSoundboardKey, L"File254", 600).has_value());
}

TEST(Soundboard, PadsLibraryAndStopKeyComeBackFromTheStore)
{
    Board a;
    a.addAndAssign(2, L"C:\\snd\\horn.wav");
    a.board.addFiles({L"C:\\snd\\bell.wav"});
    a.board.saveTrim(2, 1.2346, 3.5);
    a.board.renamePad(2, L"Horn");
    a.board.setPadKey(2, kCtrlQ);
    a.board.setPadKey(5, kF5); // a key on an empty pad is kept too
    a.board.setStopKey(kF5 + 1);

    soundboard::Soundboard b(a.player, a.clock, &a.registry);
    b.load();
    EXPECT_EQ(b.library(), a.board.library());
    EXPECT_EQ(b.stopKey(), kF5 + 1);
    const soundboard::Pad& pad = b.pad(2);
    EXPECT_EQ(pad.path, L"C:\\snd\\horn.wav");
    EXPECT_EQ(pad.title, L"Horn");
    EXPECT_EQ(pad.key, kCtrlQ);
    EXPECT_DOUBLE_EQ(pad.from, 1.235); // whole milliseconds, rounded to nearest
    EXPECT_DOUBLE_EQ(pad.to, 3.5);
    EXPECT_EQ(b.pad(5).key, kF5);
    EXPECT_TRUE(b.pad(5).path.empty());

    // Without its key nothing changes.
    Board c;
    c.board.addFiles({L"C:\\kept.wav"});
    c.registry.deleteKey(kSoundboardKey);
    c.board.load();
    EXPECT_EQ(c.board.library().size(), 1u);
}

TEST(Soundboard, TrimRangesAreAtLeastFiftyMillisecondsAndInsideTheSound)
{
    const auto expectRange = [](soundboard::TrimRange r, double start, double end) {
        EXPECT_NEAR(r.start, start, 1e-9);
        EXPECT_NEAR(r.end, end, 1e-9);
    };
    expectRange(soundboard::normaliseTrim(1.0, 1.01, 10.0), 1.0, 1.05);
    expectRange(soundboard::normaliseTrim(9.99, 10.0, 10.0), 9.95, 10.0); // at the end of the file
    expectRange(soundboard::normaliseTrim(0.0, 0.01, 0.03), 0.0, 0.03);   // a sound shorter than the minimum
    expectRange(soundboard::normaliseTrim(8.0, -2.0, 5.0), 0.0, 5.0);     // clamped, then swapped
    expectRange(soundboard::normaliseTrim(1.0, 2.0, 0.0), 0.0, 0.0);
    expectRange(soundboard::normaliseTrim(1.0, 2.0, -1.0), 0.0, 0.0);
    expectRange(soundboard::initialTrim(2.0, 0.0, 60.0), 2.0, 20.0);
    expectRange(soundboard::initialTrim(2.0, 0.0, 8.0), 2.0, 8.0);
    expectRange(soundboard::initialTrim(-1.0, 30.0, 12.0), 0.0, 12.0);
    expectRange(soundboard::initialTrim(30.0, 40.0, 12.0), 11.95, 12.0); // the file got shorter

    EXPECT_EQ(soundboard::defaultTitle(L"C:\\a.b\\clip.final.mp3"), L"clip.final");
    EXPECT_EQ(soundboard::defaultTitle(L"C:\\a.b\\noext"), L"noext");
}

TEST(Soundboard, APadClickedWhileLoadingPlaysOnceTheLoadFinishes)
{
    Board b;
    b.addAndAssign(0, L"C:\\horn.wav");
    EXPECT_TRUE(b.board.pad(0).loading);
    b.board.triggerPad(0);
    b.board.triggerPad(0); // still loading: no second load
    EXPECT_EQ(b.jobs.size(), 1u);
    EXPECT_EQ(b.mixPlaying(), 0u);
    b.drain();
    EXPECT_FALSE(b.board.pad(0).loading);
    EXPECT_EQ(b.mixPlaying(), 1u);
    b.board.triggerPad(0); // playing: stops
    EXPECT_EQ(b.mixPlaying(), 0u);
    b.board.triggerPad(0);
    b.board.stopAllPads(); // before the engine took the start
    EXPECT_EQ(b.mixPlaying(), 0u);
}

TEST(Soundboard, AClearedPadKeepsItsKeyAndTriggeringItDoesNothing)
{
    Board b;
    b.addAndAssign(3, L"C:\\horn.wav");
    b.board.setPadKey(3, kF5);
    b.board.clearPad(3); // while loading: the load's result is dropped
    b.drain();
    EXPECT_EQ(b.board.pad(3).key, kF5);
    EXPECT_TRUE(b.board.pad(3).path.empty());
    EXPECT_FALSE(b.board.pad(3).sound);
    EXPECT_FALSE(b.board.pad(3).loadError);
    EXPECT_TRUE(b.calls.back().cancelled);
    b.board.triggerPad(3);
    EXPECT_TRUE(b.jobs.empty());
    EXPECT_EQ(b.mixPlaying(), 0u);
    EXPECT_EQ(b.registry.readDword(kSoundboardKey, L"Pad3Key"), kF5);
    EXPECT_EQ(b.registry.readString(kSoundboardKey, L"Pad3Path", 600), L"");
}

TEST(Soundboard, ASavedEndOfZeroLoadsFromTheStartForUpToTwentySeconds)
{
    Board b;
    b.registry.writeString(kSoundboardKey, L"Pad4Path", L"C:\\long.wav");
    b.registry.writeDword(kSoundboardKey, L"Pad4From", 1500);
    b.registry.writeDword(kSoundboardKey, L"Pad4To", 0);
    b.board.load();
    b.board.startPendingLoads();
    b.board.startPendingLoads(); // already loading
    b.drain();
    ASSERT_EQ(b.calls.size(), 1u);
    EXPECT_EQ(b.calls[0].path, L"C:\\long.wav");
    EXPECT_DOUBLE_EQ(b.calls[0].from, 1.5);
    EXPECT_DOUBLE_EQ(b.calls[0].to, 0.0);
    EXPECT_EQ(b.board.pad(4).sound->frames(), 2500u);
}

TEST(Soundboard, ASupersededLoadIsCancelledAndItsResultDropped)
{
    Board b;
    b.addAndAssign(1, L"C:\\horn.wav");
    b.board.saveTrim(1, 2.0, 3.0);
    b.drain();
    ASSERT_EQ(b.calls.size(), 2u);
    EXPECT_TRUE(b.calls[0].cancelled);
    EXPECT_FALSE(b.calls[1].cancelled);
    EXPECT_EQ(b.board.pad(1).sound->frames(), 3000u); // the trimmed load's sound
    EXPECT_FALSE(b.board.pad(1).loadError);
}

TEST(Soundboard, AFailedLoadShowsTheLoadersMessageOrAPlainOne)
{
    Board b;
    b.addAndAssign(0, L"C:\\bad.wav");
    b.addAndAssign(1, L"C:\\mute.wav");
    b.drain();
    EXPECT_TRUE(b.board.pad(0).loadError);
    EXPECT_EQ(b.board.pad(0).errorText, L"Can't open that file");
    EXPECT_EQ(b.board.pad(1).errorText, L"Could not load sound");
    EXPECT_EQ(b.board.status(), L"Could not load sound");
    b.board.triggerPad(1); // a failed pad tries again
    EXPECT_TRUE(b.board.pad(1).loading);
    EXPECT_FALSE(b.board.pad(1).loadError);
}

TEST(Soundboard, APreviewStoppedWhileDecodingStaysSilent)
{
    Board b;
    b.board.startPreview(L"C:\\horn.wav", 0.0, 1.0);
    b.board.stopPreview();
    b.drain();
    EXPECT_EQ(b.mixPlaying(), 0u);
    b.board.startPreview(L"C:\\horn.wav", 0.0, 1.0);
    b.drain();
    EXPECT_EQ(b.mixPlaying(), 1u << soundboard::kPreviewId);
    EXPECT_FALSE(b.calls.back().cancelled);
}

} // namespace
