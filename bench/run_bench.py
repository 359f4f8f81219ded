#!/usr/bin/python3
"""The recorder's cost, under Wine (docs: README, "Run and Record").

1. runcases.exe making 100,000 GetProcAddress and 1,000 LoadLibrary calls of
   a module it holds, alone and under the recorder helper of its bitness: the
   program's own time for the calls (it prints it) and the whole run's, each
   the median of several runs.
2. The same with 1,000 fresh loads (each call maps and unmaps two modules:
   four debug events), the recorder's worst case.
3. With --sheet, the property sheet answering messages while its page
   records the fresh loads (run_sheet_bench.exe).

  bench/run_bench.py [--build build/windows] [--runs 7]
  xvfb-run -a bench/run_bench.py --sheet ...   (the sheet needs a display)
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
parser = argparse.ArgumentParser()
parser.add_argument("--build", default=os.path.join(here, "..", "build", "windows"))
parser.add_argument("--runs", type=int, default=7)
parser.add_argument("--sheet", action="store_true")
options = parser.parse_args()
if options.sheet and not os.environ.get("DISPLAY"):
    sys.exit("run_bench.py: --sheet needs a display: run it under xvfb-run -a")
build = os.path.abspath(options.build)
tests = os.path.join(build, "tests", "shell")
runner = os.path.join(here, "..", "cmake", "wine-run.sh")
bits = 64 if open(os.path.join(build, "wine-arch")).read().strip() == "win64" else 32
helper = os.path.join(tests, "vostrun%d.exe" % bits)
program = os.path.join(tests, "run_programs", "runcases.exe")
windows_program = "Z:" + program.replace("/", "\\")


def timed(command):
    # A file, not a pipe: the prefix's services may hold a pipe open long after.
    with tempfile.TemporaryFile() as out:
        began = time.perf_counter()
        subprocess.run([runner, build] + command, stdin=subprocess.DEVNULL, stdout=out, stderr=out, cwd=tests)
        took = time.perf_counter() - began
        out.seek(0)
        calls = re.search(rb"calls ([0-9.]+) ms", out.read())
    return took * 1000, float(calls.group(1)) if calls else float("nan")


def compare(name, arguments):
    alone, recorded = [], []
    for _ in range(options.runs):
        alone.append(timed([program] + arguments))
        recorded.append(timed([helper, "--arguments", " ".join(arguments), "--", windows_program]))
    row = lambda samples, i: statistics.median(s[i] for s in samples)
    print("%s: the calls %.1f ms alone, %.1f ms recorded (%.2fx); the whole run %.0f ms alone, %.0f ms recorded (%.2fx)"
          % (name, row(alone, 1), row(recorded, 1), row(recorded, 1) / row(alone, 1), row(alone, 0),
             row(recorded, 0), row(recorded, 0) / row(alone, 0)), flush=True)


subprocess.run([runner, build], check=True)
# One server for every run, as the tests keep it: each program then starts fast.
server_env = dict(os.environ, WINEPREFIX=os.path.join(build, "wineprefix"), HOME=os.path.join(build, "winehome"),
                  WINEARCH="win64" if bits == 64 else "win32")
subprocess.Popen(["wineserver", "-p"], env=server_env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                 stderr=subprocess.DEVNULL, start_new_session=True)
subprocess.run([runner, build, "cmd", "/c", "exit"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
               stderr=subprocess.DEVNULL)
compare("100,000 GetProcAddress and 1,000 LoadLibrary of a module held", ["bench", "100000", "1000"])
compare("1,000 fresh loads and unloads", ["bench", "0", "1000", "fresh"])
if options.sheet:
    with tempfile.TemporaryFile() as out:
        subprocess.run([runner, build, os.path.join(tests, "run_sheet_bench.exe"), windows_program],
                       stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL, cwd=tests, timeout=600)
        out.seek(0)
        sys.stdout.write(out.read().decode("utf-8", "replace"))
subprocess.run(["wineserver", "-k"], env=server_env)
