#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Two builds of tessellarium on one small library of JPEG and PNG tiles: a
# mosaic in every still format, from a JPEG and from a PNG main image, and
# whether both builds wrote the same bytes. A web mosaic is compared file by
# file; the folder's mark (which names the version) is left out.
#
#   bench/compare_formats.sh BEFORE_EXE AFTER_EXE
set -u
before=$1 after=$2
[ -x "$before" ] && [ -x "$after" ] || { echo "compare_formats: BEFORE_EXE and AFTER_EXE must be programs" >&2; exit 2; }
command -v ffmpeg >/dev/null || { echo "compare_formats: ffmpeg makes the pictures (scripts/install-deps)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TESSELLARIUM_CONFIG_PATH="$work/settings" XDG_RUNTIME_DIR="$work"
# Both builds copy one web viewer: the data folder beside AFTER_EXE.
data="$(dirname "$after")/../share/tessellarium"
[ -d "$data" ] && export TESSELLARIUM_DATA_DIR="$(cd "$data" && pwd)"
mkdir -p "$work/settings" "$work/tiles"
ffmpeg -loglevel error -f lavfi -i "testsrc2=size=96x72:rate=25" -frames:v 120 -q:v 4 "$work/tiles/j%03d.jpg"
ffmpeg -loglevel error -f lavfi -i "mandelbrot=size=72x96:rate=25" -frames:v 60 "$work/tiles/p%03d.png"
ffmpeg -loglevel error -f lavfi -i "smptehdbars=size=800x600" -frames:v 1 -q:v 2 "$work/main.jpg"
ffmpeg -loglevel error -f lavfi -i "mandelbrot=size=600x800" -frames:v 1 "$work/main.png"
"$after" list create "$work/tiles.tzc" --include "$work/tiles/" >/dev/null 2>&1 || { echo "compare_formats: no list" >&2; exit 1; }

different=0
for main in main.jpg main.png; do
  for format in jpg png bmp ppm raw tiff tiff_jpg bigtiff psd psb web; do
    for exe in before after; do
      rm -rf "$work/$exe" && mkdir -p "$work/$exe"
      "${!exe}" mosaic "$work/$main" --list "$work/tiles.tzc" --set FileFormat=$format --set RezIroriz=0 \
        --set MosaicSizeUnit=pixel --set MosaicSizeWidth=1600 --set MosaicSizeHeight=1600 --set TileSize=40 \
        --output "$work/$exe/m.x" --yes --quiet >/dev/null 2>&1 || echo "$main $format: $exe failed"
      rm -f "$work/$exe/m RezIroriz/.tessellarium"
    done
    if diff -r "$work/before" "$work/after" >/dev/null; then
      echo "$main $format: same"
    else
      echo "$main $format: DIFFERENT"
      different=$((different + 1))
    fi
  done
done
echo "$different different"
[ "$different" -eq 0 ]
