#!/usr/bin/env bash
# Builds the concurrency test programs with ThreadSanitizer and runs them; exits non-zero when a
# build fails, a test fails or ThreadSanitizer reports anything.
#
#   scripts/tsan.sh [build-dir]          (default: build/tsan under the source tree)
#
# ZK_TSAN_TARGETS: test targets to run, as shell patterns (default below); patterns that match no
#                  target of the tree are skipped, but at least one target must match.
# JOBS:            parallel build jobs (default 2).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build/tsan}
PATTERNS=${ZK_TSAN_TARGETS:-"zk_locks_tests zk_*_concurrency_tests"}
JOBS=${JOBS:-2}

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZK_SANITIZE=thread -DZK_BUILD_TESTS=ON

# Programs built into the build root are listed by their linker rule, the others as phony.
available=$(ninja -C "$BUILD" -t targets all |
            sed -n 's/^\(zk_[A-Za-z0-9_]*\): \(phony\|CXX_EXECUTABLE_LINKER.*\)$/\1/p' | sort -u)
targets=()
for pattern in $PATTERNS; do
  matched=0
  for target in $available; do
    # shellcheck disable=SC2053  # the pattern is meant to glob
    if [[ $target == $pattern ]]; then
      targets+=("$target")
      matched=1
    fi
  done
  [[ $matched == 1 ]] || echo "tsan.sh: no target matches '$pattern', skipped"
done
if [[ ${#targets[@]} == 0 ]]; then
  echo "tsan.sh: none of the targets '$PATTERNS' exists" >&2
  exit 1
fi

ninja -C "$BUILD" -j "$JOBS" "${targets[@]}"

# A report fails the program (exit code 66) even when every test passed.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
regex="^($(IFS='|'; echo "${targets[*]}"))\$"
# Without address randomisation where the system allows it: some kernels randomise mappings more
# than ThreadSanitizer's shadow memory layout accepts.
norandom=()
if setarch "$(uname -m)" -R true 2>/dev/null; then norandom=(setarch "$(uname -m)" -R); fi
"${norandom[@]}" ctest --test-dir "$BUILD" -R "$regex" --output-on-failure --no-tests=error
