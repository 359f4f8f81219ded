#!/usr/bin/env python3
"""What reading managed code costs a scan of native closures.

Usage: bench/managed_bench.py BASELINE [VOSTSCAN] [--runs=N]

BASELINE is a vostscan built from the commit before managed programs were
read (every module's CLI header looked for, metadata read, app hosts
recognised), for instance:
  git worktree add /tmp/vost-base 51b4ae4
  cmake -S /tmp/vost-base -B /tmp/vost-base/build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOST_TESTS=OFF
  cmake --build /tmp/vost-base/build -j2 --target vostscan
Times (median of N runs, wall clock, output to /dev/null) the closures of the
104 programs of Wine's 32-bit folder in one process, as --list and with
--check, with BASELINE and with VOSTSCAN (default build/native's), each pair
in turn; the goal is at most 1.1x. Then, for scale, the managed test programs
of build/native (tests/managed_programs) with their Windows folder.
"""
import glob
import os
import sys

from vostscan_bench import run, timed_pair

WINE32 = "/usr/lib/i386-linux-gnu/wine/i386-windows"


def main():
    arguments = [a for a in sys.argv[1:] if not a.startswith("--")]
    runs = 11
    for a in sys.argv[1:]:
        if a.startswith("--runs="):
            runs = int(a.split("=", 1)[1])
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    if not arguments:
        sys.exit(__doc__)
    baseline = arguments[0]
    vostscan = arguments[1] if len(arguments) > 1 else os.path.join(root, "build", "native", "scanner", "vostscan")
    if not os.path.exists(baseline) or not os.path.exists(vostscan) or not os.path.isdir(WINE32):
        sys.exit("needs %s, %s and %s" % (baseline, vostscan, WINE32))

    roots = sorted(glob.glob(os.path.join(WINE32, "*.exe")))
    search = ["--search-dir", WINE32]
    run([vostscan, "--list"] + search + roots)  # warm the page cache
    print("roots: %d, processors: %d, runs: %d" % (len(roots), os.cpu_count() or 1, runs))
    for label, options in (("closures", ["--list"]), ("closures --check", ["--list", "--check"]),
                           ("closures -j1", ["--list", "-j1"])):
        base, managed = timed_pair(lambda: run([baseline] + options + search + roots),
                                   lambda: run([vostscan] + options + search + roots), runs)
        print("%-18s %8.1f ms against %8.1f ms: %.3fx (goal <= 1.1x)"
              % (label, managed * 1000, base * 1000, managed / base))

    programs = os.path.join(root, "build", "native", "tests", "managed_programs")
    cases = sorted(glob.glob(os.path.join(programs, "*", "app*.exe")))
    if cases:
        windows = ["--windows", os.path.join(programs, "windows")]
        alone, checked = timed_pair(lambda: run([vostscan, "--list"] + windows + cases),
                                    lambda: run([vostscan, "--list", "--check"] + windows + cases), runs)
        print("%d managed programs with their Windows folder: %.1f ms, %.1f ms with --check"
              % (len(cases), alone * 1000, checked * 1000))


if __name__ == "__main__":
    main()
