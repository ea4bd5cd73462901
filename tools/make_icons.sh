#!/usr/bin/env bash
# Draws Quorvin's icon (data/icons/quorvin-<size>.png) with ImageMagick, the same picture as
# data/icons/quorvin.svg. Run by hand after changing the drawing; the PNGs are committed.
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
export MAGICK_TMPDIR="${TMPDIR:-/tmp}"
convert -size 256x256 xc:none \
  -fill '#1f4e79' -draw 'roundrectangle 8,8 247,247 40,40' \
  -fill '#2b6aa3' -draw 'roundrectangle 8,8 247,127 40,40' -draw 'rectangle 8,88 247,127' \
  -fill '#d9dee4' -stroke '#0f2a44' -strokewidth 6 \
  -draw 'polygon 64,44 192,44 192,68 204,68 204,212 52,212 52,68 64,68' \
  -stroke none -fill '#9aa5b1' -draw 'roundrectangle 76,52 180,62 3,3' \
  -fill '#f6c343' -stroke '#0f2a44' -strokewidth 4 -draw 'roundrectangle 72,84 184,176 8,8' \
  -stroke none -fill '#0f2a44' \
  -draw 'roundrectangle 84,98 148,107 4,4' -draw 'roundrectangle 84,116 170,125 4,4' \
  -draw 'roundrectangle 84,134 158,143 4,4' -draw 'roundrectangle 84,152 136,161 4,4' \
  -draw 'rectangle 70,190 80,212' -draw 'rectangle 88,190 98,212' -draw 'rectangle 106,190 116,212' \
  -draw 'rectangle 124,190 134,212' -draw 'rectangle 142,190 152,212' \
  -draw 'rectangle 160,190 170,212' -draw 'rectangle 178,190 188,212' \
  -fill '#3aa757' -stroke '#ffffff' -strokewidth 8 -draw 'circle 190,182 190,222' \
  -fill none -stroke '#ffffff' -strokewidth 12 -draw 'polyline 170,183 185,198 212,168' \
  quorvin-256.png
for s in 48 128; do convert quorvin-256.png -resize ${s}x${s} quorvin-$s.png; done
# The Windows program's icon resource (compiled in by windres), from the same picture.
convert quorvin-256.png -define icon:auto-resize=256,128,64,48,32,24,16 quorvin.ico
