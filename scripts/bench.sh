#!/usr/bin/env bash
# Sets up the machine, builds the release configuration in build-bench and runs a benchmark:
#   scripts/bench.sh [args]        the audio benchmark against the peer tools (pemmet-bench-audio --rounds 5 ...)
#   scripts/bench.sh batch [args]  pemmet-convert -j 1 against -j 2 (pemmet-bench-batch --rounds 5 ...)
#   scripts/bench.sh many [args]   batches of many short files: scale and throughput (pemmet-bench-many --files N ...)
# Benchmarks are run by hand only: neither CTest nor CI starts them.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"

bench=pemmet-bench-audio
case "${1:-}" in
  batch) bench=pemmet-bench-batch; shift ;;
  many) bench=pemmet-bench-many; shift ;;
esac

# The peers the engine is measured against; the batch benchmark needs none.
PEERS=()
case "$bench" in
  pemmet-bench-audio) PEERS=(lame vorbis-tools) ;;
  pemmet-bench-many) PEERS=(lame) ;;
esac
missing=()
for p in "${PEERS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=()
  if [ "$(id -u)" -ne 0 ]; then SUDO=(sudo); fi
  echo "Installing: ${missing[*]}" >&2
  "${SUDO[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

dir="$top/build-bench"
cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
cmake --build "$dir" -j "$(nproc)" --target "$bench" >&2
exec "$dir/bench/$bench" "$@"
