#!/usr/bin/env python3
"""Hostile decorated names (tests/support/hostile_names.h: back-references
and substitutions nested 20, 30 and 64 deep, pointers as deep, plain names
within and past the length cap, truncated names) through
vostscan --exports --imports --undecorate, natively and under Wine, and
through the Functions dialog.

Usage: bench/undecorate_bench.py [--native=build/native] [--windows=BUILD_DIR]
                                 [--dialog] [--runs=N]

For each name, a program that exports it 100 times and imports it as often
from a DLL that exports it too is scanned (shortest wall time of N runs,
largest peak resident size), against the same scan of a program naming an
ordinary decorated name: the difference in time over the 200 names read is
what one name costs, the difference in memory what the process takes above
its size without them. Goal: under 50 ms per name, 100 MB. --windows (a Windows build tree: build/windows, build/windows64)
scans with its vostscan.exe under Wine (process start included on both
sides); --dialog times the page's Functions dialog under Wine on a DLL
exporting every hostile name and 5,000 ordinary ones: the time until every
readable name is made, and the longest the property sheet took to answer
meanwhile.
"""
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COPIES = 200  # each scan reads each name 100 times as an import, 100 as an export


def measure(arguments, runs, env=None):
    """The shortest wall time of the runs (s): what the work costs without the
    machine's noise, which under Wine's process start is larger than the
    work; and the largest peak resident size (kB)."""
    times, peak = [], 0
    for _ in range(runs):
        start = time.perf_counter()
        process = subprocess.Popen(arguments, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
        _, _, usage = os.wait4(process.pid, 0)
        times.append(time.perf_counter() - start)
        peak = max(peak, usage.ru_maxrss)
    return min(times), peak


def wine_environment(build):
    with open(os.path.join(build, "wine-arch")) as f:
        arch = f.read().strip()
    return dict(os.environ, WINEARCH=arch, WINEPREFIX=os.path.join(build, "wineprefix"), WINEDEBUG="-all",
                WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d", HOME=os.path.join(build, "winehome"))


def table(title, command, cases, runs, env=None):
    base_time, base_peak = measure(command(os.path.join(cases, "baseline")), runs, env)
    print("%s: ordinary name %.1f ms, peak %d kB; per hostile name, above it (time per name read):" %
          (title, base_time * 1e3, base_peak))
    worst_time, worst_memory = 0.0, 0
    with open(os.path.join(cases, "names.tsv")) as f:
        for line in f:
            folder, shown, length, label = line.rstrip("\n").split("\t")
            took, peak = measure(command(os.path.join(cases, folder)), runs, env)
            extra_ms, extra_kb = (took - base_time) * 1e3 / COPIES, peak - base_peak
            worst_time, worst_memory = max(worst_time, extra_ms), max(worst_memory, extra_kb)
            print("  %-55s %5s bytes, %-4s %+8.3f ms %+8d kB" % (label, length, shown, extra_ms, extra_kb))
    verdict = "met" if worst_time < 50 and worst_memory < 100 * 1024 else "NOT met"
    print("  worst: %+.3f ms, %+d kB (goal: 50 ms, 100 MB: %s)" % (worst_time, worst_memory, verdict))


def main():
    options = dict(a[2:].split("=", 1) if "=" in a else (a[2:], "") for a in sys.argv[1:] if a.startswith("--"))
    native = os.path.abspath(options.get("native", os.path.join(ROOT, "build", "native")))
    runs = int(options.get("runs", 9))
    generator = os.path.join(native, "tests", "support", "hostile_name_images")
    with tempfile.TemporaryDirectory() as cases:
        subprocess.run([generator, cases], check=True)
        vostscan = os.path.join(native, "scanner", "vostscan")
        table("native vostscan", lambda folder: [vostscan, "--exports", "--imports", "--undecorate",
                                                 os.path.join(folder, "app.exe")], cases, runs)
        if "windows" not in options:
            return
        build = os.path.abspath(options["windows"])
        env = wine_environment(build)
        runner = os.path.join(ROOT, "cmake", "wine-run.sh")
        subprocess.run([runner, build], check=True)  # the prefix, made once
        subprocess.run(["wineserver", "-p"], env=env, check=True)
        try:
            exe = os.path.join(build, "tests", "shell", "vostscan.exe")
            wine = "/usr/lib/wine/wine64" if env["WINEARCH"] == "win64" else "wine"
            table("vostscan.exe under Wine (" + os.path.basename(build) + ")",
                  lambda folder: [wine, exe, "--exports", "--imports", "--undecorate",
                                  "Z:" + os.path.join(folder, "app.exe").replace("/", "\\")], cases, runs, env)
            if "dialog" in options:
                # The prefix's desktop was made by a program without a display:
                # the dialog's program starts a new one on the private X server.
                subprocess.run(["wineserver", "-k"], env=env)
                subprocess.run(["wineserver", "-w"], env=env)
                bench = os.path.join(build, "tests", "shell", "functions_fill_bench.exe")
                app = "Z:" + os.path.join(cases, "all", "app.exe").replace("/", "\\")
                subprocess.run(["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", runner, build, bench, app,
                                "HOSTILE.DLL", str(runs)], check=True)
        finally:
            subprocess.run(["wineserver", "-k"], env=env)


if __name__ == "__main__":
    main()
