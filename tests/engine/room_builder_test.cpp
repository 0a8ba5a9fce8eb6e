// Rooms built off the engine thread: the builder answers the latest ask, the
// chain keeps its rooms until the new ones are ready and then swaps them in,
// and what the engine lets go of waits in the reaper for the builder to free.

#include "mix_rig.h"

#include "engine/room_builder.h"
#include "support/alloc_counter.h"

#include <gtest/gtest.h>

namespace {

using test::ChainRig;

TEST(RoomBuilder, BuildsOnlyTheLatestAskAndLeavesTheVoiceRoomToTheConvolution)
{
    test::StandInEnvironments environments;
    engine::RoomBuilder builder(environments);
    builder.setMode(engine::RoomBuilder::Mode::Stepped);
    builder.configure(48000.0, true);
    builder.request(9);
    builder.request(10);
    EXPECT_EQ(builder.take(), nullptr); // nothing until the builder has had its turn
    EXPECT_TRUE(builder.step());
    EXPECT_FALSE(builder.step()); // answered: nothing more to build
    auto set = builder.take();
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->preset, 10);
    EXPECT_NE(set->voice, nullptr);
    EXPECT_NE(set->bus0, nullptr);
    EXPECT_NE(set->bus1, nullptr);
    EXPECT_EQ(environments.presets, (std::vector<int>{10, 10, 10}));

    builder.request(8); // the cavern on its response: only the bus rooms
    builder.step();
    set = builder.take();
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->voice, nullptr);
    EXPECT_NE(set->bus1, nullptr);
}

TEST(RoomBuilder, TheReaperTakesWhatFitsAndFreesItOnItsOwnTurn)
{
    engine::Reaper reaper;
    std::vector<std::unique_ptr<engine::ReverbInstance>> rooms;
    for (size_t i = 0; i <= engine::Reaper::kSlots; ++i)
        rooms.push_back(std::make_unique<test::StandInRoom>(0.0));
    size_t frees = 0;
    {
        test::AllocationCounter counter;
        for (size_t i = 0; i < engine::Reaper::kSlots; ++i)
            EXPECT_TRUE(reaper.retire(rooms[i]));
        frees = counter.frees();
    }
    EXPECT_EQ(frees, 0u);
    EXPECT_EQ(reaper.freeSlots(), 0u);
    EXPECT_FALSE(reaper.retire(rooms.back())); // full: the caller keeps it
    EXPECT_NE(rooms.back(), nullptr);
    EXPECT_EQ(reaper.reap(), engine::Reaper::kSlots);
    EXPECT_TRUE(reaper.retire(rooms.back()));
    EXPECT_EQ(rooms.back(), nullptr);
}

TEST(RoomBuilder, TheChainKeepsItsRoomUntilTheNewOneIsBuiltThenSwapsWithoutFreeing)
{
    ChainRig rig;
    rig.settings.set(&settings::Settings::preset, 3);
    rig.settings.set(&settings::Settings::effects, 1);
    rig.settings.set(&settings::Settings::amount, 100);
    rig.start();
    rig.chain->setRoomBuilding(engine::RoomBuilder::Mode::Stepped);
    auto* room3 = rig.environments.rooms[0];
    rig.blocks(2, 0.5f);
    rig.chain->changeEnvironment(5);
    rig.block(0.5f);
    EXPECT_EQ(rig.chain->presetInUse(), 3); // not built yet: the old room goes on
    EXPECT_FALSE(rig.chain->oldEnvironmentRinging());
    rig.chain->rooms().step();
    ASSERT_EQ(rig.environments.presets.back(), 5);
    const uint64_t before = room3->processed;
    size_t allocations = 0, frees = 0;
    {
        test::AllocationCounter counter;
        rig.block(0.5f);
        allocations = counter.count();
        frees = counter.frees();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(frees, 0u);
    EXPECT_EQ(rig.chain->presetInUse(), 5);
    EXPECT_TRUE(rig.chain->oldEnvironmentRinging());
    EXPECT_EQ(room3->processed, before + ChainRig::kFrames); // now ringing out as the tail
    EXPECT_EQ(rig.chain->rooms().reaper().reap(), 1u);       // the set with the old bus rooms
}

} // namespace
