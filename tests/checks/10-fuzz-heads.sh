#!/usr/bin/env bash
# Differential fuzzing of the head replacement against a plain reference, for
# a few seconds. Builds in the tree of the fuzz preset (clang, build/fuzz).
# Exits non-zero on a finding; the input that shows it lands in
# build/fuzz/artifacts/.
#
# Longer by hand:  FUZZ_SECONDS=600 tests/checks/10-fuzz-heads.sh
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$root/build/fuzz"
seconds="${FUZZ_SECONDS:-5}"

cd "$root" && cmake --preset fuzz >/dev/null || exit 1
cmake --build --preset fuzz --target fuzz_heads -j 2 >/dev/null || exit 1

mkdir -p "$build/corpus-heads" "$build/artifacts"
log="$build/fuzz-heads.log"
status=0
"$build/tests/fuzz/fuzz_heads" -max_total_time="$seconds" -timeout=10 \
  -artifact_prefix="$build/artifacts/" -print_final_stats=1 "$build/corpus-heads" >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  grep -vE '^#[0-9]+|NEW_FUNC' "$log" | tail -n 40
  echo "fuzz_heads: a finding (exit $status); full log in $log"
  exit 1
fi
grep -E '^stat::(number_of_executed_units|new_units_added)' "$log"
echo "fuzz_heads: no difference in ${seconds} s"
