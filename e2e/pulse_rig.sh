#!/usr/bin/env bash
# A private PulseAudio daemon with null sinks named like a real machine's:
#   "CABLE Input"                           the virtual cable's render side
#   "CABLE Output (VB-Audio Virtual Cable)" its capture side: what reaches the
#                                           render side, as a microphone
#   "Headphones"                            the monitor output (default sink)
#   "Microphone"                            a capture source fed by the sink mic_feed
# Usage: pulse_rig.sh start DIR   starts it (state, socket and log under DIR)
#        pulse_rig.sh start DIR nocable   the same without either cable side:
#                                 a machine where the cable is not installed
#        pulse_rig.sh stop DIR    stops the daemon started for DIR, by its PID
#        pulse_rig.sh env DIR     prints the variables that reach it
# Clients reach it through PULSE_SERVER=unix:DIR/native. The daemon's log,
# DIR/pulse.log, carries times; OVIX_PULSE_LOG_LEVEL=debug adds each client
# stream's underruns ("Implicit underrun of 'audio stream #2'"), which line
# up with the dropouts the end-to-end run finds in the cable.
set -euo pipefail
cmd=${1:?start, stop or env}
dir=${2:?state directory}
cable=yes
[ "${3:-}" = nocable ] && cable=no
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
      --log-target=file:"$dir/pulse.log" --log-level=${OVIX_PULSE_LOG_LEVEL:-notice} --log-time=yes \
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
    if [ "$cable" = yes ]; then
      # The render side's name alone: wine lists the sink's monitor as a capture
      # endpoint too, "Monitor of" the description, and with the adapter's name
      # in it the monitor would pass for the cable's capture side.
      pactl load-module module-null-sink sink_name=cable_input rate=48000 channels=2 \
        "sink_properties='device.description=\"CABLE Input\"'" >/dev/null
      pactl load-module module-remap-source source_name=cable_output master=cable_input.monitor \
        "source_properties='device.description=\"CABLE Output (VB-Audio Virtual Cable)\"'" >/dev/null
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
