#!/bin/sh
# Draws the state images of the page's tree and list as one 176x16 strip,
# state_images.bmp: image 0 is never shown (state 0 means none), image 1
# "will not load" (a red disc with a white cross), image 2 "something below
# will not load" (a red ring), image 3 "delay-loaded: loaded on first use" (a
# blue clock face), image 4 "fails on first use" (an amber disc with a white
# cross), image 5 "something below fails on first use" (an amber ring);
# images 6 to 8 a managed (.NET) item: a blue diamond alone, then with the
# red disc and with the red ring over it; after a run, image 9 "loaded at run
# time" (a blue disc with a white triangle) and image 10 "not loaded in the
# run" (a grey ring with a dash). Magenta is the mask colour, so the
# images sit on any background; their dark outlines keep them visible on
# light and dark ones and on the blue of a selected row.
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
diamond() {
    echo "-stroke '#10306a' -strokewidth 1 -fill '#3a78d8'" \
         "-draw \"polygon $(($1 + 7)),0 $(($1 + 15)),8 $(($1 + 8)),15 $1,7\""
}
# The managed disc and ring: smaller, over the diamond.
smallDisc() {
    echo "-stroke '#7f0000' -strokewidth 1 -fill '#e02020' -draw \"circle $(($1 + 7)).5,7.5 $(($1 + 7)).5,3\"" \
         "-stroke white -strokewidth 1" \
         "-draw \"line $(($1 + 5)).5,5.5 $(($1 + 9)).5,9.5\" -draw \"line $(($1 + 9)).5,5.5 $(($1 + 5)).5,9.5\""
}
smallRing() {
    echo "-stroke '#7f0000' -strokewidth 1 -fill '#e02020' -draw \"circle $(($1 + 7)).5,7.5 $(($1 + 7)).5,3\"" \
         "-stroke none -fill '#3a78d8' -draw \"circle $(($1 + 7)).5,7.5 $(($1 + 7)).5,5.5\""
}
# After a run: loaded at run time, and not loaded in the run.
runTime() {
    echo "-stroke '#0a2a6a' -strokewidth 1 -fill '#2f6fd8' -draw \"circle $(($1 + 7)).5,7.5 $(($1 + 7)).5,1\"" \
         "-stroke none -fill white -draw \"polygon $(($1 + 5)),4 $(($1 + 11)),7.5 $(($1 + 5)),11\""
}
notLoaded() {
    echo "-stroke '#505050' -strokewidth 1 -fill '#d8d8d8' -draw \"circle $(($1 + 7)).5,7.5 $(($1 + 7)).5,2\"" \
         "-stroke '#505050' -strokewidth 2 -draw \"line $(($1 + 4)).5,7.5 $(($1 + 10)).5,7.5\""
}
eval convert -size 176x16 "xc:'#ff00ff'" +antialias \
    "$(disc 16 "'#e02020'" "'#7f0000'")" \
    "$(ring 32 "'#e02020'" "'#7f0000'")" \
    "$(clock 48)" \
    "$(disc 64 "'#f0a000'" "'#7f4f00'")" \
    "$(ring 80 "'#f0a000'" "'#7f4f00'")" \
    "$(diamond 96)" "$(diamond 112)" "$(diamond 128)" \
    "$(smallDisc 112)" "$(smallRing 128)" \
    "$(runTime 144)" "$(notLoaded 160)" \
    -type TrueColor BMP3:state_images.bmp
