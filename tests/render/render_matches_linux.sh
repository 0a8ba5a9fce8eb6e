#!/usr/bin/env bash
# The Windows render tool, under wine, gives what the Linux one gives for the
# same input and setup (to floating-point tolerance).
#   render_matches_linux.sh WINDOWS_EXE LINUX_EXE
set -uo pipefail
win=$1 linux=$2
if [ ! -x "$linux" ]; then
  echo "no Linux render tool at $linux (build the linux-asan or linux tree first); skipped"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sox -n -r 44100 -c 1 -b 16 "$work/in.wav" synth 3 sine 180 sine 1200 remix 1-2 gain -6 fade 0.05 3 0.5 || exit 1
args=(--quiet --float --tail 1 --set preset=3 --set amount=40 --set mic_level=120)
"$linux" "${args[@]}" "$work/in.wav" "$work/linux.wav" || { echo "the Linux tool failed"; exit 1; }
wine "$win" "${args[@]}" "$(winepath -w "$work/in.wav")" "$(winepath -w "$work/win.wav")" \
  || { echo "the Windows tool failed under wine"; exit 1; }
[ -f "$work/win.wav" ] || { echo "no output from the Windows tool"; exit 1; }
lin_len=$(soxi -s "$work/linux.wav") win_len=$(soxi -s "$work/win.wav")
[ "$lin_len" = "$win_len" ] || { echo "lengths differ: $lin_len vs $win_len frames"; exit 1; }
diff=$(sox -m -v 1 "$work/linux.wav" -v -1 "$work/win.wav" -n stat 2>&1 | awk '/Maximum amplitude/ {print $3}')
echo "largest difference: $diff"
awk -v d="$diff" 'BEGIN { exit !(d < 1e-4) }'
