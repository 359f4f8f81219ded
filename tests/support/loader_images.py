#!/usr/bin/python3
"""Images that the loader maps in its own way, one per rule, each a DLL (both
bitnesses) whose import table the loader reaches only by that rule and which
imports GetFileVersionInfoSizeA from VERSION.DLL (a module no probe loads
itself). The scan must show the module the loader loads.

usage: loader_images.py native VOSTSCAN
       loader_images.py wine BUILD_DIR PROBE BITS   (vostscan.exe beside the shell tests)
native: vostscan --json --direct on every image; wine: the same through
vostscan.exe, and the loader itself through the probe (sxs_probe.exe with
resource 0: it loads the DLL and says which file each name loaded from), for
the images of the probe's bitness; then the page, in a property sheet, shows
for each what vostscan.exe shows (shell_page_tests.exe, its test of the
files named in VOST_PAGE_FILES).
"""
import json
import os
import struct
import subprocess
import sys
import tempfile

FUNCTION = b"GetFileVersionInfoSizeA"
WANTED = ["version.dll"]


def imports(rva, wide, name=b"version.dll\0", even=True):
    """An import directory at `rva`: one descriptor and its terminator, the
    name table, the address table, the hint/name entry, the module name."""
    w = 8 if wide else 4
    ilt, iat = rva + 40, rva + 40 + 2 * w
    hint = iat + 2 * w
    module = hint + 2 + len(FUNCTION) + 1
    module += module & 1 if even else 0
    thunk = struct.pack("<Q" if wide else "<I", hint) + bytes(w)
    body = struct.pack("<IIIII", ilt, 0, 0, module, iat) + bytes(20) + thunk + thunk
    body += struct.pack("<H", 0) + FUNCTION + b"\0"
    body += bytes(module - rva - len(body)) + name
    return body


def image(wide, sections, headers_size, import_rva, size_of_image, align=0x1000, file_align=0x200,
          header_bytes=b""):
    """A DLL: headers (with `header_bytes` at 0x200 when given), then each
    section (name, va, vsize, raw pointer, raw size, data placed at the raw
    pointer or the given file offset)."""
    opt_size = 240 if wide else 224
    out = bytearray(max(headers_size, 0x400 if header_bytes else 0x200))
    out[0:2] = b"MZ"
    struct.pack_into("<I", out, 0x3C, 0x40)
    out[0x40:0x44] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", out, 0x44, 0x8664 if wide else 0x14C, len(sections), 0, 0, 0, opt_size,
                     0x2022 if wide else 0x2102)
    o = 0x58
    struct.pack_into("<H", out, o, 0x20B if wide else 0x10B)
    if wide:
        struct.pack_into("<Q", out, o + 24, 0x7FF7B0000000)
    else:
        struct.pack_into("<I", out, o + 28, 0x6E000000)
    struct.pack_into("<IIHHHHHH", out, o + 32, align, file_align, 6, 0, 0, 0, 6, 0)
    struct.pack_into("<IIIHH", out, o + 56, size_of_image, headers_size, 0, 2, 0)
    if wide:
        struct.pack_into("<QQQQII", out, o + 72, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    else:
        struct.pack_into("<IIIIII", out, o + 72, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    struct.pack_into("<II", out, o + (120 if wide else 104), import_rva, 40)
    table = o + opt_size
    if header_bytes:
        out[0x200:0x200 + len(header_bytes)] = header_bytes
    for i, (name, va, vsize, pointer, raw, data, at) in enumerate(sections):
        struct.pack_into("<8sIIIIIIHHI", out, table + 40 * i, name, vsize, va, raw, pointer, 0, 0, 0, 0,
                         0xC0000040)
        at = pointer if at is None else at
        if len(out) < at + len(data):
            out.extend(bytes(at + len(data) - len(out)))
        out[at:at + len(data)] = data
    return bytes(out)


def rules(wide):
    """(rule, bytes, the modules the loader loads for the import table)."""
    def one(name, va, vsize, pointer, raw, data, at=None):
        return (name, va, vsize, pointer, raw, data, at)
    table = imports(0x1000, wide)
    pad = lambda data, n: data + bytes(n - len(data))
    yield "ordinary", image(wide, [one(b".idata", 0x1000, len(table), 0x200, 0x200, pad(table, 0x200))],
                            0x200, 0x1000, 0x2000), WANTED
    # The table in the headers, below SizeOfHeaders, in no section.
    yield "in-headers", image(wide, [one(b".data", 0x1000, 0x10, 0x400, 0x200, bytes(0x200))], 0x400, 0x200,
                              0x2000, header_bytes=imports(0x200, wide)), WANTED
    # No section at all: only the headers are mapped.
    yield "no-sections", image(wide, [], 0x400, 0x200, 0x1000, header_bytes=imports(0x200, wide)), WANTED
    # VirtualSize 0: the section's size is its SizeOfRawData.
    yield "virtual-size-0", image(wide, [one(b".idata", 0x1000, 0, 0x200, 0x200, pad(table, 0x200))],
                                  0x200, 0x1000, 0x2000), WANTED
    # PointerToRawData inside a sector and SizeOfRawData cut short: the loader
    # reads the whole sector from its start.
    yield "raw-rounded", image(wide, [one(b".idata", 0x1000, 0x1000, 0x210, 0x10, pad(table, 0x200), 0x200)],
                               0x200, 0x1000, 0x2000), WANTED
    # The module name's terminator in the section's zero-filled tail; the
    # file goes on with other bytes.
    start = 0x1200 - len(imports(0x1000, wide, b"version.dll", False))
    tail = bytes(start - 0x1000) + imports(start, wide, b"version.dll", False)
    yield "zero-tail", image(wide, [one(b".idata", 0x1000, 0x1000, 0x200, 0x200, tail),
                                    one(b".junk", 0x2000, 0x200, 0x400, 0x200, b"X" * 0x200)],
                             0x200, start, 0x3000), WANTED
    # The file ends inside the section's last sector, before the name's terminator.
    yield "past-the-file", image(wide, [one(b".idata", 0x1000, 0x1000, 0x200, 0x200,
                                            imports(0x1000, wide, b"version.dll"))],
                                 0x200, 0x1000, 0x2000), WANTED
    # Two sections over the same addresses: the later one's copy stays.
    decoy = imports(0x1000, wide, b"vostdecoy.dll\0")
    yield "later-section-wins", image(wide, [one(b".decoy", 0x1000, len(decoy), 0x200, 0x200, pad(decoy, 0x200)),
                                             one(b".idata", 0x1000, len(table), 0x400, 0x200, pad(table, 0x200))],
                                      0x200, 0x1000, 0x2000), WANTED
    # Section alignment below the page: the file is mapped flat, the table
    # beyond the only section's data.
    yield "flat", image(wide, [one(b".data", 0x200, 0x200, 0x200, 0x200, bytes(0x200))], 0x200, 0x400, 0x600,
                        align=0x200, file_align=0x200, header_bytes=b"") + imports(0x400, wide), WANTED
    # Names as the loader takes them.
    for rule, name in (("name-without-extension", b"version\0"), ("name-with-trailing-spaces", b"version.dll  \0")):
        named = imports(0x1000, wide, name)
        yield rule, image(wide, [one(b".idata", 0x1000, len(named), 0x200, 0x200, pad(named, 0x200))],
                          0x200, 0x1000, 0x2000), WANTED


def generate(folder):
    files = []
    for wide in (False, True):
        for rule, data, wanted in rules(wide):
            path = os.path.join(folder, f"{rule}-{64 if wide else 32}.dll")
            with open(path, "wb") as f:
                f.write(data)
            files.append((path, wanted))
    return files


def children(output):
    """The file names of the modules the scan found for the root's imports."""
    tree = json.loads(output.splitlines()[0])["tree"]
    return [child["path"].replace("\\", "/").split("/")[-1].lower() for child in tree["children"]]


def main():
    mode = sys.argv[1]
    failures = 0
    shown = []  # the images of this bitness, for the page
    with tempfile.TemporaryDirectory() as folder:
        for path, wanted in generate(folder):
            name = os.path.basename(path)
            if mode == "wine" and not name.endswith(f"-{sys.argv[4]}.dll"):
                continue
            if mode == "native":
                run = subprocess.run([sys.argv[2], "--json", "--direct", path], capture_output=True, text=True)
                seen = {"vostscan": children(run.stdout) if run.returncode == 0 else run.stderr}
            else:
                build, probe = sys.argv[2], sys.argv[3]
                wine_run = os.path.join(os.path.dirname(__file__), "..", "..", "cmake", "wine-run.sh")
                windows = "z:" + path.replace("/", "\\")
                shown.append(windows)
                run = subprocess.run([wine_run, build, os.path.join(build, "tests", "shell", "vostscan.exe"),
                                      "--json", "--direct", windows], capture_output=True, text=True)
                seen = {"vostscan.exe": children(run.stdout) if run.returncode == 0 else run.stderr}
                names, answers = path + ".names", path + ".answers"
                with open(names, "w") as f:
                    f.write("\n".join(wanted) + "\n")
                subprocess.run([wine_run, build, probe, windows, "0", "z:" + names.replace("/", "\\"),
                                "z:" + answers.replace("/", "\\")], capture_output=True)
                with open(answers) as f:
                    loaded = [line.split("\t") for line in f.read().splitlines() if not line.startswith("context\t")]
                seen["loader"] = [where.split("\\")[-1].lower() for n, where in loaded if where.strip()]
            for who, got in seen.items():
                if got != wanted:
                    print(f"{name}: {who} shows {got}, the loader loads {wanted}")
                    failures += 1
            if all(got == wanted for got in seen.values()):
                print(f"{name}: {wanted} ({', '.join(seen)})")
        if shown:
            page = subprocess.run([wine_run, build, os.path.join(build, "tests", "shell", "shell_page_tests.exe"),
                                   "--gtest_filter=PageTest.FilesNamedByTheEnvironment*"],
                                  env=dict(os.environ, VOST_PAGE_FILES=";".join(shown)), capture_output=True, text=True)
            passed = page.returncode == 0 and "[  PASSED  ] 1 test" in page.stdout
            print(f"the page on {len(shown)} images: {'as vostscan.exe shows them' if passed else page.stdout}")
            failures += 0 if passed else 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
