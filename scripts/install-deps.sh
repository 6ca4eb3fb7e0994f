#!/bin/sh
# Installs the Debian 12 packages that building and testing Zirko need,
# non-interactively, skipping what is already installed.
set -eu
packages="build-essential cmake pkg-config python3 libusb-1.0-0-dev libgtest-dev googletest
  nlohmann-json3-dev dpkg-dev qt6-base-dev qt6-svg-dev libinih-dev xvfb xauth umockdev
  libumockdev-dev libevdev-dev libudev-dev clang libclang-rt-dev"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# shellcheck disable=SC2086
$sudo apt-get install -y -qq --no-install-recommends $missing
