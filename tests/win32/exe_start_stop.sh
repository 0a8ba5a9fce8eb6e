#!/usr/bin/env bash
# VantorOvix.exe starts, runs until its window is closed, and then ends
# cleanly with exit code 0. Uses a wine prefix of its own under the work
# directory: a wine server that other tests started without a display could
# not give it a window. Starts its own Xvfb when there is no display.
set -uo pipefail
exe=${1:?path to VantorOvix.exe}
dir=${2:?work directory}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
export WINEPREFIX="$dir/wineprefix"
source "$(dirname "$0")/../../e2e/session.sh"
trap 'close_ovix >/dev/null 2>&1; stop_xvfb' EXIT
start_xvfb "$dir"
[ -d "$WINEPREFIX" ] || wineboot --init >"$dir/wineboot.log" 2>&1
if ! start_ovix "$exe" "$dir/ovix.log"; then
  echo "VantorOvix.exe did not start:"; cat "$dir/ovix.log"; exit 1
fi
if ! close_ovix; then
  echo "VantorOvix.exe did not close cleanly (exit code $OVIX_RC):"; cat "$dir/ovix.log"; exit 1
fi
grep -q "VantorOvix: stopped" "$dir/ovix.log" || { echo "no orderly stop:"; cat "$dir/ovix.log"; exit 1; }
cat "$dir/ovix.log" | grep VantorOvix
