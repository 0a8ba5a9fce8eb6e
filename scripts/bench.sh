#!/usr/bin/env bash
# Builds the release benchmarks and runs those whose names match FILTER (a
# regular expression, default all). Each benchmark executable ends with
# `figure NAME VALUE` lines; the figures are repeated at the end.
#   scripts/bench.sh            all benchmarks
#   scripts/bench.sh Equalizer  only benchmarks whose names match
set -euo pipefail
cd "$(dirname "$0")/.."
filter="${1:-.}"

cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target all >/dev/null

figures=$(mktemp)
trap 'rm -f "$figures"' EXIT
for exe in build/linux-release/bench/bench_* build/linux-release/bench/*/bench_*; do
  [ -f "$exe" ] && [ -x "$exe" ] || continue
  # Skip executables with no benchmark matching the filter.
  if ! "$exe" --benchmark_list_tests=true --benchmark_filter="$filter" | grep -q .; then
    continue
  fi
  echo "== $(basename "$exe")"
  "$exe" --benchmark_filter="$filter" --benchmark_min_time=0.2 --benchmark_color=false | tee -a "$figures"
done
echo
echo "== figures"
grep '^figure ' "$figures" || echo "(no figures for filter '$filter')"
