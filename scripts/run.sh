#!/usr/bin/env bash
# Builds VantorOvix.exe when needed and starts it. On Linux it runs under
# wine; when no audio server is running it starts a private PulseAudio daemon
# whose null sink "CABLE Input" and the source "CABLE Output" fed by it stand
# in for the virtual cable's two sides (with a "Headphones" sink and a
# "Microphone" source fed by the sink mic_feed), and Xvfb when there is no
# display. Stop it with Ctrl+C.
#   scripts/run.sh
#   scripts/run.sh --no-cable   a private daemon without the cable (even when
#                               an audio server runs): a machine without it
#   OVIX_BUILD_DIR=build/other scripts/run.sh   use another Windows build tree
set -uo pipefail
rig_options=()
no_cable=0
if [ "${1:-}" = --no-cable ]; then
  rig_options=(nocable)
  no_cable=1
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OVIX_BUILD_DIR:-$root/build/windows}
case "$build" in /*) ;; *) build=$root/$build ;; esac
exe=$build/VantorOvix.exe

echo "== building VantorOvix.exe"
if [ ! -f "$build/CMakeCache.txt" ]; then
  if [ "$build" = "$root/build/windows" ]; then
    (cd "$root" && cmake --preset windows >/dev/null) || exit 1
  else
    echo "no build tree at $build"; exit 1
  fi
fi
cmake --build "$build" --target VantorOvix >/dev/null || { echo "build failed"; exit 1; }

case "$(uname -s)" in
  MINGW* | MSYS* | CYGWIN*) exec "$exe" ;;
esac

source "$root/e2e/session.sh"
state=$root/build/run
mkdir -p "$state"
own_pulse=0
cleanup() {
  close_ovix >/dev/null 2>&1
  stop_xvfb
  [ "$own_pulse" -eq 1 ] && "$root/e2e/pulse_rig.sh" stop "$state/pulse" >/dev/null 2>&1
}
trap cleanup EXIT
trap 'echo; echo "== closing"; exit 0' INT TERM

if [ "$no_cable" -eq 1 ] || ! pactl info >/dev/null 2>&1; then
  if [ "$no_cable" -eq 1 ]; then
    echo "== starting a private PulseAudio without the cable"
  else
    echo "== no audio server running: starting a private PulseAudio with the cable's \"CABLE Input\" and \"CABLE Output\""
  fi
  "$root/e2e/pulse_rig.sh" start "$state/pulse" "${rig_options[@]}" || exit 1
  own_pulse=1
  while IFS= read -r kv; do export "${kv?}"; done < <("$root/e2e/pulse_rig.sh" env "$state/pulse")
fi
start_xvfb "$state"
export WINEPREFIX=${WINEPREFIX:-$state/wineprefix} WINEDEBUG=${WINEDEBUG:--all}
if [ ! -d "$WINEPREFIX" ]; then
  echo "== making the wine prefix $WINEPREFIX (once)"
  wineboot --init >"$state/wineboot.log" 2>&1
fi

cable=$(pactl list short sinks | awk '{print $2}' | grep -i -m1 cable || true)
start_ovix "$exe" "$state/ovix.log" || { cat "$state/ovix.log"; exit 1; }
grep VantorOvix "$state/ovix.log"
echo
if [ -n "$cable" ]; then
  echo "The processed voice is written to the sink \"$cable\". Hear it with"
  echo "    pacat -r -d $cable.monitor | pacat -p"
  echo "or record it with"
  echo "    parec -d $cable.monitor --file-format=wav voice.wav"
else
  echo "No \"CABLE Input\" sink on this audio server: the voice goes only to the speaker."
  echo "Add one with: pactl load-module module-null-sink sink_name=cable_input sink_properties=device.description=CABLE_Input"
fi
if [ "$own_pulse" -eq 1 ]; then
  echo "Speak into the program by playing a file into the microphone feed:"
  echo "    paplay -d mic_feed speech.wav"
  echo "(these commands need PULSE_SERVER=$PULSE_SERVER)"
fi
echo "Press Ctrl+C to stop."
wait "$OVIX_PID"
OVIX_PID=
