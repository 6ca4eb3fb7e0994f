#!/bin/sh
# Cross-builds the library, the utility, the virtual receiver and their tests
# for other Debian architectures and runs the tests: arm64 under qemu-user,
# i386 on this machine. The arm64 tree also makes and checks the zirko
# package. Without a display or umockdev there: the desktop application and
# the emulated suites are left to the native build.
# Usage: scripts/cross.sh [architecture...]   (default: arm64 i386)
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh --cross
launcher=""
command -v ccache >/dev/null 2>&1 &&
  launcher="-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
for arch in ${*:-arm64 i386}; do
  build=build-$arch
  start=$(date +%s)
  mkdir -p "$build"
  # shellcheck disable=SC2086
  cmake -S . -B "$build" -DZIRKO_DEB_ARCH="$arch" -DCMAKE_TOOLCHAIN_FILE=cmake/debian-cross.cmake \
    -DZIRKO_BUILD_GUI=OFF -DZIRKO_BUILD_EMULATED=OFF $launcher >"$build/configure.log" ||
    { cat "$build/configure.log"; exit 1; }
  cmake --build "$build" -j "$(nproc)"
  ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
  [ "$arch" = arm64 ] && packaging/check-deb.sh "$build"
  echo "cross: $arch built and tested in $(($(date +%s) - start)) s"
done
