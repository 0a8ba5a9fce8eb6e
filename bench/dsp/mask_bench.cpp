// Every voice mask on speech, one 10 ms block (480 frames at 48 kHz) at a
// time: the mono mask channel engine as the live voice runs it, and the
// stereo mask processor (shifter, both channel engines) as a clip stream runs
// it. The worst mask of each, as a percentage of the block, is the headline;
// the full list is printed sorted, most expensive first.

#include "bench_main.h"

#include "dsp/denormals.h"
#include "dsp/mask_channel.h"
#include "dsp/mask_processor.h"
#include "dsp/mask_table.h"
#include "engine/texts.h"
#include "dsp/mask_signals.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kFrames = 480;

// Speech from espeak-ng; without it a 140 Hz buzz with a syllable-rate
// envelope stands in (said once on stderr).
const std::vector<float>& voice()
{
    static const std::vector<float> signal = [] {
        std::vector<float> s = mask_test::speech(4.0);
        if (!s.empty())
            return s;
        std::fprintf(stderr, "bench_masks: espeak-ng not found; a synthetic buzz stands in for speech\n");
        s.resize(4 * 48000);
        for (size_t i = 0; i < s.size(); ++i) {
            const double t = static_cast<double>(i) / 48000.0;
            const double saw = 2.0 * (t * 140.0 - std::floor(t * 140.0)) - 1.0;
            s[i] = static_cast<float>(0.3 * saw * (0.5 + 0.5 * std::sin(2.0 * mask_test::kPi * 4.0 * t)));
        }
        return s;
    }();
    return signal;
}

std::string maskName(const char* prefix, int mask)
{
    char name[96];
    std::snprintf(name, sizeof name, "%s/%02d_%s", prefix, mask, engine::kMaskNames[static_cast<size_t>(mask)]);
    std::string s = name;
    std::replace(s.begin(), s.end(), ' ', '_');
    return s;
}

void channelBlock(benchmark::State& state, int mask)
{
    const auto& row = dsp::kMasks[static_cast<size_t>(mask)];
    const auto& in = voice();
    dsp::MaskChannel engine;
    engine.prepare(48000, true, kFrames);
    engine.configure(row.kind, row.p1, row.p2);
    std::vector<float> block(kFrames);
    dsp::ScopedFlushDenormals flush;
    size_t at = 0;
    for (auto _ : state) {
        std::copy(in.begin() + static_cast<long>(at), in.begin() + static_cast<long>(at + kFrames), block.begin());
        engine.process(block.data(), kFrames);
        benchmark::DoNotOptimize(block.data());
        at = at + 2 * kFrames <= in.size() ? at + kFrames : 0;
    }
}

void processorBlock(benchmark::State& state, int mask)
{
    const auto& row = dsp::kMasks[static_cast<size_t>(mask)];
    const auto& in = voice();
    dsp::MaskProcessor processor;
    processor.prepare(48000);
    processor.setPitchAndMask(0, row.ratio, mask);
    std::vector<float> left(kFrames), right(kFrames);
    dsp::ScopedFlushDenormals flush;
    size_t at = 0;
    for (auto _ : state) {
        std::copy(in.begin() + static_cast<long>(at), in.begin() + static_cast<long>(at + kFrames), left.begin());
        std::copy(left.begin(), left.end(), right.begin());
        processor.process(left.data(), right.data(), kFrames, true);
        benchmark::DoNotOptimize(left.data());
        at = at + 2 * kFrames <= in.size() ? at + kFrames : 0;
    }
}

[[maybe_unused]] const bool registered = [] {
    for (int mask = 0; mask < dsp::kMaskCount; ++mask) {
        benchmark::RegisterBenchmark(maskName("BM_MaskChannel", mask).c_str(), channelBlock, mask);
        benchmark::RegisterBenchmark(maskName("BM_MaskProcessor", mask).c_str(), processorBlock, mask);
    }
    return true;
}();

// The worst mask's share of the block; prints the sorted list on the way.
bool worstOf(const bench::Results& results, const std::string& prefix, double& value)
{
    std::vector<std::pair<double, std::string>> costs;
    for (const auto& [name, nanos] : results)
        if (name.rfind(prefix, 0) == 0)
            costs.emplace_back(bench::percentOfBlock(nanos), name.substr(prefix.size()));
    if (costs.empty())
        return false;
    std::sort(costs.rbegin(), costs.rend());
    std::printf("%s, %% of a 10 ms block, most expensive first:\n", prefix.c_str());
    for (const auto& [pct, name] : costs)
        std::printf("  %7.3f  %s\n", pct, name.c_str());
    value = costs.front().first;
    return true;
}

OVIX_FIGURE(maskWorst, "mask_worst_block_pct",
    [](const bench::Results& r, double& value) { return worstOf(r, "BM_MaskChannel/", value); });
OVIX_FIGURE(processorWorst, "mask_processor_worst_block_pct",
    [](const bench::Results& r, double& value) { return worstOf(r, "BM_MaskProcessor/", value); });

} // namespace
