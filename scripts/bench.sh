#!/usr/bin/env bash
# Sets up the machine and the peer tools, builds the release configuration in build-bench
# and runs the audio benchmark; arguments go to it (pemmet-bench-audio --rounds 5 ...).
# Benchmarks are run by hand only: neither CTest nor CI starts them.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"

# The peers the engine is measured against.
PEERS=(lame vorbis-tools)
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
cmake --build "$dir" -j "$(nproc)" --target pemmet-bench-audio >&2
exec "$dir/bench/pemmet-bench-audio" "$@"
