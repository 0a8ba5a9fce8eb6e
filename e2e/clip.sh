#!/usr/bin/env bash
# End to end: a sound clip opened on the Sound Clip tab reaches the cable
# with "to the mic" on and stops reaching it when the switch is clicked off,
# while the voice keeps flowing. VantorOvix.exe runs under wine on the
# PulseAudio rig (see run.sh); a steady 230 Hz sawtooth (no harmonic near
# 1 kHz) is the voice on the microphone feed, and a 1 kHz tone file made here
# is the clip. The clip's
# path is typed into the source field and Play is clicked with ovix_driver.exe,
# as a person would. Each phase records two seconds of the cable and measures
# the 1 kHz and 230 Hz levels (Goertzel, dB relative to full scale) and the
# longest run of digital silence. Prints `figure e2e_clip_on_db`,
# `figure e2e_clip_off_db` and `figure e2e_clip_longest_silence_ms`.
# Every process it starts is stopped by its PID.
#   e2e/clip.sh    uses build/windows/VantorOvix.exe and ovix_driver.exe
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exe=${OVIX_EXE:-$root/build/windows/VantorOvix.exe}
driver=${OVIX_DRIVER:-$root/build/windows/tests/win32/ovix_driver.exe}
work=$root/build/e2e
run=$work/clip
source "$root/e2e/session.sh"
# Real-time scheduling for the rig and the program's audio threads, as run.sh
# explains: a busy machine must not starve them.
use_realtime

fail() { echo "e2e clip: FAIL: $*"; exit 1; }
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
  wine reg delete 'HKCU\Software\VantorOvix' /f >/dev/null 2>&1
  rm -f "$WINEPREFIX/drive_c/ovix_e2e_clip.wav"
  stop_rig "$run"
}
trap cleanup EXIT

start_rig "$run" "$work" || fail "the rig is not ready"
# A fresh start: the clip routing's defaults (to the mic and the headphones on).
wine reg delete 'HKCU\Software\VantorOvix' /f >/dev/null 2>&1

sox -n -r 48000 -c 2 -b 16 "$run/voice.wav" synth 40 sawtooth 230 vol 0.3 || fail "sox failed"
sox -n -r 44100 -c 1 -b 16 "$WINEPREFIX/drive_c/ovix_e2e_clip.wav" synth 30 sine 1000 vol 0.5 || fail "sox failed"
drive() { wine "$driver" "$@" 2>>"$run/driver.log" | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# levels NAME: records two seconds of the cable; prints the 1 kHz level, the
# 230 Hz level (dB of a full-scale sine) and the longest run of exact zeros (ms).
levels() {
  local name=$1
  timeout 2 "${RT[@]+"${RT[@]}"}" parec -d cable_input.monitor --rate=48000 --channels=1 --format=float32le --raw >"$run/$name.raw"
  sox -t raw -r 48000 -e floating-point -b 32 -c 1 "$run/$name.raw" -t dat "$run/$name.dat" trim 0.25 1.5 \
    || return 1
  awk '!/^;/ { x[n++] = $2 }
    function level(hz,   w, c, s0, s1, s2, i, p) {
      w = 2 * 3.14159265358979 * hz / 48000; c = 2 * cos(w); s1 = 0; s2 = 0
      for (i = 0; i < n; i++) { s0 = x[i] + c * s1 - s2; s2 = s1; s1 = s0 }
      p = s1 * s1 + s2 * s2 - c * s1 * s2
      return 10 * log(p / (n * n / 4) + 1e-20) / log(10)
    }
    END {
      if (n < 24000) exit 1
      run = 0; longest = 0
      for (i = 0; i < n; i++) { if (x[i] == 0) { if (++run > longest) longest = run } else run = 0 }
      printf "%.1f %.1f %.1f\n", level(1000), level(230), longest / 48
    }' "$run/$name.dat"
}

start_ovix "$exe" "$run/ovix.log" || { cat "$run/ovix.log"; fail "VantorOvix.exe did not start"; }
grep -q "cable: CABLE Input" "$run/ovix.log" || fail "the program did not find the cable"
drive wait-shown 10000 || fail "the window did not show"
[ -n "$OVIX_RT_PRIORITY" ] && raise_audio_threads $((OVIX_RT_PRIORITY - 1)) >/dev/null
"${RT[@]+"${RT[@]}"}" paplay -d mic_feed "$run/voice.wav" &
PLAY_PID=$!
drive page 4 0 || fail "the Sound Clip tab did not open"
sleep 1
drive clip-source 'C:\ovix_e2e_clip.wav' || fail "the clip's path could not be typed"
drive place clip-play || fail "the click on Play did not arrive"
sleep 2.5
read -r on_clip on_voice on_silence < <(levels on) || fail "nothing reached the cable with the clip on"
drive capture "$run/sound-clip-playing.png" >/dev/null 2>&1 || echo "e2e clip: no screenshot of the tab"
drive place clip-mic || fail "the click on the clip's mic switch did not arrive"
sleep 1
read -r off_clip off_voice off_silence < <(levels off) || fail "nothing reached the cable with the clip off the mic"
echo "e2e clip: with the clip on the mic: 1 kHz $on_clip dB, voice $on_voice dB; off: 1 kHz $off_clip dB, voice $off_voice dB"
echo "figure e2e_clip_on_db $on_clip"
echo "figure e2e_clip_off_db $off_clip"
longest=$(awk -v a="$on_silence" -v b="$off_silence" 'BEGIN { print (a > b ? a : b) }')
echo "figure e2e_clip_longest_silence_ms $longest"
close_ovix || fail "VantorOvix.exe did not close cleanly (exit code $OVIX_RC)"
awk -v v="$on_clip" 'BEGIN { exit !(v > -30) }' || fail "the clip did not reach the cable ($on_clip dB at 1 kHz)"
awk -v v="$off_clip" -v on="$on_clip" 'BEGIN { exit !(v < on - 30) }' \
  || fail "the clip still reached the cable with its mic switch off ($off_clip dB against $on_clip dB)"
awk -v a="$on_voice" -v b="$off_voice" 'BEGIN { exit !(a > -40 && b > -40) }' \
  || fail "the voice did not keep flowing ($on_voice dB, then $off_voice dB at 230 Hz)"
# As in run.sh: wine may write 15-30 ms of silence after an underflow on a
# busy machine; a stall of the engine or an output that stops leaves more.
awk -v s="$longest" 'BEGIN { exit !(s <= 50) }' || fail "the cable dropped out for $longest ms"
echo "e2e clip: the clip reached the cable with its mic switch on and not with it off; the voice kept flowing"
