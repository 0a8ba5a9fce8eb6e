#!/usr/bin/env bash
# Another program's sound under wine: the suite runs on an Xvfb display of
# its own (wine lists a program through its window: its audio sessions are
# visible only inside the process that made them) in a prefix of its own
# that reports build 19045, so that the capture gets past the version check
# to the loopback activation. The rig's PulseAudio daemon comes from the
# pulse fixture.
set -uo pipefail
exe=${1:?path to ovix_win32_app_audio_tests.exe}
dir=${2:?work directory}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
export WINEPREFIX="$dir/wineprefix"
source "$(dirname "$0")/../../e2e/session.sh"
trap stop_xvfb EXIT
start_xvfb "$dir"
if [ ! -d "$WINEPREFIX" ]; then
  wineboot --init >"$dir/wineboot.log" 2>&1
  winecfg -v win10 >>"$dir/wineboot.log" 2>&1
  key='HKLM\Software\Microsoft\Windows NT\CurrentVersion'
  wine reg add "$key" /v CurrentBuildNumber /d 19045 /f >>"$dir/wineboot.log" 2>&1
  wine reg add "$key" /v CurrentBuild /d 19045 /f >>"$dir/wineboot.log" 2>&1
  wineserver -w
fi
wine "$exe"
