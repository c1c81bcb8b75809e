# The typical use with the keyboard alone, sourced by flows.sh after its
# helpers: no click anywhere. Tab walks the main window's buttons in the
# layout's order and round again; Enter removes the banners, and the focus
# moves on when that button goes; space opens the file dialog, which is used
# with its own keys; Enter applies and answers the message; the settings are
# opened, ticked with space, cancelled with Esc, opened again and stored with
# Enter; the about window opens with space, its links take the focus with
# Tab (their focus rectangle shows) and open with Enter and space, and Esc
# closes it; Esc leaves the main window open. At every step the focused button shows its focus look on
# the screen, and the focus comes back to the button that opened a window.
# ICQ's files end up as after the typical use with the mouse.

KB_BUTTONS=(qbtnRemoveBanner qbtnOpen qbtnApply qbtnCheckUpdate qbtnSettings qbtnInfo)
declare -A KB_HWND

# The main window's buttons that show the focus look (the fill #C0C0FF) on
# the screen, in the layout's order.
kb_focused() {
  local name rows visible l t r b
  import -window root "$FLOW/screen.png" || return 1
  rows="$(drv controls "$MAIN")"
  for name in "${KB_BUTTONS[@]}"; do
    [ -n "${KB_HWND[$name]:-}" ] || KB_HWND[$name]="$(ctl "$name")"
    read -r _ _ _ visible _ l t r b _ < <(awk -v h="${KB_HWND[$name]}" '$1 == h' <<<"$rows")
    [ "$visible" = 1 ] || continue
    convert "$FLOW/screen.png" -crop "$((r - l))x$((b - t))+$l+$t" +repage -format %c histogram:info:- |
      grep -qi '#C0C0FF' && printf '%s ' "$name"
  done
}

# Exactly this button shows the focus, within a few seconds (a window that
# has just gone may stay on the screen for a moment); a picture of the window
# is kept.
kb_expect_focus() {  # button [screenshot]
  local i got=""
  for i in $(seq 20); do
    got="$(kb_focused)"
    [ "$got" = "$1 " ] && break
    sleep 0.15
  done
  expect_eq "the buttons showing the focus" "$got" "$1 "
  [ -z "${2:-}" ] || e2e_shot "$MAIN" "$SCREENS/$2"
}

# A link shows the focus: the black dots of its focus rectangle around its
# blue text, within a few seconds; the other link shows none.
kb_expect_link_focus() {  # window link [screenshot]
  local i name hwnd rows dots got=""
  for i in $(seq 20); do
    import -window root "$FLOW/screen.png" || return 1
    rows="$(drv controls "$1")"
    got=""
    for name in lblWebsite lblEMail; do
      hwnd="$(ctl_in "$1" frmInfo.layout "$name")"
      read -r _ _ _ _ _ l t r b _ < <(awk -v h="$hwnd" '$1 == h' <<<"$rows")
      dots="$(convert "$FLOW/screen.png" -crop "$((r - l))x$((b - t))+$l+$t" +repage -format %c histogram:info:- |
        awk '/#000000/ { sub(":", "", $1); print $1 }')"
      [ "${dots:-0}" -gt 20 ] && got+="$name "
    done
    [ "$got" = "$2 " ] && break
    sleep 0.15
  done
  expect_eq "the links showing the focus" "$got" "$2 "
  [ -z "${3:-}" ] || e2e_shot "$1" "$SCREENS/$3"
}

kb_keys() {  # window hex-vk...
  drv keys "$@" || fail "cannot press ${*:2} in $1"
}

flow_keyboard() {
  local name settings check about
  flow_setup keyboard
  start_main
  kb_expect_focus qbtnRemoveBanner keyboard-1-start.png
  for name in qbtnOpen qbtnApply qbtnCheckUpdate qbtnSettings qbtnInfo qbtnRemoveBanner; do
    kb_keys "$MAIN" 09
    kb_expect_focus "$name"
  done

  # Enter: the banners go, and so does the button; the focus moves on.
  kb_keys "$MAIN" 0d
  wait_visible qbtnRemoveBanner 0
  expect_eq "lblRemovedBanner" "$(state lblRemovedBanner)" '1 1 "Banner is already removed"'
  kb_expect_focus qbtnOpen keyboard-2-removed.png

  # Space: the file dialog, typed into and closed with Enter.
  kb_keys "$MAIN" 20
  e2e_pick_file "$(e2e_winpath "$PICS/quadrants.bmp")" || fail "cannot pick the picture in the file dialog"
  kb_expect_focus qbtnOpen keyboard-3-picture.png

  kb_keys "$MAIN" 09
  kb_expect_focus qbtnApply
  kb_keys "$MAIN" 0d
  wait_box
  expect_eq "message" "$BOX_TEXT" "Changes have been applied"
  kb_keys "$BOX" 0d
  drv waitgone "$BOX" 5000 >/dev/null || fail "Enter did not answer the message"
  kb_expect_focus qbtnApply keyboard-4-applied.png

  # The settings: space ticks the box, Esc cancels and stores nothing.
  kb_keys "$MAIN" 09 09
  kb_expect_focus qbtnSettings
  kb_keys "$MAIN" 0d
  settings="$(wait_form Settings)"
  check="$(ctl_in "$settings" frmSettings.layout chkCloseAfterApply)"
  kb_keys "$settings" 09 20
  expect_eq "the box" "$(drv check "$check")" 1
  e2e_shot "$settings" "$SCREENS/keyboard-5-settings.png"
  kb_keys "$settings" 1b
  drv waitgone "$settings" 5000 >/dev/null || fail "Esc did not close the settings"
  expect_eq "CloseAfterChange after Esc" "$(setting CloseAfterChange)" "<none>"
  kb_expect_focus qbtnSettings

  # Again with space, and Enter is OK.
  kb_keys "$MAIN" 20
  settings="$(wait_form Settings)"
  check="$(ctl_in "$settings" frmSettings.layout chkCloseAfterApply)"
  kb_keys "$settings" 09 20 0d
  drv waitgone "$settings" 5000 >/dev/null || fail "Enter did not close the settings"
  expect_eq "CloseAfterChange after Enter" "$(setting CloseAfterChange)" 1
  expect_eq "Language after Enter" "$(setting Language)" 2
  kb_expect_focus qbtnSettings

  # The about window: space opens it; Tab reaches the web site and the
  # address, each showing its focus rectangle, and Enter and space open
  # them; Esc closes it.
  record_shell
  kb_keys "$MAIN" 09
  kb_expect_focus qbtnInfo
  kb_keys "$MAIN" 20
  about="$(wait_form Info)"
  e2e_shot "$about" "$SCREENS/keyboard-6-about.png"
  kb_keys "$about" 09
  kb_expect_link_focus "$about" lblWebsite keyboard-6-about-web.png
  kb_keys "$about" 0d
  wait_handed 1
  kb_keys "$about" 09
  kb_expect_link_focus "$about" lblEMail
  kb_keys "$about" 20
  wait_handed 2
  expect_eq "what the links handed to the shell" "$(tr '\n' '|' <"$FLOW/handed.txt")" \
    "http://www.velmora.example/|mailto:%20support@velmora.example|"
  kb_keys "$about" 1b
  drv waitgone "$about" 5000 >/dev/null || fail "Esc did not close the about window"
  kb_expect_focus qbtnInfo

  # Esc is nothing to the main window.
  kb_keys "$MAIN" 1b
  sleep 0.5
  drv windows | grep -q "^$MAIN " || fail "Esc closed the main window"
  kb_expect_focus qbtnInfo keyboard-7-end.png
  quit_main

  "$PYTHON" "$CHECK" bmp "$ICQ/$THEME/cl.jpg" \
    0,0,65,48=ff0000 71,0,136,48=00ff00 0,55,65,103=0000ff 71,55,136,103=ffff00 >&2 || fail "cl.jpg is not the picture"
  "$PYTHON" "$CHECK" styles "$FIXTURE" "$ICQ" >&2 || fail "the style files are not right"
}

ALL_FLOWS+=(keyboard)
TITLES[keyboard]="typical use with the keyboard alone: Tab, Enter, space, Esc, the file dialog's keys"
