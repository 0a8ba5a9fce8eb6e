#!/usr/bin/env bash
# End to end: VantorOvix.exe under wine on a private PulseAudio daemon whose
# null sinks stand for the virtual cable ("CABLE Input"), headphones and a
# microphone feed. Speech made with espeak-ng is played into the microphone
# feed while the cable's monitor is recorded; the recording must carry the
# speech (envelope correlation), without dropouts while the voice is fed.
# Prints the microphone-to-cable latency; the last line is
# `figure e2e_latency_ms N`. Every process it starts is stopped by its PID.
#   e2e/run.sh              uses build/windows/VantorOvix.exe
#   OVIX_EXE=path e2e/run.sh
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exe=${OVIX_EXE:-$root/build/windows/VantorOvix.exe}
work=$root/build/e2e
run=$work/run
source "$root/e2e/session.sh"

fail() { echo "e2e: FAIL: $*"; exit 1; }

[ -f "$exe" ] || fail "$exe not found (build the windows tree first)"
for tool in pulseaudio pactl parec paplay wine wineboot Xvfb espeak-ng sox awk; do
  command -v "$tool" >/dev/null || fail "$tool is not installed"
done

rm -rf "$run"
mkdir -p "$run"
PAREC_PID=
cleanup() {
  close_ovix >/dev/null 2>&1
  if [ -n "$PAREC_PID" ]; then kill "$PAREC_PID" 2>/dev/null; wait "$PAREC_PID" 2>/dev/null; fi
  stop_xvfb
  "$root/e2e/pulse_rig.sh" stop "$run/pulse" >/dev/null 2>&1
}
trap cleanup EXIT

"$root/e2e/pulse_rig.sh" start "$run/pulse" || fail "the PulseAudio rig did not start"
while IFS= read -r kv; do export "${kv?}"; done < <("$root/e2e/pulse_rig.sh" env "$run/pulse")
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
start_xvfb "$run"
if [ ! -d "$WINEPREFIX" ]; then
  echo "e2e: making the wine prefix (once)"
  wineboot --init >"$work/wineboot.log" 2>&1 || fail "wineboot failed (see $work/wineboot.log)"
fi

# The voice: a few seconds of speech at 48 kHz stereo, with silence around it.
espeak-ng -s 150 -w "$run/speech22.wav" \
  "Testing the voice console. One, two, three, four. The quick brown fox jumps over the lazy dog." \
  || fail "espeak-ng failed"
sox "$run/speech22.wav" -r 48000 -c 2 -b 16 "$run/speech.wav" norm -3 pad 0.3 0.3 || fail "sox failed"

start_ovix "$exe" "$run/ovix.log" || { cat "$run/ovix.log"; fail "VantorOvix.exe did not start"; }
grep VantorOvix "$run/ovix.log"
grep -q "cable: CABLE Input" "$run/ovix.log" || fail "the program did not find the cable"
sleep 2 # the engine opens its devices

parec -d cable_input.monitor --rate=48000 --channels=1 --format=float32le --raw --latency-msec=10 \
  >"$run/cable.raw" &
PAREC_PID=$!
t0=$(date +%s%N)
sleep 0.5
t1=$(date +%s%N)
paplay -d mic_feed --latency-msec=10 "$run/speech.wav" || fail "paplay failed"
sleep 1
kill "$PAREC_PID" 2>/dev/null; wait "$PAREC_PID" 2>/dev/null; PAREC_PID=
close_ovix || fail "VantorOvix.exe did not close cleanly (exit code $OVIX_RC)"
grep -q "VantorOvix: stopped" "$run/ovix.log" || fail "no orderly stop"

sox "$run/speech.wav" -c 1 -t dat "$run/feed.dat" || fail "cannot read the feed"
sox -t raw -r 48000 -e floating-point -b 32 -c 1 "$run/cable.raw" -t dat "$run/cable.dat" \
  || fail "cannot read the cable recording"
offset_ms=$(( (t1 - t0) / 1000000 ))
result=$(awk -v offset_ms="$offset_ms" -f "$root/e2e/analyze.awk" "$run/feed.dat" "$run/cable.dat")
echo "$result"
correlation=$(awk '/^correlation/ {print $2}' <<<"$result")
latency=$(awk '/^latency_ms/ {print $2}' <<<"$result")
dropouts=$(awk '/^dropouts/ {print $2}' <<<"$result")
awk -v c="$correlation" 'BEGIN { exit !(c >= 0.8) }' || fail "the speech did not arrive at the cable (correlation $correlation)"
[ "$dropouts" -eq 0 ] || fail "$dropouts ms of dropouts while the voice was fed"
echo "e2e: speech reached the cable; no dropouts; latency $latency ms"
echo "figure e2e_latency_ms $latency"
