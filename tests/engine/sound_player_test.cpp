// The multi-voice sound player: voices, fades, stealing and its command queue.

#include "engine/sound_player.h"
#include "support/alloc_counter.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// A sound holding one value on both channels (0.5 at 16384).
clip::SoundRef constantSound(uint32_t frames, int16_t value = 16384)
{
    auto s = std::make_shared<clip::Sound>();
    s->samples.assign(size_t{frames} * 2, value);
    return s;
}

struct Mix {
    std::vector<float> left, right;
    explicit Mix(uint32_t n) : left(n, 0.0f), right(n, 0.0f) { }
};

Mix run(engine::SoundPlayer& player, uint32_t n)
{
    Mix m(n);
    player.mixInto(m.left.data(), m.right.data(), n);
    return m;
}

TEST(SoundPlayer, PlaysEachSoundOnceAtItsOwnLevelAndReportsItsPosition)
{
    engine::SoundPlayer player;
    player.play(3, constantSound(700));
    EXPECT_TRUE(player.playing()); // queued counts as playing, so the mix runs it
    Mix first = run(player, 480);
    EXPECT_FLOAT_EQ(first.left[0], 0.5f);
    EXPECT_EQ(player.playingMask(), 1u << 3);
    EXPECT_EQ(player.position(3), 480u);
    Mix second = run(player, 480);
    EXPECT_FLOAT_EQ(second.right[219], 0.5f);
    EXPECT_EQ(second.right[220], 0.0f);
    EXPECT_EQ(player.playingMask(), 0u);
    EXPECT_FALSE(player.playing());
}

TEST(SoundPlayer, AFadeTakes250Frames)
{
    engine::SoundPlayer player;
    player.play(1, constantSound(48000));
    run(player, 100);
    player.stop(1);
    Mix m = run(player, 480);
    EXPECT_NEAR(m.left[0], 0.5f * 0.996f, 1e-6);
    EXPECT_NEAR(m.left[248], 0.5f * 0.004f, 1e-6);
    EXPECT_EQ(m.left[249], 0.0f); // the 250th frame: silent, the voice is gone
    for (int i = 1; i < 249; ++i)
        ASSERT_LT(m.left[i], m.left[i - 1]);
    EXPECT_EQ(player.playingMask(), 0u);
    EXPECT_EQ(player.position(1), 100u); // a fading voice no longer moves its report
}

TEST(SoundPlayer, ANinthSoundReplacesTheVoiceThatHasPlayedLongest)
{
    engine::SoundPlayer player;
    // Voice of id k starts k blocks after id 0, so id 0 has played longest.
    for (int id = 0; id < 8; ++id) {
        player.play(id, constantSound(48000, 1000));
        run(player, 100);
    }
    EXPECT_EQ(player.playingMask(), 0xFFu);
    player.play(8, constantSound(48000, 1000));
    run(player, 100);
    EXPECT_EQ(player.playingMask(), 0x1FEu);
    EXPECT_EQ(player.position(8), 100u);
    player.play(9, constantSound(48000, 1000));
    run(player, 100);
    EXPECT_EQ(player.playingMask(), 0x3FCu); // then id 1, the next oldest
}

TEST(SoundPlayer, PlayingAnIdAgainFadesItsOldVoiceAndStartsAfresh)
{
    engine::SoundPlayer player;
    player.play(5, constantSound(48000));
    run(player, 300);
    player.play(5, constantSound(48000));
    Mix m = run(player, 1);
    EXPECT_NEAR(m.left[0], 0.5f * 0.996f + 0.5f, 1e-6); // old fading, new at full
    EXPECT_EQ(player.position(5), 1u);
}

TEST(SoundPlayer, StopAllFadesEveryVoiceAndDropsStartsQueuedBeforeIt)
{
    engine::SoundPlayer player;
    for (int id = 0; id < 4; ++id)
        player.play(id, constantSound(48000, 4096));
    run(player, 10);
    player.play(7, constantSound(48000, 4096));
    player.stopAll();
    Mix m = run(player, 300);
    EXPECT_NEAR(m.left[0], 4 * 0.125f * 0.996f, 1e-5);
    EXPECT_EQ(m.left[249], 0.0f);
    EXPECT_EQ(player.playingMask(), 0u);
}

TEST(SoundPlayer, CommandsQueuedWhileTheLockIsHeldWaitForTheNextBlockAndNoneIsLost)
{
    engine::SoundPlayer player;
    player.play(0, constantSound(48000, 100));
    player.play(1, constantSound(48000, 100));
    player.play(2, constantSound(48000, 100));
    player.stop(1);
    {
        auto held = player.holdQueue();
        Mix m = run(player, 480); // the engine does not wait for the lock
        EXPECT_EQ(m.left[0], 0.0f);
        EXPECT_EQ(player.playingMask(), 0u);
        EXPECT_TRUE(player.playing());
    }
    run(player, 480);
    EXPECT_EQ(player.playingMask(), (1u << 0) | (1u << 2));
}

TEST(SoundPlayer, OutOfRangeIdsAndEmptySoundsAreIgnored)
{
    engine::SoundPlayer player;
    player.play(32, constantSound(100));
    player.play(-1, constantSound(100));
    player.play(4, std::make_shared<clip::Sound>());
    Mix m = run(player, 10);
    EXPECT_EQ(m.left[0], 0.0f);
    EXPECT_EQ(player.playingMask(), 0u);
}

} // namespace

namespace {

TEST(SoundPlayer, ASoundItHoldsTheLastReferenceToIsFreedByTheReaperNotOnTheEngineThread)
{
    engine::SilentEnvironments environments;
    engine::RoomBuilder builder(environments);
    builder.setMode(engine::RoomBuilder::Mode::Stepped);
    engine::SoundPlayer player;
    player.setReaper(&builder.reaper());
    std::weak_ptr<const clip::Sound> watch;
    {
        clip::SoundRef sound = constantSound(300);
        watch = sound;
        player.play(0, std::move(sound));
    }
    size_t frees = 0;
    Mix m(480);
    {
        test::AllocationCounter counter;
        player.mixInto(m.left.data(), m.right.data(), 480); // plays to its end and lets go of it
        frees = counter.frees();
    }
    EXPECT_EQ(frees, 0u);
    EXPECT_EQ(player.playingMask(), 0u);
    EXPECT_FALSE(watch.expired());
    EXPECT_EQ(builder.reaper().reap(), 1u);
    EXPECT_TRUE(watch.expired());
}

} // namespace
