#!/usr/bin/env bash
# The end-to-end flows: the real Velmora.exe under Wine on an Xvfb display of
# its own, in the project's prefix, driven as a user would (clicks through the
# real input queue, typing into the real file dialog) and judged by what the
# user and ICQ would see: files, registry values, window texts, the clipboard.
# Screenshots of every window go to build/screens/.
#
#   flows.sh [NAME ...]     every flow, or the named ones
#
# Prints one line per flow and "N passed, N failed"; exits 1 on a failure.
# Every flow starts from its own copy of the ICQ fixture and from no settings.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/lib.sh"
. "$here/steps.sh"

# ---------------------------------------------------------------- the flows

flow_typical() {
  flow_setup typical
  start_main
  e2e_tour_step() {
    case "$1" in
      preview) e2e_shot "$2" "$SCREENS/main-en.png" ;;
      removed) e2e_shot "$2" "$SCREENS/main-en-removed.png" ;;
      applied) e2e_shot "$2" "$SCREENS/box-applied-en.png" ;;
    esac
  }
  e2e_tour "$MAIN" "$PICS/quadrants.bmp"

  "$PYTHON" "$CHECK" bmp "$ICQ/$THEME/cl.jpg" \
    0,0,65,48=ff0000 71,0,136,48=00ff00 0,55,65,103=0000ff 71,55,136,103=ffff00 >&2 || fail "cl.jpg is not the picture"
  "$PYTHON" "$CHECK" styles "$FIXTURE" "$ICQ" >&2 || fail "the style files are not right"
  grep -qF '<bitmap id="image.icqBanner.bg" src="cl.jpg" />' "$ICQ/$CL_STYLE" || fail "the contact list does not show cl.jpg"
  expect_eq "the defaults folder" "$(ls "$ICQ/ConfigFiles/Defaults" | tr '\n' ' ')" "Readme.txt Skin.XML "
}

flow_report() {
  flow_setup report
  chmod a-w "$ICQ/$CL_STYLE"
  start_main
  click_main qbtnRemoveBanner
  local report stack
  report="$(wait_form "Error Report")"
  # Texts go through files: a command substitution would drop the line end.
  drv text "$(ctl_in "$report" frmShowError.layout txtError)" >"$FLOW/report.txt" || fail "cannot read the report"
  # The call-stack lines, innermost first, with the text the file was to get
  # dumped under the first.
  stack="$(grep -a -o 'Call Stack: [A-Za-z_.]*\|Value Of strBody:' "$FLOW/report.txt" | tr '\n' '|')"
  expect_eq "the report's call stack" "$stack" \
    "Call Stack: clsFile.OpenForOutput|Value Of strBody:|Call Stack: clsKorvanel.RemoveClBanner|Call Stack: frmMain.qbtnRemoveBanner_Click|"
  grep -aqF 'src="cl.jpg"' "$FLOW/report.txt" || fail "the dumped strBody does not hold the edited text"
  # Every line of the report ends in CR LF; the window puts one more after it.
  expect_eq "the report's end" "$(tail -c 5 "$FLOW/report.txt" | od -An -c | tr -d ' ')" '-\r\n\r\n'
  e2e_shot "$report" "$SCREENS/report.png"
  "$PYTHON" "$CHECK" unchanged "$FIXTURE" "$ICQ" "$CL_STYLE" >&2 || fail "the read-only style file was changed"
  expect_eq "qbtnRemoveBanner" "$(state qbtnRemoveBanner | cut -d' ' -f1)" 1

  drv click "$(ctl_in "$report" frmShowError.layout qbtnCopy)" || fail "cannot click the copy button"
  expect_box "Der Fehlerbericht wurde in die Zwischenablage kopiert" box-report-copied.png
  answer OK
  drv clipboard >"$FLOW/clipboard.txt" || fail "cannot read the clipboard"
  cmp -s "$FLOW/clipboard.txt" "$FLOW/report.txt" ||
    fail "the clipboard holds $(wc -c <"$FLOW/clipboard.txt") bytes, not the report's $(wc -c <"$FLOW/report.txt")"
  # The desktop's clipboard has it too, with the line ends X uses.
  xclip -selection clipboard -o >"$FLOW/xclip.txt" 2>/dev/null
  cmp -s <(tr -d '\r' <"$FLOW/xclip.txt") <(tr -d '\r' <"$FLOW/report.txt") || fail "the X clipboard does not hold the report"
  quit_main
}

flow_ctrl_e() {
  flow_setup ctrl_e
  start_main
  click_main qbtnRemoveBanner
  wait_visible qbtnRemoveBanner 0
  # Only Ctrl+E: E alone, with Shift, or with Ctrl and Shift leaves it hidden.
  local press
  for press in 45:E +45:Shift+E ^+45:Ctrl+Shift+E; do
    drv keys "$MAIN" "${press%%:*}" || fail "cannot press ${press#*:}"
    stays_hidden qbtnRemoveBanner "${press#*:}"
  done
  drv keys "$MAIN" ^45 || fail "cannot press Ctrl+E"
  wait_visible qbtnRemoveBanner 1
  click_main qbtnRemoveBanner
  wait_visible qbtnRemoveBanner 0
  drv wait "Error Report" VelmoraForm 500 >/dev/null 2>&1 && fail "the second removal reported an error"
  quit_main
  "$PYTHON" "$CHECK" styles "$FIXTURE" "$ICQ" >&2 || fail "the style files are not right after two removals"
  expect_eq "the defaults folder" "$(ls "$ICQ/ConfigFiles/Defaults" | tr '\n' ' ')" "Readme.txt Skin.XML "
}

flow_search() {
  flow_setup search
  e2e_register_icq "" || fail "cannot remove ICQ's registration"
  launch velmora.log
  expect_box "ICQ.exe could not be found would you like to search it?" box-icq-question.png
  answer "&Yes"
  e2e_pick_file "$ICQ_WIN\\ICQ.exe" || fail "cannot pick ICQ.exe"
  MAIN="$(e2e_wait_main)" || fail "no main window"
  click_main qbtnRemoveBanner
  wait_visible qbtnRemoveBanner 0
  quit_main
  "$PYTHON" "$CHECK" styles "$FIXTURE" "$ICQ" >&2 || fail "the chosen installation was not edited"
  expect_eq "ICQLitePath" "$(setting ICQLitePath)" "$ICQ_WIN\\"

  # An installation whose program is named in lower case, as Windows names
  # files without regard to case: it is ICQ all the same.
  local lower
  lower="$FLOW/lower/ICQ6"
  e2e_fresh_icq "$FIXTURE" "$lower" >/dev/null || fail "cannot copy the fixture"
  mv "$lower/ICQ.exe" "$lower/icq.exe"
  launch velmora2.log
  wait_box
  answer "&Yes"
  e2e_pick_file "$(e2e_winpath "$lower/icq.exe")" || fail "cannot pick icq.exe"
  MAIN="$(e2e_wait_main)" || fail "no main window"
  drv wait "Velmora" '#32770' 500 >/dev/null 2>&1 && fail "icq.exe was refused"
  click_main qbtnRemoveBanner
  wait_visible qbtnRemoveBanner 0
  quit_main
  "$PYTHON" "$CHECK" styles "$FIXTURE" "$lower" >&2 || fail "the installation of icq.exe was not edited"
  expect_eq "ICQLitePath" "$(setting ICQLitePath)" "$(e2e_winpath "$lower")\\"

  # A file whose name only ends in ICQ.exe is not ICQ's.
  mkdir -p "$FLOW/elsewhere"
  : >"$FLOW/elsewhere/NotICQ.exe"
  launch velmora3.log
  wait_box
  answer "&Yes"
  e2e_pick_file "$(e2e_winpath "$FLOW/elsewhere/NotICQ.exe")" || fail "cannot pick NotICQ.exe"
  expect_box "You have chosen a wrong path" box-wrong-path.png
  answer OK
  MAIN="$(e2e_wait_main)" || fail "no main window"
  click_main qbtnApply
  expect_box "You did not specified the ICQLite path and can not use this function" box-no-path.png
  answer OK
  [ -e "$ICQ/$THEME/cl.jpg" ] && fail "a picture was written without an ICQ folder"
  quit_main
  expect_eq "ICQLitePath" "$(setting ICQLitePath)" ""
}

flow_language() {
  local -a german austrian
  flow_setup language
  read -r -a german <<<"$(locale_env de_DE)"
  start_main "${german[@]}"
  expect_texts "German" "$GERMAN_TEXTS"
  expect_eq "Language" "$(setting Language)" 1
  e2e_shot "$MAIN" "$SCREENS/main-de.png"
  click_main qbtnRemoveBanner
  wait_visible qbtnRemoveBanner 0
  e2e_shot "$MAIN" "$SCREENS/main-de-removed.png"
  quit_main

  flow_setup language
  read -r -a austrian <<<"$(locale_env de_AT)"
  start_main "${austrian[@]}"
  expect_texts "English" "$ENGLISH_TEXTS"
  expect_eq "Language" "$(setting Language)" 2
  quit_main
}

flow_language3() {
  flow_setup language3
  drv regset "$E2E_SETTINGS" Language 3 || fail "cannot set Language"
  start_main
  expect_texts "the design's" "$DESIGN_TEXTS"
  expect_eq "Language" "$(setting Language)" 3
  click_main qbtnApply
  expect_box "Changes have been applied"
  answer OK
  quit_main
  expect_eq "Language" "$(setting Language)" 3
}

flow_close() {
  flow_setup close
  drv regset "$E2E_SETTINGS" CloseAfterChange 1 || fail "cannot set CloseAfterChange"
  start_main
  local l t
  read -r l t < <(drv windows | awk -v h="$MAIN" '$1 == h { print $6, $7 }')
  open_picture "$PICS/blue.bmp"
  click_main qbtnApply
  expect_box "Changes have been applied"
  answer OK
  e2e_wait_exit 20 || fail "the program did not end after the apply"
  expect_eq "ICQLitePath" "$(setting ICQLitePath)" "$ICQ_WIN\\"
  # The window never moved: the place it was centred at, in twips.
  local left top
  left="$(setting FormLeft)"
  top="$(setting FormTop)"
  awk -v v="$left" -v p="$l" 'BEGIN { exit !(v != "<none>" && v - p * 15 < 15 && p * 15 - v < 15) }' ||
    fail "FormLeft is $left, the window's left edge was at $l pixels"
  awk -v v="$top" -v p="$t" 'BEGIN { exit !(v != "<none>" && v - p * 15 < 15 && p * 15 - v < 15) }' ||
    fail "FormTop is $top, the window's top edge was at $t pixels"
  "$PYTHON" "$CHECK" bmp "$ICQ/$THEME/cl.jpg" 0,0,136,103=0000ff >&2 || fail "cl.jpg is not the picture"
}

flow_transparent() {
  flow_setup transparent
  start_main
  open_picture "$PICS/blue.bmp"
  click_main qbtnApply
  expect_box "Changes have been applied"
  answer OK
  quit_main
  # The next start shows the installed picture; the GIF goes over it.
  start_main
  e2e_shot "$MAIN" "$FLOW/installed.png"
  open_picture "$PICS/hole.gif"
  e2e_shot "$MAIN" "$SCREENS/main-en-gif.png"
  click_main qbtnApply
  expect_box "Changes have been applied"
  answer OK
  quit_main
  # The hole, the middle third of 90 x 90, lies at 45.3-90.7 x 34.3-68.7.
  "$PYTHON" "$CHECK" bmp "$ICQ/$THEME/cl.jpg" 49,38,87,65=0000ff \
    0,0,42,103=ff0000 94,0,136,103=ff0000 0,0,136,31=ff0000 0,72,136,103=ff0000 >&2 ||
    fail "cl.jpg does not show blue through the hole and red around it"
}

flow_settings() {
  local win combo check ok cancel
  open_settings() {  # title
    click_main qbtnSettings
    win="$(wait_form "$1")"
    combo="$(ctl_in "$win" frmSettings.layout combLanguage)"
    check="$(ctl_in "$win" frmSettings.layout chkCloseAfterApply)"
    ok="$(ctl_in "$win" frmSettings.layout cmdOk)"
    cancel="$(ctl_in "$win" frmSettings.layout cmdCancel)"
  }
  closed() { drv waitgone "$win" 5000 || fail "the settings window stayed open"; }

  flow_setup settings
  start_main
  # OK with nothing changed writes both values.
  open_settings Settings
  expect_eq "the language shown" "$(drv selected "$combo")" "English"
  expect_eq "the box" "$(drv check "$check")" 0
  e2e_shot "$win" "$SCREENS/settings-en.png"
  drv regdel "$E2E_SETTINGS" Language || fail "cannot remove Language"
  drv click "$ok" || fail "cannot click OK"
  closed
  expect_eq "Language" "$(setting Language)" 2
  expect_eq "CloseAfterChange" "$(setting CloseAfterChange)" 0

  # The other language applies to the main window at once.
  open_settings Settings
  drv keys "$combo" 26 || fail "cannot choose in the list"
  expect_eq "the language chosen" "$(drv selected "$combo")" "Deutsch"
  drv click "$ok" || fail "cannot click OK"
  closed
  expect_texts "German" "$GERMAN_TEXTS"
  expect_eq "Language" "$(setting Language)" 1
  open_settings Einstellungen
  expect_eq "the settings' texts" \
    "$(drv text "$(ctl_in "$win" frmSettings.layout lblLanguage)")|$(drv text "$check")|$(drv text "$cancel")" \
    "Sprache|Nach Entfernen des Banners Velmora schließen|Abbrechen"
  e2e_shot "$win" "$SCREENS/settings-de.png"

  # Cancel changes nothing.
  drv keys "$combo" 28 -- click "$check" || fail "cannot change the settings"
  expect_eq "the box" "$(drv check "$check")" 1
  expect_eq "the language chosen" "$(drv selected "$combo")" "English"
  drv click "$cancel" || fail "cannot click Cancel"
  closed
  expect_eq "Language" "$(setting Language)" 1
  expect_eq "CloseAfterChange" "$(setting CloseAfterChange)" 0
  expect_texts "German" "$GERMAN_TEXTS"

  # Esc cancels.
  open_settings Einstellungen
  expect_eq "the box" "$(drv check "$check")" 0
  drv click "$check" -- keys "$win" 1b || fail "cannot press Esc"
  closed
  expect_eq "CloseAfterChange" "$(setting CloseAfterChange)" 0

  # Ticking the box writes 1, unticking it 0.
  open_settings Einstellungen
  drv click "$check" -- click "$ok" || fail "cannot tick the box"
  closed
  expect_eq "CloseAfterChange" "$(setting CloseAfterChange)" 1
  open_settings Einstellungen
  expect_eq "the box" "$(drv check "$check")" 1
  drv click "$check" -- click "$ok" || fail "cannot untick the box"
  closed
  expect_eq "CloseAfterChange" "$(setting CloseAfterChange)" 0
  quit_main
}

flow_about() {
  flow_setup about
  record_shell
  # Wine's trace of the shell shows exactly what the program handed to it.
  start_main WINEDEBUG=trace+exec
  click_main qbtnInfo
  local win
  win="$(wait_form Info)"
  expect_eq "the texts" "$(drv text "$(ctl_in "$win" frmInfo.layout lblVersion)")|$(drv text "$(ctl_in "$win" frmInfo.layout lblWebsite)")|$(drv text "$(ctl_in "$win" frmInfo.layout lblEMail)")" \
    "Version 1.0.3|www.velmora.example|support@velmora.example"
  e2e_shot "$win" "$SCREENS/about.png"
  drv click "$(ctl_in "$win" frmInfo.layout lblWebsite)" || fail "cannot click the web site"
  wait_handed 1
  drv click "$(ctl_in "$win" frmInfo.layout lblEMail)" || fail "cannot click the address"
  wait_handed 2
  # The web site goes as an https address, never as a bare name that the
  # shell would first look for as a file beside the program.
  expect_eq "what the program handed to the shell by name" \
    "$(grep -a 'trace:exec:ShellExecuteA ' "$FLOW"/velmora-*.log | cut -d, -f2,3 | tr '\n' '|')" \
    '"Open","mailto: support@velmora.example"|'
  expect_eq "what the shell handed on" "$(tr '\n' '|' <"$FLOW/handed.txt")" \
    "https://www.velmora.example/|mailto:%20support@velmora.example|"
  drv click "$(ctl_in "$win" frmInfo.layout qbtnOk)" || fail "cannot click Ok"
  drv waitgone "$win" 5000 || fail "the about window stayed open"
  quit_main
}

flow_update() {
  local port
  check_with() {  # case expected-text screenshot
    drv regset "$E2E_SETTINGS" UpdateURL "http://127.0.0.1:$port/$1/" || fail "cannot set UpdateURL"
    click_main qbtnCheckUpdate
    BOX="$(e2e_wait_box 30000)" || fail "no answer to the update check ($1)"
    BOX_TEXT="$(e2e_box_text "$BOX")"
    expect_eq "the update check ($1)" "$BOX_TEXT" "$2"
    e2e_shot "$BOX" "$SCREENS/$3"
  }

  flow_setup update
  "$PYTHON" "$UPDATE_SERVER" start "$FLOW/server.state" || fail "cannot start the update server"
  trap '"$PYTHON" "$UPDATE_SERVER" stop "$FLOW/server.state"' EXIT
  read -r port _ <"$FLOW/server.state"
  record_shell

  # With an administrator's full token the check takes only its built-in
  # address, which a test never reaches: UpdateURL must not count.
  drv regset "$E2E_SETTINGS" Language 2 || fail "cannot set Language"
  start_main
  check_with newer "The update check failed. Please try again later." box-update-elevated.png
  answer OK
  quit_main

  # The user's programs run with a limited token.
  E2E_TOKEN=limited
  drv regset "$E2E_SETTINGS" Language 1 || fail "cannot set Language"
  start_main
  check_with newer "Es existiert eine neue Version. Wollen Sie diese nun herunterladen?" box-update-new-de.png
  answer "&Yes"
  wait_handed 1
  expect_eq "the setup's address" "$(cat "$FLOW/handed.txt")" "http://127.0.0.1:$port/newer/Velmora-Setup.exe"
  quit_main

  drv regset "$E2E_SETTINGS" Language 2 || fail "cannot set Language"
  start_main
  check_with newer "A new version is available. Do you want to download it now?" box-update-new-en.png
  answer "&No"
  check_with same "You are already using the latest version." box-update-latest-en.png
  answer OK
  check_with missing "The update check failed. Please try again later." box-update-failed-en.png
  answer OK
  # A portal's "OK" or page in the version file's place, and redirects away
  # from the server asked: each a failed check, none a new version.
  local case
  for case in ok portal elsewhere scheme; do
    check_with "$case" "The update check failed. Please try again later." "box-update-failed-$case.png"
    answer OK
  done
  # A redirect on the same server is followed.
  check_with moved "A new version is available. Do you want to download it now?" box-update-moved.png
  answer "&No"

  # Closing the main window while the check waits: the check ends and
  # answers first, and the window closes after the answer.
  drv regset "$E2E_SETTINGS" UpdateURL "http://127.0.0.1:$port/slow/" || fail "cannot set UpdateURL"
  click_main qbtnCheckUpdate
  sleep 1
  drv close "$MAIN" || fail "cannot ask the main window to close"
  sleep 0.5
  drv wait Velmora VelmoraForm 100 >/dev/null || fail "the main window went while the check waited"
  BOX="$(e2e_wait_box 30000)" || fail "no answer to the update check after the close"
  expect_eq "the answer after the close" "$(e2e_box_text "$BOX")" \
    "A new version is available. Do you want to download it now?"
  answer "&No"
  drv waitgone "$MAIN" 10000 || fail "the main window did not close after the check"
  expect_eq "the addresses opened" "$(wc -l <"$FLOW/handed.txt")" 1
}

# ---------------------------------------------------------------- running them

ALL_FLOWS=(typical report ctrl_e search language language3 close transparent settings about update)
declare -A TITLES=(
  [typical]="typical use: picture, banner removal, apply"
  [report]="read-only style file: error report, copied to the clipboard"
  [ctrl_e]="Ctrl+E offers the removal again, E, Shift+E, Ctrl+Shift+E do not; a second removal"
  [search]="ICQ not registered: ICQ.exe searched, icq.exe taken, NotICQ.exe refused"
  [language]="first start: German (Germany) German, German (Austria) English"
  [language3]="Language 3: the design's texts, English messages"
  [close]="CloseAfterChange 1: the program ends after the apply"
  [transparent]="a transparent GIF over the installed picture"
  [settings]="settings: OK, the language, Cancel, Esc, the box"
  [about]="about: texts; web site and address to the shell"
  [update]="update check against a local server"
)

# Further flows kept in files of their own (tests/e2e/flow-*.sh) add
# themselves to ALL_FLOWS and TITLES; they use the steps of steps.sh.
for extra in "$here"/flow-*.sh; do
  [ -f "$extra" ] && . "$extra"
done

main() {
  local flows=("$@") passed=0 failed=0 name started rc pid
  [ ${#flows[@]} -gt 0 ] || flows=("${ALL_FLOWS[@]}")
  for name in "${flows[@]}"; do
    [ -n "${TITLES[$name]:-}" ] || { echo "no flow $name (flows: ${ALL_FLOWS[*]})"; return 2; }
  done
  e2e_build_driver || { echo "cannot build the driver"; return 1; }
  [ -f "$E2E_EXE" ] || { echo "missing $E2E_EXE: build the Velmora target first"; return 1; }
  make_pictures || { echo "cannot make the test pictures"; return 1; }
  mkdir -p "$WORK" "$SCREENS"
  e2e_display_start || return 1
  trap 'e2e_display_stop' EXIT
  e2e_wine_start "$WORK" || { echo "the driver did not start"; return 1; }
  for name in "${flows[@]}"; do
    started=$SECONDS
    rm -f "$WORK/started.pids"
    ( "flow_$name" ) >"$WORK/$name.log" 2>&1
    rc=$?
    # Whatever the flow left running goes before the next one starts.
    if [ -f "$WORK/started.pids" ]; then
      while read -r pid; do
        E2E_PID="$pid"
        if e2e_running; then kill "$pid" 2>/dev/null; e2e_wait_exit 5; fi
      done <"$WORK/started.pids"
    fi
    if [ $rc -eq 0 ]; then
      passed=$((passed + 1))
      printf 'passed  %-14s %s (%ds)\n' "$name" "${TITLES[$name]}" $((SECONDS - started))
    else
      failed=$((failed + 1))
      printf 'FAILED  %-14s %s (%ds)\n' "$name" "${TITLES[$name]}" $((SECONDS - started))
      cat "$WORK/$name.log"
    fi
  done
  # The prefix is the project's: what the flows wrote there goes with them.
  drv regdel "$E2E_SETTINGS" -- regdel "$E2E_APP_PATHS" -- regdel 'HKCU\Software\Wine\WineBrowser'
  echo "$passed passed, $failed failed"
  [ $failed -eq 0 ]
}

main "$@"
