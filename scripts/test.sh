#!/usr/bin/env bash
# Sets up the machine, builds and runs the whole test suite:
#   scripts/test.sh [release|asan|tsan] [ctest arguments, e.g. -R BatchDriver]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
dir=$("$top/scripts/build.sh" "${1:-release}")
shift || true
export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$top/tests/support/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$top/tests/support/tsan.supp}
cd "$dir"
ctest --output-on-failure -j "$(nproc)" "$@"
