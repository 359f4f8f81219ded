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
"$build/fuzz/make_seed_images" "$corpus"
echo "$(ls "$corpus" | wc -l) seeds in $corpus"
