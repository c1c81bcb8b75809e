# Flows of a removal that finds nothing to remove, sourced by flows.sh after
# its helpers:
# - unsupported_theme: style files without the banners' heads (another ICQ
#   build, a hand-edited theme): the removal warns, in English and German,
#   the button stays and the style files that lack the heads are untouched;
#   with only the message window's heads gone the warning comes all the same;

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

ALL_FLOWS+=(unsupported_theme)
TITLES+=(
  [unsupported_theme]="style files without the banners' heads: warned, button stays, files kept"
)
