// Cut and undo in the take editor on a one-minute and a one-hour take, both
// already cut into 100 pieces: an edit rewrites the segment list only, so
// the hour should cost what the minute costs.

#include "bench_main.h"

#include "recorder/take_editor.h"

#include <benchmark/benchmark.h>

#include <map>

namespace {

constexpr int kPieces = 100;

const clip::SoundRef& silentTake(int64_t seconds)
{
    static std::map<int64_t, clip::SoundRef> takes;
    auto& take = takes[seconds];
    if (!take) {
        auto s = std::make_shared<clip::Sound>();
        s->samples.resize(static_cast<size_t>(seconds) * 48000 * 2);
        take = std::move(s);
    }
    return take;
}

void BM_EditorCutUndo(benchmark::State& state)
{
    const int64_t seconds = state.range(0);
    recorder::BusyFlags flags;
    engine::SoundPlayer phones, toMic;
    engine::EngineState engineState;
    recorder::TakeEditor editor(
        flags, [](const std::wstring&) {}, phones, toMic, engineState);
    editor.setTake(silentTake(seconds), false);
    const double piece = static_cast<double>(seconds) / (kPieces + 1);
    for (int i = 0; i < kPieces - 1; ++i) { // each cut removes a 1 % gap
        editor.setSelection(piece * (i + 1) - piece / 100, piece * (i + 1));
        editor.cutSelection();
    }
    const double middle = editor.seconds() / 2;
    for (auto _ : state) {
        editor.setSelection(middle, middle + 1.0);
        benchmark::DoNotOptimize(editor.cutSelection());
        benchmark::DoNotOptimize(editor.undo());
    }
    state.counters["pieces"] = static_cast<double>(editor.segments().size());
}
BENCHMARK(BM_EditorCutUndo)->Arg(60)->Arg(3600)->Unit(benchmark::kMicrosecond);

OVIX_FIGURE(editorCut1h, "editor_cut_1h_ms", [](const bench::Results& r, double& value) {
    if (!r.count("BM_EditorCutUndo/3600"))
        return false;
    value = r.at("BM_EditorCutUndo/3600") / 1e6;
    return true;
});

// Against the one-minute take in the same run: near 1 when the cost follows the pieces, not the samples.
OVIX_FIGURE(editorCutRatio, "editor_cut_1h_vs_1min", [](const bench::Results& r, double& value) {
    if (!r.count("BM_EditorCutUndo/3600") || !r.count("BM_EditorCutUndo/60"))
        return false;
    value = r.at("BM_EditorCutUndo/3600") / r.at("BM_EditorCutUndo/60");
    return true;
});

} // namespace
