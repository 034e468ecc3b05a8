#!/usr/bin/env bash
# End-to-end tests of the real vexa.exe under Wine: the real dialog manager and common controls, the real
# WinMM with the simulated unit behind it as a MIDI driver (winevexa.drv), and the dialog driven from
# outside by uiprobe.exe as a person would. The 32-bit build (build-win, what ships) runs under the 32-bit
# loader, the 64-bit one (build-win64) under wine64, each in a private prefix of its architecture (kept
# under the build directory, so reruns are fast) on an Xvfb display of its own; all of it is stopped at
# the end. Both loaders are called by their paths: /usr/bin/wine always takes the 32-bit one, even where
# the kernel cannot run it.
#
# Usage: tests/wine/run.sh <windows build dir> [flow...]     (no flow names: all flows)
#        tests/wine/run.sh --choose     prints the build to test here: build-win where the 32-bit loader
#                                       runs, else build-win64 where wine64 runs; else exit 77 and why.
#                                       VEXA_WINE_ARCH=win64 (or win32) passes over the other loader.
# Artefacts: <build dir>/tests/wine/artifacts/ (dialog.png, the unit's logs of every flow).
# VEXA_WINEDEBUG=<channels> traces vexa.exe (e.g. +msg) into the flow's vexa.out; a config line
# "trace" in a flow makes the driver log every WinMM call into events.log.
set -uo pipefail
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
loader_runs() { "$1" --version >/dev/null 2>&1; }

if [[ ${1:-} == --choose ]]; then
  if [[ ${VEXA_WINE_ARCH:-win32} == win32 ]] && loader_runs $wine32; then echo build-win; exit 0; fi
  if [[ ${VEXA_WINE_ARCH:-win64} == win64 ]] && loader_runs $wine64; then echo build-win64; exit 0; fi
  echo "wine tests: skipped, neither $wine32 nor $wine64 runs here${VEXA_WINE_ARCH:+ (VEXA_WINE_ARCH=$VEXA_WINE_ARCH)}" >&2
  exit 77
fi
[[ $# -ge 1 && -d $1 ]] || { echo "usage: $0 <windows build dir> [flow...] | --choose" >&2; exit 2; }
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
shift

exe=$build/vexa.exe
driver=$build/winevexa.drv
probe_exe=$build/uiprobe.exe
firmware=$root/res/firmware.bin
work=$build/wine
artifacts=$build/tests/wine/artifacts
# Each flow is a check of the one tally; run by scripts/test_all.sh, they count in its tally.
source "$root/scripts/tally.sh"

# Ends the run before any flow: the reason, counted as one failed check.
give_up() {
  echo "wine tests: $*"
  tally_note failed "wine"
  tally_end
  exit 1
}

for tool in wineserver Xvfb import perl; do
  command -v "$tool" >/dev/null || give_up "$tool is not installed (scripts/deps.sh test installs it)"
done
for file in "$exe" "$driver" "$probe_exe" "$firmware"; do
  [[ -f $file ]] || give_up "missing $file (build the Windows targets first)"
done
# The loader of the exe's architecture, from its PE header's machine field.
pe_header=$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')
case $(od -An -tx2 -j$((pe_header + 4)) -N2 "$exe" | tr -d ' ') in
  014c) arch=win32 loader=$wine32 kind="32-bit exe, wine" ;;
  8664) arch=win64 loader=$wine64 kind="64-bit build, wine64" ;;
  *) give_up "$exe is no x86 or x86_64 Windows program" ;;
esac
tally_title "wine ($kind)"
# The 32-bit loader needs a kernel that runs 32-bit x86 programs; some machines have that switched off
# (ia32_emulation), and then no flow can run at all: the suite is skipped, not failed.
if ! loader_runs "$loader"; then
  echo "wine tests: skipped, $loader does not run here ($("$loader" --version 2>&1 | tail -n 1))"
  tally_note skipped "wine"
  tally_end
  exit 77
fi
# Every Windows program starts through that loader, and the prefix is made for its architecture,
# whatever another Wine would make by default.
prefix=$work/prefix-$arch
export WINELOADER=$loader WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset VEXA_SIM_DIR

xvfb_pid=""
vexa_pid=""
cleanup() {
  [[ -n $vexa_pid ]] && kill -9 "$vexa_pid" 2>/dev/null
  wineserver -k 2>/dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$work" "$artifacts"
rm -rf "$work/flows" "$artifacts"/*

# The prefix: made once per Wine version, with the unit's driver as the audio driver, so that WinMM
# takes its MIDI devices from it. The driver itself is copied afresh on every run.
prepare_prefix() {
  local stamp=$prefix/.vexa-prefix version
  version="$("$loader" --version) $arch, audio driver vexa, unmanaged windows, fonts"
  if [[ ! -f $stamp || $(cat "$stamp") != "$version" ]]; then
    echo "making the Wine prefix $prefix"
    rm -rf "$prefix"
    "$loader" wineboot -i >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log"; return 1; }
    "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d vexa /f >/dev/null || return 1
    # Without a window manager Wine draws the frame and caption itself, so the screenshot shows them.
    "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null || return 1
    "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null || return 1
    # Wine's own fonts (Tahoma for "MS Shell Dlg 2", Marlett for the caption buttons) as the real
    # system has them; this Wine build does not find them in its data directory by itself.
    cp /usr/share/wine/fonts/{tahoma,tahomabd,marlett}.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null
    wineserver -w
    echo "$version" >"$stamp"
  fi
  cp "$driver" "$prefix/drive_c/windows/system32/winevexa.drv"
}

# Xvfb on a free display, which it picks itself and names once it listens.
start_display() {
  rm -f "$work/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    DISPLAY=:$(cat "$work/display" 2>/dev/null)
    [[ $DISPLAY =~ ^:[0-9]+$ ]] && export DISPLAY && return 0
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "Xvfb did not start"
  cat "$work/xvfb.log"
  return 1
}

# Steps used by the flows. Every step that fails returns non-zero, which ends its flow (set -e).

probe() {
  "$loader" "$probe_exe" "$@" || { echo "    failed: uiprobe $*"; return 1; }
}

# start_vexa NAME [config line...]: a fresh unit with that config, the program, and its dialog. The lines
# are the unit's options as vexa-sim takes them, without the dashes (sim/unit/options.h), and the driver's
# own (trace); a line that the driver refuses fails the flow.
start_vexa() {
  sim=$work/flows/$1
  shift
  mkdir -p "$sim"
  printf '%s\n' "$@" >"$sim/config"
  : >"$sim/received.log"
  VEXA_SIM_DIR=$sim WINEDEBUG=${vexa_winedebug:-${VEXA_WINEDEBUG:--all}} WINEDLLOVERRIDES="$WINEDLLOVERRIDES${extra_overrides:+;$extra_overrides}" \
    "$loader" "$exe" >"$sim/vexa.out" 2>&1 &
  vexa_pid=$!
  mark=0
  probe find 30000 >/dev/null
}

# Whether vexa.exe still runs (a zombie has ended).
running() { [[ -n $vexa_pid && $(ps -o stat= -p "$vexa_pid") == [^Z]* ]]; }

# vexa.exe ends within 15 s, with exit code 0.
expect_exit() {
  local code=0 deadline=$((SECONDS + 15))
  while running; do
    ((SECONDS < deadline)) || { echo "    vexa.exe still runs after 15 s"; return 1; }
    sleep 0.1
  done
  wait "$vexa_pid" || code=$?
  vexa_pid=""
  echo "    vexa.exe ended with exit code $code"
  [[ $code -eq 0 ]]
}

stop_leftover() {
  if running; then kill -9 "$vexa_pid" 2>/dev/null; fi
  [[ -n $vexa_pid ]] && wait "$vexa_pid" 2>/dev/null
  vexa_pid=""
}

# The config lines of the flow's unit that the driver refused, with the reason (errors.log).
refused_config() {
  [[ -n ${sim:-} && -s $sim/errors.log ]] || return 0
  echo "    the unit refused its config:"
  sed 's/^/      /' "$sim/errors.log"
  return 1
}

# The wParams of the WM_COMMAND messages that reached the dialog procedure, in hex, from Wine's +msg
# trace of vexa.exe (start_vexa with vexa_winedebug=+msg): the dialog's is the process's only ANSI
# window procedure, so its messages are the ones converted from Unicode.
dialog_commands() {
  sed -n 's/.*WINPROC_CallProcWtoA (hwnd=[0-9A-Fa-f]*,msg=WM_COMMAND,wp=\([0-9a-f]*\),.*/\1/p' "$sim/vexa.out"
}

# Lines of a file that hold a pattern (0 when none do, without failing).
count_lines() { grep -c -- "$1" "$2" || true; }

# The messages the unit received since the last check, one per line as hex bytes.
received_since_mark() { tail -n +$((mark + 1)) "$sim/received.log" | cut -d' ' -f2-; }

# expect_sent MESSAGE...: the unit receives exactly these messages next, in this order, and nothing
# more follows within half a second.
expect_sent() {
  local expected got count deadline=$((SECONDS + 10))
  expected=$(printf '%s\n' "$@")
  while got=$(received_since_mark); [[ $got != "$expected" ]]; do
    count=$(grep -c . <<<"$got" || true)
    ((SECONDS < deadline && count <= $#)) || break
    sleep 0.1
  done
  sleep 0.5
  got=$(received_since_mark)
  if [[ $got != "$expected" ]]; then
    printf '    the unit received:\n%s\n    expected:\n' "$(sed 's/^/      /' <<<"$got")"
    printf '      %s\n' "$@"
    return 1
  fi
  mark=$((mark + $#))
  if [[ $# -eq 0 ]]; then echo "    unit received nothing"; else printf '    unit received %s\n' "$@"; fi
}

# The eleven messages of the read-back burst, in their order.
BURST=("F0 2C 4D 52 7F F7" "F0 2C 4D 55 7F F7" "F0 2C 4D 53 7F F7" "F0 2C 4D 58 7F F7" "F0 2C 4D 59 7F F7"
       "F0 2C 4D 5A 7F F7" "F0 2C 4D 5B 7F F7" "F0 2C 4D 5C 7F F7" "F0 2C 4D 5D 7F F7" "F0 2C 4D 56 7F F7"
       "F0 2C 4D 10 F7")
SETTINGS_IDS=(1004 1011 1005 1024 1013 1012 1014 1026 1017 1022 1000)

connect() { probe choose 1010 vexa; }
# Connects and waits until the unit's firmware shows.
connect_running() { connect && probe wait 1001 text="Firmware 3.1"; }
# start_update NAME [config line...]: a unit in update mode, connected, its update button enabled.
start_update() {
  start_vexa "$@" update-mode
  connect
  probe wait 1001 text="vexa in update mode"
  probe wait 1006 enabled=1
}
# Closes the dialog, which ends the program with exit code 0.
close_vexa() { probe close && expect_exit; }

HELP_UPDATE='To program new firmware 3.1 you must boot vexa in update mode:\n\nStep 1:\nHold down both keys while connecting the unit to the USB port of your computer.\nStep 2:\nSelect device vexa below the picture.\nStep 3:\nPress Update firmware button.'
HELP_SETTINGS='Blank leading zero of the time code display, i.e.  1:00:00:00 instead of 01:00:00:00.\n\nBlank frames when running. Running time code will be displayed without the frame count.\n\nStationary LTC timecode (not incrementing) is used to spot an exact position. Some LTC readers may not interpret stationary time code and produce errors.\n\nMTC full messages encode the complete time into a single message. High speed, low speed or reverse timecode is output as  full message when enabled.\n\nMMC midi machine control locate cmd is an alternative method to spot a computer to a timecode position. When your DAW software does not follow to MTC full messages you can use MMC Locate instead. You have to enable MMC slave functionality in your DAW software as well.\n\nInfinite flywheel: When the timecode input signal disappears during timecode translation, the Infinite flywheel option continues re-generation until a new valid time code will be detected. The display is showing the timecode input signal.\n\nExtended LTC hold off option delays the MTC trigger start for 30 frames. This serves to get more accurate MTC triggers from tape machines with ramping start up behaviour.\n\nEnable TRVX allows controlling the vexa with MIDI control change commands. See Quorvanex Midi Control Change Protocol for more informations.\n\nMIDI Machine Control ID serves to address MMC machines individually in addition to ID 127 (broadcast). Some software interprets ID values 0..126 as 1..127.\n\nBrightness slider sets timecode display and status LED brightness.\n\nAll settings are stored non volatile.'

# The flows.

# The dialog comes up in its start state, and a WM_CLOSE right away ends the process with exit code 0.
flow_dialog() {
  start_vexa dialog
  probe check 1010 text= count=0 enabled=1
  probe check 1006 text="Update firmware" enabled=0
  for id in 1001 1003; do probe check $id text=; done
  probe check 1007 pos=0
  probe check 1022 min=0 max=126
  for id in "${SETTINGS_IDS[@]}"; do probe check "$id" enabled=0; done
  probe check 1008 focus=1 enabled=1
  close_vexa
}

# Escape and Enter change nothing; Alt+F4 closes the dialog with exit code 0.
flow_keys() {
  vexa_winedebug=+msg start_vexa keys
  connect_running
  mark=12
  probe key escape
  probe no-box 1000
  # Enter on a push button presses that button; on the slider it is the dialog's IDOK. Tab moves the
  # focus there among the enabled tab stops.
  for _ in 1 2 3 4 5 6; do
    "$loader" "$probe_exe" check 1000 focus=1 2>/dev/null && break
    probe key tab
    sleep 0.2
  done
  probe check 1000 focus=1
  for key in enter escape; do
    probe key $key
    probe no-box 1000
  done
  probe check 1001 text="Firmware 3.1"
  probe check 1000 enabled=1 pos=8
  running
  expect_sent
  probe alt-f4
  expect_exit
  # The keys did reach the dialog: IDCANCEL, IDOK, IDCANCEL.
  [[ $(dialog_commands | grep -E '^0000000[12]$' | tr '\n' ' ') == "00000002 00000001 00000002 " ]]
  echo "    the dialog got IDCANCEL, IDOK, IDCANCEL and stayed; Alt+F4 closed it"
}

# Both help buttons answer with their texts, titled "Help", in every state.
flow_help() {
  start_vexa help
  probe click 1008
  probe box-ok Help "$HELP_UPDATE"
  probe click 1009
  probe box-ok Help "$HELP_SETTINGS"
  probe no-box 500
  close_vexa
}

# Connecting reads back all ten settings, which the dialog shows and enables, and the firmware 3.1.
flow_connect() {
  vexa_winedebug=+msg start_vexa connect "set 0x52=1" "set 0x53=17" "set 0x56=9" "set 0x58=1" "set 0x5A=1" \
    "set 0x5C=1"
  connect_running
  probe check 1010 text=vexa count=1 selection=0
  for box in 1004=1 1011=0 1005=0 1012=0 1013=1 1014=0 1024=1 1026=0; do
    probe check "${box%=*}" checked="${box#*=}" enabled=1
  done
  probe check 1017 text=017 enabled=1
  probe check 1022 pos=17 enabled=1
  probe check 1000 pos=9 min=0 max=15 enabled=1
  probe check 1006 enabled=0
  # The brightness reply moves the slider; its redraw sends the position back once.
  expect_sent "${BURST[@]}" "F0 2C 4D 56 09 F7"
  # The focus leaves the port list (so its text is not shown selected), then the picture is taken.
  probe key tab
  sleep 0.5
  local x y w h
  read -r x y w h < <(probe rect | tr -d '\r')
  import -display "$DISPLAY" -window root -crop "${w}x${h}+${x}+${y}" +repage "$artifacts/dialog.png"
  echo "    screenshot $artifacts/dialog.png (${w}x${h})"
  close_vexa
  # What the port list told the dialog, in order: CBN_DROPDOWN (7) first, then with the click on the
  # entry CBN_SELENDOK (9), CBN_CLOSEUP (8) and CBN_SELCHANGE (1); focus notices (3, 4) and a cancel
  # (10) when the focus leaves do nothing.
  local codes
  codes=$(dialog_commands | sed -n 's/^00\(..\)03f2$/\1/p' | grep -v -E '^(03|04|0a)$' | tr '\n' ' ')
  echo "    the port list sent the dialog the notification codes $codes"
  [[ $codes == "07 09 08 01 " ]]
}

# set_by "ACTION" "ID STATE..." MESSAGE...: uiprobe's action on a control, the state the dialog then shows
# and the messages that reach the unit.
set_by() {
  local action state
  read -ra action <<<"$1"
  read -ra state <<<"$2"
  shift 2
  probe "${action[@]}"
  probe wait "${state[@]}"
  expect_sent "$@"
}

# Each kind of setting reaches the unit as its exact set message.
flow_settings() {
  start_vexa settings "set 0x53=17" "set 0x56=8"
  connect_running
  expect_sent "${BURST[@]}" "F0 2C 4D 56 08 F7"
  set_by "click 1026" "1026 checked=1" "F0 2C 4D 5D 01 F7"
  set_by "click 1026" "1026 checked=0" "F0 2C 4D 5D 00 F7"
  set_by "click 1005" "1005 checked=0" "F0 2C 4D 58 01 F7"
  set_by "click 1005" "1005 checked=1" "F0 2C 4D 58 00 F7"
  set_by "key right 1000" "1000 pos=9" "F0 2C 4D 56 09 F7"
  set_by "key end 1000" "1000 pos=15" "F0 2C 4D 56 0F F7"
  set_by "slider-pos 1000 7" "1000 pos=7" "F0 2C 4D 56 07 F7"
  # One click on an arrow: the position change and the release each send the ID.
  set_by "spin 1022 up" "1017 text=018" "F0 2C 4D 53 12 F7" "F0 2C 4D 53 12 F7"
  set_by "spin 1022 down" "1017 text=017" "F0 2C 4D 53 11 F7" "F0 2C 4D 53 11 F7"
  # A typed ID moves the arrows' position; it shows with three digits; one out of range is refused.
  set_by "type 1017 126" "1022 pos=126" "F0 2C 4D 53 7E F7"
  set_by "type 1017 5" "1017 text=005" "F0 2C 4D 53 05 F7"
  set_by "type 1017 200" "1017 text=005" "F0 2C 4D 53 05 F7"
  close_vexa
}

# Without any MIDI device (the driver disabled, so WinMM finds none) opening the list warns and lists
# only the warning; choosing it opens nothing.
flow_no_outputs() {
  extra_overrides="winevexa.drv=d" start_vexa no-outputs
  probe dropdown 1010
  probe box-ok Warning "No MIDI outputs available"
  probe wait 1010 count=1
  probe pick 1010 "No MIDI outputs available"
  probe wait 1001 text="vexa not found" -t 3000
  probe check 1010 count=0
  close_vexa
}

# The unit goes away: the next tick shows "vexa not found", greys every setting and empties the list.
# Its port cannot be opened again until it is back; then the settings come back with a new choice.
flow_unplug() {
  start_vexa unplug "trace"
  connect_running
  probe check 1004 enabled=1
  touch "$sim/unplug"
  # The text comes first; the probe may read it while the controls are still being greyed.
  probe wait 1001 text="vexa not found" -t 3000
  for id in 1006 "${SETTINGS_IDS[@]}"; do probe wait "$id" enabled=0; done
  probe wait 1010 count=0 text=
  # The probe that found the unit gone was midiInStart answering MMSYSERR_NODRIVER (6).
  grep -q 'mid 0 60 0 0 -> 6$' "$sim/events.log"
  probe choose 1010 vexa
  probe box-ok Warning 'Selected MIDI output not available.\nPort is probably used by an other application.'
  rm "$sim/unplug"
  connect_running
  for id in "${SETTINGS_IDS[@]}"; do probe wait "$id" enabled=1 -t 3000; done
  close_vexa
}

# Choosing the port again and again while the unit's slow replies and its running time code (100
# quarter frames a second) come in: every close meets deliveries on the driver's thread. Nothing
# hangs, and the last choice connects.
flow_reconnect() {
  start_vexa reconnect "latency-ms 300" "noise 2" "timecode 01:00:00:00 25"
  for _ in 1 2 3 4 5; do connect; done
  probe wait 1001 text="Firmware 3.1"
  for id in "${SETTINGS_IDS[@]}"; do probe wait "$id" enabled=1 -t 3000; done
  local frames replies
  frames=$(count_lines ' F1 ' "$sim/replies.log")
  replies=$(count_lines ' F0 2C 4D ' "$sim/replies.log")
  echo "    $frames quarter frames and $replies replies came in over five connections"
  ((frames > 100))
  close_vexa
}

# A unit in update mode is written to the end: "Programming successful", the unit holds the image's
# packets byte for byte, and the dialog returns to its unconnected state.
upload_flow() {
  local latency_ms=$1 name=upload-$1ms
  start_update "$name" "firmware 3.0" "latency-ms $latency_ms"
  local started=$(date +%s%N)
  probe click 1006
  probe wait 1003 text=Writing -t 30000
  probe check 1010 enabled=0
  probe check 1006 enabled=0
  # The bar follows the packets; after the last one it is left for the 2 s wait, when the dialog
  # thread sleeps and cannot be asked for its position.
  probe wait 1007 "pos>=50" -t 240000
  probe wait 1003 text="Programming successful" -t 240000
  local ended=$(date +%s%N)
  probe wait 1003 "text= " -t 5000
  probe check 1007 pos=0
  probe check 1010 enabled=1
  probe check 1006 enabled=0
  probe wait 1001 text="vexa not found" -t 3000

  perl -e 'local $/; open(my $f, "<:raw", $ARGV[0]) or die; my $d = <$f>; $d = substr($d, 55);
           $d =~ s/\xFF.*//s; print join("", $d =~ /(\xF0[^\xF7]*\xF7)/g);' "$firmware" >"$sim/expected.bin"
  cmp "$sim/expected.bin" "$sim/image.bin"
  local packets
  packets=$(count_lines ' F0 2C 4D 30 ' "$sim/received.log")
  echo "    image at the unit equals the $packets packets of firmware.bin ($(stat -c %s "$sim/image.bin") bytes)"
  [[ $packets -eq 2488 ]]
  # The time from the click to "Programming successful", and at the unit from the status query that
  # opens the upload to the finish answer.
  awk -v head="upload at $latency_ms ms latency: $(((ended - started) / 1000000)) ms" '
    NR > 11 && / F0 2C 4D 10 F7$/ && !start { start = $1 }
    / F0 2C 4D 30 / { if (!first) first = $1; last = $1 }
    / F0 2C 4D 50 F7$/ { finish = $1 }
    END { printf "%s; %.2f s at the unit, writing %.2f s = %.2f ms per packet\n", head, (finish - start) / 1000,
          (last - first) / 1000, (last - first) / 2487 }' "$sim/received.log" | tee -a "$artifacts/timings.txt"
  close_vexa
}
flow_upload_0ms() { upload_flow 0; }
flow_upload_2ms() { upload_flow 2; }

# expect_failed STATUS: the upload, started now, ends with STATUS and "Programming failed"; the program
# then closes itself with exit code 0.
expect_failed() {
  probe click 1006
  echo "    message box: $(probe box 30000)"
  probe check 1003 text="$1"
  probe box-ok Warning "Programming failed"
  expect_exit
}

# Three NAKs for one packet end the upload with "Checksum error".
flow_upload_nak() {
  start_update upload-nak "latency-ms 0" "packet-script 5 NNN"
  expect_failed "Checksum error"
  local sixth="F0 2C 4D 30 00 00 05"
  [[ $(count_lines " $sixth " "$sim/received.log") -eq 3 ]]
  tail -n 1 "$sim/received.log" | grep -q " $sixth "
  echo "    packet 5 sent three times, nothing after it"
}

# Closing the dialog during an upload ends the program with exit code 0; the unit is not finished.
flow_upload_close() {
  start_update upload-close "latency-ms 2"
  probe click 1006
  probe wait 1003 text=Writing -t 30000
  probe wait 1007 "pos>=5" -t 30000
  close_vexa
  local packets
  packets=$(count_lines ' F0 2C 4D 30 ' "$sim/received.log")
  echo "    $packets packets were written before the close"
  ((packets < 2488))
  [[ $(count_lines ' F0 2C 4D 50 F7$' "$sim/received.log") -eq 0 ]]
}

# The unit is unplugged in the middle of the upload: the next send answers MMSYSERR_NODRIVER through
# WinMM, the program closes both ports, the packet waits run out: "Timeout error".
flow_upload_unplug() {
  start_update upload-unplug "latency-ms 0" "unplug-after 100" "trace"
  expect_failed "Timeout error"
  # After the unplug: one more send, refused with 6, then the ports were closed (input first).
  grep -q 'mod 0 8 .* -> 6$' "$sim/events.log"
  sed -n '/mod 0 8 .* -> 6$/,$p' "$sim/events.log" | grep -E ' (mid 0 56|mod 0 4) ' | head -n 2 | grep -q 'mid 0 56'
  echo "    the send after the unplug answered MMSYSERR_NODRIVER; the ports were closed"
}

ALL_FLOWS=(dialog keys help connect settings no_outputs unplug reconnect upload_0ms upload_2ms upload_nak
           upload_unplug upload_close)

# One flow in a subshell of its own: its first failing step ends it.
run_flow() {
  (
    set -eE
    trap '[[ $BASH_COMMAND == "return 1" ]] || echo "    failed at line $LINENO: $BASH_COMMAND"' ERR
    trap 'stop_leftover; refused_config || true' EXIT
    "flow_$1"
    refused_config >/dev/null
  )
}

flows=("$@")
[[ ${#flows[@]} -gt 0 ]] || flows=("${ALL_FLOWS[@]}")
for flow in "${flows[@]}"; do
  declare -F "flow_$flow" >/dev/null || give_up "no flow $flow (flows: ${ALL_FLOWS[*]})"
done

started=$SECONDS
prepare_prefix || give_up "cannot make the Wine prefix"
start_display || give_up "cannot start Xvfb"
echo "Wine $("$loader" --version), prefix $prefix, display $DISPLAY ($((SECONDS - started)) s to set up)"
for flow in "${flows[@]}"; do tally_run "wine $flow" run_flow "$flow"; done
cp -r "$work/flows" "$artifacts/" 2>/dev/null
echo "wine tests took $((SECONDS - started)) s"
tally_end
