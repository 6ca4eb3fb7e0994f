#!/bin/sh
# Builds the libFuzzer targets (clang, ASan and UBSan) and runs each in turn.
# Usage: scripts/fuzz.sh [seconds per target, default 60] [build-dir, default build-fuzz]
# Each target starts from its corpus in fuzz/corpus/<target>/, so every
# crash input kept there is run again first; new inputs go to
# <build-dir>/corpus/<target>/, crash inputs to <build-dir>/artifacts/.
# Exits 1 when any target crashed, hung or broke one of its checks.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${2:-build-fuzz}
scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B "$build" -DZIRKO_FUZZ=ON -DZIRKO_BUILD_TESTS=OFF \
  -DZIRKO_BUILD_EMULATED=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target zirko_fuzzers
failed=""
for corpus in fuzz/corpus/*/; do
  target=$(basename "$corpus")
  fuzzer="$build/fuzz/fuzz_$target"
  if [ ! -x "$fuzzer" ]; then
    echo "fuzz_$target: not built, skipped"
    continue
  fi
  mkdir -p "$build/corpus/$target" "$build/artifacts"
  echo "fuzz_$target: ${seconds}s"
  # -close_fd_mask=3 silences the library's own output; crash reports and
  # the targets' findings still reach standard error.
  if ! QT_QPA_PLATFORM=offscreen "$fuzzer" -max_total_time="$seconds" -timeout=20 \
      -rss_limit_mb=2048 -close_fd_mask=3 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$target-" \
      "$build/corpus/$target" "$corpus" 2>"$build/fuzz_$target.log"; then
    tail -n 60 "$build/fuzz_$target.log"
    failed="$failed fuzz_$target"
  fi
  grep -E '^(stat::number_of_executed_units|Done)' "$build/fuzz_$target.log" || true
done
if [ -n "$failed" ]; then
  echo "fuzzing found problems in:$failed (inputs in $build/artifacts/)"
  exit 1
fi
echo "fuzzing: no crash"
