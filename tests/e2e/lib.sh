# Driving the real Velmora.exe under Wine on an X display: shared by the
# end-to-end flows (tests/e2e/flows.sh, written in the steps of steps.sh),
# the package check (tests/checks/40-packages.sh) and the run command
# (./velmora, whose demo walks the flows' typical use, e2e_tour).
# Source it; it sources cmake/wine-env first, so WINELOADER and VELMORA_TREE
# are set. WINEPREFIX is the project's unless the caller sets E2E_PREFIX.
#
# The program's windows and controls are found through the driver
# (tests/driver, a console program run in the same prefix): a control
# by its place in the window, as its window's layout file states it, so that
# nothing here depends on the texts under test.

E2E_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
. "$E2E_ROOT/cmake/wine-env"
. "$E2E_ROOT/cmake/xvfb-env"
[ -n "${E2E_PREFIX:-}" ] && export WINEPREFIX="$E2E_PREFIX"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

E2E_EXE="${E2E_EXE:-$VELMORA_TREE/program/Velmora.exe}"
E2E_DRIVER="$VELMORA_TREE/tests/driver/driver.exe"
E2E_LAYOUTS="$E2E_ROOT/program/windows"
E2E_SETTINGS='HKCU\SOFTWARE\velmora.example\Velmora\Settings'
E2E_APP_PATHS='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\ICQ.exe'
E2E_PID=""

e2e_say() { printf '%s\n' "$*" >&2; }

# Builds the driver in the tree of the Wine architecture (configured first
# when it is not yet).
e2e_build_driver() {
  if [ ! -f "$VELMORA_TREE/CMakeCache.txt" ]; then
    (cd "$E2E_ROOT" && cmake --preset "$VELMORA_WINEARCH" >/dev/null) || return 1
  fi
  cmake --build "$VELMORA_TREE" --target driver >/dev/null
}

# ---------------------------------------------------------------- the display

# Starts an Xvfb of our own on a free display and points DISPLAY at it. A
# display another program takes at the same moment makes ours end at once:
# the next number is tried. Scripts that may run at the same time take
# numbers of their own (the flows 91 to 140 unless told).
e2e_display_start() {  # [first last]
  velmora_display_start "${1:-91}" "${2:-140}" && return 0
  e2e_say "no X display could be started"
  return 1
}

# Wine's processes hold the display: the wineserver goes before Xvfb does.
e2e_display_stop() {
  e2e_wine_stop
  velmora_display_stop
}

# Makes the prefix WINEPREFIX where there is none, Wine's messages in LOG;
# the wineserver has ended when it returns.
e2e_make_prefix() {  # log
  mkdir -p "$(dirname "$WINEPREFIX")"
  "$WINELOADER" wineboot -i >"$1" 2>&1 </dev/null || return 1
  wineserver -w
}

# A wineserver of this prefix left running elsewhere may have its desktop on
# another display or on the null driver: Wine starts afresh on ours, and
# stays up between the programs started, with the driver serving requests.
e2e_wine_start() {  # folder for the driver's FIFOs
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  wineserver -p >/dev/null 2>&1
  e2e_driver_start "$1" || return 1
  # With no window manager on the display, hiding a window that Wine leaves
  # to the manager waits two seconds for an answer that never comes (and the
  # window stays on the screen meanwhile). The program's windows are Wine's
  # own to place here.
  drv regset 'HKCU\Software\Wine\AppDefaults\Velmora.exe\X11 Driver' Managed N
}

e2e_wine_stop() {
  [ -n "$E2E_TO_DRV" ] && drv regdel 'HKCU\Software\Wine\AppDefaults\Velmora.exe' 2>/dev/null
  e2e_driver_stop
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
}

# ---------------------------------------------------------------- the driver

# The driver runs in a UTF-8 locale so that texts in its arguments and its
# output are UTF-8 whatever the caller's locale is.
drv_once() { LC_ALL=C.UTF-8 LANG=C.UTF-8 LOCPATH= "$WINELOADER" "$E2E_DRIVER" "$@"; }

# One driver process serves every request while it runs (a Wine process
# costs a few hundred milliseconds to start): requests go through a pair of
# FIFOs, which subshells inherit, unlike a coprocess's pipes.
E2E_TO_DRV=""
E2E_FROM_DRV=""
E2E_DRV_PID=""
e2e_driver_start() {  # folder for the FIFOs
  rm -f "$1/drv.in" "$1/drv.out"
  mkfifo "$1/drv.in" "$1/drv.out" || return 1
  # A Wine process started first in a new wineserver passes its standard
  # handles on to Wine's own services, which would hold the FIFOs open.
  drv_once langid </dev/null >/dev/null 2>&1
  LC_ALL=C.UTF-8 LANG=C.UTF-8 LOCPATH= "$WINELOADER" "$E2E_DRIVER" serve <"$1/drv.in" >"$1/drv.out" 2>"$1/drv.err" &
  E2E_DRV_PID=$!
  exec {E2E_TO_DRV}>"$1/drv.in" {E2E_FROM_DRV}<"$1/drv.out"
  # A driver that has ended makes a request fail, not the shell end.
  trap '' PIPE
}

e2e_driver_stop() {
  [ -n "$E2E_TO_DRV" ] || return 0
  printf 'quit\n' >&"$E2E_TO_DRV" 2>/dev/null
  exec {E2E_TO_DRV}>&- {E2E_FROM_DRV}<&-
  E2E_TO_DRV=""
  E2E_FROM_DRV=""
  wait "$E2E_DRV_PID" 2>/dev/null
}

# drv COMMAND ARGS... [-- COMMAND ARGS...]: the driver's output on stdout,
# its reason on stderr and status 1 when a command fails.
drv() {
  [ -n "$E2E_TO_DRV" ] || { drv_once "$@"; return; }
  local IFS=$'\t' out status
  if ! kill -0 "$E2E_DRV_PID" 2>/dev/null || ! printf '%s\n' "$*" >&"$E2E_TO_DRV" 2>/dev/null; then
    e2e_say "driver: it has ended (did another program stop the wineserver of $WINEPREFIX?)"
    return 1
  fi
  IFS= read -r -t 120 -d $'\x1e' out <&"$E2E_FROM_DRV"
  IFS= read -r -t 5 status <&"$E2E_FROM_DRV"
  if [ "$status" = 0 ]; then
    printf '%s' "$out"
    return 0
  fi
  printf 'driver: %s\n' "${status#1 }" >&2
  return 1
}

# A Linux path as the program sees it under Wine.
e2e_winpath() {
  local p
  p="$(realpath -m "$1")"
  printf 'Z:%s' "${p//\//\\}"
}

# A Windows path as this side sees it.
e2e_unixpath() { "$WINELOADER" winepath -u "$1" 2>/dev/null </dev/null | tr -d '\r'; }

# A registry value; nothing and status 1 when it is missing.
e2e_reg_value() {  # key name
  local v
  v="$(drv regget "$1" "$2")" && [ "$v" != "<none>" ] && printf '%s\n' "$v"
}

# Rows of `drv controls`: hwnd class id visible enabled l t r b x y "text".
# The control of WINDOW that the layout file places at NAME's position, in
# pixels at the screen's dots per inch (E2E_DPI, 96 unless set) as the
# program rounds them.
E2E_DPI="${E2E_DPI:-96}"
e2e_control() {  # window layout-file name
  local window="$1" layout="$E2E_LAYOUTS/$2" name="$3" x y
  read -r x y < <(awk -v n="$name" -v dpi="$E2E_DPI" '$1 == "Control" && $3 == n {
      printf "%d %d\n", int(($4 * dpi + 720) / 1440), int(($5 * dpi + 720) / 1440) }' "$layout")
  [ -n "$x" ] || { e2e_say "no control $name in $layout"; return 1; }
  drv controls "$window" | awk -v x="$x" -v y="$y" '$10 == x && $11 == y { print $1; found = 1; exit } END { exit !found }' ||
    { e2e_say "no control at $x,$y ($name) in window $window"; return 1; }
}

e2e_main_control() { e2e_control "$1" frmMain.layout "$2"; }

# One row of `drv controls` for a control: "visible enabled text".
e2e_state() {  # window control-hwnd
  drv controls "$1" | awk -v h="$2" '$1 == h { t = substr($0, index($0, "\"")); print $4, $5, t; exit }'
}

# The text of a message box: its static text that is not the icon.
e2e_box_text() {
  drv controls "$1" | awk '$2 == "Static" && $3 != 1088 { t = substr($0, index($0, "\"")); if (t != "\"\"") { print substr(t, 2, length(t) - 2); exit } }'
}

# A button of a dialog by its text ("OK", "&Yes", "&No").
e2e_box_button() {  # dialog text
  drv controls "$1" | awk -v want="\"$2\"" '$2 == "Button" { t = substr($0, index($0, "\"")); if (t == want) { print $1; found = 1; exit } } END { exit !found }'
}

# Waits until a control of the window is hidden; status 1 after 5 seconds.
e2e_wait_hidden() {  # window control-hwnd
  local i
  for i in $(seq 50); do
    [ "$(e2e_state "$1" "$2" | cut -d' ' -f1)" = 0 ] && return 0
    sleep 0.1
  done
  return 1
}

# Waits for a message box of the program (a dialog titled like it).
e2e_wait_box() { drv wait Velmora '#32770' "${1:-10000}"; }
e2e_wait_main() { drv wait Velmora VelmoraForm "${1:-30000}"; }

# Asks a window to close and waits until it is gone.
e2e_close() {  # window [ms]
  drv close "$1" -- waitgone "$1" "${2:-10000}" >/dev/null
}

# Presses a dialog's button and waits until the dialog is gone.
e2e_answer() {  # dialog button-text
  local b
  b="$(e2e_box_button "$1" "$2")" || { e2e_say "no button $2 in $1"; return 1; }
  drv click "$b" -- waitgone "$1" 5000
}

# Picks a file in the file-open dialog: the full path typed into its name box,
# then Enter.
e2e_pick_file() {  # windows-path
  local dialog
  dialog="$(drv wait "${E2E_OPEN_TITLE:-Open}" '#32770' 10000)" || return 1
  drv type "$dialog" "$1" -- keys "$dialog" 0d -- waitgone "$dialog" 5000
}

# Waits until the X server shows the windows Wine shows, no more: a window
# Wine has hidden may stay on the screen for a second or two.
e2e_x_settled() {
  local i wine x w
  for i in $(seq 50); do
    wine="$(drv windows | awk '$8 - $6 > 1 { print substr($0, index($0, "\"")) }' | sort)"
    x="$(for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
           printf '"%s"\n' "$(xdotool getwindowname "$w")"
         done | sort)"
    [ "$wine" == "$x" ] && return 0
    sleep 0.1
  done
  e2e_say "the screen still differs from Wine's windows: $(echo $x) / $(echo $wine)"
}

# A PNG of a window's client area: the frame is the window manager's, or
# with none Wine's own, and not the program's drawing.
# A window that was just uncovered repaints a moment later: the picture is
# taken once two in a row agree.
e2e_shot() {  # window file
  local l t w h i
  e2e_x_settled
  read -r l t w h < <(drv client "$1") || return 1
  mkdir -p "$(dirname "$2")"
  rm -f "$2.prev"
  for i in $(seq 20); do
    sleep 0.2
    import -window root -crop "${w}x${h}+${l}+${t}" +repage -strip "$2" || return 1
    if [ -f "$2.prev" ] && cmp -s "$2" "$2.prev"; then break; fi
    cp "$2" "$2.prev"
  done
  rm -f "$2.prev"
}

# ---------------------------------------------------------------- the program

# Starts the program E2E_EXE (Velmora.exe of the build tree unless set; a
# Linux or a Windows path) in the background, in the folder E2E_CWD (the
# current one unless set), with extra environment assignments (LC_ALL=...
# and the like); its output goes to LOG.
# With E2E_TOKEN=limited the program runs with a limited token, as under UAC
# (Wine's own start gives an administrator's full token).
e2e_start() {  # log [NAME=value ...]
  local log="$1"
  shift
  if [ "${E2E_TOKEN:-}" = limited ]; then
    (cd "${E2E_CWD:-.}" && exec env "$@" "$WINELOADER" "$E2E_DRIVER" limited "$(e2e_winpath "$E2E_EXE")") >"$log" 2>&1 </dev/null &
  else
    (cd "${E2E_CWD:-.}" && exec env "$@" "$WINELOADER" "$E2E_EXE") >"$log" 2>&1 </dev/null &
  fi
  E2E_PID=$!
}

e2e_running() { [ -n "$E2E_PID" ] && kill -0 "$E2E_PID" 2>/dev/null; }

# Waits until the program's process has ended.
e2e_wait_exit() {  # seconds
  local i
  for i in $(seq $(( ${1:-10} * 10 ))); do e2e_running || { wait "$E2E_PID" 2>/dev/null; return 0; }; sleep 0.1; done
  return 1
}

# Ends the program: its main window asked to close, or its process killed.
e2e_stop() {
  e2e_running || return 0
  local main
  main="$(drv wait Velmora VelmoraForm 100 2>/dev/null)" && drv close "$main" 2>/dev/null
  e2e_wait_exit 10 && return 0
  kill "$E2E_PID" 2>/dev/null
  e2e_wait_exit 5
}

# A fresh copy of an ICQ installation; prints its folder as the program sees
# it, without a trailing backslash.
e2e_fresh_icq() {  # source destination
  rm -rf "$2"
  mkdir -p "$(dirname "$2")"
  cp -R "$1" "$2" && chmod -R u+w "$2" && e2e_winpath "$2"
}

# ICQ's registration: its folder, or none.
e2e_register_icq() {  # windows-path | ""
  if [ -n "$1" ]; then drv regset "$E2E_APP_PATHS" Path "$1"; else drv regdel "$E2E_APP_PATHS"; fi
}

# ---------------------------------------------------------------- the typical use

# The typical use, as the end-to-end flows check it and as ./velmora --demo
# shows it: a picture chosen in the file dialog, the banners removed, the
# picture applied, the message answered, the main window closed; in English.
# The main window is up. After each step the caller's e2e_tour_step is called
# with the step's name and the window that shows it:
#   start    the main window as it came up
#   dialog   the file dialog with the picture's path typed in
#   preview  the main window with the picture in its preview
#   removed  the main window after the banners' removal
#   applied  the message after the apply
# What the windows show is checked on the way; the caller's `fail` ends the
# tour at the first difference.
e2e_tour() {  # main-window picture
  local main="$1" dialog remove box got
  e2e_tour_step start "$main"
  drv click "$(e2e_main_control "$main" qbtnOpen)" || fail "cannot click the open button"
  dialog="$(drv wait "${E2E_OPEN_TITLE:-Open}" '#32770' 15000)" || fail "no file dialog"
  drv type "$dialog" "$(e2e_winpath "$2")" || fail "cannot type into the file dialog"
  e2e_tour_step dialog "$dialog"
  drv keys "$dialog" 0d -- waitgone "$dialog" 5000 || fail "the file dialog stayed open"

  remove="$(e2e_main_control "$main" qbtnRemoveBanner)" || fail "no control qbtnRemoveBanner in the main window"
  got="$(e2e_state "$main" "$remove")"
  [ "$got" == '1 1 "Remove Banner"' ] || fail "qbtnRemoveBanner: \"$got\", expected \"1 1 \"Remove Banner\"\""
  e2e_tour_step preview "$main"
  drv click "$remove" || fail "cannot click the remove button"
  e2e_wait_hidden "$main" "$remove" || fail "qbtnRemoveBanner did not become hidden"
  got="$(e2e_state "$main" "$(e2e_main_control "$main" lblRemovedBanner)")"
  [ "$got" == '1 1 "Banner is already removed"' ] ||
    fail "lblRemovedBanner: \"$got\", expected \"1 1 \"Banner is already removed\"\""
  e2e_tour_step removed "$main"

  drv click "$(e2e_main_control "$main" qbtnApply)" || fail "cannot click the apply button"
  box="$(e2e_wait_box 15000)" || fail "no message after the apply"
  got="$(e2e_box_text "$box")"
  [ "$got" == "Changes have been applied" ] || fail "message: \"$got\", expected \"Changes have been applied\""
  e2e_tour_step applied "$box"
  e2e_answer "$box" OK || fail "cannot answer the message with OK"
  e2e_close "$main" || fail "the main window did not close"
}
