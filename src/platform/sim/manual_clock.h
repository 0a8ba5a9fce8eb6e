#pragma once
// A clock that moves only when a test (or the headless tool) advances it.
// Waits block real threads until an event is set or virtual time passes the
// deadline, so threaded logic can be stepped deterministically.

#include "platform/clock.h"

#include <condition_variable>
#include <mutex>

namespace platform::sim {

class ManualClock final : public Clock {
public:
    explicit ManualClock(int64_t startMicros = 0) : now_(startMicros) { }

    int64_t nowMicros() const override;
    std::unique_ptr<Event> createEvent(bool manualReset) override;
    int waitAny(std::span<Event* const> events, int64_t timeoutMicros) override;

    void advance(int64_t micros);
    void advanceMillis(int64_t millis) { advance(millis * 1000); }
    // Blocks the caller (a test) until at least count threads are inside waitAny.
    void awaitWaiters(int count);
    int waiters() const;
    // Waits that went to sleep since the clock was made (one that returns at
    // once does not count). A test steps a thread one wait at a time: await
    // count, advance, await count + 1.
    int64_t blockedWaits() const;
    void awaitBlockedWaits(int64_t count);

private:
    class SimEvent;
    friend class SimEvent;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int64_t now_ = 0;     // guarded by mutex_
    int waiting_ = 0;     // guarded by mutex_
    int64_t blocked_ = 0; // guarded by mutex_
};

} // namespace platform::sim
