#include "bench_main.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

namespace bench {
namespace {

struct Figure {
    std::string name;
    std::function<bool(const Results&, double&)> compute;
};

std::vector<Figure>& figures()
{
    static std::vector<Figure> all;
    return all;
}

// Collects each benchmark's mean time per iteration besides the usual console output.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    // Plain text: the figure lines must start their lines for scripts to find them.
    CollectingReporter() : ConsoleReporter(OO_None) { }
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const auto& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !run.error_occurred)
                results[run.benchmark_name()] = run.GetAdjustedRealTime()
                    * (run.time_unit == benchmark::kNanosecond         ? 1.0
                            : run.time_unit == benchmark::kMicrosecond ? 1e3
                            : run.time_unit == benchmark::kMillisecond ? 1e6
                                                                       : 1e9);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    Results results;
};

} // namespace

void figure(const std::string& name, std::function<bool(const Results&, double&)> compute)
{
    figures().push_back({name, std::move(compute)});
}

} // namespace bench

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    bench::CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (const auto& f : bench::figures()) {
        double value = 0;
        if (f.compute(reporter.results, value))
            std::printf("figure %s %.4g\n", f.name.c_str(), value);
    }
    return 0;
}
