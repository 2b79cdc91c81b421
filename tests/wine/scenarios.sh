#!/usr/bin/env bash
# fwupgrade.exe under Wine, operated and read through probe.exe the way an
# operator would. Run by scripts/wine-tests inside Xvfb with a booted prefix:
#   FWUP_WINE       the 64-bit Wine loader      FWUP_EXE_DIR    fwupgrade.exe, veltport.dll
#   FWUP_TOOLS      probe.exe, incomplete/veltport.dll
#   FWUP_WORK       scratch folder               FWUP_ARTIFACTS  screenshots kept
#   FWUP_RESULTS    "PASS|FAIL wine NAME" lines are appended here
#   FWUP_EXAMPLES   the example image
#   FWUP_PROBE_TIME_SCALE  N: every wait N times as long (a slower machine)
# Each case is a function case_NAME (scripts/wine-tests counts them); set
# FWUP_WINE_ONLY to a pattern to run only the cases whose NAME matches it.
set -uo pipefail

UPGRADE_TITLE="F/W Upgrade Utility for Windows 95/98 (V1.06)"
DEMO_TITLE="Download Demo Utility for Windows 95/98 (V1.01)"
BOX_CAPTION="F/W Upgrade Utility for Windows 95/98"
# On a virtual machine the title says so; the real window's stays as it is.
VM_UPGRADE_TITLE="[Virtual printer] $UPGRADE_TITLE"
VM_DEMO_TITLE="[Virtual printer] $DEMO_TITLE"

case_name="" case_dir="" case_failed=0 app_pid=""

wine() { "$FWUP_WINE" "$@"; }

# Once the program has ended where it should not have, the rest of the case
# is pointless: later probes fail at once instead of waiting for the window.
# (A file, since probes also run in subshells.)
ended_early() { [ -e "$case_dir/.over" ]; }
probe() {
  ! ended_early || return 1
  # The probe's own waits are bounded; this bounds a Wine process that never
  # starts, so a hang fails its step instead of the whole run.
  local limit=$((60 * ${FWUP_PROBE_TIME_SCALE:-1}))
  timeout -k 5 "$limit" "$FWUP_WINE" "$FWUP_TOOLS/probe.exe" "$@"
  local status=$?
  [ "$status" -ne 124 ] || echo "probe $1 did not end within $limit s" >&2
  if [ "$status" -ne 0 ] && [ -n "$app_pid" ] && ! kill -0 "$app_pid" 2>/dev/null; then
    echo "probe $1 \"$2\"" >"$case_dir/.over"
  fi
  return "$status"
}

begin() {
  case_name=$1
  case_failed=0
  app_pid=""
  case_dir=$FWUP_WORK/$1
  rm -rf "$case_dir"
  mkdir -p "$case_dir"
  # The program is installed with its library: Windows 98, the NT 5 family
  # and NT 6 and later load it at start.
  cp "$FWUP_EXE_DIR/fwupgrade.exe" "$FWUP_EXE_DIR/veltport.dll" "$case_dir/"
  echo "-- $case_name"
}

fail() {
  case_failed=1
  ended_early || echo "  FAIL: $*"
}

# check WHAT COMMAND...: the command has to succeed.
check() {
  local what=$1 out
  shift
  if ! out=$("$@" 2>&1); then
    fail "$what"
    ended_early || [ -z "$out" ] || printf '%s\n' "$out" | sed 's/^/      /'
  fi
}

# start [VAR=value...]: fwupgrade.exe in the case's folder, as its current directory.
start() {
  (cd "$case_dir" && exec env "$@" timeout $((180 * ${FWUP_PROBE_TIME_SCALE:-1})) "$FWUP_WINE" fwupgrade.exe) \
    >"$case_dir/app.log" 2>&1 &
  app_pid=$!
}

# finish [SECONDS]: the program has to end by itself, with status 0. (Scaled
# like the probe's waits by FWUP_PROBE_TIME_SCALE.)
finish() {
  local limit=$((${1:-15} * ${FWUP_PROBE_TIME_SCALE:-1})) waited=0 status
  while kill -0 "$app_pid" 2>/dev/null && [ "$waited" -lt $((limit * 10)) ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  if kill -0 "$app_pid" 2>/dev/null; then
    fail "fwupgrade.exe still runs after ${limit}s"
    kill "$app_pid" 2>/dev/null
  fi
  wait "$app_pid"
  status=$?
  app_pid=""
  [ "$status" -eq 0 ] || fail "fwupgrade.exe ended with status $status"
}

end() {
  if ended_early; then
    echo "  FAIL: fwupgrade.exe ended early, at: $(cat "$case_dir/.over")"
    case_failed=1
  fi
  if [ -n "$app_pid" ]; then
    fail "fwupgrade.exe was left running"
    kill "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
  fi
  if [ "$case_failed" -eq 0 ]; then
    echo "PASS wine $case_name" >>"$FWUP_RESULTS"
    echo "  PASS"
  else
    echo "FAIL wine $case_name" >>"$FWUP_RESULTS"
  fi
}

# A window's listing without the style words (the template's styles are
# checked in the resources; the system adds its own at run time).
# A program that took long to start (an emulated machine loading the library)
# counts as not answering for a moment after its window appears: a listing
# with "<no answer>" in it is asked for again, a few times.
listing() {
  local shown tries=0
  while :; do
    shown=$(probe dump "$@" | tr -d '\r' | sed 's/ style=0x[0-9a-f]*//')
    [[ "$shown" == *'text="<no answer>"'* ]] && [ $tries -lt 3 ] && ! ended_early || break
    tries=$((tries + 1))
    sleep 1
  done
  printf '%s\n' "$shown"
}

# expect_listing TITLE < EXPECTED: the whole window, control by control.
expect_listing() {
  local expected shown
  expected=$(cat)
  shown=$(listing "$1")
  [ "$shown" = "$expected" ] || fail "window \"$1\" differs:$(diff <(printf '%s\n' "$expected") <(printf '%s\n' "$shown") | sed 's/^/\n      /')"
}

# expect_control TITLE ID 'text="..." enabled=N visible=N': one control's line.
expect_control() {
  local line
  line=$(listing "$1" | grep "^control id=$2 ")
  line=${line#control id=$2 class=* }
  [ "${line%% range=*}" = "$3" ] || fail "control $2 of \"$1\": wanted [$3], shows [$line]"
}

# expect_progress TITLE 'visible=N range=A..B pos=P'
expect_progress() {
  local line
  line=$(listing "$1" | grep '^control id=1009 ')
  [[ "$line" == *"$2"* ]] || fail "progress bar: wanted [$2], shows [$line]"
}

# expect_box CAPTION TEXT ICON OWNER: a message box as the operator sees it.
expect_box() {
  local shown
  shown=$(listing "$1")
  [[ "$shown" == *"owner=$4 "* ]] || fail "box \"$1\": owner is not $4: $(head -1 <<<"$shown")"
  grep -qF "text=\"$2\" " <<<"$shown" || fail "box \"$1\": no text \"$2\" in:$(sed 's/^/\n      /' <<<"$shown")"
  grep -q "icon=$3\$" <<<"$shown" || fail "box \"$1\": icon is not $3: $(grep icon= <<<"$shown")"
}

no_window() { probe wait-gone "$1" 0; }

set_windows_version() {
  if [ -n "$1" ]; then
    wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d "$1" /f >/dev/null 2>&1
  else
    wine reg delete 'HKCU\Software\Wine' /v Version /f >/dev/null 2>&1
  fi
}

settings() {  # settings MODEL FILE VERSION ESC LPT DEMO
  printf '[Download]\r\nModel=%s\r\n\r\n[%s]\r\nFW_File=%s\r\nFile_Ver=%s\r\nESC=%s\r\nLPT=%s\r\nDemo=%s\r\n' \
    "$1" "$1" "$2" "$3" "$4" "$5" "$6" >"$case_dir/FWINFO.INI"
}

usb_machine() {  # usb_machine CLOCK [extra printer lines...]
  local clock=$1
  shift
  {
    printf '[Machine]\nPlatform=2\nMajor=5\nMinor=0\nLibrary=present\nClock=%s\n\n' "$clock"
    printf '[Printer]\nPort=USB\nDeviceID=MFG:Virtual;CMD:PJL;MODEL:VP-1000;CLS:PRINTER;\nVersion=100\n'
    printf 'ReceivedImage=received.bin\nTranscript=transcript.txt\n'
    printf '%s\n' "$@"
  } >"$case_dir/machine.ini"
}

image() { head -c "$1" /dev/urandom >"$case_dir/$2"; }

# ----------------------------------------------------------------------------
case_no_settings() {
  begin no-settings
  start
  expect_listing "$UPGRADE_TITLE" <<'LISTING'
window title="F/W Upgrade Utility for Windows 95/98 (V1.06)" class=#32770 owner=none enabled=1 visible=1
control id=1001 class=Button text="Exit" enabled=1 visible=1
control id=1000 class=Button text="Upgrade Now" enabled=0 visible=1
control id=1002 class=Button text="Verify Information" enabled=1 visible=1
control id=-1 class=Static text="Model Name:" enabled=1 visible=1
control id=1003 class=Static text="Unknown" enabled=1 visible=1
control id=-1 class=Static text="F/W File:" enabled=1 visible=1
control id=1004 class=Static text="Unknown" enabled=1 visible=1
control id=-1 class=Static text="File Version:" enabled=1 visible=1
control id=1005 class=Static text="1.00" enabled=1 visible=1
control id=-1 class=Static text="F/W Version:" enabled=1 visible=1
control id=1006 class=Static text="..." enabled=1 visible=1
control id=1008 class=Static text="" enabled=1 visible=1
control id=-1 class=Button text="" enabled=1 visible=1
control id=1009 class=msctls_progress32 text="" enabled=1 visible=0 range=0..100 pos=0
LISTING
  check "screenshot" probe screenshot "$UPGRADE_TITLE" "$FWUP_ARTIFACTS/wine-dialog-start.png"
  check "Exit" probe click "$UPGRADE_TITLE" 1001
  finish
  end
}

case_settings_and_escape() {
  begin settings-and-escape
  settings VP-1000 firmware-1.06.bin 106 0 1 0
  start
  expect_control "$UPGRADE_TITLE" 1003 'text="VP-1000" enabled=1 visible=1'
  expect_control "$UPGRADE_TITLE" 1004 'text="firmware-1.06.bin" enabled=1 visible=1'
  expect_control "$UPGRADE_TITLE" 1005 'text="1.06" enabled=1 visible=1'
  expect_control "$UPGRADE_TITLE" 1000 'text="Upgrade Now" enabled=0 visible=1'
  check "Escape" probe key "$UPGRADE_TITLE" escape
  finish
  end
}

case_demo_and_close_box() {
  begin demo-and-close-box
  settings VP-1000 demo.prn 101 0 1 1
  start
  expect_control "$DEMO_TITLE" 1000 'text="Download Now" enabled=0 visible=1'
  expect_control "$DEMO_TITLE" 1005 'text="1.01" enabled=1 visible=1'
  check "no upgrade title in demo mode" no_window "$UPGRADE_TITLE"
  check "close box" probe close "$DEMO_TITLE"
  finish
  end
}

case_lpt0_verify() {
  begin lpt0-verify
  settings VP-1000 firmware-1.06.bin 106 0 0 0
  start
  check "Verify" probe click "$UPGRADE_TITLE" 1002
  check "status" probe wait-text "$UPGRADE_TITLE" 1008 "Failed to open LPT port"
  expect_control "$UPGRADE_TITLE" 1006 'text="..." enabled=1 visible=1'
  expect_control "$UPGRADE_TITLE" 1000 'text="Upgrade Now" enabled=0 visible=1'
  check "Exit" probe click "$UPGRADE_TITLE" 1001
  finish
  end
}

# The real port adapter: LPT1 is a pseudo-terminal, which opens and takes the
# comm time-outs but knows no device-ID request.
case_lpt1_without_device_id() {
  begin lpt1-without-device-id
  # A fresh prefix's answer (Windows 7): the USB port library is loaded and
  # finds no printer, so the verify goes on over LPT1.
  set_windows_version ""
  settings VP-1000 firmware-1.06.bin 106 0 1 0
  # A pseudo-terminal pair whose master stays open while the case runs.
  coproc PTY { exec python3 -c 'import os, pty, time; m, s = pty.openpty(); print(os.ttyname(s), flush=True); time.sleep(600)'; }
  local pty_path="" holder=$PTY_PID
  read -r pty_path <&"${PTY[0]}"
  [ -n "$pty_path" ] || fail "no pseudo-terminal"
  local lpt1=$WINEPREFIX/dosdevices/lpt1
  rm -f "$lpt1"
  ln -s "$pty_path" "$lpt1"
  start
  check "Verify" probe click "$UPGRADE_TITLE" 1002
  check "status" probe wait-text "$UPGRADE_TITLE" 1008 "Device not responding..."
  check "Exit" probe click "$UPGRADE_TITLE" 1001
  finish
  rm -f "$lpt1"
  kill "$holder" 2>/dev/null
  wait "$holder" 2>/dev/null
  set_windows_version ""
  end
}

case_win2000_without_library() {
  begin win2000-without-library
  rm -f "$case_dir/veltport.dll"
  set_windows_version win2k
  start
  expect_box "$BOX_CAPTION" "Can't find 'veltport.dll' file" error none
  check "the dialog does not appear" no_window "$UPGRADE_TITLE"
  check "OK" probe click "$BOX_CAPTION" 1
  finish
  set_windows_version ""
  end
}

case_win2000_incomplete_library() {
  begin win2000-incomplete-library
  set_windows_version win2k
  cp "$FWUP_TOOLS/incomplete/veltport.dll" "$case_dir/"
  start
  expect_box "$BOX_CAPTION" "Function inport failed from'veltport.dll' file" error none
  check "OK" probe click "$BOX_CAPTION" 1
  finish
  set_windows_version ""
  end
}

# The real USB port library, loaded and asked: no USB printer under Wine, so
# the verify goes on over LPT1, which does not exist.
case_win2000_with_library() {
  begin win2000-with-library
  set_windows_version win2k
  cp "$FWUP_EXE_DIR/veltport.dll" "$case_dir/"
  settings VP-1000 firmware-1.06.bin 106 0 1 0
  start
  expect_control "$UPGRADE_TITLE" 1003 'text="VP-1000" enabled=1 visible=1'
  check "no message box" no_window "$BOX_CAPTION"
  check "Verify" probe click "$UPGRADE_TITLE" 1002
  check "status" probe wait-text "$UPGRADE_TITLE" 1008 "Failed to open LPT port"
  check "Exit" probe click "$UPGRADE_TITLE" 1001
  finish
  set_windows_version ""
  end
}

# Windows 98 loads the library too, and misses it the same way.
case_win98_without_library() {
  begin win98-without-library
  rm -f "$case_dir/veltport.dll"
  set_windows_version win98
  start
  expect_box "$BOX_CAPTION" "Can't find 'veltport.dll' file" error none
  check "OK" probe click "$BOX_CAPTION" 1
  finish
  set_windows_version ""
  end
}

# NT 6 and later (Wine's own answer) load the library too, and miss it the same way.
case_win10_without_library() {
  begin win10-without-library
  rm -f "$case_dir/veltport.dll"
  start
  expect_box "$BOX_CAPTION" "Can't find 'veltport.dll' file" error none
  check "OK" probe click "$BOX_CAPTION" 1
  finish
  end
}

# Windows XP (5.1) is of the Windows 2000 class: the library is loaded and asked.
case_winxp_with_library() {
  begin winxp-with-library
  set_windows_version winxp
  cp "$FWUP_EXE_DIR/veltport.dll" "$case_dir/"
  settings VP-1000 firmware-1.06.bin 106 0 1 0
  start
  check "no message box" no_window "$BOX_CAPTION"
  check "Verify" probe click "$UPGRADE_TITLE" 1002
  check "status" probe wait-text "$UPGRADE_TITLE" 1008 "Failed to open LPT port"
  check "Exit" probe click "$UPGRADE_TITLE" 1001
  finish
  set_windows_version ""
  end
}

# A whole upgrade over USB on a virtual Windows 2000 with a virtual clock.
case_virtual_usb_upgrade() {
  begin virtual-usb-upgrade
  set_windows_version win2k
  settings VP-1000 firmware.bin 106 0 1 0
  cp "$FWUP_EXAMPLES/firmware-1.06.bin" "$case_dir/firmware.bin"
  usb_machine virtual
  start FWUPGRADE_VIRTUAL_PRINTER=machine.ini
  check "Verify" probe click "$VM_UPGRADE_TITLE" 1002
  check "verified" probe wait-text "$VM_UPGRADE_TITLE" 1008 "Ready to upgrade..."
  expect_control "$VM_UPGRADE_TITLE" 1006 'text="1.00" enabled=1 visible=1'
  expect_control "$VM_UPGRADE_TITLE" 1000 'text="Upgrade Now" enabled=1 visible=1'
  check "Upgrade Now" probe click "$VM_UPGRADE_TITLE" 1000
  expect_box "Confirm upgrade" \
    'If upgrade to new firmware code, all configuration values are reset by default.\nAre you sure you want to upgrade?' \
    question "\"$VM_UPGRADE_TITLE\""
  check "screenshot" probe screenshot "Confirm upgrade" "$FWUP_ARTIFACTS/wine-confirm-upgrade.png"
  check "No" probe click "Confirm upgrade" 7
  check "box gone" probe wait-gone "Confirm upgrade" 5000
  expect_progress "$VM_UPGRADE_TITLE" "visible=1 range=0..100 pos=0"
  expect_control "$VM_UPGRADE_TITLE" 1000 'text="Upgrade Now" enabled=1 visible=1'
  check "Upgrade Now again" probe click "$VM_UPGRADE_TITLE" 1000
  check "Yes" probe click "Confirm upgrade" 6
  # A successful upgrade ends the program by itself.
  check "the dialog closes" probe wait-gone "$VM_UPGRADE_TITLE" 20000
  finish
  check "the printer received the image" cmp "$case_dir/firmware.bin" "$case_dir/received.bin"
  set_windows_version ""
  end
}

# A data write that fails over LPT on a virtual Windows 98: the system's error
# text in a box of its own, then the dialog stays.
case_virtual_lpt_write_failure() {
  begin virtual-lpt-write-failure
  set_windows_version win98
  settings VP-1000 firmware.bin 106 0 1 0
  cp "$FWUP_EXAMPLES/firmware-1.06.bin" "$case_dir/firmware.bin"
  printf '[Machine]\nPlatform=1\nMajor=4\nMinor=10\nClock=virtual\n\n[Printer]\nPort=LPT1\n%s\n%s\n%s\n' \
    'DeviceID=MFG:Virtual;CMD:PJL;MODEL:VP-1000;CLS:PRINTER;' 'Version=100' 'FailWriteAfter=16384' \
    >"$case_dir/machine.ini"
  start FWUPGRADE_VIRTUAL_PRINTER=machine.ini
  check "Verify" probe click "$VM_UPGRADE_TITLE" 1002
  check "verified" probe wait-text "$VM_UPGRADE_TITLE" 1008 "Ready to upgrade..."
  check "Upgrade Now" probe click "$VM_UPGRADE_TITLE" 1000
  check "Yes" probe click "Confirm upgrade" 6
  box=$(listing "GetLastError()")
  [[ "$box" == *"owner=none "* ]] || fail "GetLastError() box has an owner: $(head -1 <<<"$box")"
  grep -q 'icon=information$' <<<"$box" || fail "GetLastError() box: not the information icon"
  grep -q '^control id=-1 class=Static text="[^"]' <<<"$box" || fail "GetLastError() box: no error text"
  check "OK" probe click "GetLastError()" 1
  check "status" probe wait-text "$VM_UPGRADE_TITLE" 1008 "Writing data error...!"
  expect_control "$VM_UPGRADE_TITLE" 1000 'text="Upgrade Now" enabled=0 visible=1'
  expect_control "$VM_UPGRADE_TITLE" 1001 'text="Exit" enabled=1 visible=1'
  expect_control "$VM_UPGRADE_TITLE" 1002 'text="Verify Information" enabled=1 visible=1'
  expect_progress "$VM_UPGRADE_TITLE" "visible=0"
  check "Exit" probe click "$VM_UPGRADE_TITLE" 1001
  finish
  set_windows_version ""
  end
}

# Download Demo over LPT1 on a virtual Windows 98 and the real clock: the
# dialog keeps answering through the waits and the transfer, and cannot be
# closed until the procedure is done.
case_virtual_demo_real_time() {
  begin virtual-demo-real-time
  # Wine, too, answers as Windows 98: the worker's threads, events and posted
  # messages as the 9x family gets them from Wine.
  set_windows_version win98
  # ESC=1 and a printer that misses the first identification query: the verify
  # waits 5 s before it asks again, time enough to try closing meanwhile.
  settings VP-1000 demo.prn 101 1 1 1
  image 409600 demo.prn
  printf '[Machine]\nPlatform=1\nMajor=4\nMinor=10\nClock=real\n\n[Printer]\nPort=LPT1\nEsc=1\n%s\n%s\n%s\n%s\n%s\n' \
    'DeviceID=MFG:Virtual;CMD:PJL;MODEL:VP-1000;CLS:PRINTER;' 'Version=100' 'DeviceIDFailures=1' \
    'ReceivedImage=received.bin' 'Transcript=transcript.txt' >"$case_dir/machine.ini"
  start FWUPGRADE_VIRTUAL_PRINTER=machine.ini
  check "Verify" probe click "$VM_DEMO_TITLE" 1002
  check "a second Verify during the verify" probe click "$VM_DEMO_TITLE" 1002
  check "closing during the verify" probe try-close "$VM_DEMO_TITLE"
  check "verified" probe wait-text "$VM_DEMO_TITLE" 1008 "Ready to download demo image..." 20000
  # The second click was ignored: the printer was asked for its version once.
  [ "$(wc -l <"$case_dir/transcript.txt")" -eq 1 ] ||
    fail "the printer got $(wc -l <"$case_dir/transcript.txt") commands, not the one version query"
  check "still open after the verify" probe dump "$VM_DEMO_TITLE" 0
  check "Download Now" probe click "$VM_DEMO_TITLE" 1000
  check "downloading" probe wait-text "$VM_DEMO_TITLE" 1008 "Downloading...Do not turn off your printer.!"
  # The image is open without sharing until its last block: another program
  # can neither rewrite it nor read it meanwhile.
  for mode in write read; do
    opened=$(probe open-file "Z:$case_dir/demo.prn" $mode | tr -d '\r')
    [ "$opened" = "refused 32" ] || fail "the image could be opened for $mode during the download: $opened"
  done
  check "answers during the transfer's waits" probe responsive "$VM_DEMO_TITLE" 500
  expect_progress "$VM_DEMO_TITLE" "visible=1 range=0..4096"
  check "screenshot" probe screenshot "$VM_DEMO_TITLE" "$FWUP_ARTIFACTS/wine-dialog-downloading.png"
  check "closing during the download" probe try-close "$VM_DEMO_TITLE"
  check "complete" probe wait-text "$VM_DEMO_TITLE" 1008 \
    "Writing complete....Do not turn off until printer is initialized!" 20000
  expect_progress "$VM_DEMO_TITLE" "visible=1 range=0..4096 pos=4096"  # the whole image: a full bar
  opened=$(probe open-file "Z:$case_dir/demo.prn" write | tr -d '\r')
  [ "$opened" = opened ] || fail "the image is still held after the transfer: $opened"
  check "answers during the 20-second wait" probe responsive "$VM_DEMO_TITLE" 500
  check "closing during the 20-second wait" probe try-close "$VM_DEMO_TITLE"
  expect_control "$VM_DEMO_TITLE" 1001 'text="Exit" enabled=0 visible=1'
  # After the wait: buttons back, the bar hidden, and the demo dialog stays.
  for _ in $(seq 1 250); do
    listing "$VM_DEMO_TITLE" | grep -q '^control id=1001 class=Button text="Exit" enabled=1' && break
    ! ended_early || break
    sleep 0.1
  done
  expect_control "$VM_DEMO_TITLE" 1001 'text="Exit" enabled=1 visible=1'
  expect_control "$VM_DEMO_TITLE" 1002 'text="Verify Information" enabled=1 visible=1'
  # Windows 98 is not of the NT family: "Download Now" stays disabled.
  expect_control "$VM_DEMO_TITLE" 1000 'text="Download Now" enabled=0 visible=1'
  expect_progress "$VM_DEMO_TITLE" "visible=0"
  check "screenshot" probe screenshot "$VM_DEMO_TITLE" "$FWUP_ARTIFACTS/wine-dialog-demo-done.png"
  check "the printer received the image" cmp "$case_dir/demo.prn" "$case_dir/received.bin"
  check "Exit" probe click "$VM_DEMO_TITLE" 1001
  finish
  set_windows_version ""
  end
}
# Each status text in the status line's font, against the line's width. The
# template stays as it is; the widths are kept in the artifacts.
case_status_line_widths() {
  begin status-line-widths
  start
  local texts=("Device not responding..." "Model not matched...!" "Failed to open LPT port"
    "Failed to set Comm State" "Writing version command error...!" "Reading version data error...!"
    "Ready to download demo image..." "Ready to upgrade..." "No Upgrade Required...!"
    "Upgrade not necessary...!" "Demo image file is too big for download..!"
    "Writing download command error...!" "Reading command error...!"
    "Your printer is not support Demo print!" "Printer is busy...!"
    "Downloading...Do not turn off your printer.!" "Error reading file...!" "Writing data error...!"
    "Writing complete....Do not turn off until printer is initialized!" "File open error...(firmware-1.06.bin)")
  probe text-width "$UPGRADE_TITLE" 1008 "Z:$case_dir/fwupgrade.exe" "${texts[@]}" | tr -d '\r' >"$FWUP_ARTIFACTS/wine-status-widths.txt"
  sed 's/^/    /' "$FWUP_ARTIFACTS/wine-status-widths.txt"
  [ "$(grep -c '^\(fits\|cut\) ' "$FWUP_ARTIFACTS/wine-status-widths.txt")" -eq "${#texts[@]}" ] ||
    fail "no width for every status text"
  check "Exit" probe click "$UPGRADE_TITLE" 1001
  finish
  end
}
# ----------------------------------------------------------------------------
# Wine draws the window frames itself: there is no window manager under Xvfb.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1

for name in no_settings \
  settings_and_escape \
  demo_and_close_box \
  lpt0_verify \
  lpt1_without_device_id \
  win2000_without_library \
  win2000_incomplete_library \
  win2000_with_library \
  win98_without_library \
  win10_without_library \
  winxp_with_library \
  virtual_usb_upgrade \
  virtual_lpt_write_failure \
  virtual_demo_real_time \
  status_line_widths; do
  if [ -z "${FWUP_WINE_ONLY:-}" ] || [[ "$name" == $FWUP_WINE_ONLY ]]; then
    "case_$name"
  fi
done
