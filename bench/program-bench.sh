#!/usr/bin/env bash
# Whole-program benchmarks of Velmora.exe under Wine, each against a baseline
# measured in the same run:
#
#  - start-up: process start to the visible main window, against two
#    baselines launched the same way (bench/StartupTimer.cpp,
#    bench/MinimalWindow.cpp): a plain Win32 window program, and the same
#    window after OleInitialize and common controls 6 (what COM and the
#    controls cost by themselves); medians of RUNS launches each,
#    alternating. VelmoraTraced.exe, Velmora with marks along its start-up
#    built in the bench tree only, runs in turn with them and gives the time
#    of each step; the OLE baseline leaves the same marks where it has the
#    same steps, so that the two tables compare (the time to the first mark
#    is the loader's). Then, each program once more left alone with its window
#    shown: its CPU time while idle and its peak working set;
#  - size: Velmora.exe and Quillon2.dll of the tree together;
#  - preview memory: the peak memory of drawing a 10000 x 10000 JPEG into the
#    preview box, against drawing a 640 x 480 one (bench/PreviewMemory.cpp),
#    each in a process of its own.
#
#   bench/program-bench.sh [build tree]
#
# The tree defaults to a Release tree of the architecture cmake/wine-env picks:
# build/bench-win32, the 32-bit build that ships, wherever this machine can
# execute 32-bit code, else build/bench-win64, its 64-bit twin. It is
# configured as the release preset (optimised for size, stripped) but with
# the bench programs. A given tree decides the Wine architecture by its
# toolchain. What is stale is built there first.
#
# Everything runs in a prefix of the benchmarks' own (build/bench-prefix, or
# build/bench-prefix64), never the tests' or the user's: the script registers
# a copy of the fake ICQ 6 installation there (App Paths\ICQ.exe, so no
# question box holds up the start) and sets the program's language.
#
# Environment:
#   RUNS=15                  launches of each program for the start-up
#   IDLE_MS=10000            how long each program is watched while idle
#   BENCH_DISPLAY=null|xvfb  Wine's null graphics driver (the default), or
#                            the X11 driver on a private Xvfb display
#   BENCH_DATA=build/bench-data  where the pictures and the ICQ copy go
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
runs="${RUNS:-15}"
display_mode="${BENCH_DISPLAY:-null}"
data="${BENCH_DATA:-$root/build/bench-data}"
startup_goal=1.3
working_set_goal=1.5
size_goal_kib=1024
memory_goal_mib=64

die() { echo "program-bench: $*" >&2; exit 1; }

tree="${1:-}"
if [ -n "$tree" ]; then
  tree="$(realpath -m "$tree")"
  if [ -f "$tree/CMakeCache.txt" ]; then
    toolchain="$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$tree/CMakeCache.txt")"
    case "$toolchain" in
      *x86_64*) export VELMORA_WINEARCH=win64 ;;
      *i686*) export VELMORA_WINEARCH=win32 ;;
      *) die "$tree is not a Windows build tree" ;;
    esac
  fi
fi
export VELMORA_WINEPREFIX="${VELMORA_WINEPREFIX:-$root/build/bench-prefix}"
export VELMORA_WINEPREFIX64="${VELMORA_WINEPREFIX64:-$root/build/bench-prefix64}"
. "$root/cmake/wine-env"
tree="${tree:-$root/build/bench-$VELMORA_WINEARCH}"
if [ "$VELMORA_WINEARCH" = win32 ] && ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  die "this machine cannot execute 32-bit programs; give a 64-bit tree (VELMORA_WINEARCH=win64 or a build/win64-like tree)"
fi
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
wine_run() { "$root/cmake/wine-run" "$@"; }

# ---------------------------------------------------------------- build
if [ ! -f "$tree/CMakeCache.txt" ]; then
  if [ "$VELMORA_WINEARCH" = win64 ]; then toolchain=x86_64-w64-mingw32; else toolchain=i686-w64-mingw32; fi
  # As the release preset builds what ships.
  cmake -S "$root" -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_FLAGS_RELEASE="-Os -DNDEBUG -ffunction-sections -fdata-sections" \
    -DCMAKE_CXX_FLAGS_RELEASE="-Os -DNDEBUG -ffunction-sections -fdata-sections" \
    -DCMAKE_EXE_LINKER_FLAGS_RELEASE="-s -Wl,--gc-sections" \
    -DCMAKE_SHARED_LINKER_FLAGS_RELEASE="-s -Wl,--gc-sections" >/dev/null
fi
cmake --build "$tree" --target Velmora VelmoraTraced MinimalWindow MinimalOleWindow StartupTimer PreviewMemory \
  -j"$(nproc)" >/dev/null || die "the build failed in $tree"
build_type="$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$tree/CMakeCache.txt")"

# ---------------------------------------------------------------- the pictures
mkdir -p "$data"
make_jpeg() {  # <file> <width> <height>
  [ -s "$1" ] && return 0
  command -v convert >/dev/null || die "ImageMagick's convert is needed to make $1 (apt-get install imagemagick)"
  echo "making $1 ($2 x $3)..." >&2
  convert -limit area 2GiB -limit memory 2GiB -limit map 4GiB -limit disk 8GiB -size "$2x$3" \
    gradient:'#2060b0-#f0c070' -fill '#c03020' -draw "circle $(($2 / 2)),$(($3 / 2)) $(($2 / 2)),$(($3 / 8))" \
    -quality 90 "$1.tmp.jpg" && mv "$1.tmp.jpg" "$1" || { rm -f "$1.tmp.jpg"; die "could not make $1"; }
}
make_jpeg "$data/small-640x480.jpg" 640 480
make_jpeg "$data/large-10000x10000.jpg" 10000 10000

# ---------------------------------------------------------------- Wine
server_started=
xvfb_pid=
cleanup() {
  # The wineserver goes before its X display does.
  if [ -n "$server_started" ]; then wineserver -k 2>/dev/null || true; wineserver -w 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
case "$display_mode" in
  null)
    unset DISPLAY
    graphics=null
    display_text="Wine's null graphics driver"
    ;;
  xvfb)
    command -v Xvfb >/dev/null || die "Xvfb is needed for BENCH_DISPLAY=xvfb"
    displayfd="$(mktemp)"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$displayfd" >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do [ -s "$displayfd" ] && break; sleep 0.1; done
    [ -s "$displayfd" ] || die "Xvfb did not start"
    export DISPLAY=":$(head -n1 "$displayfd")"
    rm -f "$displayfd"
    graphics=x11
    display_text="Wine's X11 driver on Xvfb $DISPLAY (no window manager)"
    ;;
  *) die "BENCH_DISPLAY is null or xvfb" ;;
esac
"$root/cmake/wine-prefix" >/dev/null || die "cannot create the Wine prefix $WINEPREFIX"
# A warm, persistent wineserver: every launch below finds it running.
if wineserver -p >/dev/null 2>&1; then server_started=1; fi
wine_run reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d "$graphics" /f >/dev/null

# A fresh copy of the fake ICQ 6 installation, registered where Velmora looks.
icq="$data/icq6-$VELMORA_WINEARCH"
rm -rf "$icq"
cp -r "$root/tests/fixtures/icq6" "$icq"
# With a picture installed, as after the first apply: the start-up shows it.
# What Velmora writes, a 24-bit bottom-up bitmap of 136 x 103 under the name
# cl.jpg.
convert -size 136x103 gradient:'#2060b0-#f0c070' -type TrueColor \
  "BMP3:$icq/services/icqApp/ver1/theme/MUICore/cl.jpg" || die "cannot make the installed cl.jpg"
winpath() { wine_run winepath -w "$1" 2>/dev/null | tr -d '\r'; }
wine_run reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\ICQ.exe' /v Path /t REG_SZ \
  /d "$(winpath "$icq")" /f >/dev/null
wine_run reg add 'HKCU\SOFTWARE\velmora.example\Velmora\Settings' /v Language /t REG_SZ /d 2 /f >/dev/null

win_tree="$(winpath "$tree")"
# Wine's desktop process chose its graphics driver when it started, possibly
# above and before the setting: start afresh, then keep the server warm.
if [ -n "$server_started" ]; then
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wineserver -p >/dev/null 2>&1 || die "cannot start the wineserver"
else
  echo "program-bench: a wineserver already runs for $WINEPREFIX; its graphics driver may not be $graphics" >&2
fi

echo "Velmora program benchmarks: tree $tree ($VELMORA_WINEARCH, ${build_type:-default}), prefix $WINEPREFIX"
echo "display: $display_text; wineserver kept warm (wineserver -p)"
read -r load _ </proc/loadavg
if awk -v l="$load" -v n="$(nproc)" 'BEGIN { exit !(l > n) }'; then
  echo "note: the machine is busy (load $load on $(nproc) CPUs); the times below are noisy"
fi

# ---------------------------------------------------------------- start-up
echo
echo "== start-up: process start to visible main window ($runs launches each, alternating, 2 warm-ups)"
startup="$(mktemp)"
wine_run "$tree/bench/StartupTimer.exe" --runs "$runs" --idle-ms "${IDLE_MS:-10000}" --baselines 2 \
  minimal "$win_tree\\bench\\MinimalWindow.exe" VelmoraBenchMinimalWindow "Velmora bench minimal window" \
  ole "$win_tree\\bench\\MinimalOleWindow.exe" VelmoraBenchMinimalOleWindow "Velmora bench minimal OLE window" \
  Velmora "$win_tree\\program\\Velmora.exe" VelmoraForm Velmora \
  traced "$win_tree\\bench\\VelmoraTraced.exe" VelmoraForm Velmora | tr -d '\r' | tee "$startup" ||
  die "the start-up benchmark failed"
ratio="$(sed -n 's#^ratio Velmora/minimal \([0-9.]*\).*#\1#p' "$startup")"
ratio_ole="$(sed -n 's#^ratio Velmora/ole \([0-9.]*\).*#\1#p' "$startup")"
ws_ratio="$(sed -n 's#^idle Velmora:.*working set x\([0-9.]*\).*#\1#p' "$startup")"
idle_cpu="$(sed -n 's#^idle Velmora: \([0-9]*\) ms of CPU.*#\1#p' "$startup")"
rm -f "$startup"
[ -n "$ratio" ] || die "the start-up benchmark gave no ratio"
if awk -v r="$ratio" -v g="$startup_goal" 'BEGIN { exit !(r <= g) }'; then verdict=met; else verdict=MISSED; fi
echo "start-up ratio Velmora/minimal $ratio (goal at most $startup_goal: $verdict); Velmora/ole $ratio_ole"
if [ -n "$ws_ratio" ]; then
  if awk -v r="$ws_ratio" -v g="$working_set_goal" 'BEGIN { exit !(r <= g) }'; then verdict=met; else verdict=MISSED; fi
  echo "peak working set Velmora/minimal x$ws_ratio (goal at most $working_set_goal: $verdict)"
fi
if [ -n "$idle_cpu" ]; then
  if [ "$idle_cpu" -eq 0 ]; then verdict=met; else verdict=MISSED; fi
  echo "idle CPU of Velmora ${idle_cpu} ms (goal 0: $verdict)"
fi

# ---------------------------------------------------------------- size
echo
exe_bytes="$(stat -c %s "$tree/program/Velmora.exe")"
dll_bytes="$(stat -c %s "$tree/program/Quillon2.dll")"
total=$((exe_bytes + dll_bytes))
if [ "$total" -le $((size_goal_kib * 1024)) ]; then verdict=met; else verdict=MISSED; fi
echo "== size: Velmora.exe $exe_bytes + Quillon2.dll $dll_bytes = $total bytes ($((total / 1024)) KiB;" \
  "goal at most $size_goal_kib KiB: $verdict)"

# ---------------------------------------------------------------- preview memory
echo
echo "== preview memory: DrawPictureFile of a 10000 x 10000 JPEG against a 640 x 480 one"
measure() {  # <label> <picture>
  local out
  out="$(wine_run "$tree/bench/PreviewMemory.exe" "$(winpath "$2")" | tr -d '\r')" ||
    die "PreviewMemory failed on $2"
  eval "$1_ws=$(awk '$1 == "after.PeakWorkingSetSize" { print $2 }' <<<"$out")"
  eval "$1_ws0=$(awk '$1 == "before.PeakWorkingSetSize" { print $2 }' <<<"$out")"
  eval "$1_pf=$(awk '$1 == "sampled.PeakPagefileUsage" { print $2 }' <<<"$out")"
  eval "$1_pf0=$(awk '$1 == "before.PagefileUsage" { print $2 }' <<<"$out")"
  eval "$1_ms=$(awk '$1 == "draw" { print $2 }' <<<"$out")"
}
measure small "$data/small-640x480.jpg"
measure large "$data/large-10000x10000.jpg"
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
printf '%-34s %12s %12s\n' "" "640 x 480" "10000 x 10000"
printf '%-34s %12s %12s\n' "peak working set before (MiB)" "$(mib "$small_ws0")" "$(mib "$large_ws0")"
printf '%-34s %12s %12s\n' "peak working set after (MiB)" "$(mib "$small_ws")" "$(mib "$large_ws")"
printf '%-34s %12s %12s\n' "private bytes before (MiB)" "$(mib "$small_pf0")" "$(mib "$large_pf0")"
printf '%-34s %12s %12s\n' "peak private bytes, sampled (MiB)" "$(mib "$small_pf")" "$(mib "$large_pf")"
printf '%-34s %12s %12s\n' "draw time (ms)" "$small_ms" "$large_ms"
ws_diff=$((large_ws - small_ws))
pf_diff=$((large_pf - small_pf))
worst=$((ws_diff > pf_diff ? ws_diff : pf_diff))
if [ "$worst" -lt $((memory_goal_mib * 1024)) ]; then verdict=met; else verdict=MISSED; fi
echo "large minus small: peak working set $(mib "$ws_diff") MiB, peak private bytes $(mib "$pf_diff") MiB" \
  "(goal under $memory_goal_mib MiB: $verdict)"
