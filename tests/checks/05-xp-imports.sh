#!/usr/bin/env bash
# Will Windows XP SP3's loader start what ships? It refuses a program before
# any of its code runs when one imported name is missing from the system's
# DLL, so every import of the Release Velmora.exe and Quillon2.dll (every
# DLL, every name) must be among the XP-era exports listed one file per DLL
# in ../shared/xp-exports/<dll>.txt. And a DLL imported statically is looked
# for beside the program first, where anyone may drop a file of that name:
# only the DLLs that Windows always takes from the system folder may be
# imported (comctl32 6 comes from the side-by-side store through the
# manifest). Everything else the program loads at run time by full path.
#
# Builds the Release tree when it is stale; prints every offending DLL and
# name and exits non-zero.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
exports="${VELMORA_XP_EXPORTS:-$root/../shared/xp-exports}"
allowed_static='advapi32.dll comctl32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll user32.dll'

if [ ! -d "$exports" ]; then
  echo "FAIL: the list of XP exports is missing: $exports (the shared/ folder belongs beside the clone)"
  exit 1
fi
objdump=i686-w64-mingw32-objdump
command -v "$objdump" >/dev/null || { echo "FAIL: $objdump not found (binutils-mingw-w64-i686)"; exit 1; }

cd "$root"
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
if ! { [ -f build/release-win32/CMakeCache.txt ] || cmake --preset release >"$log" 2>&1; } ||
   ! cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)" >>"$log" 2>&1; then
  cat "$log"
  echo "FAIL: the Release build failed"
  exit 1
fi

# "<dll> <name>" per import, the DLL in lower case; an import by ordinal
# comes out as "#<ordinal>", which no list holds.
imports() {
  "$objdump" -p "$1" | awk '
    /^[ \t]*DLL Name:/ { dll = tolower($3); next }
    dll != "" && /^\t[0-9a-f]+\t +[0-9]+/ {
      n = split($0, f, /[ \t]+/)
      name = f[n]
      if (name == "" || name ~ /^<none>$/) name = "#" f[3]
      print dll, name
      next
    }
    /^$/ { next }
    /^[^\t]/ { dll = "" }'
}

status=0
for binary in build/release-win32/program/Velmora.exe build/release-win32/program/Quillon2.dll; do
  [ -f "$binary" ] || { echo "FAIL: $binary was not built"; status=1; continue; }
  list="$(imports "$binary")"
  if [ -z "$list" ]; then
    echo "FAIL: no imports read from $binary"
    status=1
    continue
  fi
  bad=0
  for dll in $(cut -d' ' -f1 <<<"$list" | sort -u); do
    case " $allowed_static " in
      *" $dll "*) ;;
      *) echo "FAIL: $(basename "$binary") imports $dll statically: it must be loaded from the system folder at run time"
         bad=1 ;;
    esac
    known="$exports/$dll.txt"
    if [ ! -f "$known" ]; then
      echo "FAIL: $(basename "$binary") imports $dll, for which there is no list of XP exports"
      bad=1
      continue
    fi
    # Names are compared whole and with their case, as the loader does.
    missing="$(awk -v d="$dll" 'NR == FNR { sub(/\r$/, ""); known[$0] = 1; next }
                                $1 == d && !($2 in known) { print $2 }' "$known" - <<<"$list" | sort -u)"
    for name in $missing; do
      echo "FAIL: $(basename "$binary") imports $dll $name, which Windows XP SP3 does not have"
      bad=1
    done
  done
  if [ "$bad" -eq 0 ]; then
    echo "ok   $(basename "$binary"): $(wc -l <<<"$list") imports from $(cut -d' ' -f1 <<<"$list" | sort -u | tr '\n' ' ')"
  else
    status=1
  fi
done
exit "$status"
