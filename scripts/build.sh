#!/usr/bin/env bash
# Configures and builds one configuration: "release" (default), "asan"
# (AddressSanitizer and UndefinedBehaviorSanitizer) or "tsan" (ThreadSanitizer).
# Prints the build folder.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
config=${1:-release}
case "$config" in
  release) dir="$top/build"; args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan)    dir="$top/build-asan"; args=(-DCMAKE_BUILD_TYPE=Debug -DPEMMET_SANITIZE=ON) ;;
  tsan)    dir="$top/build-tsan"; args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DPEMMET_SANITIZE_THREAD=ON) ;;
  *) echo "usage: $0 [release|asan|tsan]" >&2; exit 2 ;;
esac
cmake -S "$top" -B "$dir" -G Ninja "${args[@]}" >&2
cmake --build "$dir" -j "$(nproc)" >&2
echo "$dir"
