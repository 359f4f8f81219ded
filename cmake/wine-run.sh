#!/bin/sh
# Runs a Windows program under Wine in the prefix of one build tree.
#   wine-run.sh <build tree> <program> [arguments...]
# The prefix (<build tree>/wineprefix) is made on first use, under a lock so
# that tests started in parallel make it once. Its kind is the build tree's
# (<build tree>/wine-arch): win32, or win64 for a WoW64 prefix that runs 32-bit
# and 64-bit programs. Without a program it only makes the prefix.
set -e
root=$(cd "$1" && pwd)
shift

arch=win32
[ -f "$root/wine-arch" ] && arch=$(cat "$root/wine-arch")
export WINEARCH="$arch"
export WINEPREFIX="$root/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export HOME="$root/winehome"

# The loader that starts a program fastest in this prefix; both run either
# bitness in a WoW64 prefix.
wine=wine
[ "$arch" = win64 ] && [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64

if [ ! -f "$WINEPREFIX/.vost-ready" ]; then
    mkdir -p "$HOME"
    exec 9>"$root/wineprefix.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/.vost-ready" ]; then
        rm -rf "$WINEPREFIX"
        wineboot -i >/dev/null 2>&1
        wineserver -w
        # Without a window manager every hide/destroy of a managed window
        # waits for one; crashes must not open a dialog that waits for a user.
        # Both settings live in the user's hive, which the two views share.
        $wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
        $wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
        wineserver -w
        touch "$WINEPREFIX/.vost-ready"
    fi
    flock -u 9
    exec 9>&-
fi

[ "$#" -eq 0 ] && exit 0
exec $wine "$@"
