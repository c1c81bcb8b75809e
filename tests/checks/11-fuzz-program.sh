#!/usr/bin/env bash
# Fuzzing of the error report (chains of trapped procedures with every kind of
# parameter value, compared with the report put together from its rules) and
# of the settings' number conversions (any text, any decimal separator), a
# few seconds each. Builds in the tree of the fuzz preset (clang, build/fuzz),
# as 10-fuzz-heads.sh does. Exits non-zero on a finding; the input that shows
# it lands in build/fuzz/artifacts/.
#
# Longer by hand:  FUZZ_SECONDS=600 tests/checks/11-fuzz-program.sh
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$root/build/fuzz"
seconds="${FUZZ_SECONDS:-5}"

cd "$root" && cmake --preset fuzz >/dev/null || exit 1
cmake --build --preset fuzz --target fuzz_report fuzz_convert -j 2 >/dev/null || exit 1

mkdir -p "$build/artifacts"
status=0
for name in report convert; do
  corpus="$build/corpus-$name"
  log="$build/fuzz-$name.log"
  mkdir -p "$corpus"
  rc=0
  # Texts of a few hundred KiB are part of the inputs: allow the long ones
  # their time, and the report's copies their memory.
  "$build/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 \
    -artifact_prefix="$build/artifacts/$name-" -print_final_stats=1 "$corpus" >"$log" 2>&1 || rc=$?
  if [ "$rc" -ne 0 ]; then
    grep -vE '^#[0-9]+|NEW_FUNC' "$log" | tail -n 60
    echo "fuzz_$name: a finding (exit $rc); full log in $log"
    status=1
    continue
  fi
  grep -E '^stat::(number_of_executed_units|new_units_added)' "$log"
  echo "fuzz_$name: no finding in ${seconds} s"
done
exit "$status"
