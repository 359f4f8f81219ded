#!/bin/sh
# Builds the Windows flavour (mingw-w64, i686, static) in build/windows and
# runs its tests under Wine, GUI tests on a private X server.
#   scripts/build-windows.sh [build|test] [ctest arguments...]
# "build" only builds; "test" (the default) builds and runs the tests.
# Environment: BUILD_DIR (default build/windows), JOBS (default 2).
set -eu
mode=test
case "${1:-}" in
    build|test) mode=$1; shift ;;
esac
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build/windows}
jobs=${JOBS:-2}
mkdir -p "$build"

cmake -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} -DVOST_TESTS=ON >/dev/null
cmake --build "$build" -j "$jobs"

[ "$mode" = build ] && exit 0

# The prefix of this build tree: made once, then one server kept running for
# the whole test run so that each test program starts fast.
runner="$here/cmake/wine-run.sh"
"$runner" "$build"
export WINEARCH=win32 WINEPREFIX="$build/wineprefix" WINEDEBUG=-all \
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
