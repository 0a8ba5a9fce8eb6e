// The engine's side of the application ring: reading one 480-frame block,
// with the capture side's writes left out of the timing. A 9600-frame packet
// tops the fill up from 40 ms to the skip level, then 16 blocks bring it back.

#include "bench_main.h"

#include "appcapture/app_capture.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

namespace {

constexpr uint32_t kBlock = 480;
constexpr int kBlocksPerPacket = 16;

void BM_AppRingReadBlocks(benchmark::State& state)
{
    appcapture::AppRing ring;
    std::vector<float> packet(static_cast<size_t>(kBlock) * kBlocksPerPacket * 2);
    for (size_t i = 0; i < packet.size(); ++i)
        packet[i] = static_cast<float>(i % 97) * 0.01f - 0.5f;
    std::vector<float> left(kBlock), right(kBlock);
    ring.reset();
    ring.read(left.data(), right.data(), kBlock);
    ring.write(packet.data(), appcapture::AppRing::kStartLevel);
    for (auto _ : state) {
        ring.write(packet.data(), kBlock * kBlocksPerPacket);
        const auto start = std::chrono::steady_clock::now();
        for (int b = 0; b < kBlocksPerPacket; ++b)
            benchmark::DoNotOptimize(ring.read(left.data(), right.data(), kBlock));
        benchmark::ClobberMemory();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["queued"] = ring.queued();
}
BENCHMARK(BM_AppRingReadBlocks)->UseManualTime()->Unit(benchmark::kNanosecond);

OVIX_FIGURE(appRingRead, "app_ring_read_block_pct", [](const bench::Results& r, double& value) {
    if (!r.count("BM_AppRingReadBlocks/manual_time"))
        return false;
    value = bench::percentOfBlock(r.at("BM_AppRingReadBlocks/manual_time") / kBlocksPerPacket);
    return true;
});

} // namespace
