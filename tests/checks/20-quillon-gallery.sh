#!/usr/bin/env bash
# The Quillon gallery under Xvfb: the eight buttons of the program's windows
# in their resting, hovered, focused and disabled looks, and one of them with
# the system's high-contrast setting on, driven with the real pointer
# (xdotool) and photographed row by row into build/quillon-gallery.png.
# Fails when the gallery does not come up or a look is missing from its cell.
# QUILLON_GALLERY_EXE and QUILLON_GALLERY_OUT point it at another build tree
# and another picture.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
. "$root/cmake/wine-env"
exe="${QUILLON_GALLERY_EXE:-$VELMORA_TREE/tests/win32/quillon/quillon_gallery.exe}"
out="${QUILLON_GALLERY_OUT:-$root/build/quillon-gallery.png}"
work="${out%.png}"
[ -f "$exe" ] || { echo "missing $exe: build the win32 tree first"; exit 1; }
export WINEDEBUG=-all
rm -rf "$work" "$out"
mkdir -p "$work"

# Cell geometry of the gallery program (Gallery.cpp), in pixels.
left=170; column=200; top=36; row_height=56; inset=8; width=$((left + 4 * column))
heights=(41 41 41 41 41 41 25 33 41)
names=(qbtnRemoveBanner qbtnOpen qbtnApply qbtnCheckUpdate qbtnSettings qbtnInfo qbtnCopy qbtnOk "qbtnApply (high contrast)")
contrast_row=8

. "$root/cmake/xvfb-env"
velmora_display_start 91 140 || { echo "no free X display"; exit 1; }
gallery=""
cleanup() {
  [ -n "$gallery" ] && kill "$gallery" 2>/dev/null
  velmora_display_stop
}
trap cleanup EXIT

# A wineserver left running by the tests has its desktop on the null driver,
# where no window reaches X: the gallery starts Wine afresh on this display.
wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
winwork="Z:${work//\//\\}"
"$root/cmake/wine-run" "$exe" "$winwork\\colours.txt" >"$work/gallery.log" 2>&1 &
gallery=$!
if ! timeout 90 xdotool search --sync --onlyvisible --name "Quillon gallery" >/dev/null 2>&1; then
  echo "the gallery window did not appear"; cat "$work/gallery.log"; exit 1
fi
sleep 1.5  # painted, and every button's creation tick is over

import -window root -crop "${width}x${top}+0+0" +repage "$work/header.png"
for row in "${!names[@]}"; do
  y=$((top + row * row_height + inset + heights[row] / 2))
  # Focus by clicking the focused column's button, then hover the hovered one.
  xdotool mousemove $((left + 2 * column + 4)) "$y" click 1
  sleep 0.3
  xdotool mousemove $((left + column + 4)) "$y"
  sleep 0.6
  import -window root -crop "${width}x${row_height}+0+$((top + row * row_height))" +repage "$work/row$row.png"
done
xdotool mousemove 1000 750
convert "$work/header.png" "$work"/row{0..8}.png -append "$out"

# Each look must be in its own cell: the colour it is known by, and not in
# the cells where it does not belong.
colours() {  # image, column: the colours of that cell, one per line
  convert "$1" -crop "${column}x${row_height}+$((left + $2 * column))+0" +repage -format %c histogram:info:- |
    grep -o '#[0-9A-F]\{6\}' | sort -u
}
status=0
expect() {  # row, column, colour, yes|no, what
  local has=no
  colours "$work/row$1.png" "$2" | grep -qi "^$3$" && has=yes
  if [ "$has" != "$4" ]; then echo "${names[$1]}, ${5}: expected $3 $( [ "$4" = yes ] && echo present || echo absent)"; status=1; fi
}
for row in "${!names[@]}"; do
  [ "$row" = "$contrast_row" ] && continue
  expect "$row" 0 '#000000' yes "resting outline"
  expect "$row" 0 '#FFC080' no "resting without hover outline"
  expect "$row" 1 '#FFC080' yes "hover outline"
  expect "$row" 2 '#C0C0FF' yes "focus fill"
  expect "$row" 2 '#8080FF' yes "focus outline"
  expect "$row" 3 '#E0E0E0' yes "disabled fill"
  expect "$row" 3 '#FFC080' no "disabled without hover outline"
  expect "$row" 3 '#C0C0FF' no "disabled without focus fill"
done

# High contrast: only the system's colours, the highlight for hover and
# focus, the focus rectangle (the face inverted by its dots), grey text when
# disabled; none of the button's own look.
colour() { tr -d '\r' <"$work/colours.txt" | awk -v n="$1" '$1 == n { print $2 }'; }
face="$(colour face)"; text="$(colour text)"; highlight="$(colour highlight)"; gray="$(colour gray)"
if [ -z "$face" ] || [ -z "$highlight" ] || [ -z "$gray" ] || [ -z "$text" ]; then
  echo "the gallery did not write its system colours"; status=1
else
  dots="$(printf '#%06X' $(( 0xFFFFFF ^ 0x${face#\#} )))"
  r=$contrast_row
  for col in 0 1 2 3; do
    expect "$r" "$col" "$face" yes "high contrast face, column $col"
    for own in '#C0C0FF' '#8080FF' '#FFC080' '#E0E0E0'; do
      [ "$own" = "$face" ] || expect "$r" "$col" "$own" no "high contrast without the own look, column $col"
    done
  done
  expect "$r" 0 "$text" yes "high contrast text and outline"
  expect "$r" 0 "$highlight" no "high contrast resting without highlight"
  expect "$r" 0 "$dots" no "high contrast resting without focus rectangle"
  expect "$r" 1 "$highlight" yes "high contrast hover highlight"
  expect "$r" 2 "$highlight" yes "high contrast focus highlight"
  expect "$r" 2 "$dots" yes "high contrast focus rectangle"
  expect "$r" 3 "$gray" yes "high contrast grey text"
  expect "$r" 3 "$highlight" no "high contrast disabled without highlight"
fi
[ -f "$out" ] || status=1
if [ "$status" -eq 0 ]; then echo "gallery: $out"; fi
exit "$status"
