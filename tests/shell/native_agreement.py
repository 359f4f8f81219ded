#!/usr/bin/python3
"""vostscan.exe under Wine and the native vostscan agree on the programs that
import API set contracts (tests/contracts) and on Wine's programs that carry
manifests, and on a program with its DLLs copied into folders named in
every script and of every length (Wine under code page 1252): the native
one, given the Wine prefix's Windows folder (--windows), shows the same
tree, list, versions, dates and times, and takes each module the same way
(search, contract, side-by-side assembly), its paths being the same files by
their Linux names. The page under Wine shows what
vostscan.exe shows (shell_page_tests), so the page and the native scan agree
too.

Decorated names: every Microsoft name exported by Wine's msvcp*/msvcr*, 32-
and 64-bit, reads the same in both builds (--exports --undecorate) beyond
spacing, and each is read in both or in neither.

usage: native_agreement.py BUILD_DIR NATIVE_VOSTSCAN WINE_RUN
Exits 77 (skipped) when there is no native vostscan.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

# The folder names of tests/support/path_table.h.
DEEP = "long"
while len(DEEP) < 300:
    DEEP += "/folder_with_a_rather_long_name"
PATH_TABLE = ["ascii", "\u0141\u00f3d\u017a", "\u041f\u0440\u043e\u0433\u0440\u0430\u043c\u043c\u044b",
              "\u65e5\u672c\u8a9e", "emoji \U0001F600", DEEP]


def ascii_lower(text):
    """Lower case of the ASCII letters only, as the Windows build shows found paths."""
    return "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in text)


WINE_RUNTIMES = ["/usr/lib/i386-linux-gnu/wine/i386-windows", "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"]


def undecorated(document):
    """Decorated Microsoft name -> reading, from --exports --undecorate --json."""
    entries = (document.get("exports") or {}).get("entries", [])
    return {e["name"]: e["undecorated"] for e in entries if e.get("name", "").startswith("?")}


def compare_names(build, native, wine_run, env):
    """The readings of both builds, per bitness of the modules; failures."""
    failures = 0
    shell = os.path.join(build, "tests", "shell")
    for folder in WINE_RUNTIMES:
        files = sorted(f for f in os.listdir(folder) if f.startswith(("msvcp", "msvcr")) and f.endswith(".dll"))
        ours, theirs = {}, {}
        for name in files:
            path = os.path.join(folder, name)
            arguments = ["--direct", "--exports", "--undecorate", "--json"]
            native_out = subprocess.run([native] + arguments + [path], capture_output=True, encoding="utf-8", env=env)
            # Through a file: Wine's services may keep a pipe open.
            with tempfile.TemporaryFile() as out:
                subprocess.run([wine_run, build, os.path.join(shell, "vostscan.exe")] + arguments +
                               ["Z:" + path.replace("/", "\\")], stdout=out, stderr=subprocess.DEVNULL, env=env)
                out.seek(0)
                wine_text = out.read().decode("utf-8")
            ours.update(undecorated(json.loads(native_out.stdout.splitlines()[0])))
            theirs.update(undecorated(json.loads(wine_text.splitlines()[0])))
        same = spaced = 0
        for name, reading in sorted(ours.items()):
            other = theirs.get(name)
            if other == reading:
                same += 1
            elif other is not None and other.replace(" ", "") == reading.replace(" ", ""):
                spaced += 1
            else:
                failures += 1
                print(f"{name}\n  native: {reading}\n  Wine:   {other}")
        print(f"{folder}: {len(ours)} Microsoft names of {len(files)} runtimes: {same} alike, {spaced} alike but "
              f"for spacing, {len(ours) - same - spaced} read differently")
    return failures


def main():
    build, native, wine_run = sys.argv[1:4]
    if not os.access(native, os.X_OK):
        print(f"no native vostscan at {native}: build the native flavour first")
        return 77
    with open(os.path.join(build, "wine-arch")) as f:
        arch = f.read().strip()
    drive_c = os.path.realpath(os.path.join(build, "wineprefix", "drive_c"))
    windows = os.path.join(drive_c, "windows")
    shell = os.path.join(build, "tests", "shell")
    programs = [os.path.join(shell, "contracts", name) for name in ("synch.exe", "contracts.exe")]
    # Programs whose manifests ask for Common Controls 6, of each family the
    # prefix holds (Wine keeps regedit.exe in the Windows folder itself).
    families = ["system32"] + (["syswow64"] if arch == "win64" else [])
    candidates = [os.path.join(windows, family, name) for family in families for name in ("notepad.exe", "winecfg.exe")]
    candidates.append(os.path.join(windows, "regedit.exe"))
    programs += [path for path in candidates if os.path.isfile(path)]
    # Programs whose manifests the loader takes or refuses on their identity,
    # root or text (tests/sxs_programs): the same files, and the same verdict
    # of --check (exit 0 or 3).
    sxs = os.path.join(build, "tests", "windows", "sxs_programs")
    checked = [os.path.join(sxs, name, "app.exe")
               for name in ("private", "private2", "rootless", "unversioned", "utf16", "leading")]
    programs += [path for path in checked if os.path.isfile(path)]
    # A program and its DLLs in each folder of the table, inside the prefix.
    one = os.path.join(shell, "check_programs", "one")
    if os.path.isdir(one):
        for folder in PATH_TABLE:
            target = os.path.join(drive_c, "vost-paths", *folder.split("/"))
            os.makedirs(target, exist_ok=True)
            for name in os.listdir(one):
                shutil.copy2(os.path.join(one, name), target)
            programs.append(os.path.join(target, "app.exe"))

    def windows_name(path):
        """The name Wine gives the file at the Linux path `path` (spelled as on
        disk), lower-cased as the Windows build shows found paths."""
        inside = drive_c + "/"
        if path.startswith(inside):
            return ascii_lower("c:\\" + path[len(inside):].replace("/", "\\"))
        if path.startswith("/"):
            return ascii_lower("z:" + path.replace("/", "\\"))
        return path

    def label_in_windows_names(label):
        # NAME (path [version]) or, for the root, NAME(path [version])
        start = label.find("(")
        if start < 0 or not label.endswith(")"):
            return label
        inner = label[start + 1:-1]
        version = ""
        if inner.endswith("]") and " [" in inner:
            cut = inner.rindex(" [")
            inner, version = inner[:cut], inner[cut:]
        return label[:start + 1] + windows_name(inner) + version + ")"

    def normalised(document):
        def item(node):
            return {"label": label_in_windows_names(node["label"]), "module": node["module"],
                    "path": windows_name(node["path"]), "fileVersion": node["fileVersion"],
                    "productVersion": node["productVersion"], "hasChildren": node["hasChildren"],
                    **({"foundBy": node["foundBy"]} if "foundBy" in node else {}),
                    "children": [item(child) for child in node["children"]]}
        rows = [dict(row, path=windows_name(row["path"])) for row in document["list"]]
        return {"tree": item(document["tree"]), "list": rows, "messages": document["messages"]}

    failures = 0
    # Wine's ANSI code page is then 1252, which holds none of the table's
    # scripts but Latin-1's: every other name must pass as Unicode.
    env = dict(os.environ, LC_ALL="C.UTF-8")
    for program in programs:
        native_out = subprocess.run([native, "--json", "--windows", windows, program], capture_output=True,
                                    encoding="utf-8", env=env)
        wine_out = subprocess.run([wine_run, build, os.path.join(shell, "vostscan.exe"), "--json",
                                   windows_name(program)], capture_output=True, encoding="utf-8", env=env)
        if native_out.returncode != 0 or wine_out.returncode != 0:
            print(f"{program}: native exit {native_out.returncode}, Wine exit {wine_out.returncode}")
            print(native_out.stderr, wine_out.stderr)
            failures += 1
            continue
        if program in checked:
            native_check = subprocess.run([native, "--check", "--windows", windows, program], capture_output=True)
            wine_check = subprocess.run([wine_run, build, os.path.join(shell, "vostscan.exe"), "--check",
                                         windows_name(program)], capture_output=True)
            if native_check.returncode != wine_check.returncode:
                print(f"{program}: --check exits {native_check.returncode} natively, {wine_check.returncode} under Wine")
                print(native_check.stdout.decode(errors="replace"), wine_check.stdout.decode(errors="replace"))
                failures += 1
        ours = normalised(json.loads(native_out.stdout.splitlines()[0]))
        theirs = json.loads(wine_out.stdout.splitlines()[0])
        theirs.pop("file")
        # The assembly's identity is told by each platform in its own words
        # (the manifest's, the system's encoded identity); the file and how
        # it was found must agree.
        def without_assembly(node):
            node.pop("assembly", None)
            for child in node["children"]:
                without_assembly(child)
        without_assembly(theirs["tree"])
        if ours != theirs:
            print(f"{program}: the native scan differs")
            print("native:", json.dumps(ours, indent=1))
            print("Wine:  ", json.dumps(theirs, indent=1))
            failures += 1
        else:
            print(f"{program}: {len(ours['list'])} rows alike")
    failures += compare_names(build, native, wine_run, env)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
