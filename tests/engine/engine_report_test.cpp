// The engine report crosses threads whole: a snapshot is never seen half
// written, and every one-off event arrives once, in order.

#include "engine/engine_report.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

namespace {

// Every field of snapshot k follows from k, so a mix of two snapshots fails the check.
engine::EngineReport snapshot(uint64_t k)
{
    engine::EngineReport r;
    r.blocks = k;
    r.status = (k & 1) ? engine::EngineStatus::MicFailed : engine::EngineStatus::Ok;
    r.running = (k & 2) != 0;
    r.monitorOpen = (k & 4) != 0;
    r.irLoaded = (k & 8) != 0;
    r.cableStatus = static_cast<int32_t>(k % 4);
    r.blockPeak = static_cast<int32_t>(k * 7);
    r.speedLatencyMs = static_cast<int32_t>(k * 3);
    r.detectedPitchHz = static_cast<int32_t>(k % 1000);
    r.targetPitchHz = static_cast<int32_t>(k % 999);
    r.glitching = (k & 16) != 0;
    r.glitchKeyHeld = (k & 32) != 0;
    r.clipLive = (k & 64) != 0;
    r.appLive = (k & 128) != 0;
    return r;
}

// A checksum over every field.
uint64_t checksum(const engine::EngineReport& r)
{
    uint64_t sum = r.blocks;
    for (const int64_t v : {static_cast<int64_t>(r.status), int64_t{r.running}, int64_t{r.monitorOpen},
             int64_t{r.irLoaded}, int64_t{r.cableStatus}, int64_t{r.blockPeak}, int64_t{r.speedLatencyMs},
             int64_t{r.detectedPitchHz}, int64_t{r.targetPitchHz}, int64_t{r.glitching}, int64_t{r.glitchKeyHeld},
             int64_t{r.clipLive}, int64_t{r.appLive}})
        sum = sum * 1000003u + static_cast<uint64_t>(v);
    return sum;
}

TEST(EngineReport, AReaderHammeringTheSnapshotWhileTheEnginePublishesNeverSeesATornOne)
{
    engine::EngineReports reports;
    reports.publish(snapshot(0));
    constexpr uint64_t kSnapshots = 200000;
    std::atomic<bool> done{false};
    std::atomic<bool> reading{false};
    uint64_t reads = 0, torn = 0, backwards = 0;
    std::thread reader([&] {
        uint64_t last = 0;
        while (!done.load(std::memory_order_acquire)) {
            const engine::EngineReport r = reports.latest();
            ++reads;
            torn += checksum(r) != checksum(snapshot(r.blocks)) ? 1 : 0;
            backwards += r.blocks < last ? 1 : 0;
            last = r.blocks;
            reading.store(true, std::memory_order_release);
        }
    });
    // A reader thread that starts late would find the publishing over.
    while (!reading.load(std::memory_order_acquire))
        std::this_thread::yield();
    for (uint64_t k = 1; k <= kSnapshots; ++k)
        reports.publish(snapshot(k));
    done.store(true, std::memory_order_release);
    reader.join();
    EXPECT_GT(reads, 0u);
    EXPECT_EQ(torn, 0u);
    EXPECT_EQ(backwards, 0u);
    EXPECT_EQ(reports.latest().blocks, kSnapshots);
}

TEST(EngineReport, TheEventRingDeliversEveryEventOnceAndInOrder)
{
    struct Numbered {
        uint64_t n = 0;
    };
    engine::SpscRing<Numbered, 64> ring;
    constexpr uint64_t kEvents = 100000;
    std::thread producer([&] {
        for (uint64_t n = 1; n <= kEvents;) {
            if (ring.push({n}))
                ++n;
            else
                std::this_thread::yield(); // full: this test's producer waits, the engine would drop
        }
    });
    uint64_t expected = 1, outOfOrder = 0;
    while (expected <= kEvents) {
        Numbered e;
        if (!ring.pop(e)) {
            std::this_thread::yield();
            continue;
        }
        outOfOrder += e.n != expected ? 1 : 0;
        expected = e.n + 1;
    }
    producer.join();
    Numbered extra;
    EXPECT_EQ(outOfOrder, 0u);
    EXPECT_FALSE(ring.pop(extra));

    // A full ring drops what does not fit and keeps what it holds.
    engine::EngineReports reports;
    for (int i = 0; i < 70; ++i)
        reports.post({engine::EngineEventKind::MonitorLost});
    EXPECT_EQ(reports.eventsDropped(), 7u);
    int held = 0;
    for (engine::EngineEvent e; reports.nextEvent(e);)
        ++held;
    EXPECT_EQ(held, 63);
}

} // namespace
