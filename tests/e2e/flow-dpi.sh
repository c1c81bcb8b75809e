# The four windows at 96, 120 and 144 dots per inch, in English and in German
# (Language "2" and "1"), sourced by flows.sh after its helpers. Not one of
# the test command's flows: it takes pictures to be looked at, with
#
#   tests/e2e/flows.sh dpi
#
# into build/screens/dpi/<window>-<language>-<dpi>.png. On the way it checks
# what can be read off the windows: the preview's drawing area is 136 x 103
# pixels at every DPI and sits in the middle of its scaled place, and the
# windows are larger at more dots per inch.
#
# Wine reads the DPI from "LogPixels" under HKCU\Control Panel\Desktop when a
# program starts; the flow sets it before each start and takes it away at
# its end.

DPI_KEY='HKCU\Control Panel\Desktop'

# At 144 dots per inch the report window is wider than a screen of 1024 x
# 768: a screen such a user has. This file is read before the display starts.
case " $* " in
  *" dpi "*) export VELMORA_XVFB_SCREEN="${VELMORA_XVFB_SCREEN:-1920x1200x24}" ;;
esac

dpi_set() {  # dots per inch, or none to take the setting away
  if [ -n "${1:-}" ]; then
    "$WINELOADER" reg add "$DPI_KEY" /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  else
    "$WINELOADER" reg delete "$DPI_KEY" /v LogPixels /f >/dev/null 2>&1
  fi
}

# Width and height of a window's client area.
dpi_size() { drv client "$1" | awk '{ print $3 "x" $4 }'; }

dpi_one() {  # dpi language-number language-name
  local dpi="$1" lang="$2" name="$3" shots="$SCREENS/dpi" box row l t r b place settings about report
  E2E_DPI="$dpi"
  flow_setup dpi
  # A read-only style file: removing the banners ends in the error report.
  chmod a-w "$ICQ/$CL_STYLE"
  drv regset "$E2E_SETTINGS" Language "$lang" || fail "cannot set Language"
  dpi_set "$dpi" || fail "cannot set the DPI"
  start_main
  open_picture "$PICS/quadrants.bmp"

  # The preview: 136 x 103 pixels inside its border, in the middle of the
  # layout's place (2070 x 1575 twips at 360, 1800) at this DPI.
  row="$(drv controls "$MAIN" | awk '$2 == "VelmoraPictureBox"')"
  [ -n "$row" ] || fail "no preview in the main window"
  box="$(cut -d' ' -f1 <<<"$row")"
  expect_eq "the preview's drawing area at $dpi" "$(dpi_size "$box")" 136x103
  read -r l t r b < <(awk '{ print $6, $7, $8, $9 }' <<<"$row")
  expect_eq "the preview with its border at $dpi" "$((r - l))x$((b - t))" 138x105
  place="$(awk -v dpi="$dpi" 'BEGIN {
      x = int((360 * dpi + 720) / 1440); y = int((1800 * dpi + 720) / 1440)
      print x + int((int((2430 * dpi + 720) / 1440) - x - 138) / 2), y + int((int((3375 * dpi + 720) / 1440) - y - 105) / 2) }')"
  expect_eq "the preview's place at $dpi" "$(drv controls "$MAIN" | awk -v h="$box" '$1 == h { print $10, $11 }')" "$place"
  DPI_SIZES+="main-$name-$dpi=$(dpi_size "$MAIN") "
  e2e_shot "$MAIN" "$shots/main-$name-$dpi.png"

  click_main qbtnSettings
  settings="$(wait_form "$([ "$lang" = 1 ] && echo Einstellungen || echo Settings)")"
  e2e_shot "$settings" "$shots/settings-$name-$dpi.png"
  drv keys "$settings" 1b -- waitgone "$settings" 5000 >/dev/null || fail "the settings did not close"

  click_main qbtnInfo
  about="$(wait_form Info)"
  e2e_shot "$about" "$shots/about-$name-$dpi.png"
  # The web site with the focus: its focus rectangle shows.
  drv keys "$about" 09 || fail "cannot press Tab"
  e2e_shot "$about" "$shots/about-$name-$dpi-link.png"
  drv keys "$about" 1b -- waitgone "$about" 5000 >/dev/null || fail "the about window did not close"

  click_main qbtnRemoveBanner
  report="$(wait_form "Error Report")"
  e2e_shot "$report" "$shots/report-$name-$dpi.png"
  drv keys "$report" 1b -- waitgone "$report" 5000 >/dev/null || fail "the report did not close"
  quit_main
  e2e_wait_exit 20
}

flow_dpi() {
  local dpi
  DPI_SIZES=""
  trap 'dpi_set' EXIT
  mkdir -p "$SCREENS/dpi"
  for dpi in 96 120 144; do
    dpi_one "$dpi" 2 en
    dpi_one "$dpi" 1 de
  done
  dpi_set
  # Every window grows with the DPI: the main window by its twips.
  local w96 h96 w144 h144
  IFS=x read -r w96 h96 <<<"$(tr ' ' '\n' <<<"$DPI_SIZES" | sed -n 's/^main-en-96=//p')"
  IFS=x read -r w144 h144 <<<"$(tr ' ' '\n' <<<"$DPI_SIZES" | sed -n 's/^main-en-144=//p')"
  expect_eq "the main window at 96" "${w96}x${h96}" 185x385
  expect_eq "the main window at 144" "${w144}x${h144}" 278x578
  printf '%s\n' "screenshots in $SCREENS/dpi" >&2
}

TITLES[dpi]="the four windows at 96, 120 and 144 dots per inch in both languages: screenshots"
