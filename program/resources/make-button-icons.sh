#!/usr/bin/env bash
# Draws the icons of the main window's buttons with ImageMagick: each is
# drawn at 128 x 128 and scaled down to 32, 40 and 48 pixels, so the edges
# come out smooth; icon-writer.py puts the images together. Run from
# anywhere; writes the .ico files beside this script, the same bytes every
# time.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

draw() {  # name, then ImageMagick drawing options on a clear 128 x 128 canvas
    local name="$1"; shift
    convert -size 128x128 xc:none "$@" "$tmp/$name.png"
}

# Remove banner: an advertising banner, struck through in red.
draw banner \
    -fill '#f3d55b' -stroke '#8a6d00' -strokewidth 5 -draw 'roundrectangle 8,36 120,92 8,8' \
    -stroke '#8a6d00' -strokewidth 7 -draw 'line 24,54 88,54' -draw 'line 24,74 70,74' \
    -fill none -stroke '#d01818' -strokewidth 16 -draw 'line 20,20 108,108' -draw 'line 108,20 20,108'

# Open picture: a yellow folder with a small landscape picture in it.
draw open \
    -fill '#e0a526' -stroke '#7a5200' -strokewidth 4 -draw 'polygon 8,30 48,30 58,42 120,42 120,112 8,112' \
    -fill '#ffffff' -stroke '#5a5a5a' -strokewidth 3 -draw 'rectangle 34,22 102,78' \
    -fill '#6cb6f0' -stroke none -draw 'rectangle 37,25 99,75' \
    -fill '#2f8f2f' -draw 'polygon 37,75 58,48 74,66 84,56 99,75' \
    -fill '#ffd21f' -draw 'circle 86,36 86,43' \
    -fill '#f5c242' -stroke '#7a5200' -strokewidth 4 -draw 'polygon 8,112 22,58 128,58 114,112'

# Apply changes: a green tick.
draw apply \
    -fill '#2e9e3e' -stroke '#1b6526' -strokewidth 4 -draw 'circle 64,64 64,6' \
    -fill none -stroke white -strokewidth 16 -draw 'polyline 32,66 54,88 96,40'

# Check for updates: two blue arrows chasing each other round a circle.
# The arcs are short lines with round joins: ImageMagick 6 closes stroked
# arcs and polylines.
draw update \
    -fill none -stroke '#1f63c6' -strokewidth 13 -draw 'line 21.5,52.6 23.7,46.4 line 23.7,46.4 26.7,40.6 line 26.7,40.6 30.6,35.3 line 30.6,35.3 35.3,30.7 line 35.3,30.7 40.6,26.8 line 40.6,26.8 46.4,23.7 line 46.4,23.7 52.6,21.5 line 52.6,21.5 59.0,20.3 line 59.0,20.3 65.6,20.0 line 65.6,20.0 72.1,20.8 line 72.1,20.8 78.5,22.4 line 78.5,22.4 84.5,25.1 line 84.5,25.1 90.1,28.5 line 90.1,28.5 95.0,32.8 line 95.0,32.8 99.3,37.8 line 99.3,37.8 102.8,43.3 line 106.5,75.4 104.3,81.6 line 104.3,81.6 101.3,87.4 line 101.3,87.4 97.4,92.7 line 97.4,92.7 92.7,97.3 line 92.7,97.3 87.4,101.2 line 87.4,101.2 81.6,104.3 line 81.6,104.3 75.4,106.5 line 75.4,106.5 69.0,107.7 line 69.0,107.7 62.4,108.0 line 62.4,108.0 55.9,107.2 line 55.9,107.2 49.5,105.6 line 49.5,105.6 43.5,102.9 line 43.5,102.9 37.9,99.5 line 37.9,99.5 33.0,95.2 line 33.0,95.2 28.7,90.2 line 28.7,90.2 25.2,84.7' \
    -fill '#1f63c6' -stroke none -draw 'circle 21.5,52.6 28.0,52.6 circle 23.7,46.4 30.2,46.4 circle 26.7,40.6 33.2,40.6 circle 30.6,35.3 37.1,35.3 circle 35.3,30.7 41.8,30.7 circle 40.6,26.8 47.1,26.8 circle 46.4,23.7 52.9,23.7 circle 52.6,21.5 59.1,21.5 circle 59.0,20.3 65.5,20.3 circle 65.6,20.0 72.1,20.0 circle 72.1,20.8 78.6,20.8 circle 78.5,22.4 85.0,22.4 circle 84.5,25.1 91.0,25.1 circle 90.1,28.5 96.6,28.5 circle 95.0,32.8 101.5,32.8 circle 99.3,37.8 105.8,37.8 circle 102.8,43.3 109.3,43.3 circle 106.5,75.4 113.0,75.4 circle 104.3,81.6 110.8,81.6 circle 101.3,87.4 107.8,87.4 circle 97.4,92.7 103.9,92.7 circle 92.7,97.3 99.2,97.3 circle 87.4,101.2 93.9,101.2 circle 81.6,104.3 88.1,104.3 circle 75.4,106.5 81.9,106.5 circle 69.0,107.7 75.5,107.7 circle 62.4,108.0 68.9,108.0 circle 55.9,107.2 62.4,107.2 circle 49.5,105.6 56.0,105.6 circle 43.5,102.9 50.0,102.9 circle 37.9,99.5 44.4,99.5 circle 33.0,95.2 39.5,95.2 circle 28.7,90.2 35.2,90.2 circle 25.2,84.7 31.7,84.7' \
    -draw 'polygon 112,59 116,34 88,50' -draw 'polygon 16,69 12,94 40,78'

# Settings: a grey cog wheel.
draw settings \
    -fill '#7b8087' -stroke none \
    -draw 'translate 64,64 rectangle -10,-60 10,60' \
    -draw 'translate 64,64 rotate 45 rectangle -10,-60 10,60' \
    -draw 'translate 64,64 rotate 90 rectangle -10,-60 10,60' \
    -draw 'translate 64,64 rotate 135 rectangle -10,-60 10,60' \
    -stroke '#4a4e54' -strokewidth 4 -draw 'circle 64,64 64,20' \
    -fill none -stroke '#4a4e54' -strokewidth 4 -draw 'circle 64,64 64,46' \
    -fill white -stroke none -draw 'circle 64,64 64,48'

# About: a blue disc with a white "i".
draw info \
    -fill '#2b73d2' -stroke '#174a8f' -strokewidth 4 -draw 'circle 64,64 64,6' \
    -fill white -stroke none -draw 'circle 64,34 64,44' -draw 'roundrectangle 54,52 74,104 4,4'

# Raw pixels for icon-writer.py: colour (rgb) and opacity (gray), row by row
# from the top.
raw() {  # name, size, extra options, as the picture scaled to that size
    convert "$tmp/$1.png" -resize "$2x$2" "${@:3}" "$tmp/$1-$2.png"
    convert "$tmp/$1-$2.png" -alpha off -depth 8 "rgb:$tmp/$1-$2.rgb"
    convert "$tmp/$1-$2.png" -alpha extract -depth 8 "gray:$tmp/$1-$2.a"
}
# 32 pixels at 96 dots per inch, 40 at 120 and 48 at 144: the button shows
# the one the screen asks for at its own size.
for n in banner open apply update settings info; do
    for size in 32 40 48; do raw "$n" "$size"; done
done
# For screens of 16 colours: the folder on a light grey, without soft edges.
cp "$tmp/open.png" "$tmp/open16.png"
raw open16 32 -background '#c0c0c0' -flatten -colors 16 -type Palette

icons() {  # file, raw name
    python3 icon-writer.py "$tmp" "$1" icon "$2-32:32:32" "$2-40:40:32" "$2-48:48:32" "${@:3}"
}
icons qbtnRemoveBanner.ico banner
icons qbtnOpen.ico open open16-32:32:4
icons qbtnApply.ico apply
icons qbtnCheckUpdate.ico update
icons qbtnSettings.ico settings
icons qbtnInfo.ico info
