#pragma once
// Monotonic time and timed waits. Logic that depends on time reads it from a
// Clock and waits through it, so that tests can drive time by hand.

#include <cstdint>
#include <memory>
#include <span>

namespace platform {

// A waitable event. Auto-reset events clear themselves when a wait returns
// because of them; manual-reset events stay set until reset().
class Event {
public:
    virtual ~Event() = default;
    virtual void set() = 0;
    virtual void reset() = 0;
    // The platform's own handle (a Windows HANDLE), or nullptr where there is none.
    virtual void* nativeHandle() const = 0;
};

inline constexpr int kWaitTimeout = -1;
inline constexpr int kWaitFailed = -2;
inline constexpr int64_t kWaitForever = -1;

class Clock {
public:
    virtual ~Clock() = default;
    // Microseconds since an arbitrary fixed origin; never goes backwards.
    virtual int64_t nowMicros() const = 0;
    virtual std::unique_ptr<Event> createEvent(bool manualReset) = 0;
    // Waits until one of the events is set or the timeout (microseconds,
    // kWaitForever for none) has passed. Returns the index of the event that
    // ended the wait (the lowest one when several are set), kWaitTimeout or
    // kWaitFailed. At most 64 events.
    virtual int waitAny(std::span<Event* const> events, int64_t timeoutMicros) = 0;

    int64_t nowMillis() const { return nowMicros() / 1000; }
    bool wait(Event& event, int64_t timeoutMicros)
    {
        Event* one[] = {&event};
        return waitAny(one, timeoutMicros) == 0;
    }
    void sleepMicros(int64_t micros) { waitAny({}, micros); }
};

} // namespace platform
