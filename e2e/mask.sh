#!/usr/bin/env bash
# End to end: a mask chosen on page 1 by clicks changes what reaches the
# cable. VantorOvix.exe runs under wine on the PulseAudio rig (see run.sh); a
# steady 200 Hz sawtooth is played into the microphone feed, the advanced tab
# of page 1 is opened and rows of the mask list are clicked, as a person
# would, with ovix_driver.exe. After each click two seconds of the cable are
# recorded and their fundamental found by autocorrelation; against the
# start's (the Neutral mask, ratio 1.000) it must move as the chosen mask's
# ratio says, within 4 %. Prints `figure e2e_mask_ratio_<row> <measured>`.
# Every process it starts is stopped by its PID.
#   e2e/mask.sh    uses build/windows/VantorOvix.exe and ovix_driver.exe
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exe=${OVIX_EXE:-$root/build/windows/VantorOvix.exe}
driver=${OVIX_DRIVER:-$root/build/windows/tests/win32/ovix_driver.exe}
work=$root/build/e2e
run=$work/mask
source "$root/e2e/session.sh"

fail() { echo "e2e mask: FAIL: $*"; exit 1; }
[ -f "$exe" ] || fail "$exe not found (build the windows tree first)"
[ -f "$driver" ] || fail "$driver not found (build ovix_driver)"
for tool in pulseaudio pactl parec paplay wine wineboot Xvfb sox awk; do
  command -v "$tool" >/dev/null || fail "$tool is not installed"
done

rm -rf "$run"
mkdir -p "$run"
PLAY_PID=
cleanup() {
  close_ovix >/dev/null 2>&1
  if [ -n "$PLAY_PID" ]; then kill "$PLAY_PID" 2>/dev/null; wait "$PLAY_PID" 2>/dev/null; fi
  # The masks chosen here must not reach the next run in this prefix.
  wine reg delete 'HKCU\Software\VantorOvix' /f >/dev/null 2>&1
  stop_rig "$run"
}
trap cleanup EXIT

start_rig "$run" "$work" || fail "the rig is not ready"
# A fresh start: the masks' defaults, not a choice an earlier run left.
wine reg delete 'HKCU\Software\VantorOvix' /f >/dev/null 2>&1

sox -n -r 48000 -c 2 -b 16 "$run/tone.wav" synth 40 sawtooth 200 vol 0.3 || fail "sox failed"
drive() { wine "$driver" "$@" 2>>"$run/driver.log" | tr -d '\r'; return "${PIPESTATUS[0]}"; }

start_ovix "$exe" "$run/ovix.log" || { cat "$run/ovix.log"; fail "VantorOvix.exe did not start"; }
grep -q "cable: CABLE Input" "$run/ovix.log" || fail "the program did not find the cable"
drive wait-shown 10000 || fail "the window did not show"
paplay -d mic_feed "$run/tone.wav" &
PLAY_PID=$!
sleep 2

# fundamental NAME: records two seconds of the cable and prints its
# fundamental in Hz (the strongest autocorrelation lag between 60 and 600 Hz,
# the shortest one within 5 % of it, refined between its neighbours).
fundamental() {
  local name=$1
  timeout 2 parec -d cable_input.monitor --rate=48000 --channels=1 --format=float32le --raw >"$run/$name.raw"
  sox -t raw -r 48000 -e floating-point -b 32 -c 1 "$run/$name.raw" -t dat "$run/$name.dat" trim 0.5 0.25 \
    || return 1
  awk '!/^;/ { x[n++] = $2 }
    END {
      if (n < 4000) exit 1
      for (lag = 80; lag <= 800; lag++) {
        s = 0; for (i = 0; i + lag < n; i++) s += x[i] * x[i + lag]
        r[lag] = s; if (s > best) best = s
      }
      if (best <= 0) exit 1
      for (lag = 81; lag < 800; lag++) if (r[lag] >= 0.95 * best && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1]) break
      d = r[lag - 1] - 2 * r[lag] + r[lag + 1]
      shift = d != 0 ? 0.5 * (r[lag - 1] - r[lag + 1]) / d : 0
      printf "%.2f\n", 48000 / (lag + shift)
    }' "$run/$name.dat"
}

drive page 1 1 || fail "the advanced tab of page 1 did not open"
sleep 1
base=$(fundamental neutral) || fail "nothing periodic reached the cable"
echo "e2e mask: Neutral: $base Hz"
awk -v b="$base" 'BEGIN { exit !(b > 192 && b < 208) }' || fail "with Neutral the cable's fundamental is $base Hz, not the feed's 200 Hz"
# The list starts scrolled to Neutral (row 13) at its bottom: rows 7 to 13
# show, 24 logical pixels each from y 209, x 16 to 420.
status=0
for pick in "8 750 Female to Male" "12 1950 Munchkin" "10 1430 Male to Female"; do
  read -r row ratio name <<<"$pick"
  drive click 200 $((209 + (row - 7) * 24 + 12)) || fail "the click on $name did not arrive"
  sleep 1
  f=$(fundamental "row$row") || fail "nothing periodic reached the cable with $name"
  measured=$(awk -v f="$f" -v b="$base" 'BEGIN { printf "%.3f", f / b }')
  echo "figure e2e_mask_ratio_$row $measured"
  if awk -v m="$measured" -v want="$ratio" 'BEGIN { e = m * 1000 / want - 1; exit !(e < 0.04 && e > -0.04) }'; then
    echo "e2e mask: $name: $f Hz, ratio $measured (the mask says $((ratio / 1000)).$(printf %03d $((ratio % 1000))))"
  else
    echo "e2e mask: FAIL: $name: $f Hz, ratio $measured where the mask says $ratio/1000"
    status=1
  fi
done
close_ovix || fail "VantorOvix.exe did not close cleanly (exit code $OVIX_RC)"
[ "$status" -eq 0 ] && echo "e2e mask: each clicked mask moved the cable's fundamental by its ratio"
exit "$status"
