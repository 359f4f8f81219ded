#!/usr/bin/env python3
"""Load curve: generated closures of 10, 100, 1,000 and 5,000 modules scanned
by vostscan natively, by the Dependencies page under Wine (in-process host,
real controls) and by vostscan.exe under Wine; one table row per size and way.

Usage: bench/load_curve.py [--native-build DIR] [--windows-build DIR]
                           [--counts 10,100,1000,5000] [--runs N]
                           [--no-wine-scanner] [--delay-load] [--exact]
                           [--output FILE]

With --delay-load every third reference of the generated closure is a
delay-load (the page walks them by default; the scanners are given
--delay-load as well).

With --exact every import is spelled as its file is named. Wine finds such a
name with one lookup; a name in another case has it list the folder, whose
cost grows with the folder (5,000 files at 5,000 modules): comparing the two
runs separates Wine's file layer from the scan's own growth per module.

Needs the native build (vostscan, tests/lifetime/closure_gen) and the Windows
build (tests/lifetime/page_load_probe.exe, vost.dll, vostscan.exe). Runs
itself under xvfb-run when no display is set, with the Windows build's Wine
prefix and one wineserver kept for the whole run.

Columns: total time (median of N runs; the page: from opening the sheet to
the end of its scan and its check, measured inside the process; the scanners: the whole
process), time per module, and peak memory (natively the process's peak
RSS; under Wine the process's peak working set, which Wine takes from the
process's own peak RSS, so the two compare).
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def option(name, default):
    for i, arg in enumerate(sys.argv):
        if arg == name and i + 1 < len(sys.argv):
            return sys.argv[i + 1]
        if arg.startswith(name + "="):
            return arg.split("=", 1)[1]
    return default


def wine_environment(build):
    env = dict(os.environ)
    env.update({
        "WINEARCH": "win32",
        "WINEPREFIX": os.path.join(build, "wineprefix"),
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
        "HOME": os.path.join(build, "winehome"),
    })
    return env


def timed_process(arguments, env=None):
    """Wall seconds and peak RSS (bytes) of one process and its children."""
    start = time.perf_counter()
    process = subprocess.Popen(arguments, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    output = process.stdout.read()
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    return time.perf_counter() - start, usage.ru_maxrss * 1024, output.decode(errors="replace")


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


def goal_lines(rows, walks):
    """The page against vostscan.exe at 1,000 and 5,000 modules, the page
    with its check against its walk alone, and each way's growth in time per
    module from 1,000 to 5,000, when the table has those cells."""
    seconds = {(way, count): total for way, count, total, _ in rows}
    lines = []
    if ("page under Wine", 1000) in seconds and walks.get(1000):
        lines.append("- page with its check / without (its walk alone) at 1,000 modules: %.2fx (goal <= 1.3x)"
                     % (seconds["page under Wine", 1000] / walks[1000]))
    page, scanner, checker = "page under Wine", "vostscan.exe under Wine", "vostscan.exe --check under Wine"
    for count in sorted(walks):
        if (scanner, count) in seconds:
            lines.append("- page's walk / vostscan.exe at %s modules: %.2fx (goal <= 1.3x; with delay-loaded modules"
                         " <= 1.2x)" % (format(count, ","), walks[count] / seconds[scanner, count]))
        if (page, count) in seconds and (checker, count) in seconds:
            lines.append("- page with its check / vostscan.exe --check at %s modules: %.2fx (goal <= 1.5x)"
                         % (format(count, ","), seconds[page, count] / seconds[checker, count]))
    # Growth in time per module from 1,000 to 5,000: the page's walk against
    # vostscan.exe, the page with its check against vostscan.exe --check.
    timed = dict(seconds)
    for count, walk in walks.items():
        timed["page's walk under Wine", count] = walk
    for way in ("page's walk under Wine", scanner, page, checker, "vostscan (native)"):
        if (way, 1000) in timed and (way, 5000) in timed:
            growth = (timed[way, 5000] / 5000) / (timed[way, 1000] / 1000)
            lines.append("- %s: time per module at 5,000 / at 1,000 = %.2fx" % (way, growth))
    return lines


def main():
    native = os.path.abspath(option("--native-build", os.path.join(HERE, "build", "native")))
    windows = os.path.abspath(option("--windows-build", os.path.join(HERE, "build", "windows")))
    counts = [int(c) for c in option("--counts", "10,100,1000,5000").split(",")]
    runs = int(option("--runs", "1"))
    output = option("--output", None)
    wine_scanner = "--no-wine-scanner" not in sys.argv
    delay = "--delay-load" in sys.argv
    exact = "--exact" in sys.argv

    vostscan = os.path.join(native, "scanner", "vostscan")
    generator = os.path.join(native, "tests", "lifetime", "closure_gen")
    lifetime = os.path.join(windows, "tests", "lifetime")
    probe = os.path.join(lifetime, "page_load_probe.exe")
    for needed in (vostscan, generator, probe, os.path.join(lifetime, "vost.dll")):
        if not os.path.exists(needed):
            sys.exit("load_curve: missing " + needed)

    if not os.environ.get("DISPLAY"):
        os.execvp("xvfb-run", ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24",
                               sys.executable] + sys.argv)

    env = wine_environment(windows)
    subprocess.run([os.path.join(HERE, "cmake", "wine-run.sh"), windows], check=True)
    subprocess.run(["wineserver", "-p"], env=env, check=True)
    subprocess.run(["wine", "cmd", "/c", "exit"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    load = os.getloadavg()[0]
    rows = []
    walks = {}  # the page's time until its walk ended, before its check, by count
    scratch = tempfile.mkdtemp(prefix="vost-load-curve-")
    try:
        for count in counts:
            folder = os.path.join(scratch, "c%d" % count)
            root = subprocess.run([generator, str(count), folder, str(count)] +
                                  (["exact"] if exact else []) + (["delay"] if delay else []),
                                  check=True, capture_output=True, text=True).stdout.strip()

            # The page walks delay-load directories by default: the scanners too.
            samples = [timed_process([vostscan, "--delay-load", "--json", root]) for _ in range(runs)]
            rows.append(("vostscan (native)", count, statistics.median(s[0] for s in samples),
                         max(s[1] for s in samples)))

            page = []
            for _ in range(runs):
                _, _, text = timed_process(["wine", probe, wine_path(root), str(count + 2)], env)
                fields = dict(re.findall(r"(\w+)=([\d.]+)", text))
                if "seconds" not in fields:
                    sys.exit("load_curve: the page probe failed: " + text)
                if int(fields["rows"]) != count + 2:
                    sys.exit("load_curve: the page listed %s rows for %d modules" % (fields["rows"], count))
                page.append((float(fields["seconds"]), int(fields["peakWorkingSet"]),
                             float(fields["walkSeconds"])))
            rows.append(("page under Wine", count, statistics.median(p[0] for p in page),
                         max(p[1] for p in page)))
            walks[count] = statistics.median(p[2] for p in page)

            if wine_scanner:
                for way, extra in (("vostscan.exe under Wine", []), ("vostscan.exe --check under Wine", ["--check"])):
                    samples = [timed_process(["wine", os.path.join(lifetime, "vostscan.exe"), "--delay-load", "--json"]
                                             + extra + [wine_path(root)], env) for _ in range(runs)]
                    rows.append((way, count, statistics.median(s[0] for s in samples), max(s[1] for s in samples)))
            shutil.rmtree(folder, ignore_errors=True)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
        subprocess.run(["wineserver", "-k"], env=env)

    lines = ["| scanned by | modules | total time (s) | time per module (ms) | peak memory (MiB) |",
             "|---|---:|---:|---:|---:|"]
    for way, count, seconds, peak in sorted(rows, key=lambda r: (r[0], r[1])):
        lines.append("| %s | %d | %.3f | %.3f | %.1f |" % (way, count, seconds, 1000 * seconds / count,
                                                        peak / 1048576))
    lines.append("")
    lines.append("%d CPUs, load average %.2f at the start, %d run(s) per cell." %
                 (os.cpu_count(), load, runs))
    lines.append("")
    lines.append("The page's time includes its check (every generated module lacks the functions its")
    lines.append("importers name, so every reference is marked); its walk alone, by count: " +
                 ", ".join("%d: %.3f s" % (c, walks[c]) for c in sorted(walks)) + ".")
    lines.append("")
    lines.extend(goal_lines(rows, walks))
    table = "\n".join(lines) + "\n"
    sys.stdout.write(table)
    if output:
        with open(output, "w") as f:
            f.write(table)


if __name__ == "__main__":
    main()
