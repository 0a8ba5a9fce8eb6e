// What a room change costs the engine thread: the block in which the new
// rooms are swapped in, worst over all 15 x 14 changes, with the rooms built
// on the builder's own thread (the program's way) and, for comparison in the
// same run, built inline on the engine thread. Each change is timed three times, keeping the
// fastest, so that a preemption on a shared machine does not pass for the
// change's cost. Reported as a share of the 10 ms block and as a ratio to the
// worst ordinary block of the same sweep.

#include "bench_main.h"

#include "engine/effect_chain.h"
#include "engine/engine.h"
#include "engine/reverb_environments.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kFrames = 480;
constexpr int kRooms = 15;
constexpr int kRepeats = 3;
constexpr int kSettleBlocks = 4;

struct Sweep {
    double worstChange = 0.0;   // seconds
    double worstOrdinary = 0.0; // seconds
};
Sweep sweeps[2]; // off the engine thread, inline

struct BlockRig {
    settings::Settings settings;
    settings::Snapshot snapshot; // the record as each block reads it
    engine::ReverbEnvironments environments;
    engine::EffectChain chain{environments, settings};
    std::vector<float> voice = std::vector<float>(kFrames), wetCable = std::vector<float>(kFrames),
                       wetMonitor = std::vector<float>(kFrames), cable = std::vector<float>(2 * kFrames),
                       monitor = std::vector<float>(2 * kFrames);
    uint64_t t = 0;

    explicit BlockRig(engine::RoomBuilder::Mode mode)
    {
        settings.set(&settings::Settings::effects, 1);
        settings.set(&settings::Settings::amount, 60);
        settings.set(&settings::Settings::wide, 1);
        settings.set(&settings::Settings::eq_on, 1);
        settings.set(&settings::Settings::monitor, 1);
        settings.set(&settings::Settings::preset, 0);
        snapshot = settings.snapshot();
        chain.prepare(48000.0, kFrames, 0);
        chain.setRoomBuilding(mode);
    }

    // One block of the chain's steps as the engine runs them; seconds taken.
    double block(int preset)
    {
        for (uint32_t i = 0; i < kFrames; ++i, ++t)
            voice[i] = static_cast<float>(0.3 * std::sin(0.02 * static_cast<double>(t)) * std::sin(1e-4 * t));
        engine::Block b;
        b.frames = kFrames;
        b.settings = &snapshot;
        b.voice = voice.data();
        b.wetCable = wetCable.data();
        b.wetMonitor = wetMonitor.data();
        b.cable = cable.data();
        b.monitor = monitor.data();
        const auto start = std::chrono::steady_clock::now();
        chain.changeEnvironment(preset);
        chain.setBassBoost(1.0f);
        chain.micTone(b);
        chain.driveAndBass(b);
        chain.environment(b);
        chain.voiceOutput(b);
        chain.voicePan(b);
        chain.mixBuses(b);
        chain.mixPreviews(b);
        benchmark::DoNotOptimize(cable.data());
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    // Until the builder's thread has built the set of preset, when one was asked for.
    void awaitBuilt(int preset, uint64_t before)
    {
        if (chain.presetInUse() == preset)
            return;
        while (chain.rooms().built() == before)
            std::this_thread::yield();
    }

    // From room `from`, settled, to room `to`: the ordinary block before and the change block.
    void change(int from, int to, double& ordinary, double& changed)
    {
        uint64_t built = chain.rooms().built();
        block(from);
        awaitBuilt(from, built);
        for (int i = 0; i < kSettleBlocks; ++i)
            block(from);
        ordinary = block(from);
        if (chain.rooms().mode() == engine::RoomBuilder::Mode::Inline) {
            changed = block(to);
            return;
        }
        // The ask, then the block in which the built rooms are swapped in.
        built = chain.rooms().built();
        block(to);
        awaitBuilt(to, built);
        changed = block(to);
    }
};

void sweep(benchmark::State& state, engine::RoomBuilder::Mode mode, Sweep& out)
{
    for (auto _ : state) {
        BlockRig rig(mode);
        out = {};
        for (int from = 0; from < kRooms; ++from) {
            for (int to = 0; to < kRooms; ++to) {
                if (to == from)
                    continue;
                double best = 1e9, bestOrdinary = 1e9;
                for (int r = 0; r < kRepeats; ++r) {
                    double ordinary = 0.0, changed = 0.0;
                    rig.change(from, to, ordinary, changed);
                    best = std::min(best, changed);
                    bestOrdinary = std::min(bestOrdinary, ordinary);
                }
                out.worstChange = std::max(out.worstChange, best);
                out.worstOrdinary = std::max(out.worstOrdinary, bestOrdinary);
            }
        }
        state.SetIterationTime(out.worstChange);
    }
}

void BM_PresetChangeBuiltOffThread(benchmark::State& state)
{
    sweep(state, engine::RoomBuilder::Mode::Threaded, sweeps[0]);
}
void BM_PresetChangeBuiltInline(benchmark::State& state)
{
    sweep(state, engine::RoomBuilder::Mode::Inline, sweeps[1]);
}
BENCHMARK(BM_PresetChangeBuiltOffThread)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PresetChangeBuiltInline)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

bool ran(const bench::Results& r, const char* name)
{
    const auto it = r.lower_bound(name);
    return it != r.end() && it->first.rfind(name, 0) == 0;
}

OVIX_FIGURE(f1, "preset_change_block_pct", [](const bench::Results& r, double& v) {
    if (!ran(r, "BM_PresetChangeBuiltOffThread"))
        return false;
    v = sweeps[0].worstChange * 100.0 / 0.01;
    return true;
});
OVIX_FIGURE(f2, "preset_change_vs_ordinary_block", [](const bench::Results& r, double& v) {
    if (!ran(r, "BM_PresetChangeBuiltOffThread") || sweeps[0].worstOrdinary <= 0.0)
        return false;
    v = sweeps[0].worstChange / sweeps[0].worstOrdinary;
    return true;
});
OVIX_FIGURE(f3, "preset_change_inline_block_pct", [](const bench::Results& r, double& v) {
    if (!ran(r, "BM_PresetChangeBuiltInline"))
        return false;
    v = sweeps[1].worstChange * 100.0 / 0.01;
    return true;
});

} // namespace
