#!/usr/bin/env bash
# Installs the Debian packages the project needs; only what is missing, so it is cheap to repeat.
set -euo pipefail

PACKAGES=(
  g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev
  libavcodec-dev libavformat-dev libavutil-dev
  libswscale-dev libswresample-dev libavfilter-dev
  qt6-base-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=()
if [ "$(id -u)" -ne 0 ]; then SUDO=(sudo); fi
echo "Installing: ${missing[*]}"
"${SUDO[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
