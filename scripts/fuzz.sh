#!/usr/bin/env bash
# Runs every libFuzzer target for its share of the time and prints, per target, the executions,
# executions per second and crashes. Builds the targets first (clang, -DZK_FUZZ=ON).
#
#   scripts/fuzz.sh [SECONDS] [build-dir]     (default: 600 seconds in all, build/fuzz)
#
# FUZZ_TARGETS: shell pattern of the targets to run (default: all). JOBS: build jobs (default 2).
# FUZZ_BUILD=0: run the targets already built, without configuring or building.
# Each target starts from its build-time seeds plus the valid outputs of its own run; what it
# finds stays in <build-dir>/fuzz-corpus/<target>, crashes in <build-dir>/fuzz-crashes/<target>.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
TOTAL=${1:-600}
BUILD=${2:-$ROOT/build/fuzz}
PATTERN=${FUZZ_TARGETS:-"zk_fuzz_*"}
JOBS=${JOBS:-2}

if [[ ${FUZZ_BUILD:-1} != 0 ]]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
        -DCMAKE_CXX_COMPILER=clang++ -DZK_FUZZ=ON -DZK_BUILD_TESTS=ON >/dev/null
  # Only the fuzz targets and their seeds: the rest of the tree is not built with libFuzzer.
  ninja -C "$BUILD" -j "$JOBS" zk_fuzz_seeds >/dev/null
fi
BUILD=$(cd "$BUILD" && pwd)

targets=()
for exe in "$BUILD"/zk_fuzz_*; do
  name=$(basename "$exe")
  # shellcheck disable=SC2053  # the pattern is meant to glob
  [[ -x $exe && ! -d $exe && $name == $PATTERN ]] && targets+=("$name")
done
[[ ${#targets[@]} -gt 0 ]] || { echo "fuzz.sh: no target matches '$PATTERN'" >&2; exit 1; }
share=$(( TOTAL / ${#targets[@]} ))
(( share >= 1 )) || share=1

printf '%-36s %12s %10s %8s\n' target executions 'per sec' crashes
failed=0
for name in "${targets[@]}"; do
  corpus=$BUILD/fuzz-corpus/$name
  crashes=$BUILD/fuzz-crashes/$name
  mkdir -p "$corpus" "$crashes"
  log=$BUILD/fuzz-crashes/$name.log
  set +e
  (cd "$BUILD" && ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$ROOT/tests/lsan.supp "./$name" -max_total_time="$share" -print_final_stats=1 \
     -artifact_prefix="$crashes/" "$corpus" "$BUILD/fuzz-seeds/$name" >"$log" 2>&1)
  status=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  seconds=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
  found=$(find "$crashes" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  if grep -q '^not applicable' "$log"; then printf '%-36s %12s\n' "$name" "n/a"; continue; fi
  runs=${runs:-0}
  rate=$(( runs / ( ${seconds:-$share} > 0 ? ${seconds:-$share} : 1 ) ))
  printf '%-36s %12s %10s %8s\n' "$name" "$runs" "$rate" "$found"
  if [[ $status != 0 || $found != 0 ]]; then failed=1; echo "  see $log" ; fi
done
exit $failed
