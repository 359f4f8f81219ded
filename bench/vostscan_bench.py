#!/usr/bin/env python3
"""vostscan against llvm-readobj and the open+read floor, on Wine's PE files.

Usage: bench/vostscan_bench.py [path/to/vostscan] [--runs N]

Measures (median of N runs, wall clock, output to /dev/null):
  direct   the direct imports of every file of the folder: vostscan --direct,
           all files in one process (one scanning thread per processor, and
           with -j1 on one thread), against llvm-readobj --coff-imports on the
           same files in one invocation (one thread);
  closure  the whole closure of every .exe of the folder: all roots in one
           process, and (for information) one vostscan process per root;
  check    the closures of all roots in one process with --check (every
           import of every module matched against its module's exports)
           against the same closures without it, the two timed in turn
           (goal: at most 3x); also on one thread and one process per root;
  floor    opening once each distinct file the closures touch and reading its
           first 4 KiB (its headers), in one C process (bench/read_floor.c),
           against all roots in one vostscan process, which reads each of
           those files once however many roots reach it: the least any tool
           that reads those files' headers must spend (goal: at most 3x); and
           (for information) reading each of them whole (cat).
"""
import glob
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

FOLDER = "/usr/lib/i386-linux-gnu/wine/i386-windows"


def timed(function, runs):
    samples = []
    for _ in range(runs):
        start = time.perf_counter()
        function()
        samples.append(time.perf_counter() - start)
    return statistics.median(samples)


def timed_pair(first, second, runs):
    """Medians of two functions timed in turn, so that a machine whose load
    changes during the run weighs on both alike."""
    a, b = [], []
    for _ in range(runs):
        for function, samples in ((first, a), (second, b)):
            start = time.perf_counter()
            function()
            samples.append(time.perf_counter() - start)
    return statistics.median(a), statistics.median(b)


def run(arguments):
    subprocess.run(arguments, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)


def main():
    arguments = [a for a in sys.argv[1:] if not a.startswith("--runs")]
    runs = 5
    for a in sys.argv[1:]:
        if a.startswith("--runs="):
            runs = int(a.split("=", 1)[1])
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    vostscan = arguments[0] if arguments else os.path.join(root, "build", "native", "scanner", "vostscan")
    readobj = shutil.which("llvm-readobj") or shutil.which("llvm-readobj-14")
    if not os.path.exists(vostscan) or not readobj or not os.path.isdir(FOLDER):
        sys.exit("needs %s, llvm-readobj and %s" % (vostscan, FOLDER))

    files = sorted(glob.glob(os.path.join(FOLDER, "*")))
    exes = sorted(f for f in files if f.endswith(".exe"))
    search = ["--search-dir", FOLDER]

    # Every file the closures touch, per root.
    per_root = []
    out = subprocess.run([vostscan, "--json"] + search + exes, capture_output=True, text=True).stdout
    for line in out.splitlines():
        per_root.append([row["path"] for row in json.loads(line)["list"] if row["path"] != "file not found"])
    touched = [path for paths in per_root for path in paths]
    distinct = sorted(set(touched))

    # The floor's reader, built here from bench/read_floor.c.
    floor = os.path.join(tempfile.mkdtemp(prefix="vost-floor-"), "read_floor")
    subprocess.run(["cc", "-O2", "-o", floor, os.path.join(root, "bench", "read_floor.c")], check=True)

    # Warm the page cache once.
    run(["cat"] + touched)
    run([readobj, "--coff-imports"] + files)

    results = {
        "direct_vostscan": timed(lambda: run([vostscan, "--direct"] + search + files), runs),
        "direct_vostscan_j1": timed(lambda: run([vostscan, "--direct", "-j1"] + search + files), runs),
        "direct_readobj": timed(lambda: run([readobj, "--coff-imports"] + files), runs),
        "closure_per_root": timed(lambda: [run([vostscan] + search + [e]) for e in exes], runs),
        "closure_one_process": timed(lambda: run([vostscan] + search + exes), runs),
        "floor": timed(lambda: run([floor] + distinct), runs),
        "read_whole_files": timed(lambda: run(["cat"] + distinct), runs),
    }
    for suffix, extra in (("", []), ("_j1", ["-j1"])):
        results["closure_for_check" + suffix], results["check_one_process" + suffix] = timed_pair(
            lambda: run([vostscan] + extra + search + exes),
            lambda: run([vostscan, "--check"] + extra + search + exes), runs)
    results["closure_for_check_per_root"], results["check_per_root"] = timed_pair(
        lambda: [run([vostscan] + search + [e]) for e in exes],
        lambda: [run([vostscan, "--check"] + search + [e]) for e in exes], runs)
    print("files: %d, roots: %d, files touched by the closures: %d (%d distinct)"
          % (len(files), len(exes), len(touched), len(set(touched))))
    for name, seconds in results.items():
        print("%-22s %8.1f ms" % (name, seconds * 1000))
    print("processors: %d" % (os.cpu_count() or 1))
    print("direct: llvm-readobj / vostscan = %.1fx (goal >= 3x); on one thread %.1fx"
          % (results["direct_readobj"] / results["direct_vostscan"],
             results["direct_readobj"] / results["direct_vostscan_j1"]))
    print("closure, all roots in one process / floor = %.2fx (goal <= 3x)"
          % (results["closure_one_process"] / results["floor"]))
    print("check, all roots in one process / closure = %.2fx (goal <= 3x); on one thread %.2fx; "
          "one process per root %.2fx"
          % (results["check_one_process"] / results["closure_for_check"],
             results["check_one_process_j1"] / results["closure_for_check_j1"],
             results["check_per_root"] / results["closure_for_check_per_root"]))


if __name__ == "__main__":
    main()
