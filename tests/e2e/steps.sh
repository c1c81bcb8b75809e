# The steps the end-to-end flows are written in, on top of the library
# (lib.sh): a flow's own folder and fresh ICQ, the program started and its
# main window's controls by name, expectations, message boxes, settings,
# languages, the shell's hand-over, the test pictures. Sourced by flows.sh;
# the flows in flow-*.sh use them too. `fail` ends the flow that runs.

WORK="$E2E_ROOT/build/e2e"
SCREENS="$E2E_ROOT/build/screens"
PICS="$WORK/pictures"
LOCALES="$WORK/locales"
FIXTURE="$E2E_ROOT/tests/fixtures/icq6"
THEME="services/icqApp/ver1/theme/MUICore"
CL_STYLE="$THEME/MainDlgPanelOwner.style.box"
CHECK="$E2E_ROOT/tests/e2e/icqcheck.py"
PYTHON="$(command -v /usr/bin/python3 || command -v python3)"
UPDATE_SERVER="$E2E_ROOT/tests/win32/update/update-server.py"
# The user's language for Wine comes from the Unix locale: C is English.
ENGLISH=(LC_ALL=C.UTF-8 LANG=C.UTF-8)

# Each flow runs in a subshell of its own: `fail` ends it.
fail() { printf '    %s\n' "$*" >&2; exit 1; }

# The flow's folder, a fresh ICQ copy registered for it, no settings.
flow_setup() {  # name
  FLOW="$WORK/$1"
  rm -rf "$FLOW"
  mkdir -p "$FLOW"
  ICQ="$FLOW/icq6"
  ICQ_WIN="$(e2e_fresh_icq "$FIXTURE" "$ICQ")" || fail "cannot copy the fixture"
  drv regdel "$E2E_SETTINGS" -- regdel 'HKCU\Software\Wine\WineBrowser' || fail "cannot reset the settings"
  e2e_register_icq "$ICQ_WIN" || fail "cannot register ICQ"
}

# Starts the program (extra environment as NAME=value; English unless told)
# without waiting for anything.
launch() {  # log-name [NAME=value ...]
  local log="$1"
  shift
  e2e_start "$FLOW/$log" "${ENGLISH[@]}" "$@"
  echo "$E2E_PID" >>"$WORK/started.pids"
}

# Starts the program and waits for its main window; MAIN is its handle.
start_main() {
  launch "velmora-$(date +%s%N).log" "$@"
  MAIN="$(e2e_wait_main 30000)" || fail "the main window did not appear; windows shown:" "$(drv windows)"
}

ctl() { e2e_main_control "$MAIN" "$1" || fail "no control $1 in the main window"; }
ctl_in() { e2e_control "$1" "$2" "$3" || fail "no control $3 in window $1"; }
click_main() { drv click "$(ctl "$1")" || fail "cannot click $1"; }

# "visible enabled "text"" of a main-window control.
state() { e2e_state "$MAIN" "$(ctl "$1")"; }
text_of() { drv text "$(ctl "$1")"; }

expect_eq() {  # what got want
  [ "$2" == "$3" ] || fail "$1: \"$2\", expected \"$3\""
}

# Waits until a control is shown (1) or hidden (0).
wait_visible() {  # control 0|1
  local i
  for i in $(seq 50); do
    [ "$(state "$1" | cut -d' ' -f1)" = "$2" ] && return 0
    sleep 0.1
  done
  fail "$1 did not become $([ "$2" = 1 ] && echo visible || echo hidden)"
}

# A hidden control stays hidden for a second after what was just done.
stays_hidden() {  # control what-was-done
  local hwnd i
  hwnd="$(ctl "$1")"
  for i in 1 2 3 4; do
    sleep 0.25
    [ "$(e2e_state "$MAIN" "$hwnd" | cut -d' ' -f1)" = 0 ] || fail "$2 showed $1"
  done
}

# Waits for one of the program's windows by its title.
wait_form() { drv wait "$1" VelmoraForm "${2:-10000}" || fail "no window \"$1\""; }

# Waits for the program's message box; BOX is its handle, BOX_TEXT its text.
wait_box() {
  BOX="$(e2e_wait_box "${1:-10000}")" || fail "no message box appeared"
  BOX_TEXT="$(e2e_box_text "$BOX")"
}

expect_box() {  # text [screenshot]
  wait_box
  expect_eq "message" "$BOX_TEXT" "$1"
  [ -z "${2:-}" ] || e2e_shot "$BOX" "$SCREENS/$2"
}

answer() { e2e_answer "$BOX" "$1" || fail "cannot answer the message box with $1"; }

# Whether a button of the message box shows a picture (1 or 0): the shield on
# the Yes that goes on as administrator, and on nothing else.
expect_picture() {  # button-text 0|1
  local b
  b="$(e2e_box_button "$BOX" "$1")" || fail "no button $1 in the message box"
  expect_eq "a picture on $1" "$(drv picture "$b")" "$2"
}

open_picture() {  # linux path
  click_main qbtnOpen
  e2e_pick_file "$(e2e_winpath "$1")" || fail "cannot pick $1 in the file dialog"
}

setting() { drv regget "$E2E_SETTINGS" "$1"; }

# Closes the main window. Its settings are written before it goes; the Wine
# process takes seconds more to end, and is not waited for.
quit_main() {
  e2e_close "$MAIN" || fail "the main window did not close"
}

# The main window's seven texts that follow the language, as its controls
# give them out (labels, and the buttons' windows, which carry their captions).
main_texts() {
  local name
  for name in qbtnApply qbtnOpen qbtnRemoveBanner qbtnSettings lblPreview lblRemovedBanner qbtnCheckUpdate; do
    printf '%s=%s\n' "$name" "$(text_of "$name")"
  done
}

GERMAN_TEXTS='qbtnApply=Änderungen übernehmen
qbtnOpen=Bild auswählen
qbtnRemoveBanner=Banner entfernen
qbtnSettings=Einstellungen
lblPreview=Vorschau
lblRemovedBanner=Banner wurde bereits entfernt
qbtnCheckUpdate=Nach Updates suchen'
ENGLISH_TEXTS='qbtnApply=Apply Changes
qbtnOpen=Choose Picture
qbtnRemoveBanner=Remove Banner
qbtnSettings=Settings
lblPreview=Preview
lblRemovedBanner=Banner is already removed
qbtnCheckUpdate=Search for updates'
# What the layout holds, before any language is set.
DESIGN_TEXTS='qbtnApply=Änderungen übernehmen
qbtnOpen=Bild öffnen
qbtnRemoveBanner=Banner entfernen
qbtnSettings=Einstellungen
lblPreview=Vorschau:
lblRemovedBanner=Banner wurden bereits entfernt
qbtnCheckUpdate=Nach Updates suchen'

expect_texts() {  # what expected-lines
  local got
  got="$(main_texts)"
  [ "$got" == "$2" ] || fail "the main window's texts are not $1: $(diff <(echo "$2") <(echo "$got") | grep '^[<>]' | tr '\n' ' ')"
}

# The environment of a user with that locale. Wine takes the user's language
# from the Unix locale; a private one is made once with localedef from the
# sources of the `locales` package.
locale_env() {  # de_DE | de_AT
  if [ ! -d "$LOCALES/$1.UTF-8" ]; then
    mkdir -p "$LOCALES"
    localedef -i "$1" -f UTF-8 "$LOCALES/$1.UTF-8" >/dev/null 2>&1 || fail "cannot make the locale $1 (package locales)"
  fi
  echo "LOCPATH=$LOCALES LC_ALL=$1.UTF-8 LANG=$1.UTF-8"
}

# What the shell hands on reaches Wine's browser launcher, which starts the
# Unix programs named under HKCU\Software\Wine\WineBrowser: ours records.
record_shell() {
  printf '#!/bin/sh\nprintf "%%s\\n" "$*" >>"%s/handed.txt"\n' "$FLOW" >"$FLOW/handed.sh"
  chmod +x "$FLOW/handed.sh"
  drv regset 'HKCU\Software\Wine\WineBrowser' Browsers "$FLOW/handed.sh" -- \
    regset 'HKCU\Software\Wine\WineBrowser' Mailers "$FLOW/handed.sh" || fail "cannot set the browser"
}

wait_handed() {  # count
  local i
  for i in $(seq 100); do
    [ -f "$FLOW/handed.txt" ] && [ "$(wc -l <"$FLOW/handed.txt")" -ge "$1" ] && return 0
    sleep 0.1
  done
  fail "the shell handed on nothing (address $1)"
}

# The pictures the flows choose.
make_pictures() {
  mkdir -p "$PICS"
  convert \( -size 100x80 xc:'#ff0000' -size 100x80 xc:'#00ff00' +append \) \
    \( -size 100x80 xc:'#0000ff' -size 100x80 xc:'#ffff00' +append \) -append -type TrueColor "BMP3:$PICS/quadrants.bmp" &&
    convert -size 120x90 xc:'#0000ff' -type TrueColor "BMP3:$PICS/blue.bmp" &&
    # A red square with a transparent hole in its middle third.
    convert -size 90x90 xc:'#ff0000' -alpha set \( -size 30x30 xc:none \) -geometry +30+30 -compose Copy -composite \
      "$PICS/hole.gif" &&
    case "$(convert "$PICS/hole.gif" -format '%[pixel:p{45,45}]' info:)" in *",0)") ;; *) false ;; esac
}
