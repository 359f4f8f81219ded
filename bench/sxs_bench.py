#!/usr/bin/env python3
"""vostscan --windows against the same scan without the side-by-side store.

Usage: bench/sxs_bench.py [path/to/vostscan] [--runs=N] [--prefix=WINEPREFIX]

Lays out a Windows folder as a Wine prefix has it: System32 and SysWOW64 are
Wine's 64-bit and 32-bit module folders, WinSxS the prefix's store (Common
Controls, GDI+, the VC80/VC90 runtimes, MSXML; the prefix is made under
build/sxs with cmake/wine-run.sh when none is given). Then times (median of N
runs, wall clock, output to /dev/null) the closures of the 104 programs of
Wine's 32-bit folder, all in one process:
  plain     --search-dir SysWOW64 --search-dir-64 System32: no store, no
            manifests read;
  windows   --windows DIR: every program's manifest read, its context built
            from the store (goal: at most 1.2x plain);
  large     --windows DIR2 whose store also holds 30,000 generated assembly
            folders with delta-compressed manifests, as a Windows 10 store
            does (goal: at most 2x plain).
Each pair is timed in turn, so a machine whose load changes weighs on both.
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile

from vostscan_bench import run, timed_pair

WINE32 = "/usr/lib/i386-linux-gnu/wine/i386-windows"
WINE64 = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"
GENERATED = 30000


def windows_folder(path, store):
    os.makedirs(path)
    os.symlink(WINE64, os.path.join(path, "system32"))
    os.symlink(WINE32, os.path.join(path, "syswow64"))
    sxs = os.path.join(path, "winsxs")
    os.makedirs(os.path.join(sxs, "manifests"))
    for entry in os.listdir(store):
        if entry.lower() == "manifests":
            for manifest in os.listdir(os.path.join(store, entry)):
                shutil.copy(os.path.join(store, entry, manifest), os.path.join(sxs, "manifests", manifest))
        else:
            os.symlink(os.path.abspath(os.path.join(store, entry)), os.path.join(sxs, entry))
    return path


def generate(sxs, count):
    """`count` assembly folders named as Windows names them, one file each,
    their manifests delta-compressed (as far as the name and the header go)."""
    for i in range(count):
        arch = ("amd64", "x86", "wow64", "msil")[i % 4]
        name = "microsoft-windows-generated-component-%05d" % i
        if i % 3 == 0:  # long names are shortened around ".."
            name = name[:14] + ".." + name[-12:]
        folder = "%s_%s_31bf3856ad364e35_10.0.19041.%d_none_%016x" % (arch, name, i % 900, i * 2654435761 % 2**64)
        os.makedirs(os.path.join(sxs, folder))
        with open(os.path.join(sxs, folder, "component%d.dll" % i), "wb") as f:
            f.write(b"MZ")
        with open(os.path.join(sxs, "manifests", folder + ".manifest"), "wb") as f:
            f.write(b"DCM\x01PA30" + bytes(24))


def main():
    arguments = [a for a in sys.argv[1:] if not a.startswith("--")]
    runs, prefix = 5, None
    for a in sys.argv[1:]:
        if a.startswith("--runs="):
            runs = int(a.split("=", 1)[1])
        elif a.startswith("--prefix="):
            prefix = a.split("=", 1)[1]
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    vostscan = arguments[0] if arguments else os.path.join(root, "build", "native", "scanner", "vostscan")
    if not prefix:
        build = os.path.join(root, "build", "sxs")
        os.makedirs(build, exist_ok=True)
        with open(os.path.join(build, "wine-arch"), "w") as f:
            f.write("win64\n")
        subprocess.run([os.path.join(root, "cmake", "wine-run.sh"), build], check=True)
        prefix = os.path.join(build, "wineprefix")
    store = os.path.join(prefix, "drive_c", "windows", "winsxs")
    if not os.path.exists(vostscan) or not os.path.isdir(store) or not os.path.isdir(WINE32):
        sys.exit("needs %s, %s and %s" % (vostscan, store, WINE32))

    with tempfile.TemporaryDirectory(prefix="vost-sxs-bench-") as temp:
        small = windows_folder(os.path.join(temp, "small"), store)
        large = windows_folder(os.path.join(temp, "large"), store)
        generate(os.path.join(large, "winsxs"), GENERATED)
        roots = sorted(glob.glob(os.path.join(small, "syswow64", "*.exe")))
        roots_large = [os.path.join(large, "syswow64", os.path.basename(r)) for r in roots]
        plain = ["--search-dir", os.path.join(small, "syswow64"), "--search-dir-64", os.path.join(small, "system32")]
        run([vostscan] + plain + roots)  # warm the page cache

        base, windows = timed_pair(lambda: run([vostscan] + plain + roots),
                                   lambda: run([vostscan, "--windows", small] + roots), runs)
        base2, generated = timed_pair(lambda: run([vostscan] + plain + roots),
                                      lambda: run([vostscan, "--windows", large] + roots_large), runs)
        one = subprocess.run([vostscan, "--list", "--windows", small] + roots, capture_output=True, text=True).stdout
        print("roots: %d; rows from the store: %d; store folders: %d, with the generated ones: %d"
              % (len(roots), one.count("winsxs"), len(os.listdir(store)) - 1,
                 len(os.listdir(os.path.join(large, "winsxs"))) - 1))
        print("plain                  %8.1f ms" % (base * 1000))
        print("windows                %8.1f ms  %.2fx (goal <= 1.2x)" % (windows * 1000, windows / base))
        print("plain (second pair)    %8.1f ms" % (base2 * 1000))
        print("windows, %d folders %8.1f ms  %.2fx (goal <= 2x)" % (GENERATED, generated * 1000, generated / base2))
        print("processors: %d" % (os.cpu_count() or 1))


if __name__ == "__main__":
    main()
