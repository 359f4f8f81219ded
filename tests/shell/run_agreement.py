#!/usr/bin/python3
"""vostscan.exe --run against Wine's own record of the same runs.

For each case, the program runs once under Wine with WINEDEBUG=+loaddll,
warn+module (its "Loaded" and "Failed to load module" lines, kept for the
program's own process ids, which the program prints) and once under
vostscan.exe --run --json. Every module Wine names appears in the run record
and nothing else does (but ntdll.dll, which Wine never names); every module
Wine failed to load is a failed load of the record, or the module the exit
status's explanation names. Then what each case is for: failures, crash,
exit status, children, timeout, a program that checks for a debugger, and
the recorder helper ended while its program runs (nothing left behind).

  run_agreement.py BUILD WINE_RUN TESTS_FOLDER [PEER_RUN_PROGRAMS]

TESTS_FOLDER holds vostscan.exe, the recorder helpers and run_programs/; a
second folder of run programs (the 32-bit build's, in the 64-bit build) is
run by the same vostscan.exe through the helper of the other bitness.
"""
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

started = time.time()

build, wine_run, tests = (os.path.abspath(a) for a in sys.argv[1:4])
folders = [os.path.join(tests, "run_programs")] + [os.path.abspath(a) for a in sys.argv[4:5]]
arch = open(os.path.join(build, "wine-arch")).read().strip()
subprocess.run([wine_run, build], check=True)  # the prefix, made once
env = dict(os.environ, WINEARCH=arch, WINEPREFIX=os.path.join(build, "wineprefix"),
           WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d", HOME=os.path.join(build, "winehome"))
wine = "/usr/lib/wine/wine64" if arch == "win64" and os.path.exists("/usr/lib/wine/wine64") else "wine"
failures = []


def fail(case, text):
    failures.append("%s: %s" % (case, text))


def windows_path(path):
    drive = os.path.join(env["WINEPREFIX"], "drive_c")
    if path.startswith(drive + "/"):
        return "C:" + path[len(drive):].replace("/", "\\")
    return "Z:" + path.replace("/", "\\")


def comparable(path, bits):
    path = path.lower().replace("/", "\\")
    # Wine names a 32-bit process's system modules as system32, the record by their true folder.
    if bits == 32 and arch == "win64":
        path = path.replace("c:\\windows\\system32\\", "c:\\windows\\syswow64\\")
    return path


def wine_record(program, args, bits, seconds=None):
    """Modules loaded and modules failed, by Wine's own record, for the
    processes whose ids the program printed."""
    with tempfile.TemporaryFile() as errors:
        run = subprocess.Popen([wine, program] + args, cwd=os.path.dirname(program), stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=errors,
                               env=dict(env, WINEDEBUG="+pid,+loaddll,warn+module"))
        try:
            run.wait(timeout=seconds or 60)
        except subprocess.TimeoutExpired:
            end_processes(os.path.basename(program))
            run.wait()
        errors.seek(0)
        err = errors.read()
    # Wine's lines begin "PID:TID:"; the program's processes (a child is the
    # same program) are those whose loader names the program first.
    lines = err.decode("utf-8", "replace").splitlines()
    name = os.path.basename(program).lower()
    pids = {line[:4] for line in lines if re.search(r'build_module Loaded L".*\\\\%s"' % re.escape(name), line, re.I)}
    loaded, failed = set(), set()
    for line in lines:
        if line[:4] not in pids:
            continue
        m = re.search(r'loaddll:build_module Loaded L"(.*?)" at', line)
        if m:
            loaded.add(comparable(m.group(1).replace("\\\\", "\\"), bits))
        m = re.search(r'Failed to load module L"(.*?)"', line)
        if m:
            failed.add(m.group(1).lower())
    return loaded, failed, len(pids)


def end_processes(name):
    """Ends the Unix processes of Windows programs named `name` in this prefix."""
    for pid in processes_named(name):
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass


def processes_named(name):
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            command = open("/proc/%s/cmdline" % entry, "rb").read().decode("utf-8", "replace")
            environ = open("/proc/%s/environ" % entry, "rb").read().decode("utf-8", "replace")
        except OSError:
            continue
        if name.lower() in command.lower() and env["WINEPREFIX"] in environ:
            found.append(int(entry))
    return found


def vostscan(program, args, options=()):
    command = [wine, os.path.join(tests, "vostscan.exe"), "--run", "--json"] + list(options) + [windows_path(program)]
    if args:
        command += ["--"] + args
    # Files, not pipes: Wine takes about a second to end a process whose output is a pipe.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        status = subprocess.run(command, cwd=tests, stdin=subprocess.DEVNULL, stdout=out, stderr=err, timeout=120,
                                env=dict(env, WINEDEBUG="-all")).returncode
        out.seek(0)
        text = out.read().decode("utf-8")
    try:
        return json.loads(text.splitlines()[-1]), status
    except (ValueError, IndexError) as error:
        raise RuntimeError("%s: vostscan.exe wrote no JSON (%s): %r" % (command, error, text[-400:]))


def items(tree):
    yield tree
    for child in tree["children"]:
        yield from items(child)


# name, program, its arguments, vostscan's options, what the record must show
CASES = [
    ("present", "runcases.exe", ["load-present"], [], {"runtime": {"vostplug.dll", "vostdep.dll"}, "exit": 0}),
    ("missing", "runcases.exe", ["load-missing"], [], {"findings": ["load-failed RUNCASES.EXE -> VOSTNONE.DLL "
                                                                    "(0xC0000135 STATUS_DLL_NOT_FOUND)"]}),
    ("full path", "runcases.exe", ["load-path"], [], {"runtime": {"vostplug.dll", "vostdep.dll"}}),
    ("twice and freed", "runcases.exe", ["load-twice-free"], [], {"runtime": {"vostplug.dll"}, "unloaded": True}),
    ("lookups", "runcases.exe", ["lookups"], [], {"findings": [
        "lookup-failed RUNCASES.EXE -> KERNEL32.DLL!VostNoSuchFunction (0xC000007A STATUS_PROCEDURE_NOT_FOUND)",
        "lookup-failed RUNCASES.EXE -> VOSTPLUG.DLL!#999 (0xC000007A STATUS_PROCEDURE_NOT_FOUND)"]}),
    ("delay-load called", "delayrun.exe", ["call"], [], {"delay": "loaded"}),
    ("delay-load never called", "delayrun.exe", [], [], {"delay": "not-loaded"}),
    ("child", "runcases.exe", ["child"], ["--children"], {"processes": 2, "childExit": 7}),
    ("crash", "runcases.exe", ["crash"], [], {"crash": 0xC0000005}),
    ("missing import", "missing-import.exe", [], [], {"exit": 0xC0000135, "findings": [
        "exit MISSING-IMPORT.EXE (0xC0000135 STATUS_DLL_NOT_FOUND: a module it imports was not found: "
        "not-found MISSING-IMPORT.EXE -> VOSTGONE.DLL)"]}),
    ("exits at once", "runcases.exe", ["exit", "3"], [], {"exit": 3}),
    ("checks for a debugger", "runcases.exe", ["debugger"], [], {"exit": 0}),
    ("exceptions and a debug string", "runcases.exe", ["exceptions"], [], {"exceptions": 3,
                                                                           "debug": "runcases: three exceptions handled"}),
    ("never exits", "runcases.exe", ["forever"], ["--timeout", "1"], {"ended": "timeout"}),
]


def check_case(folder, name, program, args, options, want):
    began = time.time()
    check_one(folder, name, program, args, options, want)
    print("%-32s %.1f s" % (name, time.time() - began))


def check_one(folder, name, program, args, options, want):
    case = name if folder == folders[0] else "%s, %s" % (name, folder)
    path = os.path.join(folder, program)
    if not os.path.exists(path):
        print("%s: no %s, left out" % (case, program))
        return
    document, status = vostscan(path, args, options)
    for _ in range(10):
        if not processes_named(program):
            break
        time.sleep(0.2)
    else:
        fail(case, "processes left behind")
    run = document["run"]
    root = run["processes"][0] if run["processes"] else None
    if root is None:
        return fail(case, "no process recorded: %s" % run)
    bits = root["bits"]
    loaded, wine_failed, wine_processes = wine_record(path, args, bits, 1.5 if name == "never exits" else 2.5 if program == "notepad.exe" else None)
    ours = set()
    for process in run["processes"]:
        ours.add(comparable(process["path"], bits))
        ours.update(comparable(m["path"], bits) for m in process["modules"])
    if not loaded <= ours:
        fail(case, "Wine loaded modules the record lacks: %s" % sorted(loaded - ours))
    extra = {p for p in ours - loaded if not p.endswith("\\ntdll.dll")}
    if extra:
        fail(case, "the record names modules Wine did not load: %s" % sorted(extra))
    asked = {f["asked"].lower() for p in run["processes"] for f in p["loadFailures"]}
    explained = " ".join(run["findings"]).lower()
    for module in wine_failed:
        if module not in asked and module.upper().lower() not in explained:
            fail(case, "Wine failed to load %s, the record does not say so" % module)
    if run["ended"] != want.get("ended", "exited"):
        fail(case, "ended %r: %s" % (run["ended"], run["ending"]))
    if "exit" in want and root.get("exitCode") != want["exit"]:
        fail(case, "exit code %s" % root.get("exitCode"))
    for line in want.get("findings", []):
        if line not in run["findings"]:
            fail(case, "no finding %r in %s" % (line, run["findings"]))
    states = {i["module"].lower(): i.get("run") for i in items(document["tree"])}
    for module in want.get("runtime", ()):
        if states.get(module) != "run-time":
            fail(case, "%s is %r, not run-time" % (module, states.get(module)))
    if "delay" in want and states.get("vostplug.dll") != want["delay"]:
        fail(case, "the delay-loaded module is %r" % states.get("vostplug.dll"))
    if want.get("unloaded") and not all(m["unloadedAt"] is not None for m in root["modules"]
                                        if m["path"].lower().endswith("vostplug.dll")):
        fail(case, "vostplug.dll was not unloaded")
    if "processes" in want:
        if len(run["processes"]) != want["processes"] or wine_processes != want["processes"]:
            fail(case, "%d processes recorded, %d by Wine" % (len(run["processes"]), wine_processes))
        elif run["processes"][1].get("exitCode") != want["childExit"] or run["processes"][1]["parent"] != root["pid"]:
            fail(case, "the child: %s" % run["processes"][1])
    if "crash" in want and (not root["crash"] or root["crash"]["code"] != want["crash"]
                            or not root["crash"]["module"].lower().endswith(program)):
        fail(case, "crash %s" % root["crash"])
    if "exceptions" in want and (root["firstChanceExceptions"] != want["exceptions"]
                                 or root["debugStrings"] != [want["debug"]]):
        fail(case, "%d exceptions, debug strings %s" % (root["firstChanceExceptions"], root["debugStrings"]))
    if status not in (0, 3):
        fail(case, "vostscan.exe ended with %d" % status)


def helper_ended(folder):
    """The helper ended while its program runs: the program goes with it."""
    bits_helper = "vostrun64.exe" if arch == "win64" else "vostrun32.exe"
    program = os.path.join(folder, "runcases-orphan.exe")
    shutil.copy(os.path.join(folder, "runcases.exe"), program)
    helper = subprocess.Popen([wine, os.path.join(tests, bits_helper), "--commands", "--arguments", "forever", "--",
                               windows_path(program)], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, env=dict(env, WINEDEBUG="-all"))
    started = False
    for line in helper.stdout:
        if line.startswith(b"start\t"):
            started = True
            break
    time.sleep(0.5)
    alive = processes_named("runcases-orphan.exe")
    helper.kill()
    helper.wait()
    for _ in range(50):
        if not processes_named("runcases-orphan.exe"):
            break
        time.sleep(0.2)
    left = processes_named("runcases-orphan.exe")
    end_processes("runcases-orphan.exe")
    os.remove(program)
    if not started or not alive:
        fail("helper ended", "the program did not start under %s" % bits_helper)
    elif left:
        fail("helper ended", "the program outlived its recorder")


def text_output(folder):
    """The tree as text: a delay-loaded module never called marked, the run's
    ending after the findings, and --log's record after it."""
    program = os.path.join(folder, "delayrun.exe")
    if not os.path.exists(program):
        return
    with tempfile.TemporaryFile() as out:
        status = subprocess.run([wine, os.path.join(tests, "vostscan.exe"), "--run", "--log", windows_path(program)],
                                cwd=tests, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL,
                                env=dict(env, WINEDEBUG="-all")).returncode
        out.seek(0)
        text = out.read().decode("utf-8")
    lines = text.splitlines()
    record = lines.index("record:") if "record:" in lines else -1
    if status != 0 or not any(l.startswith("  VOSTPLUG.DLL (") and l.endswith(") [delay-load] [not loaded]")
                              for l in lines):
        fail("text output", "no delay-loaded module marked never loaded (status %d):\n%s" % (status, text))
    elif record < 1 or not lines[record - 1].startswith("run: the program exited with code 0 after ") \
            or not any(" start " in l for l in lines[record + 1:]) or "recording ended: exited" not in lines[-1]:
        fail("text output", "the run's ending and record are not where they belong:\n%s" % text)


for folder in folders:
    for case in CASES:
        check_case(folder, *case)
text_output(folders[0])
# A GUI program of the prefix, ended by the timeout: the 64-bit one, and in a
# 64-bit prefix the 32-bit one too (by the helper of its bitness).
windows = os.path.join(env["WINEPREFIX"], "drive_c", "windows")
for folder in [windows] + ([os.path.join(windows, "syswow64")] if arch == "win64" else []):
    check_case(folder, "GUI program ended by the timeout", "notepad.exe", [], ["--timeout", "2"], {"ended": "timeout"})
helper_ended(folders[0])
for line in failures:
    print("FAIL", line)
print("%d cases in %d folders, %d failures, %.1f s" % (len(CASES) + 1, len(folders), len(failures), time.time() - started))
sys.exit(1 if failures else 0)
