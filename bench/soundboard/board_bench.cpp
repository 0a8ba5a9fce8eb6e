// A full board: twelve pads read from the registry at start-up, each a file
// longer than the 20 s cap, loaded through the soundboard and the clip
// loader over simulated media. Measures what the loaded board holds: the
// sounds' sample bytes and the allocator's bytes in use, against the plain
// 12 x 20 s x 48000 frames x 2 channels x 2 bytes.

#include "bench_main.h"

#include "clip/loaders.h"
#include "engine/sound_player.h"
#include "platform/sim/manual_clock.h"
#include "platform/sim/memory_registry.h"
#include "platform/sim/sim_media.h"
#include "soundboard/soundboard.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr double kPlainBytes = 12.0 * 20 * 48000 * 2 * 2;

double heldSampleBytes = 0.0;
double heldAllocatorBytes = 0.0;

// Bytes handed out, from the heap and as blocks of their own (large ones).
size_t allocatorInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

void BM_BoardFullLoad(benchmark::State& state)
{
    platform::sim::SimMedia media;
    platform::sim::SimMediaSource source;
    source.native = {false, 2, 44100, 16, 0};
    source.frames = 44100 * 30;
    for (int pad = 0; pad < soundboard::kPadCount; ++pad)
        media.addSource(L"C:\\pads\\pad" + std::to_wstring(pad) + L".wav", source);

    bool incomplete = false;
    for (auto _ : state) {
        state.PauseTiming();
        platform::sim::ManualClock clock;
        platform::sim::MemoryRegistry registry;
        for (int pad = 0; pad < soundboard::kPadCount; ++pad)
            registry.writeString(soundboard::kSoundboardKey, L"Pad" + std::to_wstring(pad) + L"Path",
                L"C:\\pads\\pad" + std::to_wstring(pad) + L".wav");
        engine::SoundPlayer player;
        // Workers and the posted results, run in order as the window would.
        std::vector<std::pair<std::function<void()>, std::function<void()>>> queued;
        {
            soundboard::Soundboard board(player, clock, &registry);
            board.setLoader([&media](const std::wstring& path, double from, double to,
                                const std::atomic<uint8_t>* cancel, std::wstring& message) {
                return clip::loadSound(media, path, 48000, soundboard::kMaxPadSeconds, from, to,
                    clip::isExactSeekFormat(path), cancel, message);
            });
            board.setRunner([&queued](std::function<void()> work, std::function<void()> done) {
                queued.emplace_back(std::move(work), std::move(done));
            });
            queued.reserve(soundboard::kPadCount);
            const size_t before = allocatorInUse();
            state.ResumeTiming();

            board.load();
            board.startPendingLoads();
            for (size_t i = 0; i < queued.size(); ++i) {
                queued[i].first();
                queued[i].second();
            }

            state.PauseTiming();
            queued.clear();
            heldAllocatorBytes = static_cast<double>(allocatorInUse() - before);
            heldSampleBytes = 0.0;
            int loaded = 0;
            for (const auto& pad : board.pads())
                if (pad.sound) {
                    heldSampleBytes += static_cast<double>(pad.sound->samples.capacity() * sizeof(int16_t));
                    ++loaded;
                }
            incomplete = incomplete || loaded != soundboard::kPadCount;
        }
        state.ResumeTiming();
    }
    if (incomplete)
        state.SkipWithError("not every pad loaded");
}
BENCHMARK(BM_BoardFullLoad)->Unit(benchmark::kMillisecond)->Iterations(3);

OVIX_FIGURE(boardMemory, "board_full_memory_mb", [](const bench::Results& r, double& value) {
    if (!r.count("BM_BoardFullLoad/iterations:3") || heldAllocatorBytes <= 0.0)
        return false;
    value = heldAllocatorBytes / 1e6;
    return true;
});

OVIX_FIGURE(boardSamples, "board_full_sample_mb", [](const bench::Results& r, double& value) {
    if (!r.count("BM_BoardFullLoad/iterations:3") || heldSampleBytes <= 0.0)
        return false;
    value = heldSampleBytes / 1e6;
    return true;
});

OVIX_FIGURE(boardVsPlain, "board_full_memory_vs_plain", [](const bench::Results& r, double& value) {
    if (!r.count("BM_BoardFullLoad/iterations:3") || heldAllocatorBytes <= 0.0)
        return false;
    value = heldAllocatorBytes / kPlainBytes;
    return true;
});

} // namespace
