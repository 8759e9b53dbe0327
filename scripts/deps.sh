#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and the demo need, when missing.
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build pkg-config git python3
  libssl-dev openssl
  libavcodec-dev libavformat-dev libswscale-dev libavutil-dev ffmpeg
  libgtest-dev libgmock-dev libbenchmark-dev
  libsimpleini-dev libsqlite3-dev libicu-dev libcli11-dev nlohmann-json3-dev
  clang libclang-rt-14-dev ccache
  systemd
  qt6-base-dev qt6-qpa-plugins fonts-dejavu-core xvfb xauth imagemagick
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
