// The engine's pull from the clip player: one 480-frame block out of a ring
// kept around half full by a real decode thread that refills it between
// stretches of blocks (untimed). The baseline de-interleaves the same block
// from a plain array, without the lock and the player's bookkeeping.

#include "bench_main.h"

#include "clip/player.h"
#include "platform/sim/manual_clock.h"
#include "platform/sim/sim_media.h"

#include <benchmark/benchmark.h>

#include <thread>
#include <vector>

namespace {

constexpr uint32_t kBlock = 480;
constexpr int kStretchBlocks = 300; // 3 s: the ring from 3/4 to 1/4 full

void BM_ClipCopyBaseline(benchmark::State& state)
{
    std::vector<float> ring(clip::kRingFloats, 0.25f), left(kBlock), right(kBlock);
    const float* from = ring.data();
    float* l = left.data();
    float* r = right.data();
    size_t index = 0;
    for (auto _ : state) {
        for (uint32_t i = 0; i < kBlock; ++i) {
            l[i] = from[index];
            r[i] = from[index + 1];
            index += 2;
            if (index == clip::kRingFloats)
                index = 0;
        }
        benchmark::DoNotOptimize(l);
        benchmark::DoNotOptimize(r);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ClipCopyBaseline);

void BM_ClipReadBlock(benchmark::State& state)
{
    platform::sim::ManualClock clock;
    platform::sim::SimMedia media(&clock);
    platform::sim::SimMediaSource source;
    source.native = {true, 2, 48000, 32, 0};
    source.frames = uint64_t{48000} * 3600 * 24; // never ends within a run
    source.signal = [](uint64_t frame, uint32_t) { return static_cast<float>(frame % 1000) * 1e-3f; };
    media.addSource(L"C:\\clips\\day.wav", source);
    clip::Player player(media, clock, nullptr);
    player.open(L"C:\\clips\\day.wav", 0.0);
    std::vector<float> left(kBlock), right(kBlock);

    // Lets the decoder top the ring up (it then waits on the clock), and
    // drains it to 3/4.
    const auto refill = [&] {
        const int64_t blocked = clock.blockedWaits();
        clock.advance(clip::kFullRingWaitMicros);
        clock.awaitBlockedWaits(blocked + 1);
        for (int b = 0; b < kStretchBlocks / 2; ++b)
            player.read(left.data(), right.data(), kBlock);
    };
    clock.awaitBlockedWaits(1);
    refill();
    int blocks = 0;
    for (auto _ : state) {
        if (blocks++ == kStretchBlocks) {
            state.PauseTiming();
            refill();
            blocks = 1;
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(player.read(left.data(), right.data(), kBlock));
    }
    if (player.state() != clip::PlayerState::Playing)
        state.SkipWithError("the clip did not play throughout");
    player.stop();
}
BENCHMARK(BM_ClipReadBlock);

OVIX_FIGURE(clipReadPct, "clip_read_block_pct", [](const bench::Results& r, double& value) {
    if (!r.count("BM_ClipReadBlock"))
        return false;
    value = bench::percentOfBlock(r.at("BM_ClipReadBlock"));
    return true;
});

OVIX_FIGURE(clipReadRatio, "clip_read_vs_plain_copy", [](const bench::Results& r, double& value) {
    if (!r.count("BM_ClipReadBlock") || !r.count("BM_ClipCopyBaseline"))
        return false;
    value = r.at("BM_ClipReadBlock") / r.at("BM_ClipCopyBaseline");
    return true;
});

} // namespace
