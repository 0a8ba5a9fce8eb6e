/* Notes when the processor it runs on stops: sleeps 1 ms at a time and prints
 * "END_MS GAP_MS" (end in wall-clock milliseconds) for every sleep that took
 * longer than the given threshold. Run pinned to one processor and with a
 * real-time priority above the rig's, only a processor that is not given to
 * this machine at all (a host that throttles it) delays it that long.
 *   cpu_stall THRESHOLD_MS      runs until stopped */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static double millis(clockid_t clock)
{
    struct timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

int main(int argc, char** argv)
{
    const double threshold = argc > 1 ? atof(argv[1]) : 20.0;
    const struct timespec oneMilli = {0, 1000000};
    double last = millis(CLOCK_MONOTONIC);
    for (;;) {
        nanosleep(&oneMilli, NULL);
        const double now = millis(CLOCK_MONOTONIC);
        if (now - last > threshold) {
            printf("%.1f %.1f\n", millis(CLOCK_REALTIME), now - last);
            fflush(stdout);
        }
        last = now;
    }
}
