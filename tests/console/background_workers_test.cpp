#include "console/background_workers.h"
#include "platform/sim/manual_clock.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace {

// A manual clock whose waits pass their time at once, so the shutdown waits
// run on one thread; atMillis runs when the clock first reaches that time
// (a worker finishing while shutdown polls).
class SteppingClock final : public platform::Clock {
public:
    int64_t nowMicros() const override { return clock_.nowMicros(); }
    std::unique_ptr<platform::Event> createEvent(bool manualReset) override { return clock_.createEvent(manualReset); }
    int waitAny(std::span<platform::Event* const>, int64_t timeoutMicros) override
    {
        clock_.advance(timeoutMicros);
        ++waits;
        if (hook && clock_.nowMillis() >= hookAtMillis) {
            auto run = std::move(hook);
            hook = nullptr;
            run();
        }
        return platform::kWaitTimeout;
    }

    platform::sim::ManualClock clock_;
    std::function<void()> hook;
    int64_t hookAtMillis = 0;
    int waits = 0;
};

TEST(BackgroundWorkers, AWorkerThatNeverFinishesHoldsShutdownOnlyForTheTwoWaits)
{
    SteppingClock clock;
    console::BackgroundWorkers fetches, workers;
    auto hung = workers.enter();
    EXPECT_FALSE(console::waitForBackgroundWork(clock, fetches, workers));
    // No fetch ran, so only the workers' 15 s wait passed, polled every 20 ms.
    EXPECT_EQ(clock.nowMillis(), 15000);
    EXPECT_EQ(clock.waits, 15000 / 20);

    auto hungFetch = fetches.enter();
    EXPECT_FALSE(console::waitForBackgroundWork(clock, fetches, workers));
    EXPECT_EQ(clock.nowMillis(), 15000 + 3000 + 15000);
}

TEST(BackgroundWorkers, ShutdownGoesOnAsSoonAsTheLastWorkerEnds)
{
    SteppingClock clock;
    console::BackgroundWorkers fetches, workers;
    std::optional<console::BackgroundWorkers::Scope> saver(workers.enter());
    {
        auto moved = workers.enter();
        auto owner = std::move(moved); // a moved scope counts once
        EXPECT_EQ(workers.running(), 2);
    }
    EXPECT_EQ(workers.running(), 1);
    clock.hookAtMillis = 1234;
    clock.hook = [&] { saver.reset(); };
    EXPECT_TRUE(console::waitForBackgroundWork(clock, fetches, workers));
    EXPECT_EQ(clock.nowMillis(), 1240); // the first 20 ms poll after the end
    EXPECT_EQ(workers.running(), 0);
}

} // namespace
