#pragma once
// Headline figures: each benchmark executable registers figures computed from
// the results of its benchmarks, and prints them after the run as
// `figure NAME VALUE` lines. Figures are ratios against a baseline measured in
// the same process (or percentages of the 10 ms block, dB, ms), never raw
// times, because the machines they run on are shared and noisy.

#include <functional>
#include <map>
#include <string>

namespace bench {

// Mean real time per iteration, nanoseconds, of each benchmark that ran, by name.
using Results = std::map<std::string, double>;

// Registers a figure; compute returns nothing when a benchmark it needs did
// not run (filtered out), and then no line is printed.
void figure(const std::string& name, std::function<bool(const Results&, double& value)> compute);

// ns per 10 ms block of audio at 48 kHz, as a percentage of the block's duration.
inline double percentOfBlock(double nanosPerBlock)
{
    return nanosPerBlock / 10e6 * 100.0;
}

} // namespace bench

// Registers a figure at static-initialisation time.
#define OVIX_FIGURE(var, name, body) static const bool var = (::bench::figure(name, body), true)
