#!/bin/sh
# Draws the state images of the page's tree and list as one 80x16 strip,
# state_images.bmp: image 0 is never shown (state 0 means none), image 1
# "will not load" (a red disc with a white cross), image 2 "something below
# will not load" (a red ring); after a run, image 3 "loaded at run time" (a
# blue disc with a white triangle, "played") and image 4 "not loaded in the
# run" (a grey ring with a dash). Magenta is the mask colour, so the images sit
# on any background; their dark outlines keep them visible on light and dark
# ones and on the blue of a selected row.
set -e
cd "$(dirname "$0")"
convert -size 80x16 xc:'#ff00ff' +antialias \
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
    -stroke '#0a2a6a' -strokewidth 1 -fill '#2f6fd8' \
    -draw "circle 55.5,7.5 55.5,1" \
    -stroke none -fill white \
    -draw "polygon 53,4 59,7.5 53,11" \
    -stroke '#505050' -strokewidth 1 -fill '#d8d8d8' \
    -draw "circle 71.5,7.5 71.5,2" \
    -stroke '#505050' -strokewidth 2 \
    -draw "line 68.5,7.5 74.5,7.5" \
    -type TrueColor BMP3:state_images.bmp
