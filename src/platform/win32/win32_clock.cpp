#include "platform/win32/audio_trace.h"
#include "platform/win32/win32_platform.h"

#include <windows.h>

namespace platform::win32 {
namespace {

class KernelEvent final : public Event {
public:
    explicit KernelEvent(bool manualReset) : handle_(CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr))
    { }
    ~KernelEvent() override
    {
        if (handle_)
            CloseHandle(handle_);
    }
    KernelEvent(const KernelEvent&) = delete;
    KernelEvent& operator=(const KernelEvent&) = delete;

    void set() override { SetEvent(handle_); }
    void reset() override { ResetEvent(handle_); }
    void* nativeHandle() const override { return handle_; }

private:
    HANDLE handle_ = nullptr;
};

class PerformanceClock final : public Clock {
public:
    PerformanceClock()
    {
        LARGE_INTEGER frequency{};
        QueryPerformanceFrequency(&frequency);
        frequency_ = frequency.QuadPart > 0 ? frequency.QuadPart : 1;
    }

    int64_t nowMicros() const override
    {
        LARGE_INTEGER counter{};
        QueryPerformanceCounter(&counter);
        // Split to avoid overflow of counter * 1e6 on long uptimes.
        const int64_t whole = counter.QuadPart / frequency_;
        const int64_t part = counter.QuadPart % frequency_;
        return whole * 1000000 + part * 1000000 / frequency_;
    }

    std::unique_ptr<Event> createEvent(bool manualReset) override
    {
        auto event = std::make_unique<KernelEvent>(manualReset);
        if (!event->nativeHandle())
            return nullptr;
        return event;
    }

    int waitAny(std::span<Event* const> events, int64_t timeoutMicros) override
    {
        if (events.size() > MAXIMUM_WAIT_OBJECTS)
            return kWaitFailed;
        DWORD millis = INFINITE;
        if (timeoutMicros >= 0) {
            const int64_t rounded = (timeoutMicros + 999) / 1000;
            millis = rounded >= static_cast<int64_t>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(rounded);
        }
        if (events.empty()) {
            Sleep(millis);
            return kWaitTimeout;
        }
        HANDLE handles[MAXIMUM_WAIT_OBJECTS];
        for (size_t i = 0; i < events.size(); ++i)
            handles[i] = static_cast<HANDLE>(events[i]->nativeHandle());
        const int64_t before = audioTraceOn() ? nowMicros() : 0;
        const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(events.size()), handles, FALSE, millis);
        if (audioTraceOn()) {
            const uint32_t outcome = result == WAIT_TIMEOUT ? 1 : (result < WAIT_OBJECT_0 + events.size() ? 0 : 2);
            audioTrace(TraceKind::Wait, 0, outcome, millis, static_cast<uint64_t>(nowMicros() - before));
        }
        if (result == WAIT_TIMEOUT)
            return kWaitTimeout;
        if (result < WAIT_OBJECT_0 + events.size())
            return static_cast<int>(result - WAIT_OBJECT_0);
        return kWaitFailed;
    }

private:
    int64_t frequency_ = 1;
};

} // namespace

std::unique_ptr<Clock> makeClock()
{
    return std::make_unique<PerformanceClock>();
}

} // namespace platform::win32
