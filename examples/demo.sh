#!/usr/bin/env bash
# The demo: cuts a tile library out of the sample photographs that Debian's
# python3-skimage ships (installed by scripts/install-deps), builds a Tile
# Images List from it and a mosaic of one of the photographs, and says where
# the mosaic is. The tiles are seeded crops, so every run makes the same ones.
#   examples/demo.sh [BUILD_DIR]      (BUILD_DIR relative to the repository)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

build=${1:-build}
exe="$build/bin/tessellarium"
cutter="$build/bin/tessellarium-sample-tiles"
pictures=${TESS_SAMPLE_PICTURES:-/usr/lib/python3/dist-packages/skimage/data}
main_image="$pictures/astronaut.png"
work="$build/demo"
out="$root/demo-output"

for program in "$exe" "$cutter"; do
  [ -x "$program" ] || { echo "demo: $program is not built (run make build)"; exit 1; }
done
[ -f "$main_image" ] || { echo "demo: no sample photographs in $pictures (run scripts/install-deps)"; exit 1; }

rm -rf "$work"
mkdir -p "$work" "$out"
# The demo keeps its settings apart from the user's.
export TESSELLARIUM_CONFIG_PATH="$work/settings"

echo "demo: cutting 1000 tile photos out of the sample pictures in $pictures"
# Sources that are too small, grey or see-through are skipped, and said so in
# the log; it is shown only when the cutting fails.
if ! "$cutter" "$pictures" "$work/tiles" 1000 2026 2>"$work/sample-tiles.log"; then
  cat "$work/sample-tiles.log" >&2
  exit 1
fi

echo "demo: building the Tile Images List"
"$exe" list create "$work/demo.tzc" --include "$work/tiles/"

# astronaut.png is square: 60 tiles a row of 100 × 75 pixels make 60 × 80 cells.
echo "demo: building the mosaic"
"$exe" mosaic "$main_image" --list "$work/demo.tzc" --yes \
  --set FileFormat=jpg \
  --set MosaicSizeUnit=pixel --set MosaicSizeWidth=6000 --set MosaicSizeHeight=6000 \
  --set TileSize=60 --set TileUnit=tilesxrow \
  --output "$out/mosaic.jpg"

echo "demo: the mosaic is $out/mosaic.jpg (main image: $main_image)"
# New settings make a zoomable web mosaic beside every mosaic.
[ -f "$out/mosaic RezIroriz/index.html" ] && echo "demo: open $out/mosaic RezIroriz/index.html in a browser to zoom into it"
