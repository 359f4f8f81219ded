#!/bin/sh
# Draws the state images of the page's tree and list as one 48x16 strip,
# state_images.bmp: image 0 is never shown (state 0 means none), image 1
# "will not load" (a red disc with a white cross), image 2 "something below
# will not load" (a red ring). Magenta is the mask colour, so both images sit
# on any background; their dark outlines keep them visible on light and dark
# ones and on the blue of a selected row.
set -e
cd "$(dirname "$0")"
convert -size 48x16 xc:'#ff00ff' +antialias \
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
    -type TrueColor BMP3:state_images.bmp
