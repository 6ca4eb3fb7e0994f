#!/bin/sh
# Renders the window bitmaps from their sources: png/<path>.svg becomes
# ../images/<path>.png at the source's own width and height.
# Needs rsvg-convert (Debian package librsvg2-bin). Run generate_art.py first.
set -eu
cd "$(dirname "$0")"
command -v rsvg-convert >/dev/null || { echo "rsvg-convert missing: apt-get install librsvg2-bin" >&2; exit 1; }
find png -name '*.svg' | sort | while read -r src; do
  rel=${src#png/}
  dest=../images/${rel%.svg}.png
  mkdir -p "$(dirname "$dest")"
  rsvg-convert -o "$dest" "$src"
  echo "$dest"
done
