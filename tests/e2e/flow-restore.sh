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

# The banners removed and a picture applied, in the main window.
remove_and_apply() {
  click_main qbtnRemoveBanner
  wait_visible qbtnRemoveBanner 0
  open_picture "$PICS/quadrants.bmp"
  click_main qbtnApply
  expect_box "Changes have been applied"
  answer OK
}

flow_restore() {
  local win restore
  flow_setup restore
  backups_clear
  cp -R "$ICQ" "$FLOW/before"
  start_main
  remove_and_apply
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

# The restore after others changed ICQ's files: an ICQ update of the contact
# list's style file after the first removal, a second removal, a cl.jpg of
# another program; a read-only target makes the whole restore fail and
# change nothing; then the restore keeps the update and the other picture
# and says so, in English and in German.
flow_restore_others() {
  local win stack left_en left_de
  left_en="ICQ's original files have been restored.\\r\\n\\r\\nThese files were changed by another program after Velmora changed them, and were left as they are:\\r\\nservices\\\\icqApp\\\\ver1\\\\theme\\\\MUICore\\\\cl.jpg"
  left_de="Die Originaldateien von ICQ wurden wiederhergestellt.\\r\\n\\r\\nDiese Dateien wurden nach den Änderungen durch Velmora von einem anderen Programm geändert und blieben unverändert:\\r\\nservices\\\\icqApp\\\\ver1\\\\theme\\\\MUICore\\\\cl.jpg"
  restore_with() {  # title yes
    click_main qbtnSettings
    win="$(wait_form "$1")"
    drv click "$(ctl_in "$win" frmSettings.layout cmdRestore)" || fail "cannot click the restore button"
    wait_box
    answer "$2"
  }
  flow_setup restore_others
  backups_clear
  start_main
  remove_and_apply

  # ICQ 6.5 brings its own contact list back; the banners are removed again.
  { cat "$FIXTURE/$CL_STYLE"; printf '\r\n<!-- 6.5 -->\r\n'; } >"$ICQ/$CL_STYLE"
  cp "$ICQ/$CL_STYLE" "$FLOW/cl-6.5"
  drv keys "$MAIN" ^45 || fail "cannot press Ctrl+E"
  click_main qbtnRemoveBanner
  wait_visible qbtnRemoveBanner 0
  convert -size 136x103 xc:'#123456' -type TrueColor "BMP3:$ICQ/$THEME/cl.jpg" || fail "cannot make the other picture"
  cp "$ICQ/$THEME/cl.jpg" "$FLOW/cl-other"

  # A read-only contact list: its swap fails after the message window's was
  # done, which is swapped back.
  chmod a-w "$ICQ/$CL_STYLE"
  rm -rf "$FLOW/before"
  cp -R "$ICQ" "$FLOW/before"
  restore_with Settings "&Yes"
  stack="$(report_stack "$FLOW/report.txt")"
  expect_eq "the report's call stack" "$stack" \
    "Call Stack: clsFile.SwapIn|Call Stack: clsBackup.Restore|Call Stack: frmSettings.cmdRestore_Click|"
  grep -aqF 'MainDlgPanelOwner.style.box' "$FLOW/report.txt" || fail "the report does not name the file"
  diff -r "$FLOW/before" "$ICQ" >&2 || fail "a failed restore changed ICQ's folder"
  [ -z "$(find "$ICQ" -name '*.velmora*')" ] || fail "the failed restore left files behind"
  drv close "$win" -- waitgone "$win" 5000 >/dev/null || fail "the settings window stayed open"

  chmod u+w "$ICQ/$CL_STYLE"
  restore_with Settings "&Yes"
  expect_box "$left_en" box-restore-left-en.png
  answer OK
  drv close "$win" -- waitgone "$win" 5000 >/dev/null || fail "the settings window stayed open"
  cmp -s "$FIXTURE/$RESTORE_MSG" "$ICQ/$RESTORE_MSG" || fail "the message window's style file was not restored"
  cmp -s "$FLOW/cl-6.5" "$ICQ/$CL_STYLE" || fail "the contact list is not the updated original"
  cmp -s "$FLOW/cl-other" "$ICQ/$THEME/cl.jpg" || fail "the other program's cl.jpg was not left"
  diff -r "$FIXTURE/ConfigFiles" "$ICQ/ConfigFiles" >&2 || fail "the defaults are not back"
  quit_main

  # The same confirmation in German: the other picture is still left. ICQ
  # is registered under another spelling of its folder, which has the same
  # backup.
  drv regset "$E2E_SETTINGS" Language 1 || fail "cannot set Language"
  e2e_register_icq "\\\\?\\$ICQ_WIN" || fail "cannot register ICQ"
  start_main
  click_main qbtnRemoveBanner
  wait_visible qbtnRemoveBanner 0
  restore_with Einstellungen "&Yes"
  expect_box "$left_de" box-restore-left-de.png
  answer OK
  drv close "$win" -- waitgone "$win" 5000 >/dev/null || fail "the settings window stayed open"
  cmp -s "$FLOW/cl-other" "$ICQ/$THEME/cl.jpg" || fail "the other program's cl.jpg was not left"
  quit_main
  expect_eq "the backups" "$(ls "$(backup_root)/Backup" | wc -l)" 1
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

# The elevated program started from here, as any program of the user's could.
CHANNEL=0123456789abcdef0123456789abcdef
elevated() { "$WINELOADER" "$E2E_EXE" /elevated "$@" >>"$FLOW/elevated.log" 2>&1; }

# The elevated program started directly: each command line it accepts does
# what the buttons do, every other one changes nothing and exits non-zero.
flow_elevated_direct() {
  local rc before bmp args parts
  flow_setup elevated_direct
  before="$FLOW/before" bmp="$FLOW/cl.bmp"
  cp -R "$ICQ" "$before"
  convert -size 136x103 xc:'#0000ff' -type TrueColor "BMP3:$bmp" || fail "cannot make the bitmap"
  convert -size 130x103 xc:'#0000ff' -type TrueColor "BMP3:$FLOW/small.bmp" || fail "cannot make the bitmap"
  for args in "format|$ICQ_WIN\\|$CHANNEL" \
              "remove-banners|$ICQ_WIN\\" \
              "remove-banners|icq6\\|$CHANNEL" \
              "remove-banners|$(e2e_winpath "$FLOW")\\|$CHANNEL" \
              "apply|$ICQ_WIN\\|$(e2e_winpath "$FLOW/small.bmp")|$CHANNEL" \
              "restore|$ICQ_WIN\\|$(e2e_winpath "$FLOW")\\|$CHANNEL"; do
    IFS='|' read -r -a parts <<<"$args"
    elevated "${parts[@]}" && fail "refused command line accepted: ${parts[*]}"
  done
  diff -r "$before" "$ICQ" >&2 || fail "a refused command line changed ICQ's folder"

  elevated remove-banners "$ICQ_WIN\\" "$CHANNEL" || fail "remove-banners failed"
  "$PYTHON" "$CHECK" styles "$FIXTURE" "$ICQ" >&2 || fail "the style files are not right"
  expect_eq "the defaults folder" "$(ls "$ICQ/ConfigFiles/Defaults" | tr '\n' ' ')" "Readme.txt Skin.XML "
  elevated apply "$ICQ_WIN\\" "$(e2e_winpath "$bmp")" "$CHANNEL" || fail "apply failed"
  cmp -s "$bmp" "$ICQ/$THEME/cl.jpg" || fail "cl.jpg is not the bitmap given"

  # A failure: exit code 1 (its report goes to a caller's pipe, and nobody
  # serves this one).
  chmod a-w "$ICQ/$RESTORE_MSG"
  elevated remove-banners "$ICQ_WIN\\" "$CHANNEL"
  rc=$?
  expect_eq "exit code of a failure" "$rc" 1
}

# The elevated program attacked with what a program of the user's could hand
# it: folders of ICQ's that are links to elsewhere (real symbolic links, which
# Wine shows as reparse points), planted indexes, other spellings of paths,
# and the report file of the earlier command line. Each exits non-zero, and
# no file outside ICQ's own files that Velmora changes is touched.
flow_elevated_attacks() {
  local outside backup theme="services/icqApp/ver1/theme" before after
  flow_setup elevated_attacks
  outside="$FLOW/outside" backup="$FLOW/backup"
  mkdir -p "$outside" "$backup"
  convert -size 136x103 xc:'#00ff00' -type TrueColor "BMP3:$FLOW/cl.bmp" || fail "cannot make the bitmap"
  : >"$FLOW/empty.txt"
  # Every file of the flow's folder but ICQ's own fixed set, with its hash.
  snapshot() {
    (cd "$FLOW" && find . -path ./backup -prune -o -type f ! -name '*.log' -print0 | sort -z | xargs -0 sha1sum) |
      grep -v -e " ./icq6/$RESTORE_MSG\$" -e " ./icq6/$CL_STYLE\$" -e " ./icq6/$THEME/cl.jpg\$" \
        -e " ./icq6/ConfigFiles/Defaults/[^/]*\.xml\$"
  }
  index() { { printf 'Velmora backup of %s\\\r\n' "$ICQ_WIN"; printf '%s\r\n' "$@"; } >"$backup/index.txt"; }
  absent() { printf '0\t0\t0000000000000000\t-\t0\t0000000000000000\t%s' "$1"; }
  refused() {  # what arguments...
    local what="$1"
    shift
    elevated "$@" && fail "$what: the elevated program accepted it"
    after="$(snapshot)"
    [ "$after" == "$before" ] || { diff <(echo "$before") <(echo "$after") >&2; fail "$what: files outside ICQ's changed"; }
  }

  # ICQ's theme folder a link to a folder elsewhere that looks like it.
  mv "$ICQ/$theme" "$outside/theme"
  cp "$FLOW/cl.bmp" "$outside/theme/MUICore/cl.jpg"
  ln -s "$outside/theme" "$ICQ/$theme"
  before="$(snapshot)"
  refused "remove-banners through a linked theme folder" remove-banners "$ICQ_WIN\\" "$CHANNEL"
  refused "apply through a linked theme folder" apply "$ICQ_WIN\\" "$(e2e_winpath "$FLOW/cl.bmp")" "$CHANNEL"
  index "$(absent 'services\icqApp\ver1\theme\MUICore\cl.jpg')"
  refused "a restore deleting through a linked theme folder" restore "$ICQ_WIN\\" "$(e2e_winpath "$backup")\\" "$CHANNEL"
  rm "$ICQ/$theme"
  mv "$outside/theme" "$ICQ/$theme"
  rm "$ICQ/$THEME/cl.jpg"

  # ConfigFiles a link: the defaults there are not ICQ's to delete.
  mv "$ICQ/ConfigFiles" "$outside/ConfigFiles"
  ln -s "$outside/ConfigFiles" "$ICQ/ConfigFiles"
  before="$(snapshot)"
  refused "remove-banners through a linked ConfigFiles" remove-banners "$ICQ_WIN\\" "$CHANNEL"
  index "$(absent 'ConfigFiles\Defaults\Layout.xml')"
  refused "a restore deleting through a linked ConfigFiles" restore "$ICQ_WIN\\" "$(e2e_winpath "$backup")\\" "$CHANNEL"
  ls "$outside/ConfigFiles/Defaults/Layout.xml" >/dev/null || fail "a default behind the link was deleted"
  rm "$ICQ/ConfigFiles"
  mv "$outside/ConfigFiles" "$ICQ/ConfigFiles"

  # Planted indexes, other spellings, the old report file.
  before="$(snapshot)"
  index "$(absent 'services\icqApp\ver1\theme\x.dll')"
  refused "an index naming theme\\x.dll" restore "$ICQ_WIN\\" "$(e2e_winpath "$backup")\\" "$CHANNEL"
  index "$(absent 'ICQ.exe')"
  refused "an index deleting ICQ.exe" restore "$ICQ_WIN\\" "$(e2e_winpath "$backup")\\" "$CHANNEL"
  index "$(absent 'ConfigFiles\Defaults\NUL.xml')"
  refused "an index naming Defaults\\NUL.xml" restore "$ICQ_WIN\\" "$(e2e_winpath "$backup")\\" "$CHANNEL"
  refused "a UNC folder" remove-banners '\\localhost\c$\icq6\' "$CHANNEL"
  refused "a folder with /.." remove-banners "$ICQ_WIN/..\\icq6\\" "$CHANNEL"
  refused "a folder as \\\\?\\" remove-banners "\\\\?\\$ICQ_WIN\\" "$CHANNEL"
  refused "a report file" remove-banners "$ICQ_WIN\\" "$(e2e_winpath "$FLOW/empty.txt")"
  [ -s "$FLOW/empty.txt" ] && fail "the empty file was written"
  diff -r "$FIXTURE" "$ICQ" >&2 || fail "ICQ's folder was changed by a refused command"

  # A default that is another name of a read-only file elsewhere (a hard
  # link): clearing the defaults leaves that file's attributes alone.
  printf '<victim/>' >"$outside/victim.xml"
  chmod 444 "$outside/victim.xml"
  ln "$outside/victim.xml" "$ICQ/ConfigFiles/Defaults/victim.xml"
  elevated remove-banners "$ICQ_WIN\\" "$CHANNEL"
  expect_eq "the linked file's mode" "$(stat -c %a "$outside/victim.xml")" 444
}

ALL_FLOWS+=(restore restore_others backup_blocked elevation elevation_de elevated_direct elevated_attacks)
TITLES+=(
  [restore]="typical use, then the originals restored; removal again"
  [restore_others]="files others changed are kept by the restore; a failed swap changes nothing"
  [backup_blocked]="a backup that cannot be written changes nothing"
  [elevation]="limited token: No, Yes failing, Yes after the cause is lifted"
  [elevation_de]="limited token, German: the question, No"
  [elevated_direct]="the elevated program started directly: refusals, each command"
  [elevated_attacks]="the elevated program attacked: links, planted indexes, other spellings"
)
