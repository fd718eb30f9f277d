#!/usr/bin/env bash
# Configures and builds one configuration: "release" (default) or "asan"
# (AddressSanitizer and UndefinedBehaviorSanitizer). Prints the build folder.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
config=${1:-release}
case "$config" in
  release) dir="$top/build"; args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan)    dir="$top/build-asan"; args=(-DCMAKE_BUILD_TYPE=Debug -DPEMMET_SANITIZE=ON) ;;
  *) echo "usage: $0 [release|asan]" >&2; exit 2 ;;
esac
cmake -S "$top" -B "$dir" -G Ninja "${args[@]}" >&2
cmake --build "$dir" -j "$(nproc)" >&2
echo "$dir"
