#!/usr/bin/env bash
# Sets up the machine, builds and runs the main program on its built-in example.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
dir=$("$top/scripts/build.sh" release)
"$dir/app/pemmet-libinfo" "$@"
