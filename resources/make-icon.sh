#!/bin/sh
# Draws the page's tab icon (a small dependency tree: one box above two
# linked boxes) at 16x16 and 32x32 and packs both into vost.ico.
set -e
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
draw() {  # size scale
    s=$2
    convert -size "$1x$1" xc:none \
        -stroke '#1f3f7f' -strokewidth "$s" -fill none \
        -draw "line $((4*s)),$((6*s)) $((4*s)),$((12*s))" \
        -draw "line $((4*s)),$((8*s)) $((9*s)),$((8*s))" \
        -draw "line $((4*s)),$((12*s)) $((9*s)),$((12*s))" \
        -stroke '#1f3f7f' -strokewidth 1 -fill '#ffd24a' \
        -draw "rectangle $((1*s)),$((1*s)) $((7*s-1)),$((5*s))" \
        -fill '#7fb2ff' \
        -draw "rectangle $((9*s)),$((6*s)) $((15*s-1)),$((10*s-1))" \
        -fill '#7fd27f' \
        -draw "rectangle $((9*s)),$((11*s)) $((15*s-1)),$((15*s-1))" \
        "PNG32:$tmp/icon$1.png"
}
draw 16 1
draw 32 2
convert "$tmp/icon16.png" "$tmp/icon32.png" vost.ico
