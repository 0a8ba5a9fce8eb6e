#include "console/background_workers.h"

#include <algorithm>

namespace console {

bool BackgroundWorkers::waitIdle(platform::Clock& clock, int64_t timeoutMillis, int64_t pollMillis) const
{
    // The deadline is fixed at the start, so slow polls cannot stretch the wait.
    const int64_t deadline = clock.nowMillis() + timeoutMillis;
    while (running() > 0) {
        const int64_t left = deadline - clock.nowMillis();
        if (left <= 0)
            return false;
        clock.sleepMicros(std::min(left, pollMillis) * 1000);
    }
    return true;
}

bool waitForBackgroundWork(platform::Clock& clock, const BackgroundWorkers& fetches, const BackgroundWorkers& workers)
{
    const bool fetchesDone = fetches.waitIdle(clock, kFetchWaitMillis, kFetchPollMillis);
    const bool workersDone = workers.waitIdle(clock, kWorkerWaitMillis, kWorkerPollMillis);
    return fetchesDone && workersDone;
}

} // namespace console
