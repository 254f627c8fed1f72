#!/usr/bin/env bash
# Side by side with metapixel, another photomosaic program: the same tile
# photos, the same main image and the same grid of 40 tiles per row for both.
# Times how long each takes to get its tile library ready (our list creation,
# metapixel-prepare) and to build a 4000 × 3000 mosaic, and how close each
# mosaic's cell colours come to the main image (mean CIE76 ΔE of the cell
# means, measured by the delta_e helper built next to the benchmarks).
#   bench/peer/compare_metapixel.sh [BUILD_DIR] [WORK_DIR]
set -euo pipefail

build=${1:-build}
work=${2:-$build/compare_metapixel}
exe="$build/bin/tessellarium"
delta_e="$build/bench/delta_e"
[ -x "$exe" ] || { echo "compare_metapixel: $exe is not built"; exit 1; }
[ -x "$delta_e" ] || { echo "compare_metapixel: $delta_e is not built (target delta_e)"; exit 1; }
command -v metapixel >/dev/null && command -v metapixel-prepare >/dev/null ||
  { echo "compare_metapixel: metapixel is missing (Debian package metapixel)"; exit 1; }

# The main image is scaled by 2 into a 4000 × 3000 mosaic of 40 × 40 tiles
# of 100 × 75 pixels, the tiles' own 4:3 shape, so both programs cut the
# same grid.
main_w=2000 main_h=1500 scale=2
columns=40 rows=40
tile_w=$((main_w * scale / columns)) tile_h=$((main_h * scale / rows))
mosaic_w=$((main_w * scale)) mosaic_h=$((main_h * scale))

rm -rf "$work"
mkdir -p "$work/tiles/a" "$work/tiles/b" "$work/settings" "$work/metapixel-library"
export TESSELLARIUM_CONFIG_PATH="$work/settings"

echo "compare_metapixel: drawing 360 tile pictures and a main image with ffmpeg"
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
ff -f lavfi -i "mandelbrot=s=320x240:rate=10:start_scale=2:end_scale=0.002,hue=H=2*PI*t/7:s=1.3" \
   -frames:v 200 -q:v 3 "$work/tiles/a/m%03d.jpg"
ff -f lavfi -i "mandelbrot=s=320x240:rate=10:start_x=-0.7436:start_y=0.1318:start_scale=1:end_scale=0.0001,hue=H=2*PI*t/5:s=1.4:b=2*sin(t/3)" \
   -frames:v 120 -q:v 3 "$work/tiles/b/p%03d.jpg"
ff -f lavfi -i "testsrc2=s=320x240:rate=10,hue=H=2*PI*t/4" -frames:v 40 -q:v 3 "$work/tiles/b/t%03d.jpg"
ff -f lavfi -i "mandelbrot=s=${main_w}x${main_h}:start_x=-0.75:start_y=0.1:start_scale=0.35:end_pts=1" \
   -frames:v 1 -q:v 2 "$work/main.jpg"

# Runs a command and leaves its wall time in seconds in $seconds.
timed() {
  local log="$1"; shift
  local start end
  start=$(date +%s.%N)
  "$@" > "$log" 2>&1 || { cat "$log"; exit 1; }
  end=$(date +%s.%N)
  seconds=$(echo "$end - $start" | bc -l)
}

echo "compare_metapixel: tessellarium"
timed "$work/list.log" "$exe" list create "$work/tiles.tzc" --include "$work/tiles/"
our_prepare=$seconds
timed "$work/mosaic.log" "$exe" mosaic "$work/main.jpg" --list "$work/tiles.tzc" \
  --set MosaicSizeUnit=pixel --set MosaicSizeWidth=$mosaic_w --set MosaicSizeHeight=$mosaic_h \
  --set TileSize=$columns --set TileUnit=tilesxrow --set FileFormat=jpg \
  --output "$work/ours.jpg" --yes --quiet
our_mosaic=$seconds
our_quality=$("$delta_e" "$work/ours.jpg" "$work/main.jpg" $columns $rows)

echo "compare_metapixel: metapixel"
timed "$work/prepare.log" metapixel-prepare -r --width=$tile_w --height=$tile_h \
  "$work/tiles" "$work/metapixel-library"
their_prepare=$seconds
timed "$work/metapixel.log" metapixel -l "$work/metapixel-library" -w $tile_w -h $tile_h \
  --scale=$scale --metapixel "$work/main.jpg" "$work/theirs.png"
their_mosaic=$seconds
their_quality=$("$delta_e" "$work/theirs.png" "$work/main.jpg" $columns $rows)

field() { echo "$1" | awk -v k="$2" '{for (i = 1; i < NF; ++i) if ($i == k) print $(i + 1)}'; }

echo
echo "360 tile photos, ${main_w}x${main_h} main image, ${columns}x${rows} tiles of ${tile_w}x${tile_h}"
printf '%-24s %14s %14s\n' "" "tessellarium" "metapixel"
printf '%-24s %14.2f %14.2f\n' "prepare tiles, s" "$our_prepare" "$their_prepare"
printf '%-24s %14.2f %14.2f\n' "build mosaic, s" "$our_mosaic" "$their_mosaic"
printf '%-24s %14s %14s\n' "mosaic size" "$(field "$our_quality" size)" "$(field "$their_quality" size)"
printf '%-24s %14s %14s\n' "mean cell ΔE (CIE76)" "$(field "$our_quality" mean_delta_e)" "$(field "$their_quality" mean_delta_e)"
printf '%-24s %14s %14s\n' "worst cell ΔE" "$(field "$our_quality" max_delta_e)" "$(field "$their_quality" max_delta_e)"
