#!/usr/bin/env bash
# Pictures of the window at work: scripts/window-shots.sh DIR
# Runs pemmet under a virtual X display on generated files and writes empty.png,
# listed.png, converting.png, done.png and cancelled.png into DIR.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${1:?usage: $0 DIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)

"$top/scripts/setup.sh"
# Only the pictures need a virtual display.
if ! command -v xvfb-run >/dev/null; then
  SUDO=()
  if [ "$(id -u)" -ne 0 ]; then SUDO=(sudo); fi
  "${SUDO[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -qq --no-install-recommends xvfb xauth
fi
dir=$("$top/scripts/build.sh" release)
exec xvfb-run -a -s "-screen 0 1024x768x24" env QT_QPA_PLATFORM=xcb "$dir/bin/pemmet" --screenshots "$out"
