#!/bin/sh
# The guest's scenarios: the USB port library and fwupgrade-cli on the host
# side of the kernel's usblp driver (/dev/usb/lp0), the virtual printer on the
# gadget side (fwup-gadget-printer on /dev/g_printer0), both stacks joined by
# dummy_hcd inside this one guest. Usage: scenarios.sh NAME...
# Prints one "KT-RESULT PASS|FAIL name seconds[: reason]" line per scenario;
# a failure is followed by "KT-LOG name: ..." lines with what the run printed.

G=/sys/kernel/config/usb_gadget/printer
ID='MFG:Virtual;CMD:PJL;MODEL:VP-1000;CLS:PRINTER;'
VERSION_QUERY=A5000450E08206
VERSION_REPLY=A5:00:07:50:E0:82:06:31:30:30
COMPLETE='Status: Writing complete....Do not turn off until printer is initialized!'
MIB=1048576
PIN_PRINTER= PIN_HOST=

# --- the gadget -----------------------------------------------------------

# The printer's identity is the gadget's configuration: the kernel answers the
# host's descriptor and device-ID requests from it. usb_f_printer sends a
# device ID of strlen(pnp_string) bytes, its two-byte count included, so the
# text's last two characters never leave it: two fillers make up for that.
make_gadget() {
  mkdir -p $G/strings/0x409 $G/configs/c.1 $G/functions/printer.usb0
  echo 0x043d > $G/idVendor
  echo 0x1000 > $G/idProduct
  echo 0x0100 > $G/bcdDevice
  echo 0x0200 > $G/bcdUSB
  echo Virtual > $G/strings/0x409/manufacturer
  echo VP-1000 > $G/strings/0x409/product
  echo 0001 > $G/strings/0x409/serialnumber
  echo 100 > $G/configs/c.1/MaxPower
  printf '%s' "${ID}__" > $G/functions/printer.usb0/pnp_string
  echo 10 > $G/functions/printer.usb0/q_len
  ln -s $G/functions/printer.usb0 $G/configs/c.1/
}

# Waits up to 10 s for a path to appear (present) or go (absent).
wait_path() {
  i=0
  while [ $i -lt 200 ]; do
    if [ "$2" = present ]; then [ -e "$1" ] && return 0; else [ -e "$1" ] || return 0; fi
    sleep 0.05
    i=$((i + 1))
  done
  return 1
}

plug() {
  ls /sys/class/udc | head -n 1 > $G/UDC || return 1
  wait_path /dev/g_printer0 present && wait_path /dev/usb/lp0 present
}

unplug() {
  [ -n "$(cat $G/UDC 2>/dev/null)" ] && echo > $G/UDC
  wait_path /dev/usb/lp0 absent
}

# Starts the gadget printer with extra options and waits until it holds its node.
# A benchmark on two CPUs keeps the gadget printer on one and the program it
# measures on the other (taskset masks), as a printer and a computer are:
# PIN_PRINTER and PIN_HOST, empty otherwise.
printer() {
  $PIN_PRINTER fwup-gadget-printer --gadget $G --received-image $R/received.bin --report $R/report "$@" \
    2>>$R/printer.log &
  PRN=$!
  i=0
  while [ $i -lt 100 ]; do
    ls -l /proc/$PRN/fd 2>/dev/null | grep -q g_printer0 && { sleep 0.1; return 0; }
    sleep 0.05
    i=$((i + 1))
  done
  why "the gadget printer did not open /dev/g_printer0"
  return 1
}

printer_stop() {
  [ -n "$PRN" ] || return 0
  kill $PRN 2>/dev/null
  wait $PRN 2>/dev/null
  PRN=
}

# --- the host side --------------------------------------------------------

# Writes FWINFO.INI for an image of the given name (demo when $2 is 1), for
# the model $3 (VP-1000, the gadget printer's, unless given).
settings() {
  model=${3:-VP-1000}
  cat > $R/FWINFO.INI <<INI
[Download]
Model=$model

[$model]
FW_File=$1
File_Ver=106
ESC=0
LPT=1
Demo=${2:-0}
INI
}

# Runs fwupgrade-cli in the scenario's folder, as an operator would: the
# settings and ./libveltport.so beside it, the history in the folder too.
# Nothing may hang: CLI_LIMIT seconds at most (60 unless a scenario says otherwise).
cli() {
  (cd $R && XDG_STATE_HOME=$R/state $PIN_HOST timeout ${CLI_LIMIT:-60} fwupgrade-cli --yes "$@" > $R/cli.out 2> $R/cli.err)
  CLI_RC=$?
}

# The same, noting when it started and ended (uptime seconds) in CLI_START and
# CLI_END for `within` (the runner's own t0 and t1 stay the scenario's).
timed_cli() {
  CLI_START=$(now)
  cli "$@"
  CLI_END=$(now)
}

probe() {
  (cd $R && timeout 60 veltport-probe "$@")
}

# --- checks ---------------------------------------------------------------

why() { echo "$*" > $R/why; }

has() {
  grep -qxF "$1" $R/cli.out && return 0
  why "no line \"$1\""
  return 1
}

exit_status() {
  [ "$CLI_RC" = "$1" ] && return 0
  why "fwupgrade-cli ended with $CLI_RC, expected $1"
  return 1
}

# The probe's lines (joined with "|") must be exactly the expected ones:
# expect WANT STEP [+ STEP]...
expect() {
  want=$1
  shift
  got=$(probe "$@" | tr '\n' '|')
  [ "$got" = "$want|" ] && return 0
  why "veltport-probe $*: got [$got], expected [$want|]"
  return 1
}

same_image() {
  cmp -s $R/$1 $R/received.bin && return 0
  why "received image differs from $1 ($(wc -c < $R/received.bin) of $(wc -c < $R/$1) bytes)"
  return 1
}

received_size() { wc -c < $R/received.bin; }

report_has() {
  grep -q "$1" $R/report 2>/dev/null && return 0
  why "gadget printer report lacks $1: $(cat $R/report 2>/dev/null)"
  return 1
}

now() { cut -d' ' -f1 /proc/uptime; }

# Seconds between two uptime readings, one decimal.
seconds() { awk "BEGIN { printf \"%.1f\", $2 - $1 }"; }

within() {
  [ "$(awk "BEGIN { print ($2 - $1 <= $3) }")" = 1 ] && return 0
  why "took $(seconds $1 $2) s, more than $3 s"
  return 1
}

random_file() { head -c $2 /dev/urandom > $R/$1; }

# A value from the gadget printer's report ("name=value" words).
report_value() { tr ' ' '\n' < $R/report | sed -n "s/^$1=//p"; }

# The user + system seconds of the children this shell waited for between two
# files `times` wrote (the builtin must run in this shell, not a subshell).
children_cpu() { awk 'NR == 2 { gsub(/[ms]/, " "); print $1 * 60 + $2 + $3 * 60 + $4 }' $1; }
cpu_between() { awk "BEGIN { printf \"%.2f\", $(children_cpu $2) - $(children_cpu $1) }"; }

# Waits up to $2 seconds until the gadget printer has written $1 bytes.
wait_received() {
  i=0
  while [ $i -lt $(($2 * 20)) ]; do
    [ "$(received_size 2>/dev/null)" = "$1" ] && return 0
    sleep 0.05
    i=$((i + 1))
  done
  why "the gadget printer received $(received_size) of $1 bytes"
  return 1
}

# --- scenarios ------------------------------------------------------------

# Identification through the driver's requests: the device ID with its count
# as usblp hands it, cut to the caller's capacity; the vendor ID; the model.
sc_ids() {
  printer || return 1
  expect "device-id ok=1 capacity=$((${#ID} + 1)) length=${#ID} text=$ID open=1|vendor ok=1 vendor=0x043d open=1|model ok=1 text=VP-1000 open=1" \
    device-id + vendor + model &&
    expect "device-id ok=1 capacity=10 length=9 text=$(echo "$ID" | cut -c1-9) open=1" device-id 10
}

PORTS='ports ok=111 control=/dev/usb/lp0 write=/dev/usb/lp0\PIPE00 read=/dev/usb/lp0\PIPE01 open=1'

sc_ports() {
  printer || return 1
  expect "$PORTS" ports
}

# A command, then its reply after the program's pause: the reply waits in the
# printer (or the driver) until it is read. A second read finds nothing.
sc_write_read() {
  printer || return 1
  expect "device-id ok=1 capacity=$((${#ID} + 1)) length=${#ID} text=$ID open=1|write result=0 written=7 open=1|pause open=1|read result=0 count=10 bytes=$VERSION_REPLY open=1|read result=1 count=0 bytes= open=1" \
    device-id + write $VERSION_QUERY + pause 1000 + read 10 + read 10
}

sc_verify() {
  printer || return 1
  cli verify
  exit_status 0 && has "F/W Version: 1.00" && has "Status: Ready to upgrade..."
}

# Verify after verify: each reply must reach the program, however quickly the
# printer answers.
sc_verify_repeat() {
  printer || return 1
  for i in 1 2 3 4 5 6; do
    cli verify
    exit_status 0 && has "F/W Version: 1.00" || { why "run $i: $(cat $R/why)"; return 1; }
  done
}

sc_upgrade() {
  random_file image.bin $((4 * MIB))
  settings image.bin
  printer || return 1
  cli upgrade
  exit_status 0 && has "$COMPLETE" && same_image image.bin
}

sc_demo() {
  random_file demo.bin 300000
  settings demo.bin 1
  printer || return 1
  cli upgrade
  exit_status 0 && has "Status: Ready to download demo image..." && has "$COMPLETE" && same_image demo.bin
}

# The settings are for another model than the printer's: over USB, as over
# LPT, Linux compares the model with the printer's device ID, so the verify
# stops there and the upgrade is never offered; no image byte is sent.
sc_other_model() {
  random_file image.bin 65536
  settings image.bin 0 VP-2000
  printer || return 1
  cli upgrade
  exit_status 1 && has "Status: Model not matched...!" && ! grep -q '^F/W Version:' $R/cli.out &&
    [ "$(received_size)" = 0 ] || { [ -s $R/why ] || why "a version was read or image bytes arrived"; return 1; }
}

sc_busy() {
  random_file image.bin 65536
  settings image.bin
  printer --download-status 1 || return 1
  cli upgrade
  exit_status 1 && has "Status: Printer is busy...!" && [ "$(received_size)" = 0 ] || { [ -s $R/why ] || why "image bytes arrived"; return 1; }
}

sc_demo_refused() {
  random_file demo.bin 65536
  settings demo.bin 1
  printer --demo-status 2 || return 1
  cli upgrade
  exit_status 1 && has "Status: Your printer is not support Demo print!" && [ "$(received_size)" = 0 ] || { [ -s $R/why ] || why "image bytes arrived"; return 1; }
}

# A printer that takes commands and never answers: the time-outs end the
# procedures with their read errors, promptly. Then one that answers the
# version query but not the download command.
sc_silent() {
  random_file image.bin 65536
  settings image.bin
  printer --silent-from 1 || return 1
  timed_cli verify
  exit_status 1 && has "Status: Reading version data error...!" && within $CLI_START $CLI_END 10 || return 1
  printer_stop
  printer --silent-from 2 || return 1
  timed_cli upgrade
  exit_status 1 && has "Status: Reading command error...!" && within $CLI_START $CLI_END 15 &&
    [ "$(received_size)" = 0 ] || { [ -s $R/why ] || why "image bytes arrived"; return 1; }
}

# A reply 1.5 s after the command still falls inside the program's pause plus
# the read's wait; one 3 s late does not, and is reported as a read error.
sc_late() {
  printer --reply-delay 1500 || return 1
  cli verify
  exit_status 0 && has "F/W Version: 1.00"
}

sc_too_late() {
  printer --reply-delay 3000 || return 1
  cli verify
  exit_status 1 && has "Status: Reading version data error...!"
}

# The reply in two transfers, both sent before the program reads.
sc_split() {
  printer --split-reply 4 --split-pause 200 || return 1
  cli verify
  exit_status 0 && has "F/W Version: 1.00" && has "Status: Ready to upgrade..."
}

# A printer slow to take the data: each block waits, none fails.
sc_slow() {
  random_file image.bin $MIB
  settings image.bin
  printer --take-delay 25 || return 1
  cli upgrade
  exit_status 0 && has "$COMPLETE" && same_image image.bin
}

# A printer that stops taking data: the block's write ends at its time-out
# (10 s) with the data error, and what arrived is a true beginning of the image.
sc_stalled() {
  random_file image.bin $MIB
  settings image.bin
  printer --take-delay 15000 || return 1
  timed_cli upgrade
  exit_status 1 && has "Status: Writing data error...!" && within $CLI_START $CLI_END 40 || return 1
  printer_stop
  n=$(received_size)
  [ "$n" -lt $MIB ] || { why "received $n bytes"; return 1; }
  cmp -s -n "$n" $R/image.bin $R/received.bin || { why "the $n bytes received are not the image's first $n"; return 1; }
}

# Bytes the printer queued before the node was opened are not the reply: a
# stale 16-byte text read as the version reply would show version 7.89.
sc_stale() {
  printer --stale 0123456789ABCDEF || return 1
  cli verify
  exit_status 0 && has "F/W Version: 1.00" && has "Status: Ready to upgrade..."
}

# The reply reaches the host while the write handle is still open: the
# command goes out with a long tail the printer passes over, so the printer
# answers before the write has ended. The read must still get it.
sc_early_reply() {
  printf '\245\000\004\120\340\202\006' > $R/command.bin
  head -c 262144 /dev/zero >> $R/command.bin
  printer || return 1
  expect "device-id ok=1 capacity=$((${#ID} + 1)) length=${#ID} text=$ID open=1|write result=0 written=262151 open=1|read result=0 count=10 bytes=$VERSION_REPLY open=1" \
    device-id + write-file command.bin + read 10
}

# A benchmark: the data phase of an upgrade of a large image through usblp
# against dd bs=8192 of the same file into the same node, in turns (copy,
# upgrade, copy, upgrade, copy, upgrade, copy), each timed by the gadget
# printer from the first image bytes to the last. What is asserted is only
# that every image arrives whole; the figures go to the console as a KT-BENCH
# line: the data phases' seconds, the share (the copies' median time over the
# upgrades'), the best share (the fastest copy's time over the fastest
# upgrade's: what the emulation's jitter, which only ever adds, spoils least),
# and the user + system seconds of the copies and of the whole
# upgrades against their wall time (the printer's 23.5 s of waits included).
# (dd writes blocking: usblp returns from each write once its block is sent.)
# 64 MiB: the data phases of smaller images are short against the emulation's
# jitter. The image and what the printer received fit the guest's memory.
BENCH_MIB=64

# One copy with dd: its data phase's seconds appended to COPIES.
copy_with_dd() {
  printer --raw 1 || return 1
  times > $R/times.before
  $PIN_HOST dd if=$R/image.bin of=/dev/usb/lp0 bs=8192 2> $R/dd.err || { why "dd: $(cat $R/dd.err)"; return 1; }
  times > $R/times.after
  wait_received $((BENCH_MIB * MIB)) 60 || return 1
  printer_stop
  same_image image.bin || return 1
  COPIES="$COPIES $(report_value image_seconds)"
  COPY_CPU="$COPY_CPU $(cpu_between $R/times.before $R/times.after)"
}

# One upgrade: its data phase's seconds appended to UPGRADES.
upgrade_whole() {
  printer || return 1
  times > $R/times.before
  CLI_LIMIT=300
  timed_cli upgrade
  CLI_LIMIT=
  times > $R/times.after
  printer_stop
  exit_status 0 && has "$COMPLETE" && same_image image.bin || return 1
  UPGRADES="$UPGRADES $(report_value image_seconds)"
  UPGRADE_CPU="$UPGRADE_CPU $(cpu_between $R/times.before $R/times.after)/$(seconds $CLI_START $CLI_END)"
}

median() { echo "$*" | tr ' ' '\n' | sort -n | awk '{ v[NR] = $1 } END { printf "%.6f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
least() { echo "$*" | tr ' ' '\n' | sort -n | head -n 1; }

sc_throughput() {
  random_file image.bin $((BENCH_MIB * MIB))
  settings image.bin
  COPIES= UPGRADES= COPY_CPU= UPGRADE_CPU=
  [ "$(nproc)" -ge 2 ] && PIN_PRINTER="taskset 2" PIN_HOST="taskset 1"
  copy_with_dd && upgrade_whole && copy_with_dd && upgrade_whole && copy_with_dd && upgrade_whole && copy_with_dd
  turns_ok=$?
  PIN_PRINTER= PIN_HOST=
  [ $turns_ok = 0 ] || return 1
  echo "KT-BENCH throughput mib=$BENCH_MIB dd_seconds=$(echo $COPIES | tr ' ' ,)" \
    "upgrade_data_seconds=$(echo $UPGRADES | tr ' ' ,)" \
    "share=$(awk "BEGIN { printf \"%.3f\", $(median $COPIES) / $(median $UPGRADES) }")" \
    "best_share=$(awk "BEGIN { printf \"%.3f\", $(least $COPIES) / $(least $UPGRADES) }")" \
    "dd_cpu_seconds=$(echo $COPY_CPU | tr ' ' ,) upgrade_cpu_seconds/wall=$(echo $UPGRADE_CPU | tr ' ' ,)"
}

# A whole upgrade of a small image spends nearly all its time in the
# printer's waits (23.5 s): the program must sleep through them, not poll
# the driver. Its user + system time stays under a tenth of its wall time
# (a loop that spins on the node would use all of it).
sc_idle() {
  random_file image.bin 65536
  settings image.bin
  printer || return 1
  times > $R/times.before
  timed_cli upgrade
  times > $R/times.after
  exit_status 0 && has "$COMPLETE" && same_image image.bin || return 1
  cpu=$(cpu_between $R/times.before $R/times.after)
  wall=$(seconds $CLI_START $CLI_END)
  echo "KT-BENCH idle upgrade_wall_seconds=$wall upgrade_cpu_seconds=$cpu"
  [ "$(awk "BEGIN { print ($cpu <= $wall / 10) }")" = 1 ] && return 0
  why "the upgrade used $cpu s of CPU time in $wall s"
  return 1
}

# The printer unplugged during the data phase: the run ends with the data
# error, the printer holds a true beginning of the image (no block twice).
sc_unplug() {
  random_file image.bin $((4 * MIB))
  settings image.bin
  printer --unplug-after $MIB || return 1
  cli upgrade
  exit_status 1 && has "Status: Writing data error...!" && report_has unplugged=1 || return 1
  n=$(received_size)
  if [ "$n" -lt $MIB ] || [ "$n" -ge $((4 * MIB)) ]; then why "received $n bytes"; return 1; fi
  cmp -s -n "$n" $R/image.bin $R/received.bin || { why "the $n bytes received are not the image's first $n"; return 1; }
}

# The same through the exports: the failing write leaves no node open.
sc_unplug_stream() {
  random_file image.bin $((2 * MIB))
  printer --unplug-after 524288 || return 1
  probe device-id + write A5000450E08205 + pause 500 + read 8 + stream image.bin > $R/probe.out 2>&1; echo "rc=$?" >> $R/probe.out
  got=$(grep "^stream " $R/probe.out)
  case "$got" in
    "stream result=0 "*) why "the stream did not fail: $got"; return 1 ;;
    *" open=0") ;;
    *) why "after the failure: $got"; return 1 ;;
  esac
  n=$(received_size)
  cmp -s -n "$n" $R/image.bin $R/received.bin || { why "the $n bytes received are not the image's first $n"; return 1; }
}

# Unplugged and plugged back between runs: with nothing attached the run ends
# without a printer, and the printer plugged back in is found again as lp0.
sc_replug() {
  printer || return 1
  cli verify
  exit_status 0 && has "F/W Version: 1.00" || return 1
  printer_stop
  unplug || { why "lp0 did not go"; return 1; }
  cli verify
  # Nothing on USB: the program turns to the parallel port, which this guest
  # lacks. The library's own "Failed to open" text, which has no line end of
  # its own, gets one before the status line.
  exit_status 1 && has "Status: Failed to open LPT port" || return 1
  grep -q '^Failed to open () = [0-9]*$' $R/cli.out || { why "the library's text is not a line of its own"; return 1; }
  plug || { why "the printer was not found again"; return 1; }
  printer || return 1
  cli verify
  exit_status 0 && has "F/W Version: 1.00" && has "Status: Ready to upgrade..." &&
    expect "$PORTS" ports
}

# Choosing the printer: list names it, --device reaches that node (or a link
# to it) alone, and a path that names no printer is refused before anything is
# sent. The library itself finds no printer at a node VELTPORT_DEVICE names
# that is not there. A download the printer refused is recorded with the node.
sc_device() {
  random_file image.bin 65536
  settings image.bin
  printer --download-status 1 || return 1
  cli list
  exit_status 0 && has "USB /dev/usb/lp0: VP-1000, vendor 0x043D, ID $ID" || return 1
  ln -s /dev/usb/lp0 $R/chosen
  cli --device $R/chosen verify
  exit_status 0 && has "F/W Version: 1.00" && has "Printer: /dev/usb/lp0 (VP-1000)" || return 1
  cli --device /dev/usb/lp1 upgrade
  exit_status 2 || return 1
  grep -qF 'fwupgrade-cli: --device /dev/usb/lp1 names no printer; the USB printers attached: /dev/usb/lp0 (VP-1000)' \
    $R/cli.err || { why "no refusal: $(cat $R/cli.err)"; return 1; }
  [ ! -s $R/cli.out ] || { why "the refused run printed: $(cat $R/cli.out)"; return 1; }
  [ "$(received_size)" = 0 ] || { why "image bytes arrived"; return 1; }
  # (The library's own "Failed to open" text, without a line break, comes first.)
  (export VELTPORT_DEVICE=/dev/usb/lp1; probe device-id) > $R/probe.out 2>&1
  grep -q "device-id ok=0 " $R/probe.out || { why "the library found a printer at /dev/usb/lp1: $(cat $R/probe.out)"; return 1; }
  cli --device /dev/usb/lp0 upgrade
  exit_status 1 && has "Status: Printer is busy...!" || return 1
  grep -q '"device":"/dev/usb/lp0".*"status":"Printer is busy...!"' $R/state/fwupgrade/history.jsonl ||
    { why "history: $(cat $R/state/fwupgrade/history.jsonl 2>&1)"; return 1; }
}

# --- runner ---------------------------------------------------------------

run() {
  name=$1
  R=/tmp/kt/$name
  rm -rf $R
  mkdir -p $R
  ln -s /opt/fwup/libveltport.so $R/libveltport.so
  settings image.bin
  PRN=
  t0=$(now)
  fn=sc_$(echo "$name" | tr '-' '_')
  if ! type "$fn" >/dev/null 2>&1; then
    echo "KT-RESULT FAIL $name 0.0: no such scenario"
    return
  fi
  # Every scenario starts from a freshly plugged printer.
  unplug
  if ! plug; then
    echo "KT-RESULT FAIL $name $(seconds $t0 $(now)): the gadget printer was not enumerated"
    return
  fi
  $fn
  ok=$?
  printer_stop
  t1=$(now)
  if [ $ok = 0 ]; then
    echo "KT-RESULT PASS $name $(seconds $t0 $t1)"
  else
    echo "KT-RESULT FAIL $name $(seconds $t0 $t1): $(cat $R/why 2>/dev/null)"
    for f in cli.out cli.err probe.out printer.log report; do
      [ -s $R/$f ] && tail -n 15 $R/$f | sed "s/^/KT-LOG $name $f: /"
    done
    dmesg | tail -n 20 | sed "s/^/KT-LOG $name dmesg: /"
  fi
}

make_gadget
for scenario in "$@"; do
  run "$scenario"
done
unplug
