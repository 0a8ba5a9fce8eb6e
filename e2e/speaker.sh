#!/usr/bin/env bash
# End to end: the channel test chime clicked on page 3 reaches the speaker
# left first, then right. VantorOvix.exe runs under wine on the PulseAudio rig
# (see run.sh), whose default sink "Headphones" is the speaker the program
# chooses at start. The headphones' monitor is recorded while ovix_driver.exe
# clicks the "Channel Test" button as a person would; in 50 ms windows the
# left channel must sound first and alone, the right one about 1.55 s later
# and alone, each at the level the test level (35 %) gives. Prints
# `figure e2e_speaker_left_to_right_s <seconds>` and
# `figure e2e_speaker_peak <largest sample>`.
# Every process it starts is stopped by its PID.
#   e2e/speaker.sh    uses build/windows/VantorOvix.exe and ovix_driver.exe
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exe=${OVIX_EXE:-$root/build/windows/VantorOvix.exe}
driver=${OVIX_DRIVER:-$root/build/windows/tests/win32/ovix_driver.exe}
work=$root/build/e2e
run=$work/speaker
source "$root/e2e/session.sh"

fail() { echo "e2e speaker: FAIL: $*"; exit 1; }
[ -f "$exe" ] || fail "$exe not found (build the windows tree first)"
[ -f "$driver" ] || fail "$driver not found (build ovix_driver)"
for tool in pulseaudio pactl parec wine wineboot Xvfb sox awk; do
  command -v "$tool" >/dev/null || fail "$tool is not installed"
done

rm -rf "$run"
mkdir -p "$run"
REC_PID=
cleanup() {
  close_ovix >/dev/null 2>&1
  if [ -n "$REC_PID" ]; then kill "$REC_PID" 2>/dev/null; wait "$REC_PID" 2>/dev/null; fi
  wine reg delete 'HKCU\Software\VantorOvix' /f >/dev/null 2>&1
  stop_rig "$run"
}
trap cleanup EXIT

start_rig "$run" "$work" || fail "the rig is not ready"
# A fresh start: the default test level (35 %), not one an earlier run left.
wine reg delete 'HKCU\Software\VantorOvix' /f >/dev/null 2>&1
# The headphones carry only the test: the engine's monitor ("Hear Myself") is off.
wine reg add 'HKCU\Software\VantorOvix' /v monitor /t REG_DWORD /d 0 /f >/dev/null 2>&1
drive() { wine "$driver" "$@" 2>>"$run/driver.log" | tr -d '\r'; return "${PIPESTATUS[0]}"; }

start_ovix "$exe" "$run/ovix.log" || { cat "$run/ovix.log"; fail "VantorOvix.exe did not start"; }
drive wait-shown 10000 || fail "the window did not show"
drive page 3 || fail "page 3 did not open"
sleep 1

timeout 6 parec -d headphones.monitor --rate=48000 --channels=2 --format=float32le --raw >"$run/phones.raw" &
REC_PID=$!
sleep 0.5
drive place channel-test || fail "the click on Channel Test did not arrive"
# The page while the chime plays, for people to look at.
drive capture "$run/page3-chime.png" >/dev/null 2>&1 || echo "e2e speaker: no screenshot of the page"
wait "$REC_PID"
REC_PID=
sox -t raw -r 48000 -e floating-point -b 32 -c 2 "$run/phones.raw" -t dat "$run/phones.dat" \
  || fail "the recording could not be read"

# Per 50 ms window, the RMS of each channel; a channel sounds above 0.02
# (the chime's steady RMS at 35 % is about 0.1). Prints the first window of
# each side, the loudest window of the other side among the windows where
# each sounds (a window that holds only the onset of the right tone, in the
# gap, is no leak), and the largest sample.
read -r left right leak_r leak_l peak < <(awk '!/^;/ {
    l += $2 * $2; r += $3 * $3; a = $2 < 0 ? -$2 : $2; b = $3 < 0 ? -$3 : $3
    if (a > peak) peak = a; if (b > peak) peak = b
    if (++n == 2400) { L[w] = sqrt(l / n); R[w] = sqrt(r / n); w++; l = r = n = 0 }
  }
  END {
    first_l = first_r = -1
    for (i = 0; i < w; i++) {
      if (first_l < 0 && L[i] > 0.02) first_l = i
      if (first_r < 0 && R[i] > 0.02) first_r = i
    }
    for (i = 0; i < w; i++) {
      if (L[i] > 0.02 && (first_r < 0 || i < first_r) && R[i] > leak_r) leak_r = R[i]
      if (first_r >= 0 && i >= first_r && R[i] > 0.02 && L[i] > leak_l) leak_l = L[i]
    }
    printf "%d %d %.5f %.5f %.4f\n", first_l, first_r, leak_r, leak_l, peak
  }' "$run/phones.dat")

[ "$left" -ge 0 ] || fail "nothing reached the left channel of the headphones"
[ "$right" -ge 0 ] || fail "nothing reached the right channel of the headphones"
gap=$(awk -v l="$left" -v r="$right" 'BEGIN { printf "%.2f", (r - l) * 0.05 }')
echo "e2e speaker: left from $(awk -v l="$left" 'BEGIN { printf "%.2f", l * 0.05 }') s, right $gap s later;" \
  "right while left sounds: RMS $leak_r; left while right sounds: RMS $leak_l; peak $peak"
echo "figure e2e_speaker_left_to_right_s $gap"
echo "figure e2e_speaker_peak $peak"
status=0
awk -v g="$gap" 'BEGIN { exit !(g >= 1.4 && g <= 1.7) }' \
  || { echo "e2e speaker: FAIL: the right channel began $gap s after the left, not about 1.55 s"; status=1; }
awk -v a="$leak_r" -v b="$leak_l" 'BEGIN { exit !(a < 0.002 && b < 0.002) }' \
  || { echo "e2e speaker: FAIL: the other channel was not silent (RMS $leak_r, $leak_l)"; status=1; }
awk -v p="$peak" 'BEGIN { exit !(p > 0.14 && p < 0.19) }' \
  || { echo "e2e speaker: FAIL: the chime peaked at $peak, not about 0.165"; status=1; }
close_ovix || fail "VantorOvix.exe did not close cleanly (exit code $OVIX_RC)"
[ "$status" -eq 0 ] && echo "e2e speaker: the chime sounded left, then right"
exit "$status"
