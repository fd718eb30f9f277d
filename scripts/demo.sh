#!/usr/bin/env bash
# Sets up the machine, builds and runs the converter on its built-in example: an 8 s
# chord is made, converted to MP3 and read back. Arguments go to pemmet-convert
# (for example -o DIR for the output folder; default: the settings' folder).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
dir=$("$top/scripts/build.sh" release)
exec "$dir/bin/pemmet-convert" --demo "$@"
