#!/bin/sh
# Fills a seed corpus: a sample of Wine's small PE files, Wine's NE fonts, and
# the image builder's PE and NE images (sound and damaged ones).
# Usage: fuzz/make-seeds.sh BUILD_DIR CORPUS_DIR
set -eu
build=${1:?build dir}
corpus=${2:?corpus dir}
mkdir -p "$corpus"

pe_dir=/usr/lib/i386-linux-gnu/wine/i386-windows
font_dir=/usr/share/wine/fonts
# Files up to 64 KiB: libFuzzer cuts inputs at -max_len, and the import
# tables of larger files lie past it.
if [ -d "$pe_dir" ]; then
  find "$pe_dir" -maxdepth 1 -type f -size -64k | sort | head -n 40 | while read -r f; do
    cp "$f" "$corpus/wine-$(basename "$f")"
  done
fi
if [ -d "$font_dir" ]; then
  for f in "$font_dir"/*.fon; do
    [ -f "$f" ] && cp "$f" "$corpus/font-$(basename "$f")"
  done
fi
# Wine's API set schema alone (its .apiset section, under 64 KiB where the
# whole DLL is not).
if [ -f "$pe_dir/apisetschema.dll" ] && command -v objcopy >/dev/null 2>&1; then
  objcopy -O binary --only-section=.apiset "$pe_dir/apisetschema.dll" "$corpus/apiset-wine.bin" || true
fi
# File sets for fuzz_scan: a small Wine program or library, then modules and a
# font for its references to resolve to, joined by the marker "#VF#".
bundle() {  # NAME FILE...
  out="$corpus/bundle-$1"; shift
  first=1
  for f in "$@"; do
    [ -f "$f" ] || return 0
  done
  : >"$out"
  for f in "$@"; do
    [ "$first" -eq 1 ] || printf '#VF#' >>"$out"
    cat "$f" >>"$out"
    first=0
  done
}
bundle cng "$pe_dir/cng.sys" "$pe_dir/icmp.dll" "$font_dir/vgasys.fon"
bundle ole2thk "$pe_dir/ole2thk.dll16" "$font_dir/coure.fon" "$pe_dir/security.dll"
bundle fonts "$font_dir/sserife.fon" "$font_dir/smalle.fon"
# Manifest texts for fuzz_manifest: the embedded ones of Wine's programs
# (wrestool, from icoutils), and the UTF-16 form of one.
if command -v wrestool >/dev/null 2>&1; then
  for f in "$pe_dir"/notepad.exe "$pe_dir"/winecfg.exe "$pe_dir"/hh.exe; do
    [ -f "$f" ] && wrestool -x --raw -t 24 "$f" >"$corpus/manifest-$(basename "$f" .exe).xml" 2>/dev/null || true
  done
  if [ -s "$corpus/manifest-notepad.xml" ] && command -v iconv >/dev/null 2>&1; then
    iconv -f UTF-8 -t UTF-16 "$corpus/manifest-notepad.xml" >"$corpus/manifest-notepad-utf16.xml" || true
  fi
fi
# Managed images for fuzz_managed and fuzz_scan: the programs mcs builds for
# the tests (when the build made them), mono's smaller assemblies, and the
# configuration texts of the tests.
managed=${VOST_MANAGED_PROGRAMS:-$(dirname "$0")/../build/native/tests/managed_programs}
for f in "$managed"/app.exe "$managed"/Lib.dll "$managed"/v1/Strong.dll; do
  [ -f "$f" ] && cp "$f" "$corpus/managed-$(basename "$(dirname "$f")")-$(basename "$f")"
done
if [ -d /usr/lib/mono/gac ]; then
  find /usr/lib/mono/gac -name '*.dll' -size -64k | sort | head -n 12 | while read -r f; do
    cp "$f" "$corpus/mono-$(basename "$f")"
  done
fi
for f in "$(dirname "$0")"/../tests/managed_programs/*.config; do
  [ -f "$f" ] && cp "$f" "$corpus/config-$(basename "$f")"
done
printf '%s' '{"runtimeOptions":{"rollForward":"Major","frameworks":[{"name":"Microsoft.NETCore.App","version":"8.0.0"}]}}' \
  >"$corpus/runtimeconfig.json"
printf '%s' '{"runtimeTarget":{"name":"t"},"targets":{"t":{"L/1":{"runtime":{"lib/L.dll":{"assemblyVersion":"1.0.0.0"}},"runtimeTargets":{"runtimes/win-x64/native/n.dll":{"rid":"win-x64","assetType":"native"}}}}}}' \
  >"$corpus/deps.json"
"$build/fuzz/make_seed_images" "$corpus"
echo "$(ls "$corpus" | wc -l) seeds in $corpus"
