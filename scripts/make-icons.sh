#!/usr/bin/env bash
# Draws the reader's hicolor PNG icons from its SVG (newsdesk/icons/orvo.svg)
# into packaging/icons/. The PNGs are kept in the repository, so neither the
# build nor the package needs a rasteriser; run this (it needs rsvg-convert,
# from librsvg2-bin) after changing the SVG.
set -euo pipefail
cd "$(dirname "$0")/.."
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "packaging/icons/${size}x${size}"
  rsvg-convert -w "$size" -h "$size" -o "packaging/icons/${size}x${size}/org.orvo.Newsdesk.png" newsdesk/icons/orvo.svg
done
