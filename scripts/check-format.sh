#!/bin/sh
# Fails when a tracked C++ source is not formatted as .clang-format says,
# naming each file and line; `clang-format -i FILE` mends one.
set -eu
cd "$(dirname "$0")/.."
format=${CLANG_FORMAT:-clang-format}
if ! command -v "$format" >/dev/null 2>&1; then
  echo "check-format: $format not found (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
git ls-files -z -- '*.cpp' '*.h' | xargs -0 -r "$format" --dry-run --Werror
echo "check-format: every tracked *.cpp and *.h is formatted"
