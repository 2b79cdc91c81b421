#!/usr/bin/env bash
# The 64-bit programs under Wine against the printer fixture: a kernel-mode
# driver of the tests (fixture_driver.c) installed in a prefix of its own as
# root-enumerated devices that register a USB printing interface class. Run
# by scripts/wine-tests inside Xvfb:
#   FWUP_WINE      the 64-bit Wine loader        FWUP_WINESERVER  its server
#   FWUP_EXE_DIR   fwupgrade.exe, fwupgrade-cli.exe, veltport.dll
#   FWUP_TOOLS     probe.exe                     FWUP_FIXTURE  fwprnfx.sys, fixture.inf, fixture_tool.exe,
#                                                              exports_probe.exe
#   FWUP_WORK      scratch folder (the prefix is WINEPREFIX)
#   FWUP_RESULTS   "PASS|FAIL wine-printer NAME" lines are appended here
#   FWUP_EXAMPLES  the example image
# A case that reaches the printer checks what the fixture saw: the requests
# with their buffer sizes, the opens' sharing and synchronous flag, and the
# image bytes' count and FNV-1a 64 digest against the file.
set -uo pipefail

UPGRADE_TITLE="F/W Upgrade Utility for Windows 95/98 (V1.06)"
IMAGE=$FWUP_EXAMPLES/firmware-1.06.bin
LPT_ENDING="Failed to open LPT port"
# Driver flags (fixture_shared.h).
MAKER=1 CLASS=2 NOT_OPENABLE=4 READ_NEVER=8 ID_FAILS=16

case_name="" case_dir="" case_failed=0
wine() { "$FWUP_WINE" "$@"; }
fx() { "$FWUP_WINE" "$FWUP_FIXTURE/fixture_tool.exe" "$@" | tr -d '\r'; }
fail() {
  case_failed=1
  echo "  FAIL: $*"
}
begin() {
  case_name=$1
  case_failed=0
  case_dir=$FWUP_WORK/$1
  rm -rf "$case_dir"
  mkdir -p "$case_dir"
  cp "$FWUP_EXE_DIR/fwupgrade.exe" "$FWUP_EXE_DIR/fwupgrade-cli.exe" "$FWUP_EXE_DIR/veltport.dll" \
    "$FWUP_FIXTURE/exports_probe.exe" "$case_dir/"
  cp "$IMAGE" "$case_dir/firmware.bin"
  printf '[Download]\r\nModel=FX-1000\r\n\r\n[FX-1000]\r\nFW_File=firmware.bin\r\nFile_Ver=106\r\nESC=0\r\nLPT=1\r\nDemo=0\r\n' \
    >"$case_dir/FWINFO.INI"
  echo "-- $case_name"
}
end() {
  if [ "$case_failed" -eq 0 ]; then
    echo "PASS wine-printer $case_name" >>"$FWUP_RESULTS"
    echo "  PASS"
  else
    echo "FAIL wine-printer $case_name" >>"$FWUP_RESULTS"
  fi
}
set_windows_version() {
  if [ -n "$1" ]; then
    wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d "$1" /f >/dev/null 2>&1
  else
    wine reg delete 'HKCU\Software\Wine' /v Version /f >/dev/null 2>&1
  fi
}
# expect WHAT WANTED SHOWN
expect() { [ "$2" = "$3" ] || fail "$1: wanted [$2], got [$3]"; }
record_value() { fx record "$1" | sed -n "s/^$2=//p"; }
fnv64() {
  python3 -c 'import sys
h = 0xcbf29ce484222325
for b in open(sys.argv[1], "rb").read():
    h = ((h ^ b) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
print("%016x" % h)' "$1"
}
# configure UNIT FLAGS [setting...]: a unit's behaviour, its record emptied.
configure() {
  local unit=$1 flags=$2
  shift 2
  fx config "$unit" "flags=$flags" "$@" >/dev/null || fail "configuring unit $unit"
}
# cli COMMAND: fwupgrade-cli.exe in the case folder; sets cli_status and cli_ending.
cli() {
  cli_status=0
  (cd "$case_dir" && timeout 120 "$FWUP_WINE" fwupgrade-cli.exe --yes "$@") >"$case_dir/cli.log" 2>&1 || cli_status=$?
  # The library's own diagnostics share standard output and end without a line end.
  cli_ending=$(tr -d '\r' <"$case_dir/cli.log" | sed -n 's/^.*Status: //p' | tail -1)
}
# expect_image UNIT: the unit received exactly the image file.
expect_image() {
  expect "image bytes of unit $1" "$(stat -c %s "$case_dir/firmware.bin")" "$(record_value "$1" image_bytes)"
  expect "image digest of unit $1" "$(fnv64 "$case_dir/firmware.bin")" "$(record_value "$1" image_digest)"
}

# --- before the fixture is installed --------------------------------------------
case_no_printer() {
  begin no-printer
  set_windows_version ""
  cli verify
  expect "ending" "$LPT_ENDING" "$cli_ending"
  expect "exit status" 1 "$cli_status"
  end
}

# --- the system's USB printing class (NT 5 and NT 6 and later) -------------------
# One row a line: NAME | Windows | unit 0 flags and settings | unit 1 flags |
# unit 0's hardware-ID vendor | command | ending | exit status | unit holding the image (- none)
cli_rows_system_class() {
  cat <<ROWS
win10-upgrade||$CLASS|$CLASS|043D|upgrade|Writing complete....Do not turn off until printer is initialized!|0|0
win10-verify-second-printer||$((CLASS | NOT_OPENABLE))|$CLASS|043D|verify|Ready to upgrade...|0|-
win10-printer-held||$((CLASS | NOT_OPENABLE))|$((CLASS | NOT_OPENABLE))|043D|verify|$LPT_ENDING|1|-
win10-vendor-refused||$CLASS|$CLASS|1234|verify|$LPT_ENDING|1|-
win10-id-request-fails||$((CLASS | ID_FAILS))|$((CLASS | ID_FAILS))|043D|verify|$LPT_ENDING|1|-
win10-write-fails-part-way||$CLASS fail-after=10000|$CLASS|043D|upgrade|Writing data error...!|1|-
win10-no-reply||$((CLASS | READ_NEVER))|$CLASS|043D|verify|Reading version data error...!|1|-
win10-maker-requests-only||$MAKER|$MAKER|043D|verify|$LPT_ENDING|1|-
win2k-verify|win2k|$MAKER|$MAKER|043D|verify|Writing version command error...!|1|-
winxp-verify|winxp|$MAKER|$MAKER|043D|verify|Writing version command error...!|1|-
ROWS
}

run_cli_row() {
  local name=$1 windows=$2 unit0=$3 unit1=$4 vendor=$5 command=$6 ending=$7 status=$8 holder=$9
  begin "cli-$name"
  set_windows_version "$windows"
  # shellcheck disable=SC2086 # unit 0's field holds the flags and its settings
  configure 0 $unit0
  configure 1 "$unit1"
  fx hwid 0 "$vendor" >/dev/null || fail "hardware IDs of unit 0"
  cli "$command"
  expect "ending" "$ending" "$cli_ending"
  expect "exit status" "$status" "$cli_status"
  [ "$holder" = - ] || expect_image "$holder"
  case $name in
    win10-write-fails-part-way)
      expect "image bytes taken before the failure" 10000 "$(record_value 0 image_bytes)"
      expect "writes taken in part" 1 "$(record_value 0 writes_partial)" ;;
    win10-no-reply)
      [ "$(record_value 0 reads_cancelled)" -ge 1 ] || fail "the held read was never cancelled" ;;
    win10-verify-second-printer)
      expect "opens reaching unit 0" 0 "$(record_value 0 creates)"
      expect "commands answered by unit 1" 1 "$(record_value 1 commands)" ;;
    win2k-verify | winxp-verify)
      # The pipe names cannot be opened under Wine: nothing reaches the printer.
      expect "commands" 0 "$(record_value 0 commands)" ;;
  esac
  fx hwid 0 043D >/dev/null
  set_windows_version ""
  # A unit that lost its link gets it back when the driver is loaded again.
  if [ $(((${unit0%% *} | unit1) & NOT_OPENABLE)) -ne 0 ]; then restart_server; fi
  end
}

# The nine exports on the system's class: NT 6 and later through the class
# driver (the older requests refused), NT 5 through the maker's requests.
case_exports_win10() {
  begin exports-win10
  set_windows_version ""
  configure 0 "$CLASS"
  configure 1 "$CLASS"
  local shown path
  shown=$(cd "$case_dir" && "$FWUP_WINE" exports_probe.exe | tr -d '\r')
  path=$(sed -n 's/^GetControlPortName=1 //p' <<<"$shown")
  [[ "$path" == '\\?\root#fwprn#0000#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}' ]] || fail "interface path [$path]"
  expect "exports" "GetVendorID first=1 043D
GetDeviceID=1 capacity=72 text=MFG:Fixture;CMD:ESCP;MODEL:FX-1000;CLS:PRINTER;DES:Wine test printer;
GetModelName=1 FX-1000
GetVendorID=1 043D
GetControlPortName=1 $path
GetWritePortName=1 $path
GetReadPortName=1 $path
WriteToUsbPort=0 count=7
ReadFromUsbPort=0 count=10" "$shown"
  expect "requests" "0x220034/0/4094 0x220034/0/4094 " "$(record_value 0 last_requests)"
  expect "sharing" 0x3 "$(record_value 0 last_share)"
  # FILE_SYNCHRONOUS_IO_NONALERT (0x20) absent: the transfers' handle is overlapped.
  expect "open options" 0x40 "$(record_value 0 last_options)"
  end
}

case_exports_win2k() {
  begin exports-win2k
  set_windows_version win2k
  configure 0 "$MAKER"
  configure 1 "$MAKER"
  local shown path
  shown=$(cd "$case_dir" && "$FWUP_WINE" exports_probe.exe | tr -d '\r')
  path='\\?\root#fwprn#0000#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}'
  # Before the first check the maker's class is searched: nothing there.
  expect "exports" "GetVendorID first=0 0000
GetDeviceID=1 capacity=72 text=MFG:Fixture;CMD:ESCP;MODEL:FX-1000;CLS:PRINTER;DES:Wine test printer;
GetModelName=1 FX-1000
GetVendorID=1 043D
GetControlPortName=1 $path
GetWritePortName=1 $path\\PIPE00
GetReadPortName=1 $path\\PIPE01
WriteToUsbPort=3 count=57005
ReadFromUsbPort=3 count=57005" "$(sed 's/^Failed to open () = [0-9]*//' <<<"$shown")"
  expect "requests" "0x220000/8/4096 0x220010/8/4096 0x220000/8/4096 0x220010/8/4096 0x220000/8/4096 0x220000/8/4096 0x220000/8/4096 0x220000/8/4096 " \
    "$(record_value 0 last_requests)"
  expect "sharing" 0x3 "$(record_value 0 last_share)"
  expect "open options (synchronous)" 0x60 "$(record_value 0 last_options)"
  set_windows_version ""
  end
}

# The dialog program, as an operator runs it.
probe() { "$FWUP_WINE" "$FWUP_TOOLS/probe.exe" "$@"; }
check() {
  local what=$1
  shift
  "$@" >/dev/null 2>&1 || fail "$what"
}
start_dialog() {
  (cd "$case_dir" && exec timeout 180 "$FWUP_WINE" fwupgrade.exe) >"$case_dir/app.log" 2>&1 &
  app_pid=$!
}
finish_dialog() {
  local waited=0
  while kill -0 "$app_pid" 2>/dev/null && [ "$waited" -lt "$1" ]; do
    sleep 1
    waited=$((waited + 1))
  done
  if kill -0 "$app_pid" 2>/dev/null; then
    fail "fwupgrade.exe still runs"
    kill "$app_pid" 2>/dev/null
  fi
  wait "$app_pid" 2>/dev/null
}

case_dialog_upgrade_win10() {
  begin dialog-upgrade-win10
  set_windows_version ""
  configure 0 "$CLASS"
  configure 1 "$CLASS"
  start_dialog
  check "Verify" probe click "$UPGRADE_TITLE" 1002
  check "verified" probe wait-text "$UPGRADE_TITLE" 1008 "Ready to upgrade..." 20000
  check "Upgrade Now" probe click "$UPGRADE_TITLE" 1000
  check "Yes" probe click "Confirm upgrade" 6
  check "written" probe wait-text "$UPGRADE_TITLE" 1008 \
    "Writing complete....Do not turn off until printer is initialized!" 30000
  # A successful upgrade ends the program after its wait for the printer.
  finish_dialog 40
  expect_image 0
  end
}

case_dialog_verify_winxp() {
  begin dialog-verify-winxp
  set_windows_version winxp
  configure 0 "$MAKER"
  configure 1 "$MAKER"
  start_dialog
  check "Verify" probe click "$UPGRADE_TITLE" 1002
  check "ending" probe wait-text "$UPGRADE_TITLE" 1008 "Writing version command error...!" 20000
  check "Exit" probe click "$UPGRADE_TITLE" 1001
  finish_dialog 15
  set_windows_version ""
  end
}

# --- the maker's own class (Windows 98) ------------------------------------------
case_exports_win98() {
  begin exports-win98
  set_windows_version win98
  configure 0 "$MAKER"
  configure 1 "$MAKER"
  local shown path
  shown=$(cd "$case_dir" && "$FWUP_WINE" exports_probe.exe | tr -d '\r')
  path='\\?\root#fwprn#0000#{76f4b720-f62f-11d1-9c52-000083612aa1}'
  # Windows 98 searches the maker's class from the first call on.
  expect "exports" "GetVendorID first=1 043D
GetDeviceID=1 capacity=72 text=MFG:Fixture;CMD:ESCP;MODEL:FX-1000;CLS:PRINTER;DES:Wine test printer;
GetModelName=1 FX-1000
GetVendorID=1 043D
GetControlPortName=1 $path
GetWritePortName=1 $path\\PIPE00
GetReadPortName=1 $path\\PIPE01
WriteToUsbPort=3 count=57005
ReadFromUsbPort=3 count=57005" "$shown"
  set_windows_version ""
  end
}

case_cli_win98_verify() {
  begin cli-win98-verify
  set_windows_version win98
  configure 0 "$MAKER"
  configure 1 "$MAKER"
  cli verify
  expect "ending" "Writing version command error...!" "$cli_ending"
  expect "exit status" 1 "$cli_status"
  set_windows_version ""
  end
}

# --- the run --------------------------------------------------------------------
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
service='HKLM\System\CurrentControlSet\Services\fwprnfx'
restart_server() {
  "$FWUP_WINESERVER" -k >/dev/null 2>&1
  "$FWUP_WINESERVER" -w >/dev/null 2>&1
  "$FWUP_WINESERVER" -p
  wine cmd /c exit 0 # the devices come back with the server; the driver loads with them
}
# install CLASS: the fixture's two units in the system's (0) or maker's (1)
# class; the driver reads its class when it is loaded, so the server restarts.
install() {
  "$FWUP_WINESERVER" -k >/dev/null 2>&1
  "$FWUP_WINESERVER" -w >/dev/null 2>&1
  "$FWUP_WINESERVER" -p
  wine reg add "$service" /v FixtureClass /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  if [ "$2" = new ]; then
    fx install 2 "$(wine winepath.exe -w "$FWUP_FIXTURE/fixture.inf" | tr -d '\r')"
  else
    restart_server
  fi
}
selected() { [ -z "${FWUP_WINE_ONLY:-}" ] || [[ "$1" == $FWUP_WINE_ONLY ]]; }

"$FWUP_WINESERVER" -p
selected no_printer && case_no_printer
if ! install 0 new >"$FWUP_WORK/install.log" 2>&1 || ! fx record 0 >/dev/null; then
  echo "FAIL wine-printer install: see $FWUP_WORK/install.log" >>"$FWUP_RESULTS"
  cat "$FWUP_WORK/install.log"
  exit 1
fi
selected exports_win10 && case_exports_win10
selected exports_win2k && case_exports_win2k
while IFS='|' read -r name windows unit0 unit1 vendor command ending status holder; do
  selected "cli_$name" && run_cli_row "$name" "$windows" "$unit0" "$unit1" "$vendor" "$command" "$ending" "$status" "$holder"
done < <(cli_rows_system_class)
selected dialog_upgrade_win10 && case_dialog_upgrade_win10
selected dialog_verify_winxp && case_dialog_verify_winxp
install 1 again >>"$FWUP_WORK/install.log" 2>&1
selected exports_win98 && case_exports_win98
selected cli_win98_verify && case_cli_win98_verify
"$FWUP_WINESERVER" -k >/dev/null 2>&1
exit 0
