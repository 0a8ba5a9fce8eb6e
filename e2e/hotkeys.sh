#!/usr/bin/env bash
# End to end: global hotkeys pressed on the X display while another program
# (wine's notepad) has the focus reach VantorOvix.exe under wine on the
# PulseAudio rig (see run.sh). The registry is seeded before the start: pad 1
# holds a 1 kHz tone burst made here, bound to Ctrl+F7, with the clips routed
# to the mic and kept dry (no clip echo); the microphone feed stays silent,
# so the cable carries only the pad. Ctrl+F7 is pressed 20 times, 1.5 s
# apart (press_keys.c notes when the X server took each press), while the
# cable is recorded; each press must put the burst on the
# cable, and the time from the press to the burst's first sample gives
# `figure pad_hotkey_to_cable_ms_median` and `..._worst` (a slow press does
# not fail the run, a missing sound does). Then Ctrl+F8, bound to noise
# isolation, must turn it on (the saved registry value). Last, with the
# soundboard window open, pad 2 is clicked, then "Set Key", and Ctrl+F9
# pressed there must become the pad's key (a screenshot of the window is
# kept in build/e2e/hotkeys). Every process it starts is stopped by its PID.
#   e2e/hotkeys.sh    uses build/windows/VantorOvix.exe and ovix_driver.exe
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exe=${OVIX_EXE:-$root/build/windows/VantorOvix.exe}
driver=${OVIX_DRIVER:-$root/build/windows/tests/win32/ovix_driver.exe}
work=$root/build/e2e
run=$work/hotkeys
source "$root/e2e/session.sh"
use_realtime

fail() { echo "e2e hotkeys: FAIL: $*"; exit 1; }
[ -f "$exe" ] || fail "$exe not found (build the windows tree first)"
[ -f "$driver" ] || fail "$driver not found (build ovix_driver)"
for tool in pulseaudio pactl parec wine wineboot Xvfb xdotool sox awk; do
  command -v "$tool" >/dev/null || fail "$tool is not installed"
done

presses=20
rm -rf "$run"
mkdir -p "$run"
for compiler in cc gcc clang; do
  command -v "$compiler" >/dev/null && "$compiler" -O2 -o "$run/press_keys" "$root/e2e/press_keys.c" -lX11 -lXtst && break
done
[ -x "$run/press_keys" ] || fail "press_keys.c did not build (it needs libx11-dev and libxtst-dev)"
NOTEPAD_PID=
PAREC_PID=
pad=
cleanup() {
  close_ovix >/dev/null 2>&1
  if [ -n "$PAREC_PID" ]; then kill "$PAREC_PID" 2>/dev/null; wait "$PAREC_PID" 2>/dev/null; fi
  if [ -n "$NOTEPAD_PID" ]; then kill "$NOTEPAD_PID" 2>/dev/null; wait "$NOTEPAD_PID" 2>/dev/null; fi
  wine reg delete 'HKCU\Software\VantorOvix' /f >/dev/null 2>&1
  [ -n "$pad" ] && rm -f "$pad"
  stop_rig "$run"
}
trap cleanup EXIT

start_rig "$run" "$work" || fail "the rig is not ready"
wine reg delete 'HKCU\Software\VantorOvix' /f >/dev/null 2>&1
pad=$WINEPREFIX/drive_c/ovix_e2e_pad.wav
sox -n -r 48000 -c 2 -b 16 "$pad" synth 0.3 sine 1000 vol 0.5 || fail "sox failed"
drive() { wine "$driver" "$@" 2>>"$run/driver.log" | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# Key codes: the virtual key in the low word, Ctrl as bit 17.
ctrl_f7=$((0x20076)) ctrl_f8=$((0x20077)) ctrl_f9=$((0x20078))
cat >"$run/seed.reg" <<EOF
REGEDIT4

[HKEY_CURRENT_USER\\Software\\VantorOvix\\Soundboard]
"Count"=dword:00000001
"File0"="C:\\\\ovix_e2e_pad.wav"
"Pad0Path"="C:\\\\ovix_e2e_pad.wav"
"Pad0Key"=dword:$(printf %08x $ctrl_f7)

[HKEY_CURRENT_USER\\Software\\VantorOvix\\Settings]
"ClipToMic"=dword:00000001
"EchoOn"=dword:00000001
"Isolation"=dword:00000000
"HotIsolation"=dword:$(printf %08x $ctrl_f8)
EOF
wine regedit /S "$(winepath -w "$run/seed.reg")" >/dev/null 2>&1 || fail "the registry could not be seeded"

start_ovix "$exe" "$run/ovix.log" || { cat "$run/ovix.log"; fail "VantorOvix.exe did not start"; }
grep -q "cable: CABLE Input" "$run/ovix.log" || fail "the program did not find the cable"
drive wait-shown 10000 || fail "the window did not show"
[ -n "$OVIX_RT_PRIORITY" ] && raise_audio_threads $((OVIX_RT_PRIORITY - 1)) >/dev/null

# Another program's window takes the focus; wine hands a global hotkey on
# only while one of its windows has the X focus.
setsid wine notepad >"$run/notepad.log" 2>&1 &
NOTEPAD_PID=$!
notepad=$(timeout 20 xdotool search --sync --onlyvisible --name 'Notepad' | head -n 1)
[ -n "$notepad" ] || fail "notepad's window did not appear"
# focus WINDOW: a window just mapped may refuse the focus for a moment.
focus() {
  for _ in $(seq 20); do xdotool windowfocus --sync "$1" 2>/dev/null && return 0; sleep 0.2; done
  return 1
}
focus "$notepad" || fail "notepad did not take the focus"
sleep 1 # the pad's sound loads once the window exists

t_start=$(date +%s%N)
"${RT[@]+"${RT[@]}"}" parec -d cable_input.monitor --rate=48000 --channels=1 --format=float32le --raw \
  --latency-msec=10 >"$run/cable.raw" &
PAREC_PID=$!
sleep 1
# One presser for all presses notes when the X server took each one.
"${RT[@]+"${RT[@]}"}" "$run/press_keys" "$presses" 1500 Control_L F7 >"$run/presses.txt" \
  || fail "the presses did not reach the display"
sleep 1.5
t_stop=$(date +%s%N)
kill "$PAREC_PID" 2>/dev/null; wait "$PAREC_PID" 2>/dev/null; PAREC_PID=
sox -t raw -r 48000 -e floating-point -b 32 -c 1 "$run/cable.raw" -t dat "$run/cable.dat" \
  || fail "cannot read the cable recording"

# The recording's first sample is placed by its length and the time the
# recorder was stopped, as run.sh does; what the recorder still held then
# counts against the program (a few ms). Each press's burst is looked for
# from 100 ms before the press to 1 s after it: its first sample above
# 0.01 (the burst peaks near 0.4 after the clip level; the cable is
# otherwise silent).
rec_start_ns=$((t_stop - $(stat -c %s "$run/cable.raw") / 4 * 1000000000 / 48000))
# The recorder's start-up plus whatever it lost: the placement's doubt, for
# early presses (placed too early by that much, so they look that much slower).
echo "e2e hotkeys: the recording started $(((rec_start_ns - t_start) / 1000000)) ms after the recorder was asked for"
awk -v rec0="$rec_start_ns" -v list="$run/presses.txt" '
  FILENAME == list { press[np++] = ($1 - rec0) / 1e9 * 48000; next }
  !/^;/ { x[n++] = $2 }
  END {
    for (p = 0; p < np; p++) {
      from = int(press[p] - 4800); to = int(press[p] + 48000); hit = -1
      if (from < 0) from = 0
      for (i = from; i < to && i < n; i++) if (x[i] > 0.01 || x[i] < -0.01) { hit = i; break }
      if (hit < 0) print "missing"; else printf "%.1f\n", (hit - press[p]) / 48
    }
  }' "$run/presses.txt" "$run/cable.dat" >"$run/latencies.txt"
rm -f "$run/cable.dat"
missing=$(grep -c missing "$run/latencies.txt")
read -r median worst < <(grep -v missing "$run/latencies.txt" | sort -n | awk '{ v[n++] = $1 }
  END { if (n) printf "%.1f %.1f\n", (n % 2 ? v[(n - 1) / 2] : (v[n / 2 - 1] + v[n / 2]) / 2), v[n - 1]; else print "none none" }')
echo "e2e hotkeys: pad hotkey to cable (ms): $(tr '\n' ' ' <"$run/latencies.txt")"
echo "figure pad_hotkey_to_cable_ms_median $median"
echo "figure pad_hotkey_to_cable_ms_worst $worst"
[ "$missing" -eq 0 ] || fail "$missing of $presses presses of the pad's hotkey put no sound on the cable"

# An action's hotkey: noise isolation on, seen in the saved settings.
focus "$notepad" || fail "notepad did not take the focus again"
xdotool key ctrl+F8
on=
for _ in $(seq 50); do
  on=$(drive reg-get Isolation)
  [ "$on" = 1 ] && break
  sleep 0.1
done
[ "$on" = 1 ] || fail "the isolation hotkey did not turn isolation on (Isolation = ${on:-missing})"

# A key pressed while the soundboard window listens for pad 2's key binds it there.
drive board-open || fail "the soundboard window did not open"
drive board-place pad-2 || fail "the click on pad 2 did not arrive"
drive board-place set-key || fail "the click on Set Key did not arrive"
board=$(timeout 10 xdotool search --sync --onlyvisible --name 'Vantor Soundboard' | head -n 1)
[ -n "$board" ] && focus "$board" || fail "the soundboard window did not take the focus"
sleep 0.5
# A quick tap (xdotool lets go within 12 ms): the capture takes the
# modifiers the key's message came with, not what is held when it runs.
xdotool key ctrl+F9
bound=
for _ in $(seq 50); do
  bound=$(drive reg-get Pad1Key Soundboard)
  [ "$bound" = "$ctrl_f9" ] && break
  sleep 0.1
done
drive board-capture "$run/soundboard-window.png" >/dev/null 2>&1 || echo "e2e hotkeys: no screenshot of the soundboard window"
[ "$bound" = "$ctrl_f9" ] || fail "Ctrl+F9 pressed in the soundboard window did not become pad 2's key (Pad1Key = ${bound:-missing})"

close_ovix || fail "VantorOvix.exe did not close cleanly (exit code $OVIX_RC)"
echo "e2e hotkeys: $presses presses of a pad's hotkey in another program's window sounded on the cable" \
  "(median $median ms, worst $worst ms); the isolation hotkey turned isolation on; a key pressed in the" \
  "soundboard window was bound to the pad listening for it"
