#!/usr/bin/env bash
# The packages as a user meets them. Builds them with ./package, then, in a
# fresh Wine prefix of its own (build/pkg-check-prefix) on a virtual display:
# installs the setup silently, starts the installed program, uninstalls it,
# installs over an older install, and runs the portable zip from a folder
# whose path has blanks and non-ASCII letters. One line per step; stops at
# the first failure with a non-zero exit.
#
# Where this machine cannot run 32-bit code, the 64-bit twins of the packages
# (build/dist/test/: the same setup script and files, built for x64) are the
# ones installed; the shipped 32-bit packages are still built and inspected.
# The program is driven with the end-to-end flows' library (tests/e2e/lib.sh)
# and the tests' driver, built in the test tree of the same architecture
# (build/win32 or build/win64, configured here if it is not yet).
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
export VELMORA_WINEPREFIX="$root/build/pkg-check-prefix"
export VELMORA_WINEPREFIX64="$root/build/pkg-check-prefix"
export WINEDEBUG=-all
# File names are UTF-8 on this side (the portable folder has umlauts in it).
export LC_ALL=C.UTF-8
# No Mono or Gecko prompts; and no menu entries in the real desktop for the
# shortcuts the setup makes.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# The tests' driver, in the tree of this machine's Wine architecture, reads
# the folders, the registry and the program's windows.
. "$root/tests/e2e/lib.sh"

work="$root/build/pkg-check"
portable_root="$root/build/pkg check"
portable_dir="$portable_root/Programme für Tests"
screens="$root/build/screens"
version="$("$root/cmake/version")"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmora'
settings_key='HKCU\SOFTWARE\velmora.example\Velmora\Settings'

step="start"
pass() { echo "ok   $step${1:+: $1}"; }
fail() { echo "FAIL $step: $*"; exit 1; }

# ---------------------------------------------------------------- packages
step="package"
mkdir -p "$root/build/dist"
log="$root/build/dist/package.log"
if [ "$VELMORA_WINEARCH" = win64 ]; then
  "$root/package" --test-x64 >"$log" 2>&1 || { cat "$log"; fail "./package --test-x64 failed"; }
  setup="$root/build/dist/test/Velmora-Setup-x64.exe"
  zip="$root/build/dist/test/Velmora-$version-portable-x64.zip"
else
  "$root/package" >"$log" 2>&1 || { cat "$log"; fail "./package failed"; }
  setup="$root/build/dist/Velmora-Setup.exe"
  zip="$root/build/dist/Velmora-$version-portable.zip"
fi
[ -f "$setup" ] && [ -f "$zip" ] || fail "missing $setup or $zip"
pass "$(basename "$setup"), $(basename "$zip")"

# What ships: 32-bit, stripped, needing only system DLLs, the zip holding
# exactly the program, its library and the text, as built. (grep reads the
# whole of a pipe here: with -q it may leave early and pipefail would turn
# its answer around.)
step="shipped files"
shipped_zip="$root/build/dist/Velmora-$version-portable.zip"
for f in "$root/build/dist/Velmora-Setup.exe" "$root/build/release-win32/program/Velmora.exe" "$root/build/release-win32/program/Quillon2.dll"; do
  i686-w64-mingw32-objdump -f "$f" 2>/dev/null | grep 'file format pei-i386' >/dev/null || fail "$f is not 32-bit Windows code"
done
for f in "$root/build/release-win32/program/Velmora.exe" "$root/build/release-win32/program/Quillon2.dll"; do
  i686-w64-mingw32-objdump -h "$f" | grep '\.debug' >/dev/null && fail "$(basename "$f") carries debug information"
  i686-w64-mingw32-objdump -t "$f" 2>/dev/null | grep '^\[ *[0-9]*\]' >/dev/null && fail "$(basename "$f") is not stripped"
  foreign="$(i686-w64-mingw32-objdump -p "$f" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' |
             grep -vxE 'advapi32.dll|comctl32.dll|gdi32.dll|kernel32.dll|msvcrt.dll|ole32.dll|oleaut32.dll|user32.dll')"
  [ -z "$foreign" ] || fail "$(basename "$f") imports DLLs that Windows does not always take from the system folder: $foreign"
done
for e in DllGetClassObject DllCanUnloadNow DllRegisterServer DllUnregisterServer; do
  i686-w64-mingw32-objdump -p "$root/build/release-win32/program/Quillon2.dll" | grep -E "\] $e\$" >/dev/null || fail "Quillon2.dll does not export $e"
done
listing="$(unzip -Z1 "$shipped_zip" | sort | tr '\n' ' ')"
expected="Velmora-$version/ Velmora-$version/Quillon2.dll Velmora-$version/Velmora.exe Velmora-$version/Velmora.txt "
[ "$listing" = "$expected" ] || fail "the zip holds: $listing"
rm -rf "$work"; mkdir -p "$work/zip"
unzip -q "$shipped_zip" -d "$work/zip"
cmp -s "$work/zip/Velmora-$version/Velmora.exe" "$root/build/release-win32/program/Velmora.exe" || fail "the zip's Velmora.exe is not the Release build"
cmp -s "$work/zip/Velmora-$version/Quillon2.dll" "$root/build/release-win32/program/Quillon2.dll" || fail "the zip's Quillon2.dll is not the Release build"
head -c 3 "$work/zip/Velmora-$version/Velmora.txt" | cmp -s - <(printf '\xef\xbb\xbf') || fail "Velmora.txt has no byte order mark"
grep -q $'^\xef\xbb\xbfVelmora '"$version"$'\r$' "$work/zip/Velmora-$version/Velmora.txt" || fail "Velmora.txt does not name version $version with CR LF line ends"
strings -el "$root/build/dist/Velmora-Setup.exe" | grep -x "$version" >/dev/null || fail "the setup's version information does not carry $version"
pass "32-bit, stripped, system DLLs only; zip as built"

# ---------------------------------------------------------------- the stage
step="driver"
mkdir -p "$work/elsewhere" "$screens"
e2e_build_driver || fail "cannot build the driver in $VELMORA_TREE"
pass "$E2E_DRIVER"

# Wine's output goes to files: its background services inherit the standard
# handles and would hold a pipe open.
wine_() { "$WINELOADER" "$@" >"$work/wine.out" 2>"$work/wine.err" </dev/null; }

step="fresh prefix on a virtual display"
e2e_display_start 141 190 || fail "no X display could be started"
trap 'e2e_stop; e2e_display_stop' EXIT
rm -rf "$WINEPREFIX"
e2e_make_prefix "$work/wine.err" || fail "wineboot failed: $(cat "$work/wine.err")"
e2e_wine_start "$work" || fail "the driver did not start"
localappdata="$(drv folder local-appdata)" && programs="$(drv folder programs)" || fail "no user folders"
instdir_win="$localappdata\\Programs\\Velmora"
instdir="$(e2e_unixpath "$instdir_win")"
lnk="$(e2e_unixpath "$programs")/Velmora.lnk"
[ -n "$instdir" ] && [ -n "$lnk" ] || fail "cannot map the user folders to this machine"
# A fake ICQ 6, registered where the program looks first: no question asked.
icq_win="$(e2e_fresh_icq "$root/tests/fixtures/icq6" "$work/icq6")" || fail "cannot copy the fake ICQ"
e2e_register_icq "$icq_win" || fail "cannot register the fake ICQ"
pass "$WINEARCH, $WINEPREFIX"

stage="$root/build/dist/stage-$([ "$VELMORA_WINEARCH" = win64 ] && echo amd64 || echo x86)/Velmora-$version"
expect_value() {  # key name expected
  local got; got="$(e2e_reg_value "$1" "$2")" || fail "$1 has no value $2"
  [ "$got" = "$3" ] || fail "$1 $2 is '$got', not '$3'"
}
expect_installed() {
  for f in Velmora.exe Quillon2.dll Velmora.txt; do
    cmp -s "$instdir/$f" "$stage/$f" || fail "$instdir/$f is missing or not the packaged file"
  done
  [ -f "$instdir/Uninstall.exe" ] || fail "no Uninstall.exe in $instdir"
  [ -f "$lnk" ] || fail "no Start-menu shortcut $lnk"
  strings -a "$lnk" | grep -iF 'Programs\Velmora\Velmora.exe' >/dev/null || fail "the shortcut does not point at the installed Velmora.exe"
  expect_value "$uninstall_key" DisplayName Velmora
  expect_value "$uninstall_key" DisplayVersion "$version"
  expect_value "$uninstall_key" Publisher "The Velmora developers"
  expect_value "$uninstall_key" InstallLocation "$instdir_win"
  expect_value "$uninstall_key" DisplayIcon "$instdir_win\\Velmora.exe,0"
  expect_value "$uninstall_key" UninstallString "\"$instdir_win\\Uninstall.exe\""
  expect_value "$uninstall_key" QuietUninstallString "\"$instdir_win\\Uninstall.exe\" /S"
  expect_value "$uninstall_key" NoModify 1
  expect_value "$uninstall_key" NoRepair 1
}
# waits until the uninstaller (which runs from a copy of itself in the
# temporary folder and returns at once) has removed the installation
wait_uninstalled() {
  for _ in $(seq 600); do
    [ ! -e "$instdir" ] && ! e2e_reg_value "$uninstall_key" DisplayName >/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# launch EXE(Windows path): the program started from another folder than its own.
launch() { E2E_EXE="$1" E2E_CWD="$work/elsewhere" e2e_start "$work/velmora.log"; }

# Waits for the main window, then prints "main L T W H", "button L T W H"
# for each visible Quillon button and "other CLASS "TITLE"" for any other
# visible window of the program.
show_main() {
  local main
  main="$(e2e_wait_main 90000)" || return 1
  drv windows | awk -v h="$main" '$1 == h { print "main", $6, $7, $8 - $6, $9 - $7 }'
  drv controls "$main" | awk '$2 == "Quillon2.Button" && $4 == 1 { print "button", $6, $7, $8 - $6, $9 - $7 }'
  drv windows "$main" | awk '{ print "other", $2, substr($0, index($0, "\"")) }'
}

# Closes the main window and waits until the program has ended.
quit() {
  local main
  main="$(e2e_wait_main 15000)" && e2e_close "$main" 15000 || fail "the main window does not close"
  e2e_wait_exit 15 || fail "Velmora.exe does not end after its window closed"
}

# start_velmora EXE(Windows path) SCREENSHOT: from another folder, waits for
# the main window with its six buttons drawn, photographs it, then closes it.
start_velmora() {
  local shot="$2" layout
  launch "$1"
  layout="$(show_main)" || fail "the main window did not appear ($(cat "$work/velmora.log"))"
  echo "$layout" >"$work/layout.txt"
  grep -q '^other' <<<"$layout" && fail "another window came up with the main window: $(grep '^other' <<<"$layout")"
  local buttons; buttons="$(grep -c '^button' <<<"$layout")"
  [ "$buttons" -eq 6 ] || fail "$buttons buttons on the main window, not 6"
  xdotool mousemove 1020 760
  # Painted when every button shows an outline in one of its looks and more
  # than flat colour; a window that never paints stays black.
  local painted=no
  for _ in $(seq 40); do
    import -window root "$work/screen.png" 2>/dev/null
    painted=yes
    while read -r _ l t w h; do
      colours="$(convert "$work/screen.png" -crop "${w}x${h}+$l+$t" +repage -format %c histogram:info:- | grep -o '#[0-9A-F]\{6\}' | sort -u)"
      grep -qxE '#000000|#8080FF|#FFC080' <<<"$colours" && [ "$(wc -l <<<"$colours")" -ge 3 ] || { painted=no; break; }
    done < <(grep '^button' <<<"$layout")
    [ "$painted" = yes ] && break
    sleep 0.25
  done
  read -r _ l t w h < <(grep '^main' <<<"$layout")
  convert "$work/screen.png" -crop "${w}x${h}+$l+$t" +repage "$shot"
  [ "$painted" = yes ] || fail "the buttons are not drawn (see $shot)"
  quit
}

# ---------------------------------------------------------------- the setup
step="silent install"
wine_ "$setup" /S || fail "the setup ended with $?"
expect_installed
pass "$instdir_win"

step="installed program runs"
start_velmora "$instdir_win\\Velmora.exe" "$screens/installed.png"
e2e_reg_value "$settings_key" FormLeft >/dev/null || fail "the program kept no window position on closing"
pass "main window with six buttons; $screens/installed.png"

step="silent uninstall keeps the settings"
drv regset "$settings_key" PackageCheck kept || fail "cannot write a setting"
wine_ "$instdir_win\\Uninstall.exe" /S || fail "the uninstaller ended with $?"
wait_uninstalled || fail "still installed a minute later: $(ls -A "$instdir" 2>&1)"
[ -e "$lnk" ] && fail "the Start-menu shortcut is still there"
expect_value "$settings_key" PackageCheck kept
e2e_reg_value "$settings_key" FormLeft >/dev/null || fail "the program's own settings are gone"
pass "files, shortcut, uninstall entry gone; settings kept"

step="install over an older install"
wine_ "$setup" /S || fail "the first setup ended with $?"
# Make it an older release.
printf 'Velmora 1.0.2\r\n' >"$instdir/Velmora.txt"
drv regset "$uninstall_key" DisplayVersion 1.0.2 || fail "cannot age the install"
# A running Velmora: the setup must leave everything as it is, not replace half.
launch "$instdir_win\\Velmora.exe"
show_main >/dev/null || fail "the older install does not start"
wine_ "$setup" /S && fail "the setup went ahead while Velmora was running"
grep -q '^Velmora 1.0.2' "$instdir/Velmora.txt" || fail "the setup touched the files while Velmora was running"
quit
wine_ "$setup" /S || fail "the setup over the older install ended with $?"
expect_installed
start_velmora "$instdir_win\\Velmora.exe" "$screens/reinstalled.png"
pass "refused while running, then replaced 1.0.2 with $version"

step="uninstall after the update"
wine_ "$instdir_win\\Uninstall.exe" /S || fail "the uninstaller ended with $?"
wait_uninstalled || fail "still installed a minute later: $(ls -A "$instdir" 2>&1)"
[ -e "$lnk" ] && fail "the Start-menu shortcut is still there"
expect_value "$settings_key" PackageCheck kept
pass

# ---------------------------------------------------------------- the zip
step="portable zip from a folder with blanks and umlauts"
rm -rf "$portable_root"
mkdir -p "$portable_dir"
unzip -q "$zip" -d "$portable_dir" || fail "cannot unzip $zip"
start_velmora "$(e2e_winpath "$portable_dir/Velmora-$version/Velmora.exe")" "$screens/portable.png"
pass "$portable_dir/Velmora-$version; $screens/portable.png"

e2e_display_stop
trap - EXIT
rm -rf "$WINEPREFIX" "$portable_root"
echo "packages: all steps passed"
