# Flows of ICQ registrations that name no folder the program can look at,
# sourced by flows.sh after its helpers: a path in quotes, one on a drive
# that is not there, one on a network share that is gone. Each start asks for
# ICQ.exe and reports nothing; the settings window's OK then writes only to
# the program's own key, and ICQ's registration stays as it was.

flow_registration() {
  local path n=0 win check ok
  flow_setup registration
  for path in "\"$ICQ_WIN\"" 'Q:\ICQ6' '\\velmora-gone\apps\ICQ6'; do
    n=$((n + 1))
    e2e_register_icq "$path" || fail "cannot register $path"
    drv regdel "$E2E_SETTINGS" || fail "cannot reset the settings"
    launch "velmora-$n.log"
    expect_box "ICQ.exe could not be found would you like to search it?" "$([ $n = 1 ] && echo box-icq-quoted-path.png)"
    answer "&No"
    MAIN="$(e2e_wait_main)" || fail "no main window after the question ($path)"
    drv wait "Error Report" VelmoraForm 1000 >/dev/null 2>&1 && fail "the start-up with $path was reported"
    expect_eq "qbtnRemoveBanner" "$(state qbtnRemoveBanner)" '1 1 "Remove Banner"'

    # What the start-up wrote is taken away, so that only the OK can put it back.
    drv regdel "$E2E_SETTINGS" Language -- regdel "$E2E_SETTINGS" CloseAfterChange || fail "cannot remove the values"
    click_main qbtnSettings
    win="$(wait_form Settings)"
    check="$(ctl_in "$win" frmSettings.layout chkCloseAfterApply)"
    ok="$(ctl_in "$win" frmSettings.layout cmdOk)"
    drv click "$check" -- click "$ok" -- waitgone "$win" 5000 >/dev/null || fail "cannot confirm the settings"
    expect_eq "Language" "$(setting Language)" 2
    expect_eq "CloseAfterChange" "$(setting CloseAfterChange)" 1
    expect_eq "ICQ's Path" "$(drv regget "$E2E_APP_PATHS" Path)" "$path"
    expect_eq "Language under App Paths" "$(drv regget "$E2E_APP_PATHS" Language)" "<none>"
    expect_eq "CloseAfterChange under App Paths" "$(drv regget "$E2E_APP_PATHS" CloseAfterChange)" "<none>"
    quit_main
    e2e_wait_exit 20 || fail "the program did not end ($path)"
    expect_eq "ICQLitePath" "$(setting ICQLitePath)" ""
    expect_eq "ICQ's Path at the end" "$(drv regget "$E2E_APP_PATHS" Path)" "$path"
  done
  diff -r "$FIXTURE" "$ICQ" >&2 || fail "ICQ's files changed"
}

ALL_FLOWS+=(registration)
TITLES[registration]="ICQ registered in quotes, on a missing drive, on a gone share: asked, no report, own key"
