#!/bin/sh
# Registers (or with -u removes) a built vost.dll in a Wine prefix, with the
# keys of vost.reg and the DLL's own path.
#   register-wine.sh [-u] [--view 32|64] <path of vost.dll>
# --view names the registry view of a 64-bit (WoW64) prefix: 32 for the
# 32-bit DLL, 64 for the 64-bit one; without it reg.exe's own view is used
# (the only one in a 32-bit prefix). The property-sheet handler key is shared
# by both views, so -u removes it only when the other view does not register
# the class too.
# Uses the caller's WINEPREFIX/WINEARCH; wine is started through $WINE
# (default: wine), so a wrapper that owns a prefix can be put in.
set -e
here=$(cd "$(dirname "$0")" && pwd)
wine=${WINE:-wine}

unregister=0
view=""
other=""
while [ "$#" -gt 1 ]; do
    case "$1" in
        -u) unregister=1; shift ;;
        --view)
            case "$2" in
                32) view=/reg:32; other=/reg:64 ;;
                64) view=/reg:64; other=/reg:32 ;;
                *) echo "--view takes 32 or 64" >&2; exit 2 ;;
            esac
            shift 2 ;;
        *) break ;;
    esac
done
[ "$#" -eq 1 ] || { echo "usage: $0 [-u] [--view 32|64] <vost.dll>" >&2; exit 2; }

guid=$(sed -n 's/^@="\({[0-9A-F-]*}\)"$/\1/p' "$here/vost.reg" | head -n 1)
[ -n "$guid" ] || { echo "no class id in $here/vost.reg" >&2; exit 1; }
handler="HKCR\\*\\shellex\\PropertySheetHandlers\\VOST"

if [ "$unregister" -eq 1 ]; then
    $wine reg delete "HKCR\\CLSID\\$guid" /f $view >/dev/null 2>&1 || true
    if [ -z "$other" ] || ! $wine reg query "HKCR\\CLSID\\$guid\\InprocServer32" $other >/dev/null 2>&1; then
        $wine reg delete "$handler" /f >/dev/null 2>&1 || true
    fi
    exit 0
fi

dll=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
[ -f "$dll" ] || { echo "no such file: $1" >&2; exit 1; }
# A Unix path is reachable through Wine's Z: drive.
windows_path="Z:$(printf '%s' "$dll" | tr '/' '\\')"

$wine reg add "HKCR\\CLSID\\$guid" /ve /d "VOST Dependencies page" /f $view >/dev/null
$wine reg add "HKCR\\CLSID\\$guid\\InprocServer32" /ve /d "$windows_path" /f $view >/dev/null
$wine reg add "HKCR\\CLSID\\$guid\\InprocServer32" /v ThreadingModel /d Apartment /f $view >/dev/null
$wine reg add "$handler" /ve /d "$guid" /f $view >/dev/null
