#!/usr/bin/env bash
# Draws the program's own pictures with ImageMagick and writes them beside
# this script:
#   Velmora.ico       the program icon: 48, 40, 24, 20 and 16 pixels in 32-bit
#                     colour, 32 pixels in 256 colours
#   frmShowError.ico  the error report window's icon, 48, 40, 32, 24, 20 and
#                     16 pixels (the sizes of 96, 120 and 144 dots per inch)
#   hand.cur          the pointing hand, black on white, hot spot (12, 1)
#   link.cur          the about window's link cursor: an arrow with a globe,
#                     hot spot at the arrow's tip (1, 1)
#   flower.bmp        the picture the preview starts with, 156 x 161, 24-bit
# Icons are drawn at 256 x 256 and scaled down, so their edges come out
# smooth; the cursors are drawn without anti-aliasing at their own size. The
# .ico and .cur files are put together by icon-writer.py, which gives every
# image exactly the depth, mask and hot spot wanted. Running the script again
# writes the same bytes.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

draw() {  # name, size, then ImageMagick drawing options on a clear canvas
    local name="$1" size="$2"; shift 2
    convert -size "${size}x${size}" xc:none "$@" "$tmp/$name.png"
}

# ---------------------------------------------------------------------------
# Velmora.ico: a framed landscape over a speech bubble.

draw app 256 \
    -fill '#1d5fae' -stroke none -draw 'roundrectangle 10,70 196,212 44,44' -draw 'polygon 44,196 22,250 98,206' \
    -fill '#3b8ae0' -draw 'roundrectangle 14,74 192,204 40,40' -draw 'polygon 48,196 30,240 94,202' \
    -fill '#ffffff' -draw 'circle 58,150 58,162' -draw 'circle 100,150 100,162' -draw 'circle 142,150 142,162' \
    -fill '#00000055' -draw 'rectangle 100,16 250,134' \
    -fill '#a8672a' -stroke '#5e3510' -strokewidth 4 -draw 'rectangle 92,8 244,126' \
    -fill '#d7a15c' -stroke none -draw 'polygon 96,12 240,12 226,26 110,26' \
    -fill '#7a4418' -draw 'polygon 240,12 240,122 226,108 226,26' \
    -fill '#87c8f7' -stroke '#5e3510' -strokewidth 3 -draw 'rectangle 110,26 226,108' \
    -fill '#ffd52e' -stroke none -draw 'circle 196,50 196,62' \
    -fill '#6dbb45' -draw 'polygon 112,108 112,86 140,66 168,88 186,76 224,100 224,108' \
    -fill '#3f8f2e' -draw 'polygon 112,108 112,98 150,84 196,106 196,108'

# At 16 pixels the bevelled frame and the dots turn to mud: a plainer
# drawing with a thinner frame and a bigger picture.
draw app-small 256 \
    -fill '#2a74c8' -stroke '#174a8f' -strokewidth 14 -draw 'roundrectangle 12,84 180,220 40,40' \
    -stroke none -draw 'polygon 40,200 20,250 100,214' \
    -fill '#ffffff' -draw 'circle 56,160 56,176' -draw 'circle 108,160 108,176' \
    -fill '#87c8f7' -stroke '#6b3c14' -strokewidth 24 -draw 'rectangle 92,12 244,140' \
    -fill '#ffd52e' -stroke none -draw 'circle 200,52 200,70' \
    -fill '#3f9a32' -draw 'polygon 104,128 104,104 150,64 196,110 232,90 232,128'

# ---------------------------------------------------------------------------
# frmShowError.ico: a sheet of paper with a red exclamation mark.

draw error 256 \
    -fill '#00000040' -stroke none -draw 'polygon 48,20 172,20 220,68 220,244 48,244' \
    -fill '#ffffff' -stroke '#6e7480' -strokewidth 6 -draw 'polygon 38,10 164,10 212,58 212,234 38,234' \
    -fill '#d8dce3' -draw 'polygon 164,10 164,58 212,58' \
    -fill none -stroke '#a9b0bc' -strokewidth 8 \
    -draw 'line 66,52 140,52' -draw 'line 66,80 184,80' -draw 'line 66,108 184,108' \
    -draw 'line 66,136 150,136' -draw 'line 66,164 110,164' -draw 'line 66,192 100,192' \
    -fill '#d42020' -stroke '#8c0d0d' -strokewidth 6 -draw 'circle 178,186 178,120' \
    -fill '#ffffff' -stroke none -draw 'roundrectangle 166,136 190,198 8,8' -draw 'circle 178,218 178,231'

draw error-small 256 \
    -fill '#ffffff' -stroke '#5c626e' -strokewidth 16 -draw 'polygon 36,12 156,12 212,68 212,240 36,240' \
    -fill '#c9ced7' -draw 'polygon 156,12 156,68 212,68' \
    -fill none -stroke '#9aa2af' -strokewidth 18 -draw 'line 72,72 124,72' -draw 'line 72,116 112,116' \
    -fill '#d42020' -stroke '#8c0d0d' -strokewidth 8 -draw 'circle 176,176 176,100' \
    -fill '#ffffff' -stroke none -draw 'roundrectangle 160,124 192,192 8,8' -draw 'circle 176,220 176,236'

# ---------------------------------------------------------------------------
# The cursors, drawn without anti-aliasing: every pixel is black, white or
# clear. The index finger's tip is the black pixel at (12, 1).

draw hand 32 +antialias -fill white -stroke black -strokewidth 1 \
    -draw 'polygon 10,2 11,1 13,1 14,2 14,11 15,10 17,10 18,11 18,12 19,11 21,11 22,12 22,13 23,12 25,12 26,13 26,21 24,25 23,28 12,28 11,26 4,18 4,16 5,15 7,15 10,18' \
    -fill none -draw 'line 14,12 14,15' -draw 'line 18,13 18,16' -draw 'line 22,14 22,17'

# The link cursor: the usual arrow, its tip at (1, 1), and a small globe
# below it (drawn large and scaled down, so the globe alone is smooth).
draw globe 256 \
    -fill '#1f5fb4' -stroke none -draw 'circle 168,176 168,92' \
    -fill '#3d8ee8' -draw 'circle 168,176 168,100' \
    -fill '#46a640' -draw 'polygon 128,124 160,112 176,132 160,150 168,170 148,190 132,168 116,150' \
    -draw 'polygon 184,178 212,170 230,190 214,222 192,232 186,206' \
    -fill none -stroke '#bfe0ff' -strokewidth 5 -draw 'ellipse 168,176 38,76 0,360' -draw 'line 92,176 244,176' \
    -draw 'ellipse 168,176 76,28 180,360' \
    -stroke '#0f3f80' -strokewidth 8 -draw 'circle 168,176 168,100'
convert "$tmp/globe.png" -resize 32x32 "$tmp/globe-32.png"
draw arrow 32 +antialias -fill white -stroke black -strokewidth 1 \
    -draw 'polygon 1,1 1,18 5,14 8,21 11,20 8,13 13,13'
convert "$tmp/globe-32.png" "$tmp/arrow.png" -composite "$tmp/link.png"

# ---------------------------------------------------------------------------
# Raw pixels for the writer: colour (rgb) and opacity (gray), row by row from
# the top. The 256-colour image is flattened on a light grey first, so its
# soft edges blend with a window's usual face, and cut to 255 colours,
# leaving room for black under the mask.

raw() {  # picture, size, name of the raw pair
    convert "$tmp/$1.png" -resize "$2x$2" "$tmp/$3.png"
    convert "$tmp/$3.png" -alpha off -depth 8 "rgb:$tmp/$3.rgb"
    convert "$tmp/$3.png" -alpha extract -depth 8 "gray:$tmp/$3.a"
}
raw app 48 app48
raw app 40 app40
raw app-small 16 app16
raw app-small 20 app20
raw app-small 24 app24
raw error 48 error48
raw error 40 error40
raw error 32 error32
raw error-small 16 error16
raw error-small 20 error20
raw error-small 24 error24
raw hand 32 hand32
raw link 32 link32
convert "$tmp/app.png" -resize 32x32 "$tmp/app32.png"
convert "$tmp/app32.png" -background '#d4d0c8' -alpha remove -alpha off +dither -colors 255 \
    -depth 8 "rgb:$tmp/app32.rgb"
convert "$tmp/app32.png" -alpha extract -depth 8 "gray:$tmp/app32.a"

# ---------------------------------------------------------------------------
# flower.bmp: a pink flower before a green garden, drawn at twice its size.

W=312 H=322 CX=150 CY=128
# A garden out of focus behind, lighter towards the top left.
convert -size ${W}x${H} gradient:'#c4dd96-#2b5220' \
  \( -size ${W}x${H} xc:none -fill '#fff8c0b0' -draw 'circle 40,40 40,95' -fill '#eefac8a0' -draw 'circle 272,64 272,106' \
     -fill '#9cc46490' -draw 'circle 250,262 250,322' -fill '#fbfbe080' -draw 'circle 78,206 78,236' \
     -fill '#23451ab0' -draw 'circle 4,306 4,390' -fill '#7fa85080' -draw 'circle 300,186 300,228' \
     -fill '#c8547090' -draw 'ellipse 286,300 34,22 0,360' -fill '#4d7d30a0' -draw 'ellipse 40,150 20,60 0,360' \) \
  -composite -blur 0x16 $tmp/bg.png
# The stem and two leaves; each leaf's lighter upper half is blurred into it.
leaf1="M 164,262 C 132,226 90,226 52,246 C 88,276 134,282 164,262 Z"
leaf2="M 160,214 C 190,186 236,184 266,200 C 240,230 196,236 160,214 Z"
convert -size ${W}x${H} xc:none \
  -fill none -stroke '#3f6b22' -strokewidth 11 -draw "path 'M 168,330 C 176,270 146,210 152,150'" \
  -stroke '#86b656' -strokewidth 3 -draw "path 'M 165,330 C 173,270 143,210 149,150'" \
  -stroke '#3a6a24' -strokewidth 2 -fill '#44802a' -draw "path '$leaf1'" -draw "path '$leaf2'" \
  \( -size ${W}x${H} xc:none -fill '#8cc85a' -draw "path 'M 164,262 C 132,230 92,230 56,246 C 96,250 132,254 164,262 Z'" \
     -draw "path 'M 160,214 C 192,190 232,188 262,200 C 228,204 196,208 160,214 Z'" -blur 0x3 \) -compose atop -composite \
  -fill none -stroke '#b4dc8a' -strokewidth 1.5 -draw "path 'M 162,261 C 130,248 96,244 60,246'" \
  -draw "path 'M 162,213 C 194,204 228,200 260,200'" \
  -blur 0x1.2 $tmp/stem.png
# One ring of petals: each an ellipse turned about the centre, a little
# uneven in angle and length, with a lighter, blurred streak along its middle
# and faint veins.
ring() { # part (petal or streak), seed, count, start angle, length, width, colour, edge
  awk -v part=$1 -v seed=$2 -v n=$3 -v a0=$4 -v l=$5 -v w=$6 -v c=$7 -v e=$8 -v cx=$CX -v cy=$CY 'BEGIN{
    srand(seed)
    for(i=0;i<n;i++){a=a0+360*i/n+(rand()-0.5)*8; m=l*(0.92+0.16*rand()); h=w*(0.9+0.2*rand())
      printf "push graphic-context translate %d,%d rotate %.1f ", cx, cy, a
      if (part == "petal") {
        printf "fill %s stroke %s stroke-width 2 ellipse 0,%.1f %.1f,%.1f 0,360 ", c, e, -m/2, h/2, m/2
        printf "fill none stroke #5a0a2a30 stroke-width 1 line 0,-16 %.1f,%.1f line 0,-16 %.1f,%.1f ", -h*0.18, -m*0.85, h*0.18, -m*0.85
      } else {
        printf "fill %s stroke none ellipse %.1f,%.1f %.1f,%.1f 0,360 ", c, -h*0.08, -m*0.6, h*0.24, m*0.3
      }
      printf "pop graphic-context\n"}}'
}
petals() { # name, seed, count, start angle, length, width, colour, edge, streak colour, softness
  convert -size ${W}x${H} xc:none -draw "$(ring petal $2 $3 $4 $5 $6 $7 $8)" \
    \( -size ${W}x${H} xc:none -draw "$(ring streak $2 $3 $4 $5 $6 $9 none)" -blur 0x5 \) -compose atop -composite \
    -blur "0x${10}" "$tmp/$1.png"
}
petals back 3 9 10 118 50 '#b02058' '#70102f' '#e060908c' 1.6
petals front 5 9 30 100 46 '#dc447a' '#96184a' '#ff9cc4a0' 1.1
# The front ring casts a soft shadow on the back one; then all petals are
# shaded darker towards the centre and lighter towards the top left.
convert $tmp/back.png \( $tmp/front.png -fill '#3a0014' -colorize 100 -channel A -evaluate multiply 0.6 +channel -roll +3+5 -blur 0x5 \) \
  -compose atop -composite $tmp/front.png -compose over -composite \
  \( -size ${W}x${H} xc: -fx "d=hypot(i-$CX,j-$CY)/60; s=min(1,0.5+0.5*d); s*(1.1-0.4*((i-$CX)+(j-$CY))/260)" \) \
  -compose multiply -channel RGB -composite +channel $tmp/petals.png
# The centre: a dome of stamens, shaded like a ball lit from the top left.
dots() { awk -v cx=$CX -v cy=$CY 'BEGIN{srand(7); for(i=0;i<260;i++){r=21*sqrt(rand()); a=6.2832*rand(); x=cx+r*cos(a); y=cy+r*sin(a);
  q=rand(); c=(q<0.25)?"#6b4208":(q<0.7?"#f2c230":"#ffe88a"); printf "fill %s circle %.1f,%.1f %.1f,%.1f\n",c,x,y,x+1.1,y}}'; }
convert -size ${W}x${H} xc:none -fill '#30001060' -draw "circle $((CX+3)),$((CY+4)) $((CX+3)),$((CY+30))" -blur 0x4 \
  -fill '#b87a10' -draw "circle $CX,$CY $CX,$((CY+24))" -draw "$(dots)" -blur 0x0.6 \
  \( -size ${W}x${H} xc: -fx "d=hypot(i-$CX+6,j-$CY+6)/34; max(0.45,1.15-d*d)" \) -compose multiply -channel RGB -composite +channel $tmp/centre.png
# All together, with the flower's shadow on the garden, darker corners and a
# little grain; scaled to its size last, so every edge is soft.
convert $tmp/bg.png \( -size ${W}x${H} xc:none -fill '#00000040' -draw "circle $((CX+10)),$((CY+14)) $((CX+10)),$((CY+74))" -blur 0x14 \) -composite \
  $tmp/stem.png -composite $tmp/petals.png -composite $tmp/centre.png -composite \
  \( -size ${W}x${H} xc: -fx "d=hypot((i-$W/2)/$W,(j-$H/2)/$H)*2; 1-0.3*d*d" \) -compose multiply -composite \
  -alpha off -resize '156x161!' -seed 42 -attenuate 0.2 +noise Gaussian -type TrueColor BMP3:flower.bmp

# ---------------------------------------------------------------------------
# The icon and cursor files.

writer() { python3 icon-writer.py "$tmp" "$@"; }
writer Velmora.ico icon app32:32:8 app16:16:32 app48:48:32 app20:20:32 app24:24:32 app40:40:32
writer frmShowError.ico icon error32:32:32 error16:16:32 error20:20:32 error24:24:32 error40:40:32 error48:48:32
writer hand.cur cursor hand32:32:1:12,1
writer link.cur cursor link32:32:32:1,1
