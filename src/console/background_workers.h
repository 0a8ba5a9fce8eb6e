#pragma once
// The process-wide count of short-lived background threads (device-list
// refresh, installations search, loaders, savers, downloads, the font scan).
// Each worker holds a Scope for its whole life; shutdown waits, bounded, for
// the count to reach zero, so a worker that hangs never holds the process.

#include "platform/clock.h"

#include <atomic>
#include <cstdint>

namespace console {

class BackgroundWorkers {
public:
    // Counts one worker from construction to destruction; move-only.
    class Scope {
    public:
        explicit Scope(BackgroundWorkers& workers) noexcept : workers_(&workers) { workers_->count_.fetch_add(1); }
        Scope(Scope&& other) noexcept : workers_(other.workers_) { other.workers_ = nullptr; }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
        Scope& operator=(Scope&&) = delete;
        ~Scope()
        {
            if (workers_)
                workers_->count_.fetch_sub(1);
        }

    private:
        BackgroundWorkers* workers_;
    };

    Scope enter() noexcept { return Scope(*this); }
    int running() const noexcept { return count_.load(); }

    // Polls every pollMillis until no worker runs or timeoutMillis have
    // passed on clock; true when none runs any more.
    bool waitIdle(platform::Clock& clock, int64_t timeoutMillis, int64_t pollMillis) const;

private:
    std::atomic<int> count_{0};
};

// The bounded waits at the end of shutdown: up to 3000 ms (polled every
// 10 ms) for fetch threads, then up to 15000 ms (every 20 ms) for the other
// background workers. False when work was still running after them: the
// process then ends at once rather than tearing down under a live thread.
inline constexpr int64_t kFetchWaitMillis = 3000;
inline constexpr int64_t kFetchPollMillis = 10;
inline constexpr int64_t kWorkerWaitMillis = 15000;
inline constexpr int64_t kWorkerPollMillis = 20;
bool waitForBackgroundWork(platform::Clock& clock, const BackgroundWorkers& fetches, const BackgroundWorkers& workers);

} // namespace console
