#!/bin/sh
# Draws the state images of the page's tree and list as one 96x16 strip,
# state_images.bmp: image 0 is never shown (state 0 means none), image 1
# "will not load" (a red disc with a white cross), image 2 "something below
# will not load" (a red ring); images 3 to 5 the same three states of a
# managed (.NET) item: a blue diamond alone, then the disc and the ring over
# it. Magenta is the mask colour, so the images sit on any background; their
# dark outlines keep them visible on light and dark ones and on the blue of a
# selected row.
set -e
cd "$(dirname "$0")"
convert -size 96x16 xc:'#ff00ff' +antialias \
    -stroke '#7f0000' -strokewidth 1 -fill '#e02020' \
    -draw "circle 23.5,7.5 23.5,1" \
    -stroke white -strokewidth 2 \
    -draw "line 20.5,4.5 26.5,10.5" -draw "line 26.5,4.5 20.5,10.5" \
    -stroke '#7f0000' -strokewidth 1 -fill '#e02020' \
    -draw "circle 39.5,7.5 39.5,2" \
    -stroke none -fill '#ff00ff' \
    -draw "circle 39.5,7.5 39.5,5" \
    -stroke '#7f0000' -strokewidth 1 -fill none \
    -draw "circle 39.5,7.5 39.5,4.5" \
    -stroke '#10306a' -strokewidth 1 -fill '#3a78d8' \
    -draw "polygon 55,0 63,8 56,15 48,7" \
    -draw "polygon 71,0 79,8 72,15 64,7" \
    -draw "polygon 87,0 95,8 88,15 80,7" \
    -stroke '#7f0000' -strokewidth 1 -fill '#e02020' \
    -draw "circle 71.5,7.5 71.5,3" \
    -stroke white -strokewidth 1 \
    -draw "line 69.5,5.5 73.5,9.5" -draw "line 73.5,5.5 69.5,9.5" \
    -stroke '#7f0000' -strokewidth 1 -fill '#e02020' \
    -draw "circle 87.5,7.5 87.5,3" \
    -stroke none -fill '#3a78d8' \
    -draw "circle 87.5,7.5 87.5,5.5" \
    -type TrueColor BMP3:state_images.bmp
