# Flows of the originals and of administrator rights, sourced by flows.sh
# after its helpers:
# - restore: the typical use, then the settings window's restore: ICQ's
#   folder is byte for byte as before (the deleted defaults back, no
#   cl.jpg), and removing the banners again works;
# - backup_blocked: a backup that cannot be written changes nothing and
#   reports;
# - elevation: the program as a user with a UAC-limited token sees it (a
#   build of the program whose elevation port says so), the elevated program
#   started for real through the shell's "runas": Yes after the cause of the
#   access denial was lifted hides the button and installs the picture; Yes
#   with the cause left shows the elevated program's report; No shows the
#   report of the program's own attempt. The question's Yes carries the
#   shield;
# - elevation_de: the same question in German, and No: the program's own
#   attempt, which succeeds where the folder is writable after all.

RESTORE_MSG="services/icqApp/ver1/theme/MUIMessage/MsgSessionDlg.style.box"
LIMITED_EXE="$VELMORA_TREE/tests/win32/elevation/Velmora.exe"

# The backups of the prefix's user, every ICQ folder's.
backups_clear() { rm -rf "$WINEPREFIX"/drive_c/users/*/AppData/Local/Velmora/Backup "$WINEPREFIX"/drive_c/users/*/Local\ Settings/Application\ Data/Velmora/Backup; }
backup_root() { find "$WINEPREFIX/drive_c/users" -maxdepth 5 -type d -name Velmora -path '*Local*' | head -n1; }

# The report window's text, and its call stack innermost first.
report_stack() {  # file
  local report
  report="$(wait_form "Error Report")"
  drv text "$(ctl_in "$report" frmShowError.layout txtError)" >"$1" || fail "cannot read the report"
  grep -a -o 'Call Stack: [A-Za-z_.]*' "$1" | tr '\n' '|'
  drv close "$report" -- waitgone "$report" 5000 >/dev/null || fail "the report did not close"
}

flow_restore() {
  local win restore
  flow_setup restore
  backups_clear
  cp -R "$ICQ" "$FLOW/before"
  start_main
  click_main qbtnRemoveBanner
  wait_visible qbtnRemoveBanner 0
  open_picture "$PICS/quadrants.bmp"
  click_main qbtnApply
  expect_box "Changes have been applied"
  answer OK
  [ -f "$ICQ/$THEME/cl.jpg" ] || fail "no cl.jpg was written"

  click_main qbtnSettings
  win="$(wait_form Settings)"
  restore="$(ctl_in "$win" frmSettings.layout cmdRestore)"
  expect_eq "the restore button" "$(e2e_state "$win" "$restore")" '1 1 "Restore ICQ'"'"'s original files"'
  e2e_shot "$win" "$SCREENS/settings-restore-en.png"
  drv click "$restore" || fail "cannot click the restore button"
  expect_box "Put back ICQ's files as they were before Velmora changed them?" box-restore-question-en.png
  expect_picture "&Yes" 0
  answer "&Yes"
  expect_box "ICQ's original files have been restored." box-restore-done-en.png
  answer OK
  drv close "$win" -- waitgone "$win" 5000 >/dev/null || fail "the settings window stayed open"
  diff -r "$FLOW/before" "$ICQ" >&2 || fail "ICQ's folder is not as it was"
  wait_visible qbtnRemoveBanner 1

  # Removing again works, and the originals kept are still the first ones.
  click_main qbtnRemoveBanner
  wait_visible qbtnRemoveBanner 0
  "$PYTHON" "$CHECK" styles "$FIXTURE" "$ICQ" >&2 || fail "the second removal did not edit the style files"
  cmp -s "$FIXTURE/$CL_STYLE" "$(find "$(backup_root)/Backup" -path "*$CL_STYLE")" || fail "the kept original was replaced"
  quit_main
}

flow_backup_blocked() {
  local root stack
  flow_setup backup_blocked
  backups_clear
  root="$(dirname "$(backup_root)/x")"
  # The program's backup folder is a file: no backup can be made.
  rm -rf "$WINEPREFIX"/drive_c/users/*/AppData/Local/Velmora
  for root in "$WINEPREFIX"/drive_c/users/*/AppData/Local; do
    [ -d "$root" ] && : >"$root/Velmora"
  done
  start_main
  click_main qbtnRemoveBanner
  stack="$(report_stack "$FLOW/report.txt")"
  expect_eq "the report's call stack" "$stack" "Call Stack: clsBackup.KeepOriginals|Call Stack: frmMain.qbtnRemoveBanner_Click|"
  diff -r "$FIXTURE" "$ICQ" >&2 || fail "ICQ's folder was changed without a backup"
  expect_eq "qbtnRemoveBanner" "$(state qbtnRemoveBanner | cut -d' ' -f1)" 1
  quit_main
  for root in "$WINEPREFIX"/drive_c/users/*/AppData/Local; do rm -f "$root/Velmora"; done
}

flow_elevation() {
  local stack
  [ -f "$LIMITED_EXE" ] || fail "missing $LIMITED_EXE: build the VelmoraLimitedToken target first"
  flow_setup elevation
  backups_clear
  chmod a-w "$ICQ/$CL_STYLE"
  E2E_EXE="$LIMITED_EXE" start_main

  # No: the program's own attempt, and its report.
  click_main qbtnRemoveBanner
  # The driver quotes the backslashes of the texts it lists.
  expect_box "Velmora needs administrator rights to change ICQ's files in ${ICQ_WIN//\\/\\\\}. Continue as administrator?" \
    box-elevation-question-en.png
  expect_picture "&Yes" 1
  expect_picture "&No" 0
  answer "&No"
  stack="$(report_stack "$FLOW/report-no.txt")"
  expect_eq "the report's call stack" "$stack" \
    "Call Stack: clsFile.OpenForOutput|Call Stack: clsKorvanel.RemoveClBanner|Call Stack: frmMain.qbtnRemoveBanner_Click|"

  # Yes, the cause left in place: the elevated program fails the same way and
  # its report is shown.
  click_main qbtnRemoveBanner
  wait_box
  answer "&Yes"
  stack="$(report_stack "$FLOW/report-elevated.txt")"
  expect_eq "the elevated report's call stack" "$stack" \
    "Call Stack: clsFile.OpenForOutput|Call Stack: clsKorvanel.RemoveClBanner|Call Stack: frmMain.qbtnRemoveBanner_Click|"
  expect_eq "qbtnRemoveBanner" "$(state qbtnRemoveBanner | cut -d' ' -f1)" 1
  "$PYTHON" "$CHECK" unchanged "$FIXTURE" "$ICQ" "$CL_STYLE" >&2 || fail "the read-only style file was changed"

  # Yes with the cause lifted: the elevated program does the work.
  click_main qbtnRemoveBanner
  wait_box
  chmod u+w "$ICQ/$CL_STYLE"
  answer "&Yes"
  wait_visible qbtnRemoveBanner 0
  "$PYTHON" "$CHECK" styles "$FIXTURE" "$ICQ" >&2 || fail "the elevated removal did not edit the style files"
  expect_eq "the defaults folder" "$(ls "$ICQ/ConfigFiles/Defaults" | tr '\n' ' ')" "Readme.txt Skin.XML "

  open_picture "$PICS/quadrants.bmp"
  click_main qbtnApply
  wait_box
  answer "&Yes"
  expect_box "Changes have been applied"
  answer OK
  "$PYTHON" "$CHECK" bmp "$ICQ/$THEME/cl.jpg" \
    0,0,65,48=ff0000 71,0,136,48=00ff00 0,55,65,103=0000ff 71,55,136,103=ffff00 >&2 || fail "cl.jpg is not the picture"
  # The elevated program's files in the temporary folder are gone.
  [ -z "$(find "$WINEPREFIX/drive_c" -name 'Velmora-report-*.tmp' -o -name 'Velmora-picture-*.tmp' 2>/dev/null)" ] ||
    fail "temporary files were left behind"
  quit_main
}

flow_elevation_de() {
  local -a german
  [ -f "$LIMITED_EXE" ] || fail "missing $LIMITED_EXE: build the VelmoraLimitedToken target first"
  flow_setup elevation_de
  backups_clear
  read -r -a german <<<"$(locale_env de_DE)"
  E2E_EXE="$LIMITED_EXE" start_main "${german[@]}"
  click_main qbtnRemoveBanner
  expect_box "Velmora benötigt Administratorrechte, um die Dateien von ICQ in ${ICQ_WIN//\\/\\\\} zu ändern. Als Administrator fortfahren?" \
    box-elevation-question-de.png
  expect_picture "&Ja" 1
  answer "&Nein"
  wait_visible qbtnRemoveBanner 0
  "$PYTHON" "$CHECK" styles "$FIXTURE" "$ICQ" >&2 || fail "the program's own removal did not edit the style files"
  quit_main
}

# The elevated program started directly: each command line it accepts does
# what the buttons do, every other one changes nothing and exits non-zero.
flow_elevated_direct() {
  local report rc before bmp args parts
  elevated() { "$WINELOADER" "$E2E_EXE" /elevated "$@" >>"$FLOW/elevated.log" 2>&1; }
  flow_setup elevated_direct
  report="$FLOW/report.tmp" before="$FLOW/before" bmp="$FLOW/cl.bmp"
  cp -R "$ICQ" "$before"
  : >"$report"
  convert -size 136x103 xc:'#0000ff' -type TrueColor "BMP3:$bmp" || fail "cannot make the bitmap"
  convert -size 130x103 xc:'#0000ff' -type TrueColor "BMP3:$FLOW/small.bmp" || fail "cannot make the bitmap"
  for args in "format|$ICQ_WIN\\|$(e2e_winpath "$report")" \
              "remove-banners|$ICQ_WIN\\" \
              "remove-banners|icq6\\|$(e2e_winpath "$report")" \
              "remove-banners|$(e2e_winpath "$FLOW")\\|$(e2e_winpath "$report")" \
              "apply|$ICQ_WIN\\|$(e2e_winpath "$FLOW/small.bmp")|$(e2e_winpath "$report")" \
              "restore|$ICQ_WIN\\|$(e2e_winpath "$FLOW")\\|$(e2e_winpath "$report")"; do
    IFS='|' read -r -a parts <<<"$args"
    elevated "${parts[@]}" && fail "refused command line accepted: ${parts[*]}"
  done
  diff -r "$before" "$ICQ" >&2 || fail "a refused command line changed ICQ's folder"

  elevated remove-banners "$ICQ_WIN\\" "$(e2e_winpath "$report")" || fail "remove-banners failed: $(cat "$report")"
  "$PYTHON" "$CHECK" styles "$FIXTURE" "$ICQ" >&2 || fail "the style files are not right"
  expect_eq "the defaults folder" "$(ls "$ICQ/ConfigFiles/Defaults" | tr '\n' ' ')" "Readme.txt Skin.XML "
  elevated apply "$ICQ_WIN\\" "$(e2e_winpath "$bmp")" "$(e2e_winpath "$report")" || fail "apply failed: $(cat "$report")"
  cmp -s "$bmp" "$ICQ/$THEME/cl.jpg" || fail "cl.jpg is not the bitmap given"

  # A failure: its report in the report file, exit code 1.
  chmod a-w "$ICQ/$RESTORE_MSG"
  # (the edited file is rewritten again, so the read-only one fails)
  elevated remove-banners "$ICQ_WIN\\" "$(e2e_winpath "$report")"
  rc=$?
  expect_eq "exit code of a failure" "$rc" 1
  grep -aq 'Call Stack: frmMain.qbtnRemoveBanner_Click' "$report" || fail "no report in the report file"
}

ALL_FLOWS+=(restore backup_blocked elevation elevation_de elevated_direct)
TITLES+=(
  [restore]="typical use, then the originals restored; removal again"
  [backup_blocked]="a backup that cannot be written changes nothing"
  [elevation]="limited token: No, Yes failing, Yes after the cause is lifted"
  [elevation_de]="limited token, German: the question, No"
  [elevated_direct]="the elevated program started directly: refusals, each command"
)
