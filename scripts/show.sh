#!/usr/bin/env bash
# The main job: opens the shell's real Properties dialog of FILE (default:
# notepad.exe of the Wine prefix) under Wine, with vost.dll registered, and
# shows the "Dependencies" page scanning it. By default the 64-bit DLL in a
# 64-bit shell of a 64-bit (WoW64) prefix, as on today's Windows; with --32
# the 32-bit DLL in a 32-bit prefix.
#   scripts/show.sh [--32] [--functions MODULE] [FILE]
# --functions also opens the Functions dialog of MODULE (as the tree labels
# it, e.g. KERNEL32.DLL) under the root.
# On the user's display the dialog stays until it is closed. Without a display
# it runs on a private X server, saves a screenshot and prints its path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"

flavour=x86_64
functions=()
while [ $# -gt 0 ]; do
  case "$1" in
    --32) flavour=i686; shift ;;
    --functions) functions=(--functions "$2"); shift 2 ;;
    *) break ;;
  esac
done
if [ "$flavour" = x86_64 ]; then
  build=${BUILD_DIR:-$root/build/windows64}
else
  build=${BUILD_DIR:-$root/build/windows}
fi
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$flavour.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target vost open-properties >/dev/null

run="$root/cmake/wine-run.sh $build"
$run   # makes the prefix on first use
export WINEARCH="$(cat "$build/wine-arch")" WINEPREFIX="$build/wineprefix" WINEDEBUG=-all \
  WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" HOME="$build/winehome"
# Registered in the view of the DLL's own bitness (reg.exe of that bitness).
WINE="$run" "$root/installer/register-wine.sh" "$build/component/vost.dll"

if [ $# -ge 1 ]; then
  file=$(winepath -w "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" 2>/dev/null)
else
  file='C:\windows\system32\notepad.exe'
fi
viewer="$build/tools/open-properties.exe"

if [ -n "${DISPLAY:-}" ]; then
  $run "$viewer" "$file" "${functions[@]}"
  wineserver -k >/dev/null 2>&1 || true
  exit 0
fi

shot="${SCREENSHOT:-$root/build/dependencies-page.png}"
ready=$(mktemp -u)
rm -f "$shot"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  $4 "$0" "$1" "${@:5}" --ready-file "$(winepath -w "$2")" --close-after 3 &
  viewer=$!
  for _ in $(seq 1 600); do [ -f "$2" ] && break; sleep 0.2; done
  sleep 1
  import -window root "$3" && convert "$3" -trim +repage "$3"
  wait $viewer
' "$viewer" "$file" "$ready" "$shot" "$run" "${functions[@]}" 2> >(grep -v '^X connection to' >&2)
rm -f "$ready"
wineserver -k >/dev/null 2>&1 || true
[ -f "$shot" ] || { echo "no screenshot was taken" >&2; exit 1; }
echo "screenshot: $shot"
