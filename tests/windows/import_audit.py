#!/usr/bin/env python3
"""Import audit of the Windows builds: do the programs load on the Windows they
are built for?

For each of fwupgrade.exe, veltport.dll and fwupgrade-cli.exe of a build:
- every imported DLL!function must be in the allow-list (allowed-imports.txt),
  whose entries all exist on Windows 2000, and none of which Windows 98 SE lacks
  outright; entries Windows 98 SE has only as failing stubs are reported;
- the PE header must ask for OS and subsystem version 4.0 (the 64-bit build:
  subsystem 5.2, the first 64-bit Windows);
- the linker map must not show runtime pieces that need a newer Windows:
  winpthreads, libstdc++'s std::filesystem operations (fs_ops.o), its file
  streams (basic_file.o) or aligned new (new_opa.o).

Usage: import_audit.py [--no-maps] BUILD_DIR...   (exit status 1 on any finding)
"""
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ALLOW_LIST = os.path.join(HERE, "allowed-imports.txt")
FILES = ["fwupgrade.exe", "veltport.dll", "fwupgrade-cli.exe"]
# The oldest Windows an entry may name: Windows 2000 and everything before it.
OLD_ENOUGH = {"95", "98", "NT3.1", "NT3.51", "NT4", "2000"}
WIN98SE = {"yes", "stub"}
# 4.0 loads on Windows 95 and NT 4 and later. 64-bit Windows begins with NT 5.2
# (XP x64, Server 2003), and 5.2 is the oldest subsystem version its images carry.
SUBSYSTEM_X64 = {"MajorSubsystemVersion": 5, "MinorSubsystemVersion": 2}
BANNED_MEMBERS = [
    (re.compile(r"libwinpthread|libpthread"), "winpthreads (XP and Vista functions)"),
    (re.compile(r"libstdc\+\+\.a\(fs_ops\.o\)"), "std::filesystem operations (NT-only and wide functions, _wstat64)"),
    (re.compile(r"libstdc\+\+\.a\(basic_file\.o\)"), "C++ file streams (_fstat64)"),
    (re.compile(r"libstdc\+\+\.a\(new_opa\.o\)"), "aligned new (_aligned_malloc, msvcrt of XP)"),
]


def load_allow_list(path):
    entries, problems = {}, []
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.split("#", 1)[0].strip()
            if not line:
                continue
            fields = line.split()
            if len(fields) not in (4, 5):
                problems.append(f"{path}:{number}: expected NAME DOCUMENTED SINCE WIN98SE [x64]")
                continue
            name, documented, since, win98se = fields[:4]
            only = fields[4] if len(fields) == 5 else None
            if since not in OLD_ENOUGH and not (since == "x64" and only == "x64"):
                problems.append(f"{path}:{number}: {name}: since {since} is newer than Windows 2000")
            if win98se not in WIN98SE:
                problems.append(f"{path}:{number}: {name}: Windows 98 SE column must be yes or stub")
            if only not in (None, "x64"):
                problems.append(f"{path}:{number}: {name}: unknown restriction {only}")
            entries[name.upper()] = {"name": name, "documented": documented, "since": since,
                                     "win98se": win98se, "only": only}
    return entries, problems


def objdump_for(path):
    """The objdump of the file's machine, and the machine, from the PE header."""
    with open(path, "rb") as f:
        data = f.read(4096)
    if data[:2] != b"MZ" or len(data) < 0x40:
        return None, None
    pe = int.from_bytes(data[0x3C:0x40], "little")
    if data[pe:pe + 4] != b"PE\0\0":
        return None, None
    machine = int.from_bytes(data[pe + 4:pe + 6], "little")
    if machine == 0x14C:
        return "i686-w64-mingw32-objdump", "x86"
    if machine == 0x8664:
        return "x86_64-w64-mingw32-objdump", "x64"
    return None, None


def read_pe(objdump, path):
    text = subprocess.run([objdump, "-p", path], capture_output=True, text=True, check=True).stdout
    header = {}
    for key in ("MajorOSystemVersion", "MinorOSystemVersion", "MajorSubsystemVersion", "MinorSubsystemVersion"):
        m = re.search(rf"^{key}\s+(\d+)", text, re.M)
        header[key] = int(m.group(1)) if m else None
    imports, dll = [], None
    for line in text.splitlines():
        m = re.match(r"^\tDLL Name: (\S+)", line)
        if m:
            dll = m.group(1)
            continue
        if dll and re.match(r"^\t[0-9a-f]+\s+\d+\s+\S+", line):
            imports.append(f"{dll}!{line.split()[-1]}")
        elif dll and line.strip() == "":
            dll = None
    return header, sorted(set(imports))


def banned_members(map_path):
    """(member, reason, referenced by) for each banned archive member the map shows."""
    found = []
    with open(map_path, encoding="utf-8", errors="replace") as f:
        lines = f.read().splitlines()
    try:
        start = lines.index("Archive member included to satisfy reference by file (symbol)")
    except ValueError:
        start = 0
    for i in range(start, len(lines)):
        line = lines[i]
        if line.startswith((" ", "\t")) or not line:
            continue
        if line.startswith(("Discarded input sections", "Memory Configuration", "Allocating common symbols")):
            break
        for pattern, reason in BANNED_MEMBERS:
            if pattern.search(line):
                by = lines[i + 1].strip() if i + 1 < len(lines) else ""
                found.append((os.path.basename(line.strip()), reason, by))
    return found


def audit_build(build, allow, use_maps):
    findings, notes = [], []
    for name in FILES:
        path = os.path.join(build, "bin", name)
        label = os.path.join(build, "bin", name)
        if not os.path.isfile(path):
            findings.append(f"{label}: not built")
            continue
        objdump, arch = objdump_for(path)
        if objdump is None:
            findings.append(f"{label}: not a Windows PE file")
            continue
        header, imports = read_pe(objdump, path)
        for key, value in header.items():
            wanted = SUBSYSTEM_X64[key] if arch == "x64" and "Subsystem" in key else (4 if key.startswith("Major") else 0)
            if value != wanted:
                findings.append(f"{label}: {key} is {value}, not {wanted}")
        for imp in imports:
            entry = allow.get(imp.upper())
            if entry is None:
                findings.append(f"{label}: imports {imp}, which is not in the allow-list")
            elif entry["only"] == "x64" and arch != "x64":
                findings.append(f"{label}: imports {imp}, allowed in 64-bit builds only")
            elif entry["win98se"] == "stub" and arch == "x86":
                notes.append(f"{label}: {imp} is only a failing stub on Windows 98 SE")
        if use_maps:
            stem = os.path.splitext(name)[0]
            map_path = os.path.join(build, "maps", stem + ".map")
            if not os.path.isfile(map_path):
                findings.append(f"{label}: no linker map {map_path}")
            else:
                for member, reason, by in banned_members(map_path):
                    findings.append(f"{label}: links {member}: {reason}; pulled in by {by}")
        print(f"  {label}: {len(imports)} imports, OS/subsystem "
              f"{header['MajorOSystemVersion']}.{header['MinorOSystemVersion']}/"
              f"{header['MajorSubsystemVersion']}.{header['MinorSubsystemVersion']}")
    return findings, notes


def main(argv):
    use_maps = "--no-maps" not in argv
    builds = [a for a in argv if a != "--no-maps"]
    if not builds:
        print(__doc__.strip().splitlines()[-1])
        return 2
    allow, problems = load_allow_list(ALLOW_LIST)
    findings = list(problems)
    notes = []
    for build in builds:
        print(f"== import audit: {build}")
        f, n = audit_build(build, allow, use_maps)
        findings += f
        notes += n
    for note in notes:
        print(f"  note: {note}")
    for finding in findings:
        print(f"FAIL: {finding}")
    if findings:
        print(f"import audit: {len(findings)} finding(s)")
        return 1
    print("import audit: every import is in the allow-list, headers ask for 4.0, no banned runtime piece")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
