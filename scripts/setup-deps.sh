#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, once: nothing happens when they are there.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav
  libgtest-dev libbenchmark-dev
  help2man
  libsystemd-dev libnova-dev
)
if [ "${1:-}" = "--tests" ]; then
  packages+=(gstreamer1.0-tools xvfb xauth fonts-dejavu-core imagemagick clang-14
             dpkg-dev desktop-file-utils file man-db python3)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
