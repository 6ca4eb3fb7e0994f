#!/bin/sh
# Installs the Debian 12 packages that building and testing Zirko need,
# non-interactively, skipping what is already installed.
# Usage: scripts/install-deps.sh [--cross]
# --cross adds what scripts/cross.sh needs: the arm64 and i386 architectures,
# their cross compilers and development packages, and qemu-user.
set -eu
packages="build-essential cmake pkg-config python3 libusb-1.0-0-dev libgtest-dev googletest
  nlohmann-json3-dev dpkg-dev qt6-base-dev qt6-svg-dev libinih-dev xvfb xauth umockdev
  libumockdev-dev libevdev-dev libudev-dev clang clang-format libclang-rt-dev lintian appstream"
foreign=""
if [ "${1:-}" = --cross ]; then
  foreign="arm64 i386"
  packages="$packages g++-aarch64-linux-gnu g++-i686-linux-gnu qemu-user
    libusb-1.0-0-dev:arm64 libevdev-dev:arm64 libudev-dev:arm64 libgtest-dev:arm64
    libstdc++6:arm64 libusb-1.0-0-dev:i386 libevdev-dev:i386 libudev-dev:i386
    libgtest-dev:i386 libstdc++6:i386"
fi
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
added=""
for arch in $foreign; do
  dpkg --print-foreign-architectures | grep -qx "$arch" && continue
  $sudo dpkg --add-architecture "$arch"
  added=yes
done
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && [ -z "$added" ] && exit 0
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
[ -z "$missing" ] && exit 0
# shellcheck disable=SC2086
$sudo apt-get install -y -qq --no-install-recommends $missing
