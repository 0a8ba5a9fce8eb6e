// The manual clock drives timed waits deterministically: time moves only when
// the test advances it, and a waiting thread wakes exactly when it should.

#include "platform/sim/manual_clock.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using platform::kWaitForever;
using platform::kWaitTimeout;
using platform::sim::ManualClock;

TEST(ManualClock, TimeMovesOnlyWhenAdvanced)
{
    ManualClock clock(5000);
    EXPECT_EQ(clock.nowMicros(), 5000);
    clock.advanceMillis(3);
    EXPECT_EQ(clock.nowMicros(), 8000);
    EXPECT_EQ(clock.nowMillis(), 8);
    clock.advance(-100);
    EXPECT_EQ(clock.nowMicros(), 8000) << "never goes backwards";
}

TEST(ManualClock, AZeroTimeoutReturnsAtOnceAndASetEventWins)
{
    ManualClock clock;
    auto a = clock.createEvent(false);
    auto b = clock.createEvent(false);
    platform::Event* both[] = {a.get(), b.get()};
    EXPECT_EQ(clock.waitAny(both, 0), kWaitTimeout);
    b->set();
    a->set();
    EXPECT_EQ(clock.waitAny(both, 0), 0) << "the lowest set event";
    EXPECT_EQ(clock.waitAny(both, 0), 1) << "auto-reset events clear when they end a wait";
    EXPECT_EQ(clock.waitAny(both, 0), kWaitTimeout);
}

TEST(ManualClock, ManualResetEventsStaySetUntilReset)
{
    ManualClock clock;
    auto event = clock.createEvent(true);
    event->set();
    EXPECT_TRUE(clock.wait(*event, 0));
    EXPECT_TRUE(clock.wait(*event, 0));
    event->reset();
    EXPECT_FALSE(clock.wait(*event, 0));
}

TEST(ManualClock, AWaitingThreadTimesOutOnlyWhenTimeReachesItsDeadline)
{
    ManualClock clock;
    auto event = clock.createEvent(false);
    int result = 99;
    std::thread waiter([&] { result = clock.waitAny(std::span<platform::Event* const>(), 10000); });
    clock.awaitWaiters(1);
    clock.advance(9999);
    EXPECT_EQ(clock.waiters(), 1) << "one microsecond early: still waiting";
    clock.advance(1);
    waiter.join();
    EXPECT_EQ(result, kWaitTimeout);
}

TEST(ManualClock, SettingAnEventWakesAThreadThatWaitsForever)
{
    ManualClock clock;
    auto event = clock.createEvent(false);
    bool woke = false;
    std::thread waiter([&] { woke = clock.wait(*event, kWaitForever); });
    clock.awaitWaiters(1);
    clock.advanceMillis(1000000);
    EXPECT_EQ(clock.waiters(), 1);
    event->set();
    waiter.join();
    EXPECT_TRUE(woke);
}

} // namespace
