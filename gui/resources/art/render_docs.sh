#!/bin/sh
# Renders every layout of the layout file with the application's own
# graphics classes into docs/layout-<name>.png.
# Usage: sh render_docs.sh <path to zirko_render_layout>
set -eu
tool=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
cd "$(dirname "$0")"
docs=../../../docs
mkdir -p "$docs"
sed -n 's/.*<keyboard name="\([^"]*\)".*/\1/p' ../keyboards/default.xml | while read -r name; do
  QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$tool" "$name" "$docs/layout-$name.png"
  echo "docs/layout-$name.png"
done
