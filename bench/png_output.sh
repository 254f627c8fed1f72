#!/usr/bin/env bash
# PNG mosaics beside bitmaps of the same placement: for each size, one run
# writes the mosaic as BMP and saves its placement, a second renders that very
# placement as PNG; both are timed with their peak resident memory, and the
# PNG is read back row by row against the bitmap (build/bench/png_bmp_compare),
# which must find no pixel that differs. A mosaic over 500 megapixels or 32,767
# pixels a side, which no bitmap holds, is compared with the PPM of its
# placement instead. Rows are deflated as the bands are rendered, so the peak
# should not grow with the mosaic.
#   bench/png_output.sh [BUILD_DIR] [WORK_DIR] [WIDTHxHEIGHT ...]
# By default a 3,000 × 2,000 and a 30,000 × 20,000 mosaic (the latter writes
# 1.8 GB of bitmap; each file is removed once compared).
# PNG_OUTPUT_SET adds settings to every run, KEY=VALUE separated by blanks
# (PNG_OUTPUT_SET=OutputTransparency=1 writes RGBA).
set -euo pipefail

build=${1:-build}
work=${2:-$build/png_output}
exe="$build/bin/tessellarium"
compare="$build/bench/png_bmp_compare"
[ -x "$exe" ] || { echo "png_output: $exe is not built"; exit 1; }
[ -x "$compare" ] || { echo "png_output: $compare is not built (cmake --build $build --target png_bmp_compare)"; exit 1; }
[ -x /usr/bin/time ] || { echo "png_output: /usr/bin/time is missing (Debian package time)"; exit 1; }

sizes=("${@:3}")
((${#sizes[@]})) || sizes=("3000x2000" "30000x20000")

rm -rf "$work"
mkdir -p "$work/tiles" "$work/settings"
# The benchmark keeps its settings apart from the user's.
export TESSELLARIUM_CONFIG_PATH="$work/settings"

# ffmpeg's generators are deterministic: the same library on every machine.
echo "png_output: drawing 240 tile pictures and a main image with ffmpeg"
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
ff -f lavfi -i "mandelbrot=s=320x240:rate=10:start_scale=2:end_scale=0.002,hue=H=2*PI*t/7:s=1.3" \
   -frames:v 200 -q:v 3 "$work/tiles/m%03d.jpg"
ff -f lavfi -i "testsrc2=s=320x240:rate=10,hue=H=2*PI*t/4" -frames:v 40 -q:v 3 "$work/tiles/t%03d.jpg"
ff -f lavfi -i "mandelbrot=s=1500x1000:start_x=-0.75:start_y=0.1:start_scale=0.35:end_pts=1" \
   -frames:v 1 -q:v 2 "$work/main.jpg"
"$exe" list create "$work/tiles.tzc" --include "$work/tiles/" > "$work/list.log" 2>&1

# Runs a command under GNU time; leaves "wall_seconds peak_MB" in $measured.
measure() {
  local log="$1"; shift
  /usr/bin/time -f "%e %M" -o "$log.time" "$@" > "$log" 2>&1 || { cat "$log" "$log.time"; exit 1; }
  measured=$(awk '{ printf "%.1f %.0f", $1, $2 / 1024 }' "$log.time")
}

extra=()
for setting in ${PNG_OUTPUT_SET:-}; do extra+=(--set "$setting"); done

rows=()
for size in "${sizes[@]}"; do
  w=${size%x*}
  h=${size#*x}
  base="$work/mosaic_$size"
  common=(mosaic "$work/main.jpg" --list "$work/tiles.tzc" --set MosaicSizeUnit=pixel --set MosaicSizeWidth="$w"
          --set MosaicSizeHeight="$h" --set TileSize=60 --set TileUnit=tilesxrow --set RezIroriz=0 --yes --quiet
          "${extra[@]}")
  ref=bmp
  if ((w * h > 500000000 || w > 32767 || h > 32767)); then ref=ppm; fi
  echo "png_output: $w × $h as ${ref^^}"
  measure "$base.$ref.log" "$exe" "${common[@]}" --set FileFormat=$ref --output "$base.$ref" \
    --save-placement "$base.placement.txt"
  read -r bmp_s bmp_mb <<< "$measured"
  echo "png_output: $w × $h as PNG of the same placement"
  measure "$base.png.log" "$exe" "${common[@]}" --set FileFormat=png --output "$base.png" \
    --placement "$base.placement.txt"
  read -r png_s png_mb <<< "$measured"
  png_file_mb=$(echo "$(stat -c %s "$base.png") / 1048576" | bc -l)
  if "$compare" "$base.png" "$base.$ref" > "$base.compare.log"; then verdict="equal to $ref"; else verdict="DIFFERENT"; fi
  cat "$base.compare.log"
  rows+=("$(printf '%-13s %4s %8.1f %8.0f %8.1f %8.0f %9.1f  %s' "$size" "$ref" "$bmp_s" "$bmp_mb" "$png_s" "$png_mb" \
    "$png_file_mb" "$verdict")")
  rm -f "$base.$ref" "$base.png"  # gigabytes of disk at the large sizes
done

echo
printf '%-13s %4s %8s %8s %8s %8s %9s  %s\n' "mosaic" "ref" "ref s" "ref MB" "PNG s" "PNG MB" "PNG file" "pixels"
printf '%s\n' "${rows[@]}"
