#!/bin/sh
# Registers (or with -u removes) a built vost.dll in a Wine prefix, with the
# keys of vost.reg and the DLL's own path.
#   register-wine.sh [-u] <path of vost.dll>
# Uses the caller's WINEPREFIX/WINEARCH; wine is started through $WINE
# (default: wine), so a wrapper that owns a prefix can be put in.
set -e
here=$(cd "$(dirname "$0")" && pwd)
wine=${WINE:-wine}

unregister=0
if [ "$1" = "-u" ]; then unregister=1; shift; fi
[ "$#" -eq 1 ] || { echo "usage: $0 [-u] <vost.dll>" >&2; exit 2; }

guid=$(sed -n 's/^@="\({[0-9A-F-]*}\)"$/\1/p' "$here/vost.reg" | head -n 1)
[ -n "$guid" ] || { echo "no class id in $here/vost.reg" >&2; exit 1; }

if [ "$unregister" -eq 1 ]; then
    $wine reg delete "HKCR\\*\\shellex\\PropertySheetHandlers\\VOST" /f >/dev/null 2>&1 || true
    $wine reg delete "HKCR\\CLSID\\$guid" /f >/dev/null 2>&1 || true
    exit 0
fi

dll=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
[ -f "$dll" ] || { echo "no such file: $1" >&2; exit 1; }
# A Unix path is reachable through Wine's Z: drive.
windows_path="Z:$(printf '%s' "$dll" | tr '/' '\\')"

$wine reg add "HKCR\\CLSID\\$guid" /ve /d "VOST Dependencies page" /f >/dev/null
$wine reg add "HKCR\\CLSID\\$guid\\InprocServer32" /ve /d "$windows_path" /f >/dev/null
$wine reg add "HKCR\\CLSID\\$guid\\InprocServer32" /v ThreadingModel /d Apartment /f >/dev/null
$wine reg add "HKCR\\*\\shellex\\PropertySheetHandlers\\VOST" /ve /d "$guid" /f >/dev/null
