// The engine reads settings once per block through their atomics; this keeps
// an eye on what a whole-record read costs next to a plain copy of the same
// number of integers.

#include "bench_main.h"

#include "settings/fields.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

void BM_ReadWholeRecord(benchmark::State& state)
{
    settings::Settings s;
    const auto fields = settings::recordFields();
    for (auto _ : state) {
        int64_t sum = 0;
        for (const auto& field : fields)
            sum += field.load(s);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_ReadWholeRecord);

void BM_BaselineIntCopy(benchmark::State& state)
{
    std::vector<int32_t> values(settings::recordFields().size(), 3);
    for (auto _ : state) {
        benchmark::DoNotOptimize(values.data());
        int64_t sum = 0;
        for (int32_t v : values)
            sum += v;
        benchmark::DoNotOptimize(sum);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BaselineIntCopy);

OVIX_FIGURE(readRatio, "settings_read_vs_plain_ratio", [](const bench::Results& r, double& value) {
    if (!r.count("BM_ReadWholeRecord") || !r.count("BM_BaselineIntCopy"))
        return false;
    value = r.at("BM_ReadWholeRecord") / r.at("BM_BaselineIntCopy");
    return true;
});

} // namespace
