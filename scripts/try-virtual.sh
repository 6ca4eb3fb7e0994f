#!/bin/sh
# Installs the dependencies, builds zirko_util and runs a short session on a
# virtual receiver, so that the utility can be seen working without hardware.
# Usage: scripts/try-virtual.sh [build-dir]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
scripts/install-deps.sh
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target zirko_util
state=$(mktemp -d)/receiver.state
# A remote button is "pressed" automatically 300 ms after the receiver waits.
printf 'press_delay_ms = 300\n' > "$state"
export ZIRKO_VIRTUAL="$state"
run() {
  echo "\$ zirko_util $*"
  "$build/util/zirko_util" "$@"
  echo
}
run record a
run record vol_up
run keys
run settings
echo "The virtual receiver's state is in $state"
