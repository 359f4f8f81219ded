#!/usr/bin/env python3
"""The export table of a module with many exports: vostscan --exports (and
--exports --undecorate, --json) against the same direct scan without it.

Usage: bench/functions_bench.py [path/to/vostscan] [--runs=N] [--exports=N]
                                [--dialog=WINDOWS_BUILD_DIR]

Builds with i686-w64-mingw32-gcc a DLL exporting N functions (default
20,000; half Microsoft-decorated, half Itanium names, all one entry point),
then times (median of N runs, wall clock, output to /dev/null) the direct
scan of it with and without the export table, and reports the time and the
peak memory per export over the plain scan: what filling a list of that
table costs, reading, rows and undecorated names included.

With --dialog (a Windows build tree, 32-bit: build/windows) it times the
page's Functions dialog instead, under Wine on a private X server: a
program importing the DLL is opened in a property sheet and its
functions_fill_bench.exe reports the time from the command to the filled
dialog, a filter typed, a sort by name, undecorating, and the memory
committed per export while the dialog is open.
"""
import os
import subprocess
import sys
import tempfile
import time
import statistics


def build(folder, count):
    with open(os.path.join(folder, "lib.c"), "w") as f:
        f.write("int impl(void) { return 0; }\n")
    with open(os.path.join(folder, "big.def"), "w") as f:
        f.write("LIBRARY big.dll\nEXPORTS\n")
        f.write("  plain = impl\n")
        for i in range(count):
            if i % 2:
                f.write('  "?f%d@ns@@YAHH@Z" = impl\n' % i)
            else:
                name = "f%d" % i
                f.write("  _ZN2ns%d%sEi = impl\n" % (len(name), name))
    dll = os.path.join(folder, "big.dll")
    subprocess.run(["i686-w64-mingw32-gcc", "-shared", "-o", dll, os.path.join(folder, "lib.c"),
                    os.path.join(folder, "big.def")], check=True)
    return dll


def dialog(build_dir, folder, dll, runs):
    with open(os.path.join(folder, "app.c"), "w") as f:
        f.write("int plain(void);\nint main(void) { return plain(); }\n")
    app = os.path.join(folder, "app.exe")
    subprocess.run(["i686-w64-mingw32-gcc", "-o", app, os.path.join(folder, "app.c"), dll], check=True)
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    bench = os.path.join(build_dir, "tests", "shell", "functions_fill_bench.exe")
    windows_app = "Z:" + app.replace("/", "\\")
    subprocess.run(["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", os.path.join(root, "cmake", "wine-run.sh"),
                    build_dir, bench, windows_app, "BIG.DLL", str(runs)], check=True)


def measure(arguments, runs):
    """Median wall time and the largest peak resident size, in kB."""
    times, peak = [], 0
    for _ in range(runs):
        start = time.perf_counter()
        process = subprocess.Popen(arguments, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, _, usage = os.wait4(process.pid, 0)
        times.append(time.perf_counter() - start)
        peak = max(peak, usage.ru_maxrss)
    return statistics.median(times), peak


def main():
    options = dict(a[2:].split("=", 1) for a in sys.argv[1:] if a.startswith("--"))
    positional = [a for a in sys.argv[1:] if not a.startswith("--")]
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    vostscan = positional[0] if positional else os.path.join(root, "build", "native", "scanner", "vostscan")
    runs = int(options.get("runs", 9))
    count = int(options.get("exports", 20000))
    with tempfile.TemporaryDirectory() as folder:
        dll = build(folder, count)
        if "dialog" in options:
            dialog(os.path.abspath(options["dialog"]), folder, dll, runs)
            return
        plain = measure([vostscan, "--direct", dll], runs)
        print("%d exports, %d runs each; plain direct scan: %.1f ms, peak %d kB" % (count, runs, plain[0] * 1e3, plain[1]))
        for extra in (["--exports"], ["--exports", "--undecorate"], ["--exports", "--undecorate", "--json"]):
            took, peak = measure([vostscan, "--direct"] + extra + [dll], runs)
            print("%-32s %7.1f ms (+%.2f us per export), peak %d kB (+%d bytes per export)" % (
                " ".join(extra), took * 1e3, (took - plain[0]) * 1e6 / count, peak,
                (peak - plain[1]) * 1024 // count))


if __name__ == "__main__":
    main()
