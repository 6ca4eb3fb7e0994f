#!/bin/sh
# Installs the dependencies, builds, and runs every test.
# Usage: scripts/test.sh [build-dir] [extra cmake arguments...]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
[ $# -gt 0 ] && shift
scripts/install-deps.sh
cmake -S . -B "$build" "$@"
cmake --build "$build" -j "$(nproc)"
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
