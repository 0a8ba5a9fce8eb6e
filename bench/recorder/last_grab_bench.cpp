// The Last button on a full 30 s buffer with quiet removal on: speech in
// bursts with pauses long enough to cut, over faint noise. The baseline is a
// plain copy of the same 30 s into a new sound.

#include "bench_main.h"

#include "engine/output_tap.h"
#include "platform/sim/manual_clock.h"
#include "platform/sim/sim_audio.h"
#include "recorder/recorder.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>

namespace {

constexpr size_t kFrames = 30 * 48000;

// Two seconds of speech, then a second of quiet, over and over.
std::vector<float> speechWithPauses()
{
    std::vector<float> out(kFrames * 2);
    std::mt19937 random(3);
    std::uniform_real_distribution<float> noise(-0.001f, 0.001f);
    for (size_t f = 0; f < kFrames; ++f) {
        const bool speaking = f % 144000 < 96000;
        const float v = speaking ? 0.4f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 220.0 * f / 48000.0)) : 0.0f;
        out[2 * f] = v + noise(random);
        out[2 * f + 1] = v + noise(random);
    }
    return out;
}

struct Rig {
    platform::sim::ManualClock clock;
    platform::sim::SimAudio audio{clock};
    engine::OutputTap tap{clock, audio};
    settings::Settings settings;
    engine::RecorderRings rings;
    recorder::BusyFlags flags;
    engine::SoundPlayer phones, toMic;
    engine::EngineState state;
    recorder::TakeEditor editor{flags, [](const std::wstring&) { }, phones, toMic, state};
    recorder::Recorder rec{settings, rings, tap, [] { return std::wstring(); }, flags, editor, [](const std::wstring&) { }};

    Rig()
    {
        settings.set(&settings::Settings::KeepLast, 30);
        settings.set(&settings::Settings::LastQuiet, 1);
        rec.pumpLast();
        const std::vector<float> audioIn = speechWithPauses();
        for (size_t at = 0; at < audioIn.size(); at += 96000) {
            rings.last.push(audioIn.data() + at, 96000);
            rec.pumpLast();
        }
    }
};

void BM_LastGrab30s(benchmark::State& state)
{
    Rig rig;
    if (rig.rec.lastFill() != static_cast<int64_t>(kFrames))
        state.SkipWithError("the Last buffer did not fill");
    for (auto _ : state) {
        rig.rec.grabLast();
        benchmark::DoNotOptimize(rig.editor.source());
    }
}
BENCHMARK(BM_LastGrab30s)->Unit(benchmark::kMillisecond);

void BM_CopyBaseline30s(benchmark::State& state)
{
    const std::vector<int16_t> samples(kFrames * 2, 1234);
    for (auto _ : state) {
        auto sound = std::make_shared<clip::Sound>();
        sound->samples = samples;
        benchmark::DoNotOptimize(sound->samples.data());
    }
}
BENCHMARK(BM_CopyBaseline30s)->Unit(benchmark::kMillisecond);

OVIX_FIGURE(grabMs, "last_grab_30s_ms", [](const bench::Results& r, double& value) {
    if (!r.count("BM_LastGrab30s"))
        return false;
    value = r.at("BM_LastGrab30s") / 1e6;
    return true;
});

OVIX_FIGURE(grabRatio, "last_grab_30s_vs_copy", [](const bench::Results& r, double& value) {
    if (!r.count("BM_LastGrab30s") || !r.count("BM_CopyBaseline30s"))
        return false;
    value = r.at("BM_LastGrab30s") / r.at("BM_CopyBaseline30s");
    return true;
});

} // namespace
