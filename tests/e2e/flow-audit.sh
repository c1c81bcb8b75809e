# Flows of a removal that finds nothing to remove and of a stored window
# place on no screen, sourced by flows.sh after its helpers:
# - unsupported_theme: style files without the banners' heads (another ICQ
#   build, a hand-edited theme): the removal warns, in English and German,
#   the button stays and the style files that lack the heads are untouched;
#   with only the message window's heads gone the warning comes all the same;
# - offscreen: a FormLeft/FormTop far off the screen, to each side, brings
#   the window up wholly on the screen and that place is what is stored; a
#   place partly off the screen is kept as it is.

AUDIT_MSG_STYLE="services/icqApp/ver1/theme/MUIMessage/MsgSessionDlg.style.box"
AUDIT_WARNING_EN="Velmora could not find the banners in ICQ's theme files, so they were not removed. This version of ICQ may not be supported."
AUDIT_WARNING_DE="Velmora konnte die Banner in den Theme-Dateien von ICQ nicht finden, daher wurden sie nicht entfernt. Diese Version von ICQ wird möglicherweise nicht unterstützt."

# Renames the elements the banner edits look for, as a theme of another
# build would name them.
audit_strip_heads() {  # relative-path
  LC_ALL=C sed -i -e 's/id="FeaturesBannerArea"/id="FeaturesArea"/g' -e 's/id="bannerStyle"/id="promoStyle"/g' \
    -e 's/image\.icqBanner\.bg/image.icqPromo.bg/g' -e 's/id="adBoxStyle"/id="promoBoxStyle"/g' \
    -e 's/id="adContainerBoxStyle"/id="promoContainerBoxStyle"/g' "$ICQ/$1" || fail "cannot edit $1"
  cmp -s "$FIXTURE/$1" "$ICQ/$1" && fail "$1 kept its heads"
  cp "$ICQ/$1" "$FLOW/$(basename "$1").stripped"
}

audit_expect_untouched() {  # relative-path
  cmp -s "$FLOW/$(basename "$1").stripped" "$ICQ/$1" || fail "$1 was changed"
}

flow_unsupported_theme() {
  local -a german
  flow_setup unsupported_theme
  audit_strip_heads "$AUDIT_MSG_STYLE"
  audit_strip_heads "$CL_STYLE"
  start_main
  expect_eq "qbtnRemoveBanner at the start" "$(state qbtnRemoveBanner | cut -d' ' -f1)" 1
  click_main qbtnRemoveBanner
  expect_box "$AUDIT_WARNING_EN" box-not-removed-en.png
  answer OK
  expect_eq "qbtnRemoveBanner" "$(state qbtnRemoveBanner | cut -d' ' -f1)" 1
  audit_expect_untouched "$AUDIT_MSG_STYLE"
  audit_expect_untouched "$CL_STYLE"
  quit_main

  # Only the message window's heads are gone: the contact list is edited,
  # and still the removal is not whole.
  flow_setup unsupported_theme
  audit_strip_heads "$AUDIT_MSG_STYLE"
  read -r -a german <<<"$(locale_env de_DE)"
  start_main "${german[@]}"
  click_main qbtnRemoveBanner
  expect_box "$AUDIT_WARNING_DE" box-not-removed-de.png
  answer OK
  expect_eq "qbtnRemoveBanner" "$(state qbtnRemoveBanner | cut -d' ' -f1)" 1
  audit_expect_untouched "$AUDIT_MSG_STYLE"
  grep -qF '<style id="adBoxStyle" width="0" height="0" />' "$ICQ/$CL_STYLE" || fail "the contact list was not edited"
  quit_main
}

# The main window's outer rectangle in screen pixels: left top right bottom.
audit_rect() { drv windows | awk -v h="$MAIN" '$1 == h { print $6, $7, $8, $9 }'; }

flow_offscreen() {
  local screen_w screen_h case left top l t r b saved_l saved_t
  read -r screen_w screen_h < <(xdotool getdisplaygeometry) || fail "cannot read the screen's size"
  # Far to the right and below, far to the left and above, and right of the
  # screen at a height on it.
  for case in 300000:200000 -300000:-150000 99999:1500; do
    left="${case%%:*}" top="${case#*:}"
    flow_setup offscreen
    drv regset "$E2E_SETTINGS" FormLeft "$left" -- regset "$E2E_SETTINGS" FormTop "$top" ||
      fail "cannot set the position"
    start_main
    read -r l t r b < <(audit_rect)
    [ -n "$b" ] && [ "$l" -ge 0 ] && [ "$t" -ge 0 ] && [ "$r" -le "$screen_w" ] && [ "$b" -le "$screen_h" ] ||
      fail "stored at $left,$top twips the window is at $l,$t-$r,$b, not wholly on the ${screen_w}x$screen_h screen"
    quit_main
    saved_l="$(setting FormLeft)" saved_t="$(setting FormTop)"
    awk -v v="$saved_l" -v p="$l" 'BEGIN { exit !(v != "<none>" && v - p * 15 < 15 && p * 15 - v < 15) }' ||
      fail "from $left: FormLeft is $saved_l, the window's left edge was at $l pixels"
    awk -v v="$saved_t" -v p="$t" 'BEGIN { exit !(v != "<none>" && v - p * 15 < 15 && p * 15 - v < 15) }' ||
      fail "from $top: FormTop is $saved_t, the window's top edge was at $t pixels"
  done

  # Partly off the screen's right and bottom edges: the user can reach it,
  # and it stays where it was put.
  left=$(( (screen_w - 100) * 15 )) top=$(( (screen_h - 60) * 15 ))
  flow_setup offscreen
  drv regset "$E2E_SETTINGS" FormLeft "$left" -- regset "$E2E_SETTINGS" FormTop "$top" || fail "cannot set the position"
  start_main
  read -r l t r b < <(audit_rect)
  expect_eq "the window's place" "$l $t" "$((screen_w - 100)) $((screen_h - 60))"
  quit_main
  expect_eq "FormLeft" "$(setting FormLeft)" "$left"
  expect_eq "FormTop" "$(setting FormTop)" "$top"
}

ALL_FLOWS+=(unsupported_theme offscreen)
TITLES+=(
  [unsupported_theme]="style files without the banners' heads: warned, button stays, files kept"
  [offscreen]="a stored place on no screen comes back on it and is stored; partly off stays"
)
