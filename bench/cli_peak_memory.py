#!/usr/bin/env python3
"""Peak memory of whole fwupgrade-cli upgrades as the image grows.

Runs the built fwupgrade-cli in a fresh folder per case, on a virtual Windows
2000 machine with a printer on USB and a virtual clock, with and without a
ReceivedImage file, and with the printer on the network (served on a loopback
TCP port in the same process, so both ends are counted), and takes the
process's peak resident set from GNU time.
The printer's SHA-256 in the output is checked against hashlib's, so a run
that lost bytes cannot pass as a cheap one.

    cli_peak_memory.py FWUPGRADE_CLI RESULTS.json [--check]

--check: exit status 1 when the 1 GiB upgrade peaks more than 1 MiB above the
16 MiB one (in any of the three kinds). Images are written to $TMPDIR and
removed afterwards.
"""
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

MiB = 1 << 20
GiB = 1 << 30
SIZES = (16 * MiB, GiB)
LIMIT = MiB
TIME = "/usr/bin/time"  # GNU time (Debian package "time"): %M is the peak resident set in KiB

FWINFO = "[Download]\nModel=VP-1000\n[VP-1000]\nFW_File=fw.bin\nFile_Ver=106\nESC=0\nLPT=1\nDemo=0\n"
MACHINE = ("[Machine]\nPlatform=2\nMajor=5\nMinor=0\nClock=virtual\n"
           "[Printer]\nPort={port}\nDeviceID=MFG:Virtual;CMD:PJL;MODEL:VP-1000;CLS:PRINTER;\nVersion=100\n")
# (port, ReceivedImage): the kinds of run measured.
KINDS = (("USB", False), ("USB", True), ("NET", False))


def size_name(n):
    return f"{n // GiB} GiB" if n >= GiB else f"{n // MiB} MiB"


def write_image(path, size):
    """A file of `size` bytes that repeats no short pattern; returns its SHA-256."""
    block = bytes((i * 167 + i // 256) & 0xFF for i in range(MiB))
    digest = hashlib.sha256()
    with open(path, "wb") as out:
        for n in range(size // MiB):
            piece = n.to_bytes(8, "little") + block[8:]
            out.write(piece)
            digest.update(piece)
    return digest.hexdigest()


def run_case(cli, folder, image_sha256, port, received_image):
    with open(os.path.join(folder, "vm.ini"), "w") as vm:
        vm.write(MACHINE.format(port=port) + ("ReceivedImage=got.bin\n" if received_image else ""))
    device = ["--device", "Printer"] if port == "NET" else []
    peak_file = os.path.join(folder, "peak.txt")
    with open(os.path.join(folder, "out.txt"), "wb") as out:
        started = time.monotonic()
        # GNU time starts the program from its own small process: a child
        # forked from this Python process would carry Python's pages until
        # its exec, and the kernel counts them in the child's peak.
        status = subprocess.call([TIME, "-f", "%M", "-o", peak_file, cli, "--virtual-printer", "vm.ini", *device,
                                  "--no-history", "--yes", "upgrade"], cwd=folder, stdout=out, stderr=subprocess.STDOUT,
                                 stdin=subprocess.DEVNULL)
        seconds = time.monotonic() - started
    with open(os.path.join(folder, "out.txt")) as out:
        text = out.read()
    with open(peak_file) as peak:
        peak_kib = int(peak.read().split()[-1])
    problems = []
    if status != 0:
        problems.append(f"exit status {status}")
    if f"SHA-256 {image_sha256}\n" not in text:
        problems.append("the printer's SHA-256 is not the image's")
    if received_image:
        got = os.path.join(folder, "got.bin")
        if os.path.getsize(got) != os.path.getsize(os.path.join(folder, "fw.bin")):
            problems.append("ReceivedImage has another size than the image")
        os.remove(got)
    return {"peak_rss_bytes": peak_kib * 1024, "seconds": seconds, "problems": problems, "output": text}


def report_missed(failed, check):
    """Prints the targets missed; the exit status (1 only with --check)."""
    if failed:
        print("targets missed:")
        for line in failed:
            print("  " + line)
        return 1 if check else 0
    return 0


def main():
    cli, results_path = os.path.abspath(sys.argv[1]), sys.argv[2]
    check = "--check" in sys.argv[3:]
    rows = []
    failed = []
    for size in SIZES:
        folder = tempfile.mkdtemp(prefix="fwup-cli-memory-")
        try:
            with open(os.path.join(folder, "FWINFO.INI"), "w") as fwinfo:
                fwinfo.write(FWINFO)
            image_sha256 = write_image(os.path.join(folder, "fw.bin"), size)
            for port, received_image in KINDS:
                case = run_case(cli, folder, image_sha256, port, received_image)
                case.update(size=size, port=port, received_image=received_image)
                rows.append(case)
                if case["problems"]:
                    failed.append(f"{size_name(size)}, {port}, ReceivedImage {'yes' if received_image else 'no'}: "
                                  + "; ".join(case["problems"]) + "\n" + case["output"])
        finally:
            shutil.rmtree(folder)

    with open(results_path, "w") as out:
        json.dump([{k: v for k, v in row.items() if k != "output"} for row in rows], out, indent=2)

    print("peak resident memory of a whole fwupgrade-cli upgrade (virtual printer, virtual clock)")
    print(f"| {'port'} | {'ReceivedImage':13} | {'image':6} | {'peak RSS':>10} | {'time':>7} | {'rate':>10} |")
    print(f"|{'-' * 6}|{'-' * 15}|{'-' * 8}|{'-' * 12}|{'-' * 9}|{'-' * 12}|")
    peaks = {}
    for row in rows:
        peaks[(row["port"], row["received_image"], row["size"])] = row["peak_rss_bytes"]
        print(f"| {row['port']:4} | {'yes' if row['received_image'] else 'no':13} | {size_name(row['size']):6} | "
              f"{row['peak_rss_bytes'] / MiB:6.2f} MiB | {row['seconds']:5.2f} s | "
              f"{row['size'] / row['seconds'] / 1e6:6.0f} MB/s |")
    for port, received_image in KINDS:
        growth = peaks[(port, received_image, GiB)] - peaks[(port, received_image, 16 * MiB)]
        label = f"{port} " + ("with ReceivedImage" if received_image else "without ReceivedImage")
        print(f"  {label}: 1 GiB peaks {growth / 1024:+.0f} KiB against 16 MiB (limit: {LIMIT // 1024} KiB)")
        if abs(growth) > LIMIT:
            failed.append(f"CLI peak memory {label} grows by {growth / 1024:.0f} KiB")
    return report_missed(failed, check)


if __name__ == "__main__":
    sys.exit(main())
