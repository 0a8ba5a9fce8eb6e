#!/usr/bin/env bash
# A private PulseAudio daemon with null sinks named like a real machine's:
#   "CABLE Input (VB-Audio Virtual Cable)"  the virtual cable's render side
#   "Headphones"                            the monitor output (default sink)
#   "Microphone"                            a capture source fed by the sink mic_feed
# Wine also lists the sink's monitor as a capture endpoint, "Monitor of CABLE
# Input (VB-Audio Virtual Cable)", with the sink's adapter name: the cable
# rule takes it as the cable's capture side. OVIX_RIG_CABLE=0 starts the rig
# without the cable, as a machine without the driver.
# Usage: pulse_rig.sh start DIR   starts it (state, socket and log under DIR)
#        pulse_rig.sh stop DIR    stops the daemon started for DIR, by its PID
#        pulse_rig.sh env DIR     prints the variables that reach it
# Clients reach it through PULSE_SERVER=unix:DIR/native.
set -euo pipefail
cmd=${1:?start, stop or env}
dir=${2:?state directory}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

envs() {
  echo "XDG_RUNTIME_DIR=$dir/xdg"
  echo "PULSE_RUNTIME_PATH=$dir/pulse"
  echo "PULSE_STATE_PATH=$dir/pulse"
  echo "PULSE_SERVER=unix:$dir/native"
}

stop() {
  if [ -f "$dir/pulse.pid" ]; then
    local pid
    pid=$(cat "$dir/pulse.pid")
    if kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$dir/pulse.pid"
  fi
}

case "$cmd" in
  env) envs ;;
  stop) stop ;;
  start)
    stop
    rm -f "$dir/native"
    mkdir -p "$dir/xdg" "$dir/pulse"
    chmod 700 "$dir/xdg" "$dir/pulse"
    while IFS= read -r kv; do export "${kv?}"; done < <(envs)
    unset PULSE_SERVER # the daemon itself makes the socket
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disable-shm=yes \
      --log-target=file:"$dir/pulse.log" --log-level=notice \
      -L "module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
      -L "module-always-sink" >/dev/null 2>&1 &
    echo $! >"$dir/pulse.pid"
    export PULSE_SERVER="unix:$dir/native"
    for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
    if ! pactl info >/dev/null 2>&1; then
      echo "pulse_rig: PulseAudio did not start (see $dir/pulse.log)" >&2
      stop
      exit 1
    fi
    trap stop ERR # a half-made rig is taken down again
    if [ "${OVIX_RIG_CABLE:-1}" != 0 ]; then
      pactl load-module module-null-sink sink_name=cable_input rate=48000 channels=2 \
        "sink_properties='device.description=\"CABLE Input (VB-Audio Virtual Cable)\"'" >/dev/null
    fi
    pactl load-module module-null-sink sink_name=headphones rate=48000 channels=2 \
      "sink_properties='device.description=\"Headphones\"'" >/dev/null
    pactl load-module module-null-sink sink_name=mic_feed rate=48000 channels=2 \
      "sink_properties='device.description=\"Mic Feed\"'" >/dev/null
    pactl load-module module-remap-source source_name=microphone master=mic_feed.monitor \
      "source_properties='device.description=\"Microphone\"'" >/dev/null
    pactl set-default-sink headphones
    pactl set-default-source microphone
    # OVIX_RT_PRIORITY, when set, gives every thread of the daemon real-time
    # round-robin scheduling at that priority; the daemon itself raises only
    # its device threads, yet its main thread carries the clients' audio.
    if [ -n "${OVIX_RT_PRIORITY:-}" ]; then
      chrt -a -r -p "$OVIX_RT_PRIORITY" "$(cat "$dir/pulse.pid")" >/dev/null
    fi
    trap - ERR
    ;;
  *) echo "unknown command $cmd" >&2; exit 2 ;;
esac
