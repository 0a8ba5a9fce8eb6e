#!/usr/bin/env bash
# Builds the release benchmarks and runs those whose names match FILTER (a
# regular expression, default all). Each benchmark executable ends with
# `figure NAME VALUE` lines; the figures are repeated at the end. Like the
# test command, it installs what a fresh Debian 12 machine lacks when run as
# root, the libraries our effects are compared with included; a comparison
# that still cannot be measured prints `figure NAME skipped (REASON)`.
#   scripts/bench.sh            all benchmarks
#   scripts/bench.sh Equalizer  only benchmarks whose names match
set -euo pipefail
cd "$(dirname "$0")/.."
filter="${1:-.}"

# The comparison figures: figure, executable, pkg-config module, Debian package.
comparisons=(
  "fft1024_vs_fftw bench_dsp fftw3f libfftw3-dev"
  "fft8192_vs_fftw bench_dsp fftw3f libfftw3-dev"
  "rfft1024_vs_fftw bench_dsp fftw3f libfftw3-dev"
  "rfft8192_vs_fftw bench_dsp fftw3f libfftw3-dev"
  "fft1024_vs_kissfft bench_dsp kissfft-float libkissfft-dev"
  "fft8192_vs_kissfft bench_dsp kissfft-float libkissfft-dev"
  "rfft1024_vs_kissfft bench_dsp kissfft-float libkissfft-dev"
  "rfft8192_vs_kissfft bench_dsp kissfft-float libkissfft-dev"
  "reverb_vs_openal bench_reverb openal libopenal-dev"
  "shift_vs_rubberband bench_voice rubberband librubberband-dev"
  "shift_within5c_rubberband_pct bench_voice rubberband librubberband-dev"
  "stretch_vs_soundtouch bench_voice soundtouch libsoundtouch-dev"
  "isolation_vs_speex_cost bench_isolation speexdsp libspeexdsp-dev"
  "speex_segsnr_gain_db bench_isolation speexdsp libspeexdsp-dev"
  "webrtc_segsnr_gain_db bench_isolation webrtc-audio-processing libwebrtc-audio-processing-dev"
)

packages=(cmake ninja-build g++ pkg-config libbenchmark-dev espeak-ng)
for c in "${comparisons[@]}"; do packages+=("${c##* }"); done
missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    echo "== installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # One by one, so that a package the mirror lacks costs only its own figures.
    apt-get update -qq >/dev/null || echo "apt-get update failed"
    for p in "${missing[@]}"; do
      apt-get install -y -qq --no-install-recommends "$p" >/dev/null 2>&1 || echo "could not install $p"
    done
  else
    echo "missing packages (run as root to install them): ${missing[*]}"
  fi
fi

# Configuring again finds a library installed since the last time.
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target all >/dev/null

figures=$(mktemp)
ran=$(mktemp)
trap 'rm -f "$figures" "$ran"' EXIT
for exe in build/linux-release/bench/bench_* build/linux-release/bench/*/bench_*; do
  [ -f "$exe" ] && [ -x "$exe" ] || continue
  # Skip executables with no benchmark matching the filter.
  if ! "$exe" --benchmark_list_tests=true --benchmark_filter="$filter" 2>/dev/null | grep -q .; then
    continue
  fi
  basename "$exe" >>"$ran"
  echo "== $(basename "$exe")"
  "$exe" --benchmark_filter="$filter" --benchmark_min_time=0.2 --benchmark_color=false | tee -a "$figures"
done

# Every comparison of an executable that ran is either measured or said to be skipped.
for c in "${comparisons[@]}"; do
  read -r name exe module package <<<"$c"
  grep -qx "$exe" "$ran" || continue
  grep -q "^figure $name " "$figures" && continue
  if ! pkg-config --exists "$module" 2>/dev/null; then
    reason="$package is not installed: pkg-config finds no $module"
  else
    reason="its benchmarks did not run (filtered out, or failed)"
  fi
  echo "figure $name skipped ($reason)" | tee -a "$figures"
done
echo
echo "== figures"
grep '^figure ' "$figures" || echo "(no figures for filter '$filter')"
