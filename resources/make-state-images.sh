#!/bin/sh
# Draws the state images of the page's tree and list as one 96x16 strip,
# state_images.bmp: image 0 is never shown (state 0 means none), image 1
# "will not load" (a red disc with a white cross), image 2 "something below
# will not load" (a red ring), image 3 "delay-loaded: loaded on first use" (a
# blue clock face), image 4 "fails on first use" (an amber disc with a white
# cross), image 5 "something below fails on first use" (an amber ring).
# Magenta is the mask colour, so the images sit on any background; their dark
# outlines keep them visible on light and dark ones and on the blue of a
# selected row.
set -e
cd "$(dirname "$0")"
# A disc with a cross at x (the image's left edge), in fill and outline colours.
disc() {
    echo "-stroke $3 -strokewidth 1 -fill $2 -draw \"circle $(($1 + 7)).5,7.5 $(($1 + 7)).5,1\"" \
         "-stroke white -strokewidth 2" \
         "-draw \"line $(($1 + 4)).5,4.5 $(($1 + 10)).5,10.5\" -draw \"line $(($1 + 10)).5,4.5 $(($1 + 4)).5,10.5\""
}
ring() {
    echo "-stroke $3 -strokewidth 1 -fill $2 -draw \"circle $(($1 + 7)).5,7.5 $(($1 + 7)).5,2\"" \
         "-stroke none -fill '#ff00ff' -draw \"circle $(($1 + 7)).5,7.5 $(($1 + 7)).5,5\"" \
         "-stroke $3 -strokewidth 1 -fill none -draw \"circle $(($1 + 7)).5,7.5 $(($1 + 7)).5,4.5\""
}
clock() {
    echo "-stroke '#003f7f' -strokewidth 1 -fill '#d8e8ff' -draw \"circle $(($1 + 7)).5,7.5 $(($1 + 7)).5,1\"" \
         "-stroke '#0050c0' -strokewidth 2" \
         "-draw \"line $(($1 + 7)).5,7.5 $(($1 + 7)).5,3.5\" -draw \"line $(($1 + 7)).5,7.5 $(($1 + 10)).5,9.5\""
}
eval convert -size 96x16 "xc:'#ff00ff'" +antialias \
    "$(disc 16 "'#e02020'" "'#7f0000'")" \
    "$(ring 32 "'#e02020'" "'#7f0000'")" \
    "$(clock 48)" \
    "$(disc 64 "'#f0a000'" "'#7f4f00'")" \
    "$(ring 80 "'#f0a000'" "'#7f4f00'")" \
    -type TrueColor BMP3:state_images.bmp
