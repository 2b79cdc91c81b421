#!/usr/bin/env python3
"""Whole fwupgrade-cli upgrades against the best plain tool, and how idle the
program stays while it waits.

    cli_speed.py FWUPGRADE_CLI FWUP_SHA256_FILE RESULTS.json [--check]

* The digest: fwup_sha256_file (the virtual printer's SHA-256 with the
  processor's instructions, and with the portable code) against
  `openssl dgst -sha256` of the same 512 MiB file.
* The whole run: `fwupgrade-cli --virtual-printer vm.ini --no-history --yes
  upgrade` of the same file (Windows 2000, USB printer, virtual clock, no
  ReceivedImage) against `openssl dgst -sha256` of it. Target: at least 0.8 of
  openssl's rate, and a peak resident set within 1 MiB of a 16 MiB image's
  run. The same run keeping its history (a second SHA-256 of the image, for
  the record) is shown beside it, in a history folder of the benchmark's own.
* Idle waits: a whole upgrade of a 64 MiB image on the real clock, the
  printer's waits included (about 25 s): user + system time against wall
  time. Target: at most 2%.

All timed runs read the file from the page cache; each tool runs REPEATS
times in turns and the medians are compared, so a machine that is busy for a
while slows all of them alike. --check: exit status 1 when a target is
missed. Images are written to $TMPDIR and removed afterwards.
"""
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from cli_peak_memory import FWINFO, MACHINE, MiB, TIME, report_missed, write_image

LARGE = 512 * MiB
SMALL = 16 * MiB
IDLE_IMAGE = 64 * MiB
REPEATS = 5
WHOLE_RUN_TARGET = 0.8
MEMORY_LIMIT = MiB
IDLE_TARGET = 0.02
# The machine file is a template over the printer's port; these runs use USB.
USB_MACHINE = MACHINE.format(port="USB")
REAL_CLOCK_MACHINE = USB_MACHINE.replace("Clock=virtual", "Clock=real")


def timed(command, cwd=None):
    """Runs a command; returns (wall seconds, user + system seconds, its output)."""
    started = time.perf_counter()
    process = subprocess.Popen(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               stdin=subprocess.DEVNULL)
    output = process.stdout.read()
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - started
    process.returncode = os.waitstatus_to_exitcode(status)
    process.stdout.close()
    text = output.decode(errors="replace")
    if process.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} ended with {process.returncode}:\n{text}")
    return wall, usage.ru_utime + usage.ru_stime, text


def peak_rss(command, cwd):
    """The peak resident set of a run in bytes, from GNU time (see cli_peak_memory.py)."""
    with tempfile.NamedTemporaryFile(mode="r", suffix=".txt") as peak:
        subprocess.run([TIME, "-f", "%M", "-o", peak.name] + command, cwd=cwd, check=True,
                       stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        return int(peak.read().split()[-1]) * 1024


def upgrade_folder(size, machine):
    folder = tempfile.mkdtemp(prefix="fwup-cli-speed-")
    with open(os.path.join(folder, "FWINFO.INI"), "w") as fwinfo:
        fwinfo.write(FWINFO)
    with open(os.path.join(folder, "vm.ini"), "w") as vm:
        vm.write(machine)
    return folder, write_image(os.path.join(folder, "fw.bin"), size)


def main():
    cli, digest_tool, results_path = (os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), sys.argv[3])
    check = "--check" in sys.argv[4:]
    upgrade = [cli, "--virtual-printer", "vm.ini", "--yes", "upgrade"]
    # The history's record reads the image again after the download for its
    # SHA-256: a second digest of every byte beside the printer's. The target
    # is for the run itself; the run that keeps its history is shown beside it.
    upgrade_alone = [cli, "--virtual-printer", "vm.ini", "--no-history", "--yes", "upgrade"]
    failed = []
    results = {}

    folder, sha256 = upgrade_folder(LARGE, USB_MACHINE)
    try:
        image = os.path.join(folder, "fw.bin")
        tools = {
            "openssl dgst -sha256": (["openssl", "dgst", "-sha256", image], sha256),
            "digest, processor": ([digest_tool, image], sha256),
            "digest, portable": ([digest_tool, "--portable", image], sha256),
            "fwupgrade-cli upgrade": (upgrade_alone, f"SHA-256 {sha256}\n"),
            "upgrade with history": (upgrade, f"SHA-256 {sha256}\n"),
        }
        walls = {name: [] for name in tools}
        for turn in range(REPEATS):
            # Alternating order: no tool always runs first or last.
            names = list(tools) if turn % 2 == 0 else list(reversed(tools))
            for name in names:
                command, expected = tools[name]
                wall, _, text = timed(command, cwd=folder)
                if expected not in text:
                    raise RuntimeError(f"{name}: the digest is not the image's:\n{text}")
                walls[name].append(wall)
        medians = {name: statistics.median(w) for name, w in walls.items()}
        large_peak = peak_rss(upgrade, folder)
    finally:
        shutil.rmtree(folder)

    folder, _ = upgrade_folder(SMALL, USB_MACHINE)
    try:
        small_peak = peak_rss(upgrade, folder)
    finally:
        shutil.rmtree(folder)

    folder, sha256 = upgrade_folder(IDLE_IMAGE, REAL_CLOCK_MACHINE)
    try:
        idle_wall, idle_cpu, text = timed(upgrade, cwd=folder)
        if f"SHA-256 {sha256}\n" not in text:
            raise RuntimeError(f"the real-clock run's digest is not the image's:\n{text}")
    finally:
        shutil.rmtree(folder)

    openssl = medians["openssl dgst -sha256"]
    print(f"512 MiB image from the page cache, median of {REPEATS} runs in turns")
    print(f"| {'tool':24} | {'time':>8} | {'rate':>10} | {'against openssl':>15} |")
    print(f"|{'-' * 26}|{'-' * 10}|{'-' * 12}|{'-' * 17}|")
    for name, wall in medians.items():
        print(f"| {name:24} | {wall:6.3f} s | {LARGE / wall / 1e6:5.0f} MB/s | {openssl / wall:15.2f} |")
        results[name] = {"seconds": wall, "runs": walls[name], "ratio_to_openssl": openssl / wall}
    whole = openssl / medians["fwupgrade-cli upgrade"]
    growth = large_peak - small_peak
    print(f"  whole run: {whole:.2f} of openssl's rate (target: at least {WHOLE_RUN_TARGET})")
    print(f"  peak memory: {large_peak / MiB:.2f} MiB for 512 MiB, {small_peak / MiB:.2f} MiB for 16 MiB "
          f"({growth / 1024:+.0f} KiB, limit {MEMORY_LIMIT // 1024} KiB)")
    if whole < WHOLE_RUN_TARGET:
        failed.append(f"whole run at {whole:.2f} of openssl's rate")
    if abs(growth) > MEMORY_LIMIT:
        failed.append(f"peak memory grows by {growth / 1024:.0f} KiB from 16 MiB to 512 MiB")

    share = idle_cpu / idle_wall
    print()
    print(f"idle waits: a whole upgrade of a {IDLE_IMAGE // MiB} MiB image on the real clock: "
          f"{idle_wall:.2f} s wall, {idle_cpu:.3f} s user + system = {share:.2%} (target: at most {IDLE_TARGET:.0%})")
    if share > IDLE_TARGET:
        failed.append(f"real-clock upgrade busy {share:.2%} of its wall time")
    results["peak_rss_bytes"] = {"512 MiB": large_peak, "16 MiB": small_peak}
    results["real_clock_upgrade"] = {"image_bytes": IDLE_IMAGE, "wall_seconds": idle_wall, "cpu_seconds": idle_cpu}
    with open(results_path, "w") as out:
        json.dump(results, out, indent=2)

    return report_missed(failed, check)


if __name__ == "__main__":
    # The runs keep their history, as a user's run does, but in a folder of
    # their own rather than the user's.
    state = tempfile.mkdtemp(prefix="fwup-cli-speed-state-")
    os.environ["XDG_STATE_HOME"] = state
    try:
        sys.exit(main())
    finally:
        shutil.rmtree(state)
