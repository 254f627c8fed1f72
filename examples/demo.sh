#!/usr/bin/env bash
# The demo: makes a small tile library and a main image (with ffmpeg's test
# sources, so nothing large is kept in the repository), builds a Tile Images
# List from the tiles and a mosaic from the main image, and says where it is.
#   examples/demo.sh [BUILD_DIR]
set -euo pipefail

build=${1:-build}
exe="$build/bin/tessellarium"
work="$build/demo"
[ -x "$exe" ] || { echo "demo: $exe is not built (run make build)"; exit 1; }

rm -rf "$work"
mkdir -p "$work/tiles/fractals" "$work/tiles/patterns"
# The demo keeps its settings apart from the user's.
export TESSELLARIUM_CONFIG_PATH="$work/settings"

echo "demo: drawing 480 tile pictures and a main image with ffmpeg"
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
ff -f lavfi -i "mandelbrot=s=200x150:rate=10:start_scale=2:end_scale=0.002,hue=H=2*PI*t/7:s=1.3" \
   -frames:v 240 -q:v 3 "$work/tiles/fractals/f%03d.jpg"
ff -f lavfi -i "mandelbrot=s=200x150:rate=10:start_x=-0.7436:start_y=0.1318:start_scale=1:end_scale=0.0001,hue=H=2*PI*t/5:s=1.4:b=2*sin(t/3)" \
   -frames:v 180 -q:v 3 "$work/tiles/patterns/p%03d.jpg"
ff -f lavfi -i "cellauto=s=150x200:rule=110:rate=10,format=rgb24,colorchannelmixer=rr=0.9:gg=0.6:bb=0.3" \
   -frames:v 60 -q:v 3 "$work/tiles/patterns/c%03d.jpg"
ff -f lavfi -i "mandelbrot=s=1600x1200:start_x=-0.75:start_y=0.1:start_scale=0.35:end_pts=1" -frames:v 1 -q:v 2 "$work/main.jpg"

echo "demo: building the Tile Images List"
"$exe" list create "$work/demo.tzc" --include "$work/tiles/"

echo "demo: building the mosaic"
"$exe" mosaic "$work/main.jpg" --list "$work/demo.tzc" --yes \
  --set MosaicSizeUnit=pixel --set MosaicSizeWidth=4800 --set MosaicSizeHeight=3600 \
  --set TileSize=60 --set TileUnit=tilesxrow \
  --output "$work/mosaic.jpg"

echo "demo: the mosaic is $work/mosaic.jpg (main image: $work/main.jpg)"
