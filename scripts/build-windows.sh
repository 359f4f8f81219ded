#!/bin/sh
# Builds a Windows flavour (mingw-w64, static) and runs its tests under Wine,
# GUI tests on a private X server.
#   scripts/build-windows.sh [build|test] [ctest arguments...]
# "build" only builds; "test" (the default) builds and runs the tests.
# Environment: FLAVOUR (i686, the default, in build/windows under a 32-bit
# prefix; x86_64 in build/windows64 under a 64-bit WoW64 prefix, which first
# builds the 32-bit flavour in PEER_BUILD_DIR, default build/windows),
# BUILD_DIR, JOBS (default 2).
set -eu
mode=test
case "${1:-}" in
    build|test) mode=$1; shift ;;
esac
here=$(cd "$(dirname "$0")/.." && pwd)
flavour=${FLAVOUR:-i686}
case "$flavour" in
    i686) default_build=$here/build/windows ;;
    x86_64) default_build=$here/build/windows64 ;;
    *) echo "unknown FLAVOUR $flavour (i686 or x86_64)" >&2; exit 2 ;;
esac
build=${BUILD_DIR:-$default_build}
jobs=${JOBS:-2}
mkdir -p "$build"

# The 64-bit flavour needs the 32-bit one beside it: its installer carries
# both DLLs, and its tests run the 32-bit programs in the 64-bit prefix.
peer=""
if [ "$flavour" = x86_64 ]; then
    peer=${PEER_BUILD_DIR:-$here/build/windows}
    BUILD_DIR=$peer FLAVOUR=i686 "$0" build
    peer="-DVOST_PEER_BUILD=$peer"
fi

cmake -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-$flavour.cmake" \
    -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} -DVOST_TESTS=ON $peer ${CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j "$jobs"

[ "$mode" = build ] && exit 0

# The prefix of this build tree: made once, then one server kept running for
# the whole test run so that each test program starts fast.
runner="$here/cmake/wine-run.sh"
"$runner" "$build"
export WINEARCH="$(cat "$build/wine-arch")" WINEPREFIX="$build/wineprefix" WINEDEBUG=-all \
       WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" HOME="$build/winehome"

stop_server() { wineserver -k >/dev/null 2>&1 || true; }
trap stop_server EXIT INT TERM

# Tests run on their own X server; -j1: GUI tests share display and clipboard.
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
    wineserver -p >/dev/null 2>&1 </dev/null
    wine cmd /c exit >/dev/null 2>&1 || true
    cd "$0" && ctest --output-on-failure -j1 "$@"
    status=$?
    wineserver -k >/dev/null 2>&1 || true
    exit $status
' "$build" "$@"
