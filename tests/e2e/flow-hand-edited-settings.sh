# Flows of settings edited by hand in the registry, sourced by flows.sh after
# its helpers: a window position that is no number, one beyond any single,
# one of 300 digits; a language of -1 (a 16-bit number, but no language) and
# of 99999 (none). The start-up reports what it cannot read, the main window
# answers and a later click opens the settings window, and closing the
# program loses nothing: the settings the shutdown does not write keep their
# values, the position it writes is a number again, ICQ's files are as they
# were.

# The settings a user had besides the one edited.
hand_settings() {  # name value
  drv regset "$E2E_SETTINGS" CloseAfterChange 1 -- regset "$E2E_SETTINGS" Language 2 -- \
    regset "$E2E_SETTINGS" FormLeft 1500 -- regset "$E2E_SETTINGS" FormTop 1200 -- \
    regset "$E2E_SETTINGS" "$1" "$2" || fail "cannot write the settings"
}

# The report of the start-up: its number, the procedure it starts at and the
# call stack, innermost first, ending at Form_Load's line.
hand_expect_report() {  # number method stack form-load-line
  local report stack
  report="$(wait_form "Error Report")"
  drv text "$(ctl_in "$report" frmShowError.layout txtError)" >"$FLOW/report.txt" || fail "cannot read the report"
  grep -aqF "  Number: $1 = " "$FLOW/report.txt" || fail "the report is not of error $1: $(head -c 400 "$FLOW/report.txt")"
  grep -aqF "  Method: $2 " "$FLOW/report.txt" || fail "the report does not start at $2"
  stack="$(grep -a -o 'Call Stack: [A-Za-z_.]*' "$FLOW/report.txt" | tr '\n' '|')"
  expect_eq "the report's call stack" "$stack" "$3"
  grep -aqF "  Call Stack: frmMain.Form_Load()  at Line $4 " "$FLOW/report.txt" || fail "the start-up did not end at line $4"
  e2e_shot "$report" "$SCREENS/hand-$HAND_CASE-report.png"
  drv close "$report" -- waitgone "$report" 5000 >/dev/null || fail "the report did not close"
}

# The main window answers and a later click works: the settings window opens,
# in English (every language number but 1), and closes again.
hand_expect_running() {
  local settings
  e2e_running || fail "the program has ended"
  expect_texts "the design's" "$DESIGN_TEXTS"
  click_main qbtnSettings
  settings="$(wait_form Settings)"
  drv close "$settings" -- waitgone "$settings" 5000 >/dev/null || fail "the settings window did not close"
  expect_eq "qbtnSettings" "$(state qbtnSettings)" '1 1 "Einstellungen"'
}

# After the program has ended: nothing lost.
hand_expect_kept() {  # language
  local name value
  expect_eq "CloseAfterChange" "$(setting CloseAfterChange)" 1
  expect_eq "Language" "$(setting Language)" "$1"
  for name in FormLeft FormTop; do
    value="$(setting "$name")"
    [[ "$value" =~ ^-?[0-9]+(\.[0-9]+)?(E[-+][0-9]+)?$ ]] || fail "$name is \"$value\", no position"
  done
  diff -r "$FIXTURE" "$ICQ" >&2 || fail "ICQ's files changed"
}

hand_run() {  # case setting value
  HAND_CASE="$1"
  flow_setup "hand_$1"
  hand_settings "$2" "$3"
  start_main
}

hand_quit() {
  quit_main
  e2e_wait_exit 20 || fail "the program did not end"
}

flow_hand_formleft() {
  local value
  for value in abc 1e40 "$(printf '9%.0s' $(seq 300))"; do
    hand_run "formleft-${value:0:4}" FormLeft "$value"
    if [ "$value" = abc ]; then
      hand_expect_report 13 frmMain.Form_Load "Call Stack: frmMain.Form_Load|" 30
    else
      hand_expect_report 6 frmMain.Form_Load "Call Stack: frmMain.Form_Load|" 30
    fi
    hand_expect_running
    hand_quit
    hand_expect_kept 2
  done
}

flow_hand_language() {
  hand_run language-1 Language -1
  drv wait "Error Report" VelmoraForm 1000 >/dev/null 2>&1 && fail "Language -1 was reported"
  hand_expect_running
  hand_quit
  hand_expect_kept -1

  hand_run language99999 Language 99999
  hand_expect_report 6 frmMain.GetLanguage "Call Stack: frmMain.GetLanguage|Call Stack: frmMain.Form_Load|" 90
  hand_expect_running
  hand_quit
  hand_expect_kept 99999
}

ALL_FLOWS+=(hand_formleft hand_language)
TITLES[hand_formleft]="FormLeft edited by hand (abc, 1e40, 300 digits): reported, running, nothing lost"
TITLES[hand_language]="Language edited by hand (-1, 99999): running, 99999 reported, nothing lost"
