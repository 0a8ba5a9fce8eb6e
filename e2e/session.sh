# Functions to run VantorOvix.exe under wine and close it again, sourced by
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

# start_ovix EXE LOG: starts the program under wine (WINEPREFIX must be set)
# and waits until it says it runs. Returns non-zero when it does not.
# OVIX_RT_PRIORITY, when set, runs wine (and the server it starts) with
# real-time round-robin scheduling at that priority.
start_ovix() {
  local exe=$1 log=$2
  # A session of its own: Ctrl+C in the terminal reaches the script, which
  # then closes the program in order, rather than killing wine outright.
  if [ -n "${OVIX_RT_PRIORITY:-}" ]; then
    setsid chrt -r "$OVIX_RT_PRIORITY" wine "$exe" >"$log" 2>&1 &
  else
    setsid wine "$exe" >"$log" 2>&1 &
  fi
  OVIX_PID=$!
  for _ in $(seq 600); do
    grep -q "VantorOvix: running" "$log" 2>/dev/null && return 0
    kill -0 "$OVIX_PID" 2>/dev/null || { wait "$OVIX_PID" 2>/dev/null; OVIX_PID=; return 1; }
    sleep 0.1
  done
  return 1
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
