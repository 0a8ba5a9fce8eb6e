#!/usr/bin/env bash
# End to end: a take recorded in the real program is saved as WAV and holds
# the speech that was fed. VantorOvix.exe runs under wine on the PulseAudio
# rig (see run.sh); espeak-ng speech loops into the microphone feed. On the
# Recorder & Editor tab Record is clicked, five seconds later Stop, then
# Save, and the save dialog is given a file name, as a person would, with
# ovix_driver.exe. The file must appear whole, about 5 s long, and its
# loudness over time (20 ms steps) must follow the fed speech: the best
# correlation of the two envelopes over every offset into the feed. Prints
# `figure e2e_take_seconds` and `figure e2e_take_envelope_correlation`.
# Every process it starts is stopped by its PID.
#   e2e/record.sh    uses build/windows/VantorOvix.exe and ovix_driver.exe
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exe=${OVIX_EXE:-$root/build/windows/VantorOvix.exe}
driver=${OVIX_DRIVER:-$root/build/windows/tests/win32/ovix_driver.exe}
work=$root/build/e2e
run=$work/record
source "$root/e2e/session.sh"
use_realtime

fail() { echo "e2e record: FAIL: $*"; exit 1; }
[ -f "$exe" ] || fail "$exe not found (build the windows tree first)"
[ -f "$driver" ] || fail "$driver not found (build ovix_driver)"
for tool in pulseaudio pactl paplay wine wineboot Xvfb espeak-ng sox awk; do
  command -v "$tool" >/dev/null || fail "$tool is not installed"
done

rm -rf "$run"
mkdir -p "$run"
PLAY_PID=
take=
cleanup() {
  close_ovix >/dev/null 2>&1
  if [ -n "$PLAY_PID" ]; then kill "$PLAY_PID" 2>/dev/null; wait "$PLAY_PID" 2>/dev/null; fi
  wine reg delete 'HKCU\Software\VantorOvix' /f >/dev/null 2>&1
  [ -n "$take" ] && rm -f "$take"
  stop_rig "$run"
}
trap cleanup EXIT

start_rig "$run" "$work" || fail "the rig is not ready"
wine reg delete 'HKCU\Software\VantorOvix' /f >/dev/null 2>&1
take=$WINEPREFIX/drive_c/ovix_e2e_take.wav
rm -f "$take"

espeak-ng -s 150 -w "$run/speech22.wav" \
  "Recording a take. One, two, three, four. The quick brown fox jumps over the lazy dog." \
  || fail "espeak-ng failed"
sox "$run/speech22.wav" -r 48000 -c 1 "$run/voice.wav" norm -12 repeat 10 trim 0 40 \
  && sox "$run/voice.wav" -c 2 -b 16 "$run/feed.wav" || fail "sox failed"
drive() { wine "$driver" "$@" 2>>"$run/driver.log" | tr -d '\r'; return "${PIPESTATUS[0]}"; }

start_ovix "$exe" "$run/ovix.log" || { cat "$run/ovix.log"; fail "VantorOvix.exe did not start"; }
drive wait-shown 10000 || fail "the window did not show"
[ -n "$OVIX_RT_PRIORITY" ] && raise_audio_threads $((OVIX_RT_PRIORITY - 1)) >/dev/null
"${RT[@]+"${RT[@]}"}" paplay -d mic_feed "$run/feed.wav" &
PLAY_PID=$!
drive page 4 3 || fail "the Recorder & Editor tab did not open"
sleep 1
drive place rec-record || fail "the click on Record did not arrive"
sleep 5
drive place rec-record || fail "the click on Stop did not arrive"
sleep 1
drive capture "$run/recorder-take.png" >/dev/null 2>&1 || echo "e2e record: no screenshot of the tab"
drive place rec-save || fail "the click on Save did not arrive"
drive save-as 'C:\ovix_e2e_take.wav' 10000 || fail "the save dialog did not take the file name"
for _ in $(seq 100); do [ -f "$take" ] && break; sleep 0.1; done
[ -f "$take" ] || fail "no file was saved"
sleep 0.5
ls "$WINEPREFIX/drive_c/" | grep -q "ovix_e2e_take.*\.\(part\|saving\)" && fail "a temporary file was left beside the take"
cp "$take" "$run/take.wav"
close_ovix || fail "VantorOvix.exe did not close cleanly (exit code $OVIX_RC)"

seconds=$(sox --i -D "$run/take.wav") || fail "the saved take is not a WAV file sox reads"
echo "figure e2e_take_seconds $seconds"
awk -v s="$seconds" 'BEGIN { exit !(s > 4 && s < 7) }' || fail "the take lasts $seconds s, not about 5 s"

# envelope FILE OUT: 20 ms RMS steps of the file's left channel, one per line.
envelope() {
  sox "$1" -r 48000 -c 1 -t dat - remix 1 | awk '!/^;/ { s += $2 * $2; if (++n == 960) { print sqrt(s / n); s = 0; n = 0 } }' >"$2"
}
envelope "$run/take.wav" "$run/take.env" || fail "the take could not be read"
envelope "$run/voice.wav" "$run/feed.env" || fail "the feed could not be read"
correlation=$(awk 'FNR == NR { t[nt++] = $1; next } { f[nf++] = $1 }
  END {
    # The take without its first and last 0.2 s (the clicks that started and stopped it).
    a = 10; b = nt - 10; m = b - a
    if (m < 100) { print 0; exit }
    for (i = a; i < b; i++) { st += t[i]; stt += t[i] * t[i] }
    best = -1
    for (o = 0; o + m <= nf; o++) {
      sf = 0; sff = 0; stf = 0
      for (i = 0; i < m; i++) { x = f[o + i]; sf += x; sff += x * x; stf += t[a + i] * x }
      d = (m * stt - st * st) * (m * sff - sf * sf)
      if (d > 0) { r = (m * stf - st * sf) / sqrt(d); if (r > best) best = r }
    }
    printf "%.3f\n", best
  }' "$run/take.env" "$run/feed.env")
echo "figure e2e_take_envelope_correlation $correlation"
awk -v r="$correlation" 'BEGIN { exit !(r > 0.6) }' || fail "the take does not follow the fed speech (envelope correlation $correlation)"
echo "e2e record: a 5 s take was saved as WAV ($seconds s) and follows the fed speech (correlation $correlation)"
