#!/bin/sh
# The full installer in a 64-bit prefix: it puts the 32-bit DLL into the
# 32-bit program folder and view and the 64-bit DLL into the 64-bit ones, each
# with the recorder helpers of both bitnesses beside it, the real Properties
# dialog of a 64-bit host and of a 32-bit host then both show the page, and
# after the uninstaller neither does and nothing is left. Also
# the shared handler key: removing one view's registration keeps it while
# the other view still registers the class.
#   installer_route_test.sh <source dir> <build dir> <vost-setup.exe> <32-bit vost.dll>
#       <64-bit vost.dll> <64-bit route test> <32-bit route test>
set -eu
src=$1 build=$2 setup=$3 dll32=$4 dll64=$5 route64=$6 route32=$7
run="$src/cmake/wine-run.sh $build"
fail() { echo "FAIL: $*" >&2; exit 1; }

guid=$(sed -n 's/^@="\({[0-9A-F-]*}\)"$/\1/p' "$src/installer/vost.reg" | head -n 1)
handler='HKCR\*\shellex\PropertySheetHandlers\VOST'
drive="$build/wineprefix/drive_c"
folder32="$drive/Program Files (x86)/VOST"
folder64="$drive/Program Files/VOST"
query() { $run reg query "$@" 2>/dev/null | tr -d '\r'; }
has() { $run reg query "$@" >/dev/null 2>&1; }
route() {  # TEST EXE: 0 when the host showed the page
    (cd "$(dirname "$1")" && $run "./$(basename "$1")" --gtest_filter='ShellRoute.*' >/dev/null 2>&1)
}

# One view's registration removed keeps the shared key for the other view.
WINE="$run" sh "$src/installer/register-wine.sh" --view 64 "$dll64"
WINE="$run" sh "$src/installer/register-wine.sh" --view 32 "$dll32"
WINE="$run" sh "$src/installer/register-wine.sh" -u --view 32 "$dll32"
has "HKCR\\CLSID\\$guid" /reg:32 && fail "the 32-bit view still registers the class"
has "HKCR\\CLSID\\$guid\\InprocServer32" /reg:64 || fail "the 64-bit registration went with the 32-bit one"
has "$handler" || fail "the shared handler key went while the 64-bit view registers the class"
WINE="$run" sh "$src/installer/register-wine.sh" -u --view 64 "$dll64"
has "$handler" && fail "the handler key stayed after both views were removed"

$run "$setup" /S >/dev/null 2>&1
cmp -s "$folder32/vost.dll" "$dll32" || fail "the 32-bit vost.dll is not in the 32-bit program folder"
cmp -s "$folder64/vost.dll" "$dll64" || fail "the 64-bit vost.dll is not in the 64-bit program folder"
# The recorder helpers of both bitnesses beside each DLL.
for folder in "$folder32" "$folder64"; do
    cmp -s "$folder/vostrun32.exe" "$(dirname "$dll32")/../recorder/vostrun32.exe" || fail "no vostrun32.exe in $folder"
    cmp -s "$folder/vostrun64.exe" "$(dirname "$dll64")/../recorder/vostrun64.exe" || fail "no vostrun64.exe in $folder"
done
query "HKCR\\CLSID\\$guid\\InprocServer32" /ve /reg:32 | grep -qi 'C:\\Program Files (x86)\\VOST\\vost.dll' \
    || fail "the 32-bit view does not name the 32-bit DLL"
query "HKCR\\CLSID\\$guid\\InprocServer32" /ve /reg:64 | grep -qi 'C:\\Program Files\\VOST\\vost.dll' \
    || fail "the 64-bit view does not name the 64-bit DLL"
query "$handler" /ve | grep -q "$guid" || fail "no property-sheet handler"

route "$route64" || fail "the 64-bit host shows no page after the installer"
route "$route32" || fail "the 32-bit host shows no page after the installer"

# The uninstaller runs from a copy of itself and returns at once: wait for it.
$run 'C:\Program Files (x86)\VOST\uninstall.exe' /S >/dev/null 2>&1
for _ in $(seq 1 150); do
    [ -e "$folder32" ] || [ -e "$folder64" ] || break
    sleep 0.2
done
[ ! -e "$folder32" ] || fail "the 32-bit install folder is left behind"
[ ! -e "$folder64" ] || fail "the 64-bit install folder is left behind"
has "HKCR\\CLSID\\$guid" /reg:32 && fail "the class is still registered in the 32-bit view"
has "HKCR\\CLSID\\$guid" /reg:64 && fail "the class is still registered in the 64-bit view"
has "$handler" && fail "the handler is still registered"
route "$route64" && fail "the 64-bit host still shows the page after the uninstaller"
route "$route32" && fail "the 32-bit host still shows the page after the uninstaller"
echo "installer: both DLLs installed, registered in their views, shown by both hosts, removed"
