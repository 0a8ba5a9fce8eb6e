# Functions to set up the rig, run VantorOvix.exe under wine and close it again, sourced by
# e2e/run.sh, scripts/run.sh and the Windows start-and-close test. Every
# process is started in the background and remembered by its PID, so that
# exactly those processes are stopped again.

# start_xvfb DIR: starts Xvfb on a free display when there is none; sets DISPLAY.
start_xvfb() {
  local dir=$1 n
  XVFB_PID=
  if [ -n "${DISPLAY:-}" ]; then return 0; fi
  for n in $(seq 91 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
  done
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  export DISPLAY=":$n"
}

stop_xvfb() {
  if [ -n "${XVFB_PID:-}" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=
  fi
}

# use_realtime: as root (unless OVIX_E2E_RT=0), OVIX_RT_PRIORITY=11 (the
# rig's daemon takes it up) and RT=(chrt -r 11), the prefix that runs a player
# or a recorder at that real-time priority; otherwise both stay empty.
use_realtime() {
  export OVIX_RT_PRIORITY=
  RT=()
  if [ "$(id -u)" -eq 0 ] && [ "${OVIX_E2E_RT:-1}" != 0 ] && command -v chrt >/dev/null; then
    OVIX_RT_PRIORITY=11
    RT=(chrt -r "$OVIX_RT_PRIORITY")
  fi
}

# start_rig RUN WORK: the PulseAudio rig under RUN/pulse with its variables
# exported, a display (start_xvfb), and wine's prefix WORK/wineprefix, made
# once. Says which step failed and returns non-zero then; stop_rig RUN stops
# what it started.
start_rig() {
  local run=$1 work=$2 rig kv
  rig=$(dirname "${BASH_SOURCE[0]}")/pulse_rig.sh
  "$rig" start "$run/pulse" || { echo "the PulseAudio rig did not start"; return 1; }
  while IFS= read -r kv; do export "${kv?}"; done < <("$rig" env "$run/pulse")
  export WINEPREFIX=$work/wineprefix WINEDEBUG=${OVIX_WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
  # A desktop session loads X resources; with none at all (a bare Xvfb),
  # Xlib reads the resource files again at every lookup, and wine looks one
  # up at every font selection. One harmless resource stands in for a session's.
  printf 'VantorOvix.rig: 1\n' >"$run/xresources"
  export XENVIRONMENT=$run/xresources
  start_xvfb "$run"
  if [ ! -d "$WINEPREFIX" ]; then
    echo "e2e: making the wine prefix (once)"
    wineboot --init >"$work/wineboot.log" 2>&1 || { echo "wineboot failed (see $work/wineboot.log)"; return 1; }
  fi
}

stop_rig() {
  stop_xvfb
  "$(dirname "${BASH_SOURCE[0]}")/pulse_rig.sh" stop "$1/pulse" >/dev/null 2>&1
}

# start_ovix EXE LOG: starts the program under wine (WINEPREFIX must be set)
# and waits until it says it runs. Returns non-zero when it does not.
start_ovix() {
  local exe=$1 log=$2
  # A session of its own: Ctrl+C in the terminal reaches the script, which
  # then closes the program in order, rather than killing wine outright.
  setsid wine "$exe" >"$log" 2>&1 &
  OVIX_PID=$!
  for _ in $(seq 600); do
    grep -q "VantorOvix: running" "$log" 2>/dev/null && return 0
    kill -0 "$OVIX_PID" 2>/dev/null || { wait "$OVIX_PID" 2>/dev/null; OVIX_PID=; return 1; }
    sleep 0.1
  done
  return 1
}

# raise_audio_threads PRIORITY: gives real-time round-robin scheduling at
# PRIORITY to the audio threads of the program started by start_ovix (its
# engine thread names itself ovix_audio; wine's PulseAudio threads are
# winepulse_*), as the system's multimedia scheduler would on Windows (wine 8
# passes no thread priority on), and one step lower to the wine server of
# $WINEPREFIX: it also serves the window, whose bursts must not hold an audio
# thread off its processor. The window's thread stays an ordinary one.
# Needs root; prints what it raised.
raise_audio_threads() {
  local priority=$1 pid task name server key
  key=$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))
  for server in $(pgrep -x wineserver64) $(pgrep -x wineserver); do
    case "$(readlink "/proc/$server/cwd")" in
      */"$key") chrt -r -p $((priority - 1)) "$server" >/dev/null && echo "raised: wineserver $server" ;;
    esac
  done
  for pid in $(pgrep -s "$OVIX_PID"); do
    for task in /proc/"$pid"/task/*; do
      name=$(cat "$task/comm" 2>/dev/null) || continue
      case "$name" in
        ovix_audio | winepulse_*) chrt -r -p "$priority" "${task##*/}" >/dev/null && echo "raised: $name ${task##*/}" ;;
      esac
    done
  done
}

# close_ovix: closes the program's window as a user would and waits for it
# to end; kills it only when it does not. Sets OVIX_RC to its exit code.
close_ovix() {
  OVIX_RC=1
  [ -n "${OVIX_PID:-}" ] || return 1
  wine taskkill /IM VantorOvix.exe >/dev/null 2>&1 || true
  for _ in $(seq 200); do kill -0 "$OVIX_PID" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$OVIX_PID" 2>/dev/null; then
    kill "$OVIX_PID" 2>/dev/null || true
  fi
  wait "$OVIX_PID" 2>/dev/null
  OVIX_RC=$?
  OVIX_PID=
  [ "$OVIX_RC" -eq 0 ]
}
