#include "platform/sim/manual_clock.h"

namespace platform::sim {

class ManualClock::SimEvent final : public Event {
public:
    SimEvent(ManualClock& clock, bool manualReset) : clock_(clock), manualReset_(manualReset) { }

    void set() override
    {
        std::lock_guard lock(clock_.mutex_);
        signalled_ = true;
        clock_.changed_.notify_all();
    }
    void reset() override
    {
        std::lock_guard lock(clock_.mutex_);
        signalled_ = false;
    }
    void* nativeHandle() const override { return nullptr; }

    // Called with the clock's mutex held.
    bool consume()
    {
        if (!signalled_)
            return false;
        if (!manualReset_)
            signalled_ = false;
        return true;
    }

private:
    ManualClock& clock_;
    const bool manualReset_;
    bool signalled_ = false; // guarded by clock_.mutex_
};

int64_t ManualClock::nowMicros() const
{
    std::lock_guard lock(mutex_);
    return now_;
}

std::unique_ptr<Event> ManualClock::createEvent(bool manualReset)
{
    return std::make_unique<SimEvent>(*this, manualReset);
}

int ManualClock::waitAny(std::span<Event* const> events, int64_t timeoutMicros)
{
    if (events.size() > 64)
        return kWaitFailed;
    std::unique_lock lock(mutex_);
    const int64_t deadline = timeoutMicros < 0 ? -1 : now_ + timeoutMicros;
    ++waiting_;
    changed_.notify_all(); // wakes awaitWaiters
    int result = kWaitTimeout;
    for (bool slept = false;; slept = true) {
        bool found = false;
        for (size_t i = 0; i < events.size(); ++i) {
            if (static_cast<SimEvent*>(events[i])->consume()) {
                result = static_cast<int>(i);
                found = true;
                break;
            }
        }
        if (found || (deadline >= 0 && now_ >= deadline))
            break;
        if (!slept) {
            ++blocked_;
            changed_.notify_all(); // wakes awaitBlockedWaits
        }
        changed_.wait(lock);
    }
    --waiting_;
    return result;
}

void ManualClock::advance(int64_t micros)
{
    std::lock_guard lock(mutex_);
    if (micros > 0)
        now_ += micros;
    changed_.notify_all();
}

void ManualClock::awaitWaiters(int count)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return waiting_ >= count; });
}

int ManualClock::waiters() const
{
    std::lock_guard lock(mutex_);
    return waiting_;
}

int64_t ManualClock::blockedWaits() const
{
    std::lock_guard lock(mutex_);
    return blocked_;
}

void ManualClock::awaitBlockedWaits(int64_t count)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return blocked_ >= count; });
}

} // namespace platform::sim
