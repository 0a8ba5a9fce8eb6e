// The clock adapter on the real performance counter and kernel events.

#include "platform/win32/win32_platform.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

namespace {

TEST(Win32Clock, TimeNeverGoesBackwards)
{
    auto clock = platform::win32::makeClock();
    int64_t last = clock->nowMicros();
    for (int i = 0; i < 10000; ++i) {
        const int64_t now = clock->nowMicros();
        ASSERT_GE(now, last);
        last = now;
    }
}

TEST(Win32Clock, EventsAreKernelEventsAndEndWaits)
{
    auto clock = platform::win32::makeClock();
    auto a = clock->createEvent(false);
    auto b = clock->createEvent(true);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(a->nativeHandle(), nullptr);
    platform::Event* both[] = {a.get(), b.get()};
    EXPECT_EQ(clock->waitAny(both, 0), platform::kWaitTimeout);
    b->set();
    EXPECT_EQ(clock->waitAny(both, 0), 1);
    EXPECT_EQ(clock->waitAny(both, 0), 1) << "manual reset stays set";
    b->reset();
    std::thread setter([&] { a->set(); });
    EXPECT_EQ(clock->waitAny(both, platform::kWaitForever), 0);
    setter.join();
    EXPECT_EQ(clock->waitAny(both, 0), platform::kWaitTimeout) << "auto reset cleared by the wait";
    // The handle is a real event that Windows APIs accept.
    SetEvent(static_cast<HANDLE>(a->nativeHandle()));
    EXPECT_TRUE(clock->wait(*a, 0));
}

TEST(Win32Clock, ATimedWaitReturnsAfterItsTimeout)
{
    auto clock = platform::win32::makeClock();
    const int64_t start = clock->nowMicros();
    EXPECT_EQ(clock->waitAny({}, 20000), platform::kWaitTimeout);
    EXPECT_GE(clock->nowMicros() - start, 10000) << "generous: timers are coarse";
}

} // namespace
