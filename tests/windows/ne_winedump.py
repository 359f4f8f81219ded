#!/usr/bin/env python3
"""vostscan.exe --exports against Wine's winedump on every NE module of the
build tree's Wine prefix (the 16-bit modules wineboot writes, ~50 files):
each entry point's ordinal, segment:offset (or constant) and name.

Usage: ne_winedump.py <build tree>   (exit 77: skipped, no winedump)"""
import json
import os
import re
import shutil
import struct
import subprocess
import sys


def ne_files(root):
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            try:
                with open(path, "rb") as f:
                    head = f.read(64)
                    if len(head) < 64 or head[:2] != b"MZ":
                        continue
                    f.seek(struct.unpack_from("<I", head, 60)[0])
                    if f.read(2) == b"NE":
                        yield path
            except OSError:
                pass


def canonical(location):
    """"SSSS:OOOO" / "s:oooo" as "s:oooo"; constants as "const vvvv"."""
    match = re.fullmatch(r"([0-9A-Fa-f]+):([0-9A-Fa-f]+)", location)
    if match:
        return "%d:%04x" % (int(match.group(1), 16 if len(match.group(1)) == 4 else 10), int(match.group(2), 16))
    return "const %04x" % int(location.split()[-1].replace("0x", ""), 16)


def winedump_entries(path):
    entries, inside = [], False
    for line in subprocess.run(["winedump", "-x", path], capture_output=True, text=True).stdout.splitlines():
        if line.strip() == "Exported entry points:":
            inside = True
        elif inside and not line.strip():
            break
        elif inside:
            ordinal, kind, location, name = re.match(r"\s*(\d+) (\S+)\s+(\S+)\s?(.*)", line).groups()
            entries.append("%s %s %s" % (ordinal, canonical("const " + location if kind == "CONST" else location),
                                         name.rstrip()))
    return entries


def main():
    build = sys.argv[1]
    if not shutil.which("winedump"):
        print("no winedump (wine64-tools)")
        return 77
    drive_c = os.path.join(build, "wineprefix", "drive_c")
    wine_run = os.path.join(os.path.dirname(__file__), "..", "..", "cmake", "wine-run.sh")
    subprocess.run([wine_run, build], check=True)  # makes the prefix when there is none yet
    files = sorted(ne_files(os.path.join(drive_c, "windows")))
    names = ["c:\\" + os.path.relpath(path, drive_c).replace("/", "\\") for path in files]
    run = subprocess.run([wine_run, build, os.path.join(build, "tests", "shell", "vostscan.exe"), "--direct",
                          "--exports", "--json"] + names, capture_output=True, text=True)
    documents = [json.loads(line) for line in run.stdout.splitlines() if line.startswith("{")]
    failures = 0 if len(documents) == len(files) else 1
    entries = 0
    for path, document in zip(files, documents):
        table = document.get("exports") or {"entries": []}
        ours = ["%d %s %s" % (e["ordinal"], canonical(e["entry"]), e.get("name", "")) for e in table["entries"]]
        theirs = winedump_entries(path)
        entries += len(theirs)
        if [line.rstrip() for line in ours] != theirs:
            failures += 1
            print(f"{path}: vostscan.exe {len(ours)} entries, winedump {len(theirs)}")
    print(f"{len(files)} NE modules, {entries} entry points, {failures} differing")
    return 1 if failures or entries == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
