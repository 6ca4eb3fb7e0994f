#!/bin/sh
# Renders the desktop icon from zirko.svg at the sizes the icon theme gets
# (zirko-<size>.png). The PNGs are committed; run this after changing the SVG.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -eu
cd "$(dirname "$0")"
for size in 48 64 128; do
  rsvg-convert -w "$size" -h "$size" -o "zirko-$size.png" zirko.svg
done
