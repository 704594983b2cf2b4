#!/usr/bin/env bash
# Renders the icon's PNG sizes from the SVG (needs rsvg-convert, Debian package
# librsvg2-bin). The PNGs are committed, so building the package needs no renderer.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" io.github.kavrin.programmer.svg -o "io.github.kavrin.programmer-$size.png"
done
