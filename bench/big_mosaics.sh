#!/usr/bin/env bash
# Whole mosaics at sizes no machine could hold in memory at once: draws a tile
# library and a main image, builds a Tile Images List, then writes each mosaic
# asked for with the default memory block, reads it back with an independent
# reader, and prints the wall time and peak resident memory of each run. The
# mosaic is rendered and written band by band, so the peak should stay about
# the same whatever the mosaic's size.
#   bench/big_mosaics.sh [BUILD_DIR] [WORK_DIR] [FORMAT:WIDTHxHEIGHT ...]
# FORMAT is a "FileFormat" keyword (jpg, psb, bigtiff, tiff_jpg95, ...). By
# default a 20,000 × 15,000 and a 60,000 × 45,000 JPEG; the large-file formats:
#   bench/big_mosaics.sh build build/big psb:40000x1000 bigtiff:40000x40000
# (the second writes 4.8 GB of pixels, beyond classic TIFF's 4 GiB).
# BIG_MOSAICS_SET adds settings to every mosaic, KEY=VALUE separated by
# blanks: BIG_MOSAICS_SET=RezIroriz=0 times the mosaic file without the web
# pyramid beside it.
set -euo pipefail

build=${1:-build}
work=${2:-$build/big_mosaics}
exe="$build/bin/tessellarium"
[ -x "$exe" ] || { echo "big_mosaics: $exe is not built"; exit 1; }
[ -x /usr/bin/time ] || { echo "big_mosaics: /usr/bin/time is missing (Debian package time)"; exit 1; }

runs=("${@:3}")
((${#runs[@]})) || runs=("jpg:20000x15000" "jpg:60000x45000")

rm -rf "$work"
mkdir -p "$work/tiles/a" "$work/tiles/b" "$work/settings"
# The benchmark keeps its settings apart from the user's.
export TESSELLARIUM_CONFIG_PATH="$work/settings"

# ffmpeg's generators are deterministic: the same library on every machine.
echo "big_mosaics: drawing 360 tile pictures and a main image with ffmpeg"
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
ff -f lavfi -i "mandelbrot=s=320x240:rate=10:start_scale=2:end_scale=0.002,hue=H=2*PI*t/7:s=1.3" \
   -frames:v 200 -q:v 3 "$work/tiles/a/m%03d.jpg"
ff -f lavfi -i "mandelbrot=s=320x240:rate=10:start_x=-0.7436:start_y=0.1318:start_scale=1:end_scale=0.0001,hue=H=2*PI*t/5:s=1.4:b=2*sin(t/3)" \
   -frames:v 120 -q:v 3 "$work/tiles/b/p%03d.jpg"
ff -f lavfi -i "testsrc2=s=320x240:rate=10,hue=H=2*PI*t/4" -frames:v 40 -q:v 3 "$work/tiles/b/t%03d.jpg"
ff -f lavfi -i "mandelbrot=s=2000x1500:start_x=-0.75:start_y=0.1:start_scale=0.35:end_pts=1" \
   -frames:v 1 -q:v 2 "$work/main.jpg"

# Runs a command under GNU time; leaves "seconds peak_kb" in $measured.
measure() {
  local log="$1"; shift
  local start end
  start=$(date +%s.%N)
  /usr/bin/time -v -o "$log.time" "$@" > "$log" 2>&1 || { cat "$log" "$log.time"; exit 1; }
  end=$(date +%s.%N)
  measured="$(echo "$end - $start" | bc -l) $(awk -F': ' '/Maximum resident set size/ {print $2}' "$log.time")"
}

# Width × height from a JPEG's frame header; `file` prints sides over 32,767
# as negative numbers, so the segments are walked here instead.
jpeg_size() {
  local f="$1" pos=2 b m len
  while :; do
    read -r -a b <<< "$(od -An -tu1 -j "$pos" -N 9 "$f")"
    ((${#b[@]} >= 9)) && ((b[0] == 255)) || { echo "?"; return; }
    m=${b[1]}
    if ((m >= 192 && m <= 207 && m != 196 && m != 200 && m != 204)); then
      echo "$((b[7] * 256 + b[8]))x$((b[5] * 256 + b[6]))"
      return
    fi
    len=$((b[2] * 256 + b[3]))
    pos=$((pos + 2 + len))
  done
}

echo "big_mosaics: building the Tile Images List"
measure "$work/list.log" "$exe" list create "$work/tiles.tzc" --include "$work/tiles/"
read -r list_s list_kb <<< "$measured"

# What an independent reader says the file's size is: the JPEG frame header,
# tiffinfo for TIFF (BigTIFF included), ImageMagick's identify for the rest.
written_size() {
  local f="$1"
  case "$f" in
    *.jpg) jpeg_size "$f" ;;
    *.tif|*.tiff)
      local kind=""
      # Version 43 in the header is BigTIFF (42 the classic format).
      [ "$(od -An -tu1 -j 2 -N 1 "$f" | tr -d ' ')" = 43 ] && kind=" BigTIFF"
      echo "$(tiffinfo "$f" 2>/dev/null | awk '/Image Width:/ {print $3 "x" $6; exit}')$kind" ;;
    # Debian's ImageMagick refuses sides over 16,000 pixels: its policy is
    # copied with that limit raised, for this reader only.
    *)
      mkdir -p "$work/magick"
      sed 's/name="\(width\|height\)" value="[^"]*"/name="\1" value="1MP"/' /etc/ImageMagick-6/policy.xml \
        > "$work/magick/policy.xml"
      MAGICK_CONFIGURE_PATH="$work/magick" identify -ping "$f" 2>/dev/null | awk '{print $2 " " $3; exit}' ;;
  esac
}

rows=()
for run in "${runs[@]}"; do
  format=${run%%:*}
  size=${run#*:}
  w=${size%x*}
  h=${size#*x}
  base="$work/mosaic_${format}_$size"
  # The mosaic keeps the main image's shape: a main image of the asked shape,
  # at most 4,000 pixels a side.
  main="$work/main_$size.jpg"
  read -r mw mh <<< "$(awk -v w="$w" -v h="$h" 'BEGIN { f = (w > h ? w : h) > 4000 ? 4000 / (w > h ? w : h) : 1;
    printf "%d %d", w * f < 16 ? 16 : w * f, h * f < 16 ? 16 : h * f }')"
  [ -f "$main" ] || ff -i "$work/main.jpg" -vf "scale=$mw:$mh" -q:v 2 "$main"
  extra=()
  for setting in ${BIG_MOSAICS_SET:-}; do extra+=(--set "$setting"); done
  echo "big_mosaics: building the $w × $h mosaic as $format"
  measure "$base.log" "$exe" mosaic "$main" --list "$work/tiles.tzc" \
    --set MosaicSizeUnit=pixel --set MosaicSizeWidth="$w" --set MosaicSizeHeight="$h" \
    --set TileSize=40 --set TileUnit=tilesxrow --set FileFormat="$format" \
    --output "$base" --yes --quiet "${extra[@]}"
  read -r s kb <<< "$measured"
  out=$(tail -n 1 "$base.log")
  written=$(written_size "$out")
  rows+=("$(printf '%-22s %10.1f %12.1f %20s %10.1f' "$format:$size" "$s" "$(echo "$kb / 1024" | bc -l)" \
    "$written" "$(echo "$(stat -c %s "$out") / 1048576" | bc -l)")")
  rm -f "$out"  # a 60,000 × 45,000 mosaic is gigabytes of disk
done

echo
printf '%-22s %10s %12s %20s %10s\n' "run" "wall s" "peak MB" "written" "file MB"
printf '%-22s %10.1f %12.1f %20s %10s\n' "list create" "$list_s" "$(echo "$list_kb / 1024" | bc -l)" "-" "-"
printf '%s\n' "${rows[@]}"
