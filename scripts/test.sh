#!/usr/bin/env bash
# The test command: installs what a fresh Debian 12 machine lacks (when run as
# root), builds the Linux sanitizer trees and the Windows cross tree, runs the
# Linux unit tests and the short fuzz runs, the threaded tests under
# ThreadSanitizer, the Windows tests under wine, and the end-to-end rig three
# times. Ends with one line "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
start=$(date +%s)
logs=build/logs
mkdir -p "$logs"

say() { printf '\n== %s\n' "$*"; }

# --- packages ---------------------------------------------------------------
# Wine's Media Foundation decodes through GStreamer's plugins (wine64 only:
# the 64-bit ones suffice); sox makes the media tests' WAV, FLAC and MP3;
# ca-certificates lets the web fetch test trust its own server for a run.
packages=(cmake ninja-build clang libclang-rt-14-dev googletest
          gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix wine wine64
          pulseaudio xvfb xdotool libx11-dev libxtst-dev espeak-ng sox libsox-fmt-mp3 pkg-config libaubio-dev osslsigncode openssl ca-certificates
          gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    say "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >/dev/null && apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null \
      || { echo "package installation failed: ${missing[*]}"; echo "0 passed, 1 failed"; exit 1; }
  else
    echo "missing packages (run as root to install them): ${missing[*]}"
  fi
fi

passed=0
failed=0
skipped=0
failures=()

# Adds one ctest run's counts to the totals.
count_ctest() {
  local log=$1 name=$2 line total bad notrun
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$line" ]; then
    failed=$((failed + 1)); failures+=("$name: no test results"); return
  fi
  bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
  notrun=$(sed -n '/The following tests did not run:/,/^$/p' "$log" | grep -c '(Skipped)' || true)
  passed=$((passed + total - bad - notrun))
  skipped=$((skipped + notrun))
  failed=$((failed + bad))
  [ "$bad" -gt 0 ] && failures+=("$name: $bad failed (see $log)")
  return 0
}

step_failed() { failed=$((failed + 1)); failures+=("$1"); }

# --- Linux: sanitizers, unit tests, fuzz targets ------------------------------
say "linux-asan: configure and build"
if cmake --preset linux-asan >$logs/build-linux-asan.log 2>&1 && cmake --build --preset linux-asan >>$logs/build-linux-asan.log 2>&1; then
  say "linux-asan: unit tests and fuzz runs"
  ctest --preset linux-asan --timeout 600 >$logs/ctest-linux-asan.log 2>&1
  grep -E 'tests passed' $logs/ctest-linux-asan.log | tail -n 1
  grep -E '\*\*\*|^\s+[0-9]+ - .*\(' $logs/ctest-linux-asan.log | head -n 20
  count_ctest $logs/ctest-linux-asan.log linux-asan
else
  tail -n 40 $logs/build-linux-asan.log
  step_failed "linux-asan build failed (see $logs/build-linux-asan.log)"
fi

# --- Linux: the threaded suites under ThreadSanitizer (only their targets) -----
say "linux-tsan: configure and build the threaded tests"
if cmake --preset linux-tsan >$logs/build-linux-tsan.log 2>&1 && cmake --build --preset linux-tsan >>$logs/build-linux-tsan.log 2>&1; then
  say "linux-tsan: threaded tests"
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --preset linux-tsan --timeout 600 >$logs/ctest-linux-tsan.log 2>&1
  grep -E 'tests passed' $logs/ctest-linux-tsan.log | tail -n 1
  grep -E '\*\*\*|^\s+[0-9]+ - .*\(|WARNING: ThreadSanitizer' $logs/ctest-linux-tsan.log | head -n 20
  count_ctest $logs/ctest-linux-tsan.log linux-tsan
else
  tail -n 40 $logs/build-linux-tsan.log
  step_failed "linux-tsan build failed (see $logs/build-linux-tsan.log)"
fi

# --- Windows: cross build, tests under wine ---------------------------------
say "windows: configure and build"
if cmake --preset windows >$logs/build-windows.log 2>&1 && cmake --build --preset windows >>$logs/build-windows.log 2>&1; then
  say "windows: tests under wine"
  ctest --preset windows --timeout 900 >$logs/ctest-windows.log 2>&1
  grep -E 'tests passed' $logs/ctest-windows.log | tail -n 1
  grep -E '\*\*\*|^\s+[0-9]+ - .*\(' $logs/ctest-windows.log | head -n 20
  count_ctest $logs/ctest-windows.log windows
else
  tail -n 40 $logs/build-windows.log
  step_failed "windows build failed (see $logs/build-windows.log)"
fi

# --- End to end: the real program under wine on PulseAudio null sinks ---------
# Three runs, each a minute of input; each prints its dropouts (see e2e/run.sh
# for what fails a run).
if [ -x e2e/run.sh ]; then
  for n in 1 2 3; do
    say "end to end, run $n of 3"
    if e2e/run.sh; then passed=$((passed + 1)); else step_failed "e2e/run.sh failed (run $n)"; fi
  done
fi
# A mask chosen on page 1 by clicks moves the cable's fundamental by its ratio.
if [ -x e2e/mask.sh ]; then
  say "end to end, masks chosen by clicks"
  if e2e/mask.sh; then passed=$((passed + 1)); else step_failed "e2e/mask.sh failed"; fi
fi
# The channel test clicked on page 3 sounds left, then right, in the headphones.
if [ -x e2e/speaker.sh ]; then
  say "end to end, the speaker test chime"
  if e2e/speaker.sh; then passed=$((passed + 1)); else step_failed "e2e/speaker.sh failed"; fi
fi
# A clip played from the Sound Clip tab reaches the cable only with its mic switch on.
if [ -x e2e/clip.sh ]; then
  say "end to end, a sound clip into the cable"
  if e2e/clip.sh; then passed=$((passed + 1)); else step_failed "e2e/clip.sh failed"; fi
fi
# A take recorded on the Recorder & Editor tab and saved as WAV holds the fed speech.
if [ -x e2e/record.sh ]; then
  say "end to end, a recorded take saved as WAV"
  if e2e/record.sh; then passed=$((passed + 1)); else step_failed "e2e/record.sh failed"; fi
fi

# Global hotkeys pressed in another program's window play a pad on the cable and switch an action.
if [ -x e2e/hotkeys.sh ]; then
  say "end to end, global hotkeys from another program's window"
  if e2e/hotkeys.sh; then passed=$((passed + 1)); else step_failed "e2e/hotkeys.sh failed"; fi
fi

say "done in $(( $(date +%s) - start )) s"
for f in "${failures[@]+"${failures[@]}"}"; do echo "FAILED: $f"; done
if [ "$skipped" -gt 0 ]; then
  echo "$passed passed, $failed failed, $skipped skipped"
else
  echo "$passed passed, $failed failed"
fi
[ "$failed" -eq 0 ]
