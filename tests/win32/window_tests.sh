#!/usr/bin/env bash
# The real program's window under wine on an Xvfb display of its own, driven
# by ovix_driver.exe (clicks at logical coordinates times the window's scale,
# keys, registry values, screen captures). One case per run:
#   window_tests.sh CASE VantorOvix.exe ovix_driver.exe WORKDIR SCREENSDIR
# WINEPREFIX names the prefix the cases share (they take turns in it); each
# case starts from no settings, with its own copy of the program in a folder
# of its own (where a portable setup file may lie beside it).
set -uo pipefail
case=${1:?case} exe=${2:?VantorOvix.exe} driver=${3:?ovix_driver.exe} work=${4:?work dir} screens=${5:?screens dir}
: "${WINEPREFIX:?a wine prefix}"
run=$work/$case
rm -rf "$run"
mkdir -p "$run/app" "$screens"
run=$(cd "$run" && pwd)
screens=$(cd "$screens" && pwd)
app=$run/app/VantorOvix.exe
cp "$exe" "$app"
source "$(dirname "$0")/../../e2e/session.sh"

# A display larger than the e2e rig's, so that scale 1.5 fits its work area.
unset DISPLAY
for n in $(seq 141 190); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
done
Xvfb ":$n" -screen 0 1600x1000x24 -nolisten tcp >"$run/xvfb.log" 2>&1 &
XVFB_PID=$!
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
export DISPLAY=":$n"

cleanup() {
  close_ovix >/dev/null 2>&1
  # Every process of this prefix is ours; none may outlive the case.
  wineserver -k >/dev/null 2>&1
  stop_xvfb
}
trap cleanup EXIT

fail() { echo "FAILED: $*"; for f in "$run"/*.log; do echo "--- $f"; grep -v "^$" "$f" | tail -n 15; done; exit 1; }
drive() { wine "$driver" "$@" 2>>"$run/driver.log" | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# Starts the program copy with arguments and waits until it runs (like
# session.sh's start_ovix, which takes no arguments); close_ovix ends it.
start_app() {
  local log=$1; shift
  setsid wine "$app" "$@" >"$log" 2>&1 &
  OVIX_PID=$!
  for _ in $(seq 600); do
    grep -q "VantorOvix: running" "$log" 2>/dev/null && return 0
    kill -0 "$OVIX_PID" 2>/dev/null || { wait "$OVIX_PID" 2>/dev/null; OVIX_PID=; return 1; }
    sleep 0.1
  done
  return 1
}

shown() { drive wait-shown 20000 >"$run/shown.txt" || fail "the window was not shown"; cat "$run/shown.txt"; }

# No settings: the next start is a first run.
wine reg delete 'HKCU\Software\VantorOvix' /f >/dev/null 2>&1

case $case in
second_instance)
  start_app "$run/first.log" || fail "the first instance did not start"
  shown
  drive minimise
  sleep 0.5
  drive restored && fail "the first window did not minimise"
  timeout 60 wine "$app" >"$run/second.log" 2>&1
  rc=$?
  [ "$rc" -eq 0 ] || fail "the second instance exited with $rc"
  grep -q "already running" "$run/second.log" || fail "the second instance did not find the first"
  grep -q "VantorOvix: running" "$run/second.log" && fail "the second instance ran a window of its own"
  for _ in $(seq 50); do drive restored && break; sleep 0.1; done
  drive restored || fail "the first window was not restored"
  close_ovix || fail "the first instance did not close cleanly (exit code $OVIX_RC)"
  ;;
install_switch)
  # With a path the installer run is all that happens (no installer's name: refused, 2).
  timeout 60 wine "$app" --install-cable 'C:\cable.exe' >"$run/installer.log" 2>&1
  rc=$?
  [ "$rc" -eq 2 ] || fail "an installer run exited with $rc, not 2"
  grep -q "VantorOvix: running" "$run/installer.log" && fail "an installer run started the program"
  # Without one the program starts as usual.
  start_app "$run/ovix.log" --install-cable || fail "\"--install-cable\" alone did not start the program"
  shown
  close_ovix || fail "the program did not close cleanly (exit code $OVIX_RC)"
  ;;
window_state)
  # A moved window's corner and the settings survive a clean close, and the
  # next start puts the window back there.
  start_app "$run/ovix.log" || fail "the program did not start"
  shown
  drive move 123 87
  drive page 2
  drive page 0
  if [ "${OVIX_PAGES_PENDING:-0}" != 1 ]; then
    # Three notches down over page 0's room list scroll it; its top row is kept.
    drive wheel ${OVIX_ROOM_LIST:-218 200} -3
  fi
  # Page 2: band 0 to its top (+12 dB), the level slider to its end (-24 dB),
  # then the equalizer off. Page 5: always on top, tooltips off, opacity to
  # its lowest (20 %). All of them are read back from the registry below.
  drive page 2
  drive place eq-band-0 0.5 0.05
  drive place eq-level 0.99 0.75
  drive place eq-switch
  drive page 5
  drive place on-top
  drive place hints
  drive place opacity 0.01 0.75
  sleep 0.2
  close_ovix || fail "the program did not close cleanly (exit code $OVIX_RC)"
  grep -q "VantorOvix: stopped" "$run/ovix.log" || fail "no orderly stop"
  [ "$(drive reg-get WinX)" = 123 ] || fail "WinX is $(drive reg-get WinX), not 123"
  [ "$(drive reg-get WinY)" = 87 ] || fail "WinY is $(drive reg-get WinY), not 87"
  [ "$(drive reg-get UiZoom)" = 100 ] || fail "UiZoom was not saved"
  # NAME WANTED [KEY]: Band0 keeps +12 dB as 24 (stored 12 up), Level 24 is -24 dB.
  while read -r name wanted key; do
    got=$(drive reg-get "$name" $key </dev/null)
    [ "$got" = "$wanted" ] || fail "registry $name is $got, not $wanted, after the clicks"
  done <<'CHECKS'
Band0 24 Equalizer
Level 24 Equalizer
Enabled 0 Equalizer
UiTop 1
UiHints 0
UiAlpha 20
CHECKS
  # wait-shown waits for the fade to reach full opacity.
  drive reg-set UiAlpha 100
  if [ "${OVIX_PAGES_PENDING:-0}" != 1 ]; then
    top=$(drive reg-get PresetTop)
    [ "${top:-0}" -ge 1 ] 2>/dev/null || fail "the room list's scroll row was not kept (PresetTop $top)"
  fi
  start_app "$run/again.log" || fail "the program did not start again"
  shown | grep -q "^window 123 87 " || fail "the window did not come back where it was: $(cat "$run/shown.txt")"
  close_ovix || fail "the second run did not close cleanly"
  ;;
first_run_setup)
  # A portable setup beside the program is imported on a first run only.
  printf '# Vantor Ovix Settings\nfont_size=13\n' >"$run/app/VantorOvix.ini"
  start_app "$run/first.log" || fail "the program did not start"
  shown
  close_ovix || fail "the first run did not close cleanly"
  [ "$(drive reg-get UiSize)" = 13 ] || fail "the portable setup was not imported (UiSize $(drive reg-get UiSize))"
  printf '# Vantor Ovix Settings\nfont_size=11\n' >"$run/app/VantorOvix.ini"
  start_app "$run/second.log" || fail "the program did not start again"
  shown
  close_ovix || fail "the second run did not close cleanly"
  [ "$(drive reg-get UiSize)" = 13 ] || fail "a later run imported the portable setup again"
  ;;
hotkey_message)
  # A hotkey's message on the main window runs its action: 206 switches the
  # noise isolation on, which the closing save writes to the registry.
  start_app "$run/ovix.log" || fail "the program did not start"
  shown
  [ "$(drive reg-get Isolation)" = 1 ] && fail "the isolation was on before the hotkey"
  drive hotkey 206 || fail "no hotkey message"
  sleep 0.5
  close_ovix || fail "the program did not close cleanly"
  [ "$(drive reg-get Isolation)" = 1 ] || fail "the hotkey did not switch the isolation on ($(drive reg-get Isolation))"
  ;;
dropdown_escape)
  # The microphone drop-down of page 0 (logical coordinates of its centre).
  dropdown="${OVIX_MIC_DROPDOWN:-218 460}"
  start_app "$run/ovix.log" || fail "the program did not start"
  shown
  drive capture "$run/closed-before.png" >/dev/null || fail "no capture"
  drive click $dropdown
  drive capture "$run/open.png" >/dev/null || fail "no capture"
  cmp -s "$run/closed-before.png" "$run/open.png" && fail "clicking the drop-down at $dropdown opened nothing"
  drive key 27
  drive capture "$run/closed.png" >/dev/null || fail "no capture"
  cmp -s "$run/open.png" "$run/closed.png" && fail "Escape did not close the drop-down"
  drive click $dropdown
  drive capture "$run/reopened.png" >/dev/null || fail "no capture"
  cmp -s "$run/open.png" "$run/reopened.png" || fail "the drop-down did not open again as before"
  close_ovix || fail "the program did not close cleanly"
  ;;
screens)
  # A filled soundboard for the Soundboard tab and window: a library of ten
  # generated sounds, pads with titles and keys, and one whose file is missing.
  mkdir -p "$run/sounds"
  names=(Airhorn "Drum roll" Applause Ding "Sad trombone" "Laugh track" Whoosh "Rimshot" "Door bell" "Crickets")
  for i in "${!names[@]}"; do
    sox -n -r 48000 -c 2 "$run/sounds/${names[$i]}.wav" synth $((i % 4 + 1)).5 sine $((300 + 90 * i)) fade 0 0 0.05 vol 0.5 \
      || fail "cannot make ${names[$i]}.wav"
  done
  board_key='HKCU\Software\VantorOvix\Soundboard'
  seed_board() {
    wine reg add "$board_key" /v Count /t REG_DWORD /d ${#names[@]} /f >/dev/null 2>&1 || fail "cannot seed the soundboard"
    for i in "${!names[@]}"; do
      wine reg add "$board_key" /v "File$i" /t REG_SZ /d "$(winepath -w "$run/sounds/${names[$i]}.wav")" /f >/dev/null 2>&1
    done
    pad() { # index file title key from to
      wine reg add "$board_key" /v "Pad$1Path" /t REG_SZ /d "$2" /f >/dev/null 2>&1
      wine reg add "$board_key" /v "Pad$1Title" /t REG_SZ /d "$3" /f >/dev/null 2>&1
      wine reg add "$board_key" /v "Pad$1Key" /t REG_DWORD /d "$4" /f >/dev/null 2>&1
      wine reg add "$board_key" /v "Pad$1From" /t REG_DWORD /d "$5" /f >/dev/null 2>&1
      wine reg add "$board_key" /v "Pad$1To" /t REG_DWORD /d "$6" /f >/dev/null 2>&1
    }
    pad 0 "$(winepath -w "$run/sounds/Airhorn.wav")" "Airhorn" $((0x20070)) 0 0
    pad 1 "$(winepath -w "$run/sounds/Drum roll.wav")" "Drum roll" $((0x20071)) 0 0
    pad 2 "$(winepath -w "$run/sounds/Applause.wav")" "Applause (short)" 0 100 500
    pad 3 "$(winepath -w "$run/sounds/Sad trombone.wav")" "Sad trombone" $((0x50074)) 0 0
    pad 5 'C:\Sounds\Missing.wav' "Missing" 0 0 0
    wine reg add "$board_key" /v StopKey /t REG_DWORD /d $((0x2007B)) /f >/dev/null 2>&1
  }
  # Every page and tab at scale 1.0 and 1.5 (DPI 96 under wine: the zoom
  # alone sets the scale). A capture of one colour is blank; once pages
  # exist, a page that draws nothing between the page tabs and the status
  # band (no heading, sub-tabs or controls) fails too.
  band="84 512"
  [ "${OVIX_PAGES_PENDING:-0}" = 1 ] && band="0 560"
  setups=$(winepath -u "$(wine cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')")/VantorOvix/setups
  for zoom in 100 150; do
    wine reg delete 'HKCU\Software\VantorOvix' /f >/dev/null 2>&1
    drive reg-set UiZoom "$zoom" || fail "cannot set UiZoom"
    # The Setups & Hotkeys tab with three saved setups and some bindings:
    # Ctrl+F1 on Record, Ctrl+Shift+F2 on the next setup, F9 on Hear myself,
    # F8 holding the glitch.
    mkdir -p "$setups" || fail "no setups folder"
    for name in "Evening Stream" "Late Night" "Podcast"; do
      printf '# Vantor Ovix Settings\namount=20\n' >"$setups/$name.ini"
    done
    drive reg-set HotRecord 131184 && drive reg-set HotNextSetup 393329 && drive reg-set HotHear 120 \
      && drive reg-set GlitchKey 119 || fail "cannot set the bindings"
    seed_board
    start_app "$run/ovix-$zoom.log" || fail "the program did not start at zoom $zoom"
    shown
    scale=$(drive scale)
    [ "$scale" = "$(awk "BEGIN{printf \"%.3f\", $zoom/100}")" ] || fail "zoom $zoom gave scale $scale"
    for page in 0 1 2 3 4 5; do
      tabs=$(drive tabs $page)
      for tab in $(seq 0 $((tabs > 0 ? tabs - 1 : 0))); do
        name=page${page}
        if [ "$tabs" -gt 0 ]; then drive page $page $tab; name=${name}_tab${tab}; else drive page $page; fi
        # The Sound Clip tab with a path in its native field, as pasted.
        if [ "$page$tab" = 40 ]; then
          drive clip-source 'C:\Users\Public\Music\Intro jingle (long version).mp3' || fail "no source field"
        fi
        # One hotkey row capturing while the tab is captured.
        [ "$page$tab" = 44 ] && drive place hotkey-row-2
        file=$screens/${name}_scale${scale%0}.png
        out=$(drive capture "$(winepath -w "$file")" $band)
        case $? in
          0) echo "$(basename "$file"): $out" ;;
          3) fail "$(basename "$file") is blank ($out)" ;;
          4) fail "page $page tab $tab draws nothing ($out)" ;;
          *) fail "cannot capture $(basename "$file")" ;;
        esac
        [ "$page$tab" = 44 ] && drive place hotkey-row-2
      done
    done
    # The Mic Tone & Vocal Lift window from the caption's Tone tool; Escape closes it.
    drive tone-open >/dev/null || fail "the Tone tool opened no window at zoom $zoom"
    file=$screens/tone_scale${scale%0}.png
    out=$(drive tone-capture "$(winepath -w "$file")")
    case $? in
      0) echo "$(basename "$file"): $out" ;;
      3) fail "$(basename "$file") is blank ($out)" ;;
      *) fail "cannot capture $(basename "$file")" ;;
    esac
    drive tone-escape || fail "Escape did not close the tone window at zoom $zoom"
    # The soundboard window from the caption's Soundboard tool, and the trim
    # dialog of its first pad once the waveform is read; Escape closes the board.
    title=$(drive board-open) || fail "the Soundboard tool opened no window at zoom $zoom"
    [ "$title" = "Vantor Soundboard (12 Pads)" ] || fail "the soundboard window's title is '$title'"
    for shot in board trim; do
      if [ $shot = trim ]; then
        drive board-select 2
        title=$(drive trim-open) || fail "Trim opened no dialog at zoom $zoom"
        [ "$title" = "Trim Sound Pad" ] || fail "the trim dialog's title is '$title'"
        sleep 1
      fi
      xdotool mousemove 0 0 # no tooltip over the window
      file=$screens/${shot}_scale${scale%0}.png
      out=$(drive $shot-capture "$(winepath -w "$file")")
      case $? in
        0) echo "$(basename "$file"): $out" ;;
        3) fail "$(basename "$file") is blank ($out)" ;;
        *) fail "cannot capture $(basename "$file")" ;;
      esac
    done
    drive trim-close || fail "the trim dialog did not close at zoom $zoom"
    drive board-escape || fail "Escape did not close the soundboard window at zoom $zoom"
    # The frame time of a full repaint, in the program's closing line.
    drive repaint 50
    close_ovix || fail "the program did not close cleanly at zoom $zoom"
    grep -h "full repaint" "$run/ovix-$zoom.log"
  done
  ;;
cable_page)
  # Page 3's cable section and page 5 on the rig, with the cable and without
  # it (pulse_rig.sh ... nocable); screenshots in SCREENSDIR/cable_*.png. The
  # section must hold still between two status passes and differ between the
  # two machines. The driver's service key is missing in the prefix: with the
  # capture side present the cable counts as ready all the same.
  rig=$(dirname "$0")/../../e2e/pulse_rig.sh
  section="436 300 424 212" # the right half of page 3's lower row: the Virtual Cable section
  trap 'cleanup; "$rig" stop "$run/pulse" >/dev/null 2>&1' EXIT
  for machine in cable nocable; do
    options=()
    [ $machine = nocable ] && options=(nocable)
    "$rig" start "$run/pulse" "${options[@]}" || fail "the PulseAudio rig did not start"
    export PULSE_SERVER=unix:$run/pulse/native
    start_app "$run/ovix-$machine.log" || fail "the program did not start ($machine)"
    shown >/dev/null
    drive page 3
    # The status worker's first pass runs at start; a pass every 3 s after it.
    sleep 4
    drive capture-part "$(winepath -w "$run/$machine.png")" $section >/dev/null || fail "no capture ($machine)"
    drive capture "$(winepath -w "$screens/cable_${machine}_page3.png")" >/dev/null || fail "no capture ($machine)"
    sleep 3.5
    drive capture-part "$(winepath -w "$run/$machine-again.png")" $section >/dev/null || fail "no capture ($machine)"
    cmp -s "$run/$machine.png" "$run/$machine-again.png" || fail "the cable section changed between passes ($machine)"
    drive page 5
    drive capture "$(winepath -w "$screens/cable_${machine}_page5.png")" >/dev/null || fail "no capture ($machine)"
    close_ovix || fail "the program did not close cleanly ($machine, exit code $OVIX_RC)"
    "$rig" stop "$run/pulse"
  done
  cmp -s "$run/cable.png" "$run/nocable.png" && fail "page 3's cable section is the same with and without the cable"
  ;;
*)
  echo "unknown case $case"; exit 2 ;;
esac
echo "$case: passed"
