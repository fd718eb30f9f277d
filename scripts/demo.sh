#!/usr/bin/env bash
# Sets up, builds and shows the converter on its built-in example, an 8 s chord.
# With a display the window opens with the example listed (press "Convert!"); without
# one, or with --console, the console converter converts it to MP3 and reads it back.
# Other arguments go to pemmet-convert (for example -o DIR for the output folder;
# default: the settings' folder).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
dir=$("$top/scripts/build.sh" release)
console=0
if [ "${1:-}" = "--console" ]; then console=1; shift; fi
if [ $console -eq 0 ] && [ $# -eq 0 ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$dir/bin/pemmet" --demo
fi
exec "$dir/bin/pemmet-convert" --demo "$@"
