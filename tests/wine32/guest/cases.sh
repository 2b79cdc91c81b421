#!/bin/bash
# The 32-bit builds under 32-bit Wine, inside the guest that scripts/wine32-tests
# boots (tests/wine32/guest/init runs this in a chroot of the host's root). The
# work folder /tmp/w is the host's build/wine32-tests/work: bin/ holds the
# 32-bit fwupgrade.exe, fwupgrade-cli.exe and veltport.dll, tools/ the 32-bit
# probe.exe, incomplete/veltport.dll, export_probe.exe and printer_interface.exe,
# and env what the host says (the prefix cache, which cases). Each case prints
#   W32-RESULT PASS|FAIL NAME SECONDS[: first reason]
# and, when it failed, W32-LOG NAME lines; its files are kept in out/NAME/.
#
#   cases.sh --list     the case names, one a line (no Wine needed)
set -uo pipefail

W=/tmp/w
listing=0
[ "${1:-}" = --list ] && listing=1

# --- the tables -----------------------------------------------------------------
# The CLI on a virtual machine of the same Windows as Wine answers, one row per
# ending, each run under every version named. Fields (| between):
#   name, carrier (USB or LPT1), versions, image (firmware, demo, demo-too-big),
#   extra [Machine] lines, extra [Printer] lines (\n between lines; - for none),
#   arguments, exit status, a line the output must hold ("json" for --json: the
#   document must match the schema), and what the printer must have received:
#   whole (the image), part N (its first N bytes) or none.
cli_rows() {
  cat <<'ROWS'
usb-ready           |USB |win98 win2k winxp|firmware    |-                |-                            |verify                    |0|Status: Ready to upgrade...|none
lpt-ready           |LPT1|win98 win2k winxp|firmware    |-                |-                            |verify                    |0|Status: Ready to upgrade...|none
usb-upgrade         |USB |win98 win2k winxp|firmware    |-                |-                            |--yes upgrade             |0|Status: Writing complete....Do not turn off until printer is initialized!|whole
lpt-upgrade         |LPT1|win98 win2k winxp|firmware    |-                |-                            |--yes upgrade             |0|Status: Writing complete....Do not turn off until printer is initialized!|whole
usb-up-to-date      |USB |win98 win2k winxp|firmware    |-                |Version=106                  |--yes upgrade             |0|Status: No Upgrade Required...!|none
lpt-up-to-date      |LPT1|win98 win2k winxp|firmware    |-                |Version=106                  |--yes upgrade             |0|Status: Upgrade not necessary...!|none
lpt-wrong-model     |LPT1|win98 win2k winxp|firmware    |-                |DeviceID=MFG:Virtual;CMD:PJL;MODEL:VP-2000;CLS:PRINTER;|verify|1|Status: Model not matched...!|none
usb-wrong-model     |USB |win98            |firmware    |-                |DeviceID=MFG:Virtual;CMD:PJL;MODEL:VP-2000;CLS:PRINTER;|verify|1|Status: Model not matched...!|none
usb-model-unchecked |USB |win2k winxp      |firmware    |-                |DeviceID=MFG:Virtual;CMD:PJL;MODEL:VP-2000;CLS:PRINTER;|verify|0|Status: Ready to upgrade...|none
usb-busy            |USB |win98 win2k winxp|firmware    |-                |DownloadStatus=1             |--yes upgrade             |1|Status: Printer is busy...!|none
lpt-busy            |LPT1|win98 win2k winxp|firmware    |-                |DownloadStatus=1             |--yes upgrade             |1|Status: Printer is busy...!|none
usb-demo            |USB |win98 win2k winxp|demo        |-                |-                            |--yes upgrade             |0|Status: Writing complete....Do not turn off until printer is initialized!|whole
lpt-demo            |LPT1|win98 win2k winxp|demo        |-                |-                            |--yes upgrade             |0|Status: Writing complete....Do not turn off until printer is initialized!|whole
usb-demo-too-big    |USB |win98 win2k winxp|demo-too-big|-                |-                            |--yes upgrade             |1|Status: Demo image file is too big for download..!|none
lpt-demo-too-big    |LPT1|win98 win2k winxp|demo-too-big|-                |-                            |--yes upgrade             |1|Status: Demo image file is too big for download..!|none
no-library          |USB |win98 win2k winxp|firmware    |Library=missing  |-                            |verify                    |1|Message: Can't find 'veltport.dll' file|none
incomplete-library  |USB |win98 win2k winxp|firmware    |Library=incomplete|-                           |verify                    |1|Message: Function inport failed from'veltport.dll' file|none
refused-machine     |USB |win98 win2k winxp|firmware    |-                |Esc=2                        |verify                    |2|fwupgrade-cli: vm.ini: [Printer] Esc="2" is invalid: expected 0 or 1|none
refused-machine-json|USB |win2k            |firmware    |-                |Esc=2                        |--json verify             |2|json|none
usb-write-fails     |USB |win98 win2k winxp|firmware    |-                |FailWriteAfter=16384         |--yes upgrade             |1|Status: Writing data error...!|part 16384
lpt-write-fails     |LPT1|win98 win2k winxp|firmware    |-                |FailWriteAfter=16384         |--yes upgrade             |1|Status: Writing data error...!|part 16384
usb-json            |USB |win98 win2k winxp|firmware    |-                |-                            |--yes --json upgrade      |0|json|whole
lpt-json            |LPT1|win98 win2k winxp|firmware    |-                |-                            |--yes --json upgrade      |0|json|whole
usb-check-after     |USB |win98 win2k winxp|firmware    |-                |VersionAfterUpgrade=106      |--yes --check-after upgrade|0|Check: the printer reports 1.06, the image's version|whole
lpt-check-after     |LPT1|win98 win2k winxp|firmware    |-                |VersionAfterUpgrade=106      |--yes --check-after upgrade|0|Check: the printer reports 1.06, the image's version|whole
usb-check-after-old |USB |win2k            |firmware    |-                |VersionAfterUpgrade=keep     |--yes --check-after upgrade|3|Check: the printer reports 1.00, not the image's 1.06|whole
ROWS
}

# No virtual machine: the program loads .\veltport.dll itself, and nothing is
# attached. Fields: name, versions, library (real, none, incomplete;
# real+interface: a printer's interface is registered with no driver behind it,
# see tests/wine32/printer_interface.c), settings LPT value, arguments, exit
# status, lines the output must hold (\n between; {interface}: the path of the
# interface the version searches; "json": the document must match the schema).
# The library's own text for a printer it cannot open has no line end; the
# program ends it before its own.
real_rows() {
  cat <<'ROWS'
real-library     |win98 win2k winxp|real      |1|--yes verify       |1|Failed to open () = 0\nStatus: Failed to open LPT port
real-library-json|winxp            |real      |1|--json --yes verify|1|json
real-lpt0        |win2k            |real      |0|--yes verify       |1|Failed to open () = 0\nStatus: Failed to open LPT port
real-interface   |win98 win2k winxp|real+interface|1|--yes verify   |1|Failed to open ({interface}) = 0\nStatus: Failed to open LPT port
real-no-library  |win98 win2k winxp|none      |1|--yes verify       |1|Message: Can't find 'veltport.dll' file
real-incomplete  |win98 win2k winxp|incomplete|1|--yes verify       |1|Message: Function inport failed from'veltport.dll' file
ROWS
}

# The dialog cases of the 64-bit Wine tests (tests/wine/scenarios.sh) that are
# not about timing, run as they are with the 32-bit program and probe.
dialog_cases=(no_settings settings_and_escape lpt0_verify win2000_without_library win2000_incomplete_library
  win2000_with_library win98_without_library winxp_with_library virtual_usb_upgrade virtual_lpt_write_failure)

versions=(win98 win2k winxp)

trim() { local s=$1; s=${s#"${s%%[![:space:]]*}"}; echo "${s%"${s##*[![:space:]]}"}"; }

# --- running a case -------------------------------------------------------------
case_name="" case_dir="" case_reasons=()
up() { cut -d' ' -f1 /proc/uptime; }

selected() { [ -z "${W32_ONLY:-}" ] || [[ "$1" == $W32_ONLY ]]; }

# begin NAME: starts a case (in list mode: prints the name); false when the
# case is not to run now.
begin() {
  selected "$1" || return 1
  if [ $listing -eq 1 ]; then
    echo "$1"
    return 1
  fi
  case_name=$1
  case_reasons=()
  case_dir=/tmp/cases/$1
  rm -rf "$case_dir"
  mkdir -p "$case_dir"
  case_start=$(up)
}

fail() { case_reasons+=("$*"); }

end() {
  local seconds
  seconds=$(awk "BEGIN { printf \"%.1f\", $(up) - $case_start }")
  if [ ${#case_reasons[@]} -eq 0 ]; then
    echo "W32-RESULT PASS $case_name $seconds"
  else
    echo "W32-RESULT FAIL $case_name $seconds: ${case_reasons[0]}"
    local reason
    for reason in "${case_reasons[@]:1}"; do echo "W32-LOG $case_name $reason"; done
    local f
    for f in "$case_dir"/*.diff "$case_dir"/*.out "$case_dir"/*.err; do
      [ -s "$f" ] || continue
      echo "W32-LOG $case_name ${f##*/}:"
      tr -d '\r' <"$f" | tail -n 15 | sed "s/^/W32-LOG $case_name   | /"
    done
  fi
  # Every case's files, for a look afterwards (small: images are not kept).
  mkdir -p "$W/out/$case_name"
  find "$case_dir" -maxdepth 1 -type f \( -name '*.out' -o -name '*.err' -o -name '*.ini' -o -name '*.INI' \
    -o -name '*.txt' -o -name '*.diff' -o -name results \) -exec cp {} "$W/out/$case_name/" \;
}

# run SECONDS NAME COMMAND...: in the case's folder, output in NAME.out and
# NAME.err (line ends as a Unix program writes them); sets status.
run() {
  local limit=$1 name=$2
  shift 2
  (cd "$case_dir" && timeout -k 5 "$limit" "$@") >"$case_dir/$name.out.raw" 2>"$case_dir/$name.err.raw"
  status=$?
  tr -d '\r' <"$case_dir/$name.out.raw" >"$case_dir/$name.out"
  tr -d '\r' <"$case_dir/$name.err.raw" >"$case_dir/$name.err"
  rm -f "$case_dir/$name.out.raw" "$case_dir/$name.err.raw"
  [ $status -ne 124 ] && [ $status -ne 137 ] || fail "$name did not end within $limit s"
}

# Wine's answer to the program's version question, per program.
set_version() { # set_version PROGRAM.exe win98|win2k|winxp
  wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$1" /v Version /t REG_SZ /d "$2" /f >/dev/null 2>&1 ||
    echo "W32-ERROR cannot set the Windows version of $1 to $2"
}

machine_version() { # the [Machine] lines of the system Wine answers as
  case $1 in
    win98) printf 'Platform=1\nMajor=4\nMinor=10\n' ;;
    win2k) printf 'Platform=2\nMajor=5\nMinor=0\n' ;;
    winxp) printf 'Platform=2\nMajor=5\nMinor=1\n' ;;
  esac
}

settings() { # settings IMAGE-FILE DEMO LPT
  printf '[Download]\r\nModel=VP-1000\r\n\r\n[VP-1000]\r\nFW_File=%s\r\nFile_Ver=106\r\nESC=0\r\nLPT=%s\r\nDemo=%s\r\n' \
    "$1" "$3" "$2" >"$case_dir/FWINFO.INI"
}

# check_json FILE EXIT [IMAGE]: one document valid against the schema, with
# this exit status and, given an image, the digest of every byte of it.
check_json() {
  python3 "$W/validate_json.py" "$W/fwupgrade-cli.schema.json" "$1" >"$case_dir/schema.txt" 2>&1 ||
    fail "the JSON document does not match the schema: $(head -n 3 "$case_dir/schema.txt" | tr '\n' ' ')"
  local problem
  problem=$(python3 - "$1" "$2" "${3:-}" <<'PY' 2>&1
import hashlib, json, sys
doc = json.load(open(sys.argv[1], encoding="utf-8"))
if doc.get("exit_status") != int(sys.argv[2]):
    print("exit_status in the document is", doc.get("exit_status"))
if sys.argv[3]:
    data = open(sys.argv[3], "rb").read()
    printers = doc.get("virtual_printers") or [{}]
    if printers[0].get("image_sha256") != hashlib.sha256(data).hexdigest() or printers[0].get("image_bytes") != len(data):
        print("the document's image digest or count is not the image's")
    if doc.get("bytes_sent") != len(data):
        print("bytes_sent is", doc.get("bytes_sent"), "not", len(data))
PY
  ) || problem="the JSON document cannot be read: $problem"
  [ -z "$problem" ] || fail "$problem"
}

# check_received WHAT IMAGE: what the virtual printer recorded against the image.
check_received() {
  local what=$1 image=$2 received=$case_dir/received.bin
  case $what in
    whole) cmp -s "$image" "$received" || fail "the printer received $(stat -c %s "$received" 2>/dev/null || echo no) bytes, not the image's $(stat -c %s "$image")" ;;
    part\ *)
      local n=${what#part }
      [ "$(stat -c %s "$received" 2>/dev/null)" = "$n" ] && cmp -s -n "$n" "$image" "$received" ||
        fail "the printer did not receive exactly the image's first $n bytes"
      ;;
    none) [ ! -s "$received" ] || fail "the printer received $(stat -c %s "$received") bytes" ;;
  esac
}

expect_lines() { # expect_lines LINES(\n between) FILE...: each line, whole, in one of the files
  local line
  while IFS= read -r line; do
    [ -n "$line" ] || continue
    cat "${@:2}" | grep -qxF -- "$line" || fail "no line \"$line\""
  done <<<"$(printf '%b' "$1")"
}

cli_case() { # the fields of one row and a version
  local name=$1 carrier=$2 version=$3 image=$4 machine_extra=$5 printer_extra=$6 args=$7 want=$8 line=$9 got=${10}
  begin "cli-$name-$version" || return 0
  cp "$W/bin/fwupgrade-cli.exe" "$case_dir/"
  local image_file=$case_dir/firmware.bin
  case $image in
    firmware) settings firmware.bin 0 1; cp "$W/examples/firmware-1.06.bin" "$image_file" ;;
    demo) settings demo.prn 1 1; image_file=$case_dir/demo.prn; cp "$W/examples/firmware-1.06.bin" "$image_file" ;;
    demo-too-big) settings demo.prn 1 1; image_file=$case_dir/demo.prn; head -c 1024001 /dev/urandom >"$image_file" ;;
  esac
  {
    printf '[Machine]\n'
    machine_version "$version"
    printf 'Clock=virtual\n'
    [ "$machine_extra" = - ] || printf '%b\n' "$machine_extra"
    printf '\n[Printer]\nPort=%s\nReceivedImage=received.bin\n' "$carrier"
    [ "$printer_extra" = - ] || printf '%b\n' "$printer_extra"
    grep -q '^DeviceID=' <<<"$printer_extra" || printf 'DeviceID=MFG:Virtual;CMD:PJL;MODEL:VP-1000;CLS:PRINTER;\n'
    grep -q '^Version=' <<<"$printer_extra" || printf 'Version=100\n'
  } >"$case_dir/vm.ini"
  # shellcheck disable=SC2086 # the arguments are words
  run 120 cli wine fwupgrade-cli.exe --virtual-printer vm.ini $args
  [ "$status" = "$want" ] || fail "exit status $status, not $want"
  if [ "$line" = json ]; then
    check_json "$case_dir/cli.out" "$want" "$([ "$got" = whole ] && echo "$image_file")"
  else
    expect_lines "$line" "$case_dir/cli.out" "$case_dir/cli.err"
    if [ "$got" = whole ]; then
      local digest
      digest=$(sha256sum <"$image_file" | cut -d' ' -f1)
      expect_lines "Virtual printer [Printer] on $carrier: received $(stat -c %s "$image_file") image bytes, SHA-256 $digest" \
        "$case_dir/cli.out"
    fi
  fi
  check_received "$got" "$image_file"
  end
}

real_case() {
  local name=$1 version=$2 library=$3 lpt=$4 args=$5 want=$6 lines=$7
  begin "$name-$version" || return 0
  cp "$W/bin/fwupgrade-cli.exe" "$case_dir/"
  case $library in
    real | real+interface) cp "$W/bin/veltport.dll" "$case_dir/" ;;
    incomplete) cp "$W/tools/incomplete/veltport.dll" "$case_dir/" ;;
  esac
  if [ "$library" = real+interface ]; then
    wine "$W/tools/printer_interface.exe" add >"$case_dir/interface.out" 2>"$case_dir/interface.err" ||
      fail "the interface could not be registered"
    # Windows 98 searches the maker's class, the NT family the system's.
    local class='{28d78fad-5a12-11d1-ae5b-0000f803a8c2}'
    [ "$version" = win98 ] && class='{76f4b720-f62f-11d1-9c52-000083612aa1}'
    lines=${lines//\{interface\}/'\\\\?\\root#fwiftest#0000#'$class}
  fi
  settings firmware.bin 0 "$lpt"
  cp "$W/examples/firmware-1.06.bin" "$case_dir/firmware.bin"
  # The library's diagnostics on the debug channel come out as Wine's debugstr trace.
  # shellcheck disable=SC2086 # the arguments are words
  WINEDEBUG=-all,+debugstr run 120 cli wine fwupgrade-cli.exe $args
  [ "$status" = "$want" ] || fail "exit status $status, not $want"
  if [ "$lines" = json ]; then
    check_json "$case_dir/cli.out" "$want"
  else
    expect_lines "$lines" "$case_dir/cli.out" "$case_dir/cli.err"
  fi
  # Unlinked again, as unplugged: the other cases find no printer.
  [ "$library" = real+interface ] && { wine "$W/tools/printer_interface.exe" remove >/dev/null 2>&1 ||
    fail "the interface could not be unlinked"; }
  if [ "$library" = real ]; then
    # The library was loaded and asked: its environment check names the
    # system, and finds no printer to read the vendor from.
    local system=Windows2000 text
    [ "$version" = win98 ] && system=Windows98
    for text in "VELTPORT : $system" "VELTPORT : USBGetVendorID fail(INVALID_HANDLE)" \
      "VELTPORT : GetDeviceid fail(USBCheckEnvironment)"; do
      grep -qF "OutputDebugStringA \"$text\\n\"" "$case_dir/cli.err" || fail "no \"$text\" on the debug channel"
    done
  fi
  end
}

# The exports through the program's types and the library's convention.
export_case() {
  local version=$1
  begin "exports-$version" || return 0
  cp "$W/tools/export_probe.exe" "$W/bin/veltport.dll" "$case_dir/"
  set_version export_probe.exe "$version"
  run 120 probe wine export_probe.exe
  [ "$status" = 0 ] || fail "export_probe.exe ended with status $status"
  grep 'stack pointer moved' "$case_dir/probe.out" >"$case_dir/moved.txt"
  [ ! -s "$case_dir/moved.txt" ] || fail "$(head -n 1 "$case_dir/moved.txt")"
  # With no printer the same on every version: identification answers 0,
  # transfers VELTPORT_NO_PRINTER (2), and the library says why.
  diff "$W/export_probe.expected" "$case_dir/probe.out" >"$case_dir/probe.diff" ||
    fail "the calls' results differ from export_probe.expected (probe.diff)"
  end
}

# A 32-bit Wine process under emulation now and then never gets going (seen
# once in about ten runs of these cases, with nothing in the program's log), so
# a dialog case that fails is run once more, from a stopped wineserver, and the
# first try's reason is kept in the stage's output.
dialog_case() {
  local scenario=$1 try
  begin "dialog-${scenario//_/-}" || return 0
  for try in 1 2; do
    : >"$case_dir/results"
    rm -rf "$case_dir/work"
    # Emulated, the program runs several times slower than on the host: the
    # probe allows it five times as long for each window and answer.
    FWUP_PROBE_TIME_SCALE=5 FWUP_WINE=/usr/bin/wine FWUP_EXE_DIR=$W/bin FWUP_TOOLS=$W/tools \
      FWUP_WORK=$case_dir/work FWUP_ARTIFACTS=$W/artifacts FWUP_RESULTS=$case_dir/results \
      FWUP_EXAMPLES=$W/examples FWUP_WINE_ONLY=$scenario \
      timeout -k 5 600 bash "$W/scenarios.sh" >"$case_dir/scenario.out" 2>"$case_dir/scenario.err"
    grep -q "^PASS wine " "$case_dir/results" && break
    local reason
    reason=$(grep -m 1 'FAIL' "$case_dir/scenario.out" | sed 's/^ *//' || true)
    if [ $try -eq 1 ]; then
      echo "W32-STEP $case_name: the first try failed (${reason:-no result}); trying once more"
      wineserver -k 2>/dev/null || true
      wineserver -w 2>/dev/null || true
      wineserver -p
    else
      fail "${reason:-no result}"
    fi
  done
  cp "$case_dir"/work/*/app.log "$case_dir/app.out" 2>/dev/null
  end
}

# --- the runs -------------------------------------------------------------------
run_all() {
  local row name carrier vers image mextra pextra args want line got version
  # Grouped by version: Wine's answer is set once for each.
  for version in "${versions[@]}"; do
    [ $listing -eq 1 ] || set_version fwupgrade-cli.exe "$version"
    while IFS='|' read -r name carrier vers image mextra pextra args want line got; do
      [[ " $(trim "$vers") " == *" $version "* ]] || continue
      cli_case "$(trim "$name")" "$(trim "$carrier")" "$version" "$(trim "$image")" "$(trim "$mextra")" \
        "$(trim "$pextra")" "$(trim "$args")" "$(trim "$want")" "$(trim "$line")" "$(trim "$got")"
    done <<<"$(cli_rows)"
    while IFS='|' read -r name vers image mextra args want line; do
      [[ " $(trim "$vers") " == *" $version "* ]] || continue
      real_case "$(trim "$name")" "$version" "$(trim "$image")" "$(trim "$mextra")" "$(trim "$args")" \
        "$(trim "$want")" "$(trim "$line")"
    done <<<"$(real_rows)"
    export_case "$version"
  done
  local scenario
  for scenario in "${dialog_cases[@]}"; do dialog_case "$scenario"; done
}

if [ $listing -eq 1 ]; then
  run_all
  exit 0
fi

# --- the guest's set-up -----------------------------------------------------------
source "$W/env"
echo "W32-GUEST-START $(up)"
export HOME=/tmp/home WINEPREFIX=/tmp/prefix WINEARCH=win32 WINEDEBUG=-all
# No .NET or HTML engine installers, and no debugger window when a program crashes.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
mkdir -p "$HOME" "$W/out" "$W/artifacts"
step() { # step NAME COMMAND...: a set-up step, timed
  local t0 rc
  t0=$(up)
  "${@:2}" >"$W/out/$1.log" 2>&1
  rc=$?
  echo "W32-STEP $1 rc=$rc $(awk "BEGIN { printf \"%.1f\", $(up) - $t0 }") s"
  return $rc
}

# One X server for the whole boot; every Wine process uses it.
Xvfb :1 -screen 0 1024x768x24 -nolisten tcp >"$W/out/xvfb.log" 2>&1 &
xvfb=$!
export DISPLAY=:1
for _ in $(seq 1 100); do [ -e /tmp/.X11-unix/X1 ] && break; sleep 0.2; done

if [ -n "${W32_PREFIX_CACHE:-}" ] && [ -s "$W32_PREFIX_CACHE" ]; then
  step prefix-restore tar -C /tmp -I zstd -xf "$W32_PREFIX_CACHE" || echo "W32-ERROR the cached prefix does not unpack"
else
  if step wineboot timeout 900 wine wineboot -i && step wineserver-wait timeout 300 wineserver -w; then
    # The host keeps it, keyed on the Wine package's version.
    step prefix-save tar -C /tmp -I 'zstd -3 -T2' -cf "$W/prefix-new.tar.zst" prefix ||
      rm -f "$W/prefix-new.tar.zst"
  else
    echo "W32-ERROR wineboot failed"
  fi
fi
# One Wine server for every case: a cold start of each program costs a guest
# under emulation half a minute.
wineserver -p
step warm-up timeout 300 wine cmd /c exit 0
run_all
wineserver -k
kill "$xvfb" 2>/dev/null
echo "W32-GUEST-END $(up)"
