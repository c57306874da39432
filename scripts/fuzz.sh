#!/usr/bin/env bash
# Runs every libFuzzer target for its share of the time and prints, per target, the executions,
# executions per second and crashes. Builds the targets first (clang, -DZK_FUZZ=ON).
#
#   scripts/fuzz.sh [SECONDS] [build-dir]     (default: 600 seconds in all, build/fuzz)
#   FUZZ_RUNS=10000000 FUZZ_TARGETS='zk_fuzz_MimeDecode' scripts/fuzz.sh 0 build/fuzz
#
# FUZZ_TARGETS: shell pattern of the targets to run (default: all; extended patterns such as
# 'zk_fuzz_@(CryptoC|OpenSSL)_Decode' work). JOBS: build jobs (default 2).
# FUZZ_RUNS=N: run each target until N executions instead of for a share of SECONDS (SECONDS,
# if not 0, still caps each target's time). FUZZ_BUILD=0: run the targets already built, without
# configuring or building.
# "cpu s" is the target's user+system time: on a shared machine, executions per CPU second are
# the rate a quiet core would give. "per loop cpu s" leaves out the start-up CPU time an engine
# target reports (provisioning, key generation): the fuzzing loop's own rate.
# Each target starts from its build-time seeds plus the valid outputs of its own run; what it
# finds stays in <build-dir>/fuzz-corpus/<target>, crashes in <build-dir>/fuzz-crashes/<target>.
# Sandboxes go to TMPDIR (default /dev/shm).
set -euo pipefail
shopt -s extglob

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
# The engine targets rewrite files in their sandboxes for every input: in memory where the machine
# has it, unless the caller chose a directory.
if [[ -z ${TMPDIR:-} && -d /dev/shm && -w /dev/shm ]]; then export TMPDIR=/dev/shm; fi

targets=()
for exe in "$BUILD"/zk_fuzz_*; do
  name=$(basename "$exe")
  # shellcheck disable=SC2053  # the pattern is meant to glob
  [[ -x $exe && ! -d $exe && $name == $PATTERN ]] && targets+=("$name")
done
[[ ${#targets[@]} -gt 0 ]] || { echo "fuzz.sh: no target matches '$PATTERN'" >&2; exit 1; }
RUNS=${FUZZ_RUNS:-}
if [[ -n $RUNS ]]; then
  share=$TOTAL  # a cap per target; 0 is none
  limits=(-runs="$RUNS" -max_total_time="$share")
else
  share=$(( TOTAL / ${#targets[@]} ))
  (( share >= 1 )) || share=1
  limits=(-max_total_time="$share")
fi

printf '%-36s %12s %10s %8s %10s %14s %8s\n' target executions 'per sec' 'cpu s' 'per cpu s' 'per loop cpu s' crashes
failed=0
for name in "${targets[@]}"; do
  corpus=$BUILD/fuzz-corpus/$name
  crashes=$BUILD/fuzz-crashes/$name
  mkdir -p "$corpus" "$crashes"
  log=$BUILD/fuzz-crashes/$name.log
  set +e
  TIMEFORMAT='%R %U %S'
  # What the target needs in its environment (the build writes it, one VAR=value a line).
  extra=()
  [[ -s $BUILD/fuzz-env/$name ]] && mapfile -t extra <"$BUILD/fuzz-env/$name"
  { time (cd "$BUILD" && env "${extra[@]}" ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$ROOT/tests/lsan.supp "./$name" "${limits[@]}" \
     -print_final_stats=1 -artifact_prefix="$crashes/" "$corpus" "$BUILD/fuzz-seeds/$name" >"$log" 2>&1) ; } 2>"$log.time"
  status=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  # The fuzzing loop's own seconds (start-up and seeding excluded), else the whole run's.
  seconds=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
  read -r wall user sys <"$log.time"
  cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.1f", u + s }')
  found=$(find "$crashes" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  if grep -q '^not applicable' "$log"; then printf '%-36s %12s\n' "$name" "n/a"; continue; fi
  runs=${runs:-0}
  [[ -n $seconds && $seconds != 0 ]] || seconds=$(awk -v w="$wall" 'BEGIN { printf "%d", (w < 1 ? 1 : w) }')
  rate=$(( runs / seconds ))
  per_cpu=$(awk -v r="$runs" -v c="$cpu" 'BEGIN { printf "%d", r / (c > 0.05 ? c : 0.05) }')
  startup=$(sed -n 's/^start-up cpu seconds: *//p' "$log" | tail -1)
  per_loop=$(awk -v r="$runs" -v c="$cpu" -v s="${startup:-0}" 'BEGIN { c -= s; printf "%d", r / (c > 0.05 ? c : 0.05) }')
  printf '%-36s %12s %10s %8s %10s %14s %8s\n' "$name" "$runs" "$rate" "$cpu" "$per_cpu" "$per_loop" "$found"
  if [[ $status != 0 || $found != 0 ]]; then failed=1; echo "  see $log" ; fi
done
exit $failed
