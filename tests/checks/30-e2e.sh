#!/usr/bin/env bash
# The end-to-end flows (tests/e2e/flows.sh): the real Velmora.exe under Wine
# on an Xvfb display of its own, in the project's prefix. One line per flow,
# then "N passed, N failed"; exits non-zero on any failure. Screenshots go to
# build/screens/.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
. "$root/cmake/wine-env"
# The program as it is now, in the tree the Wine tests use.
if [ ! -f "$VELMORA_TREE/CMakeCache.txt" ]; then
  cmake --preset "$VELMORA_WINEARCH" >/dev/null || exit 1
fi
cmake --build --preset "$VELMORA_WINEARCH" --target Velmora VelmoraLimitedToken driver >/dev/null || { echo "cannot build Velmora.exe"; exit 1; }
"$root/cmake/wine-prefix" || exit 1
exec "$root/tests/e2e/flows.sh"
