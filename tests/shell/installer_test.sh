#!/bin/sh
# vost-setup.exe /S installs vost.dll and registers it in the build's Wine
# prefix, with the recorder helper vostrun32.exe beside it; its uninstaller
# removes the files and every key again. Also checks
# that the class id registered is the one the code declares.
#   installer_test.sh <source dir> <build dir> <vost-setup.exe> <vost.dll>
set -eu
src=$1 build=$2 setup=$3 dll=$4
wine="$src/cmake/wine-run.sh $build"
fail() { echo "FAIL: $*" >&2; exit 1; }

# The class id: the code's initializer and the registration file agree.
code_guid=$(python3 - "$src/component/class_id.h" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
n = [int(x, 16) for x in re.findall(r"0x([0-9a-fA-F]+)", text.split("=", 1)[1])]
print("{%08X-%04X-%04X-%02X%02X-%s}" % (n[0], n[1], n[2], n[3], n[4], "".join("%02X" % b for b in n[5:11])))
PY
)
reg_guid=$(sed -n 's/^@="\({[0-9A-F-]*}\)"$/\1/p' "$src/installer/vost.reg" | head -n 1)
[ "$code_guid" = "$reg_guid" ] || fail "class id $code_guid in the code, $reg_guid in vost.reg"
grep -q "CLSID\\\\$reg_guid\\\\InprocServer32" "$src/installer/vost.reg" || fail "vost.reg registers another class"

prefix="$build/wineprefix"
folder="$prefix/drive_c/Program Files/VOST"
query() { key=$1; shift; $wine reg query "$key" "$@" 2>/dev/null | tr -d '\r'; }

$wine "$setup" /S >/dev/null 2>&1
cmp -s "$folder/vost.dll" "$dll" || fail "vost.dll not installed"
cmp -s "$folder/vostrun32.exe" "$(dirname "$dll")/../recorder/vostrun32.exe" || fail "vostrun32.exe not installed beside vost.dll"
[ -f "$folder/uninstall.exe" ] || fail "no uninstaller"
query "HKCR\\CLSID\\$code_guid\\InprocServer32" /ve | grep -qi 'C:\\Program Files\\VOST\\vost.dll' \
    || fail "InprocServer32 does not name the installed DLL"
query "HKCR\\CLSID\\$code_guid\\InprocServer32" /v ThreadingModel | grep -q Apartment \
    || fail "no ThreadingModel Apartment"
query "HKCR\\*\\shellex\\PropertySheetHandlers\\VOST" /ve | grep -q "$code_guid" \
    || fail "no property-sheet handler"

# The uninstaller runs from a copy of itself and returns at once: wait for it.
$wine 'C:\Program Files\VOST\uninstall.exe' /S >/dev/null 2>&1
for _ in $(seq 1 150); do
    [ -e "$folder" ] || break
    sleep 0.2
done
[ ! -e "$folder/vost.dll" ] || fail "vost.dll left behind"
[ ! -e "$folder/vostrun32.exe" ] || fail "vostrun32.exe left behind"
[ ! -e "$folder" ] || fail "install folder left behind"
$wine reg query "HKCR\\CLSID\\$code_guid" >/dev/null 2>&1 && fail "class still registered"
$wine reg query "HKCR\\*\\shellex\\PropertySheetHandlers\\VOST" >/dev/null 2>&1 && fail "handler still registered"
echo "installer: install, registration and removal checked"
