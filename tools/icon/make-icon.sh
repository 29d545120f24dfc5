#!/usr/bin/env bash
# Redraws resources/icons/app_icon_256.png: an upward arrow landing on a flash chip, on a dark
# rounded square. Drawn at 1024 px and scaled down, so the edges stay smooth; the shapes are
# thick enough to read at 16 px. Needs ImageMagick (`convert`).
set -euo pipefail
out=${1:-$(dirname "$0")/../../resources/icons/app_icon_256.png}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
convert -size 1024x1024 gradient:'#22355a-#0a0f1a' "$tmp/fill.png"
convert -size 1024x1024 xc:black -fill white -draw 'roundrectangle 32,32 991,991 200,200' \
    "$tmp/mask.png"
convert "$tmp/fill.png" "$tmp/mask.png" -alpha off -compose CopyOpacity -composite \
    -fill '#2dd4bf' -draw 'polygon 512,150 792,450 622,450 622,640 402,640 402,450 232,450' \
    -fill '#e8eaf0' -draw 'roundrectangle 232,712 792,862 40,40' \
    -fill '#22355a' -draw 'rectangle 312,762 712,812' \
    -resize 256x256 -depth 8 -define png:color-type=6 "$out"
