#!/usr/bin/env bash
# Decompression bombs against one or two builds: small files that declare
# huge pictures, used as tiles and as main images. For each case and each
# program it prints the exit status, the wall seconds and the peak resident
# memory (GNU time's %M), as a Markdown table.
#
#   bench/decode_bombs.sh AFTER_EXE [BEFORE_EXE] [WORK_DIR]
#
# The cases:
#   (the main images are matched with a dozen ordinary tiles)
#   - four 48 KB one-bit PNGs of 20,000 × 20,000 as tiles, with --threads 4:
#     `list create`, then a mosaic drawn with them;
#   - a 122-byte arithmetic-coded JPEG declaring 65,000 × 65,000 as the main
#     image (16.9 GB of pixels), and four of them as tiles with --threads 4
#     (264 MB each even at the DCT's eighth);
#   - a 438 KB one-bit PNG of 60,000 × 60,000 as the main image (14.4 GB);
#   - the same JPEG declaring 20,000 × 20,000 (1.6 GB): within the automatic
#     budget of a machine with more than 6.4 GB available, so decoded there;
#     run again with the budget set to 1,000 MB.
# A build that does not refuse a bomb would take what it declares: every run
# goes under `ulimit -v` (BOMB_ULIMIT_KIB, 8 GB by default), so a failing
# build is cut short instead of taking the machine. The limit also bounds the
# automatic budget (a quarter of it), so keep it above 4 × the 1.6 GB case to
# see that case decoded.
set -euo pipefail

after=${1:?usage: decode_bombs.sh AFTER_EXE [BEFORE_EXE] [WORK_DIR]}
before=${2:-}
work=${3:-build/decode_bombs}
limit_kib=${BOMB_ULIMIT_KIB:-8388608}
here=$(cd "$(dirname "$0")" && pwd)
[ -x /usr/bin/time ] || { echo "decode_bombs: /usr/bin/time is missing (Debian package time)" >&2; exit 1; }
for exe in "$after" $before; do [ -x "$exe" ] || { echo "decode_bombs: $exe is not a program" >&2; exit 2; }; done

rm -rf "$work"
mkdir -p "$work/settings" "$work/huge" "$work/hugejpeg" "$work/tiles" "$work/out"
export TESSELLARIUM_CONFIG_PATH="$work/settings"
cc -O2 -o "$work/bomb_files" "$here/bomb_files.c" -ljpeg -lpng
for i in 1 2 3 4; do "$work/bomb_files" png 20000 "$work/huge/h$i.png"; done
"$work/bomb_files" arith 65000 "$work/arith65000.jpg"
for i in 1 2 3 4; do cp "$work/arith65000.jpg" "$work/hugejpeg/j$i.jpg"; done
"$work/bomb_files" arith 20000 "$work/arith20000.jpg"
"$work/bomb_files" png 60000 "$work/black60000.png"
"$work/bomb_files" photo 400 300 "$work/photo.jpg"
for i in $(seq 1 12); do "$work/bomb_files" photo $((40 + 4 * i)) 48 "$work/tiles/t$i.jpg"; done
echo "decode_bombs: files $(stat -c '%n %s' "$work"/huge/h1.png "$work"/arith65000.jpg "$work"/black60000.png | tr '\n' ' ')" >&2

measure() {  # exe args... ; prints "status seconds peak_MB"
  local exe=$1; shift
  local status=0
  ( ulimit -v "$limit_kib"; /usr/bin/time -o "$work/time.txt" -f "%e %M" "$exe" "$@" >/dev/null 2>"$work/stderr.txt" ) || status=$?
  # GNU time puts "Command exited with non-zero status N" first for a failure.
  read -r seconds kib < <(tail -n 1 "$work/time.txt")
  echo "$status $seconds $((kib / 1024))"
}
mosaic() {  # exe image list [--set ...]
  local exe=$1 image=$2 list=$3; shift 3
  measure "$exe" mosaic "$image" --list "$list" --set MosaicSizeUnit=pixel --set MosaicSizeWidth=400 \
    --set MosaicSizeHeight=300 --set TileSize=10 --set RezIroriz=0 \
    --set Advanced.Options.ThreadCount=4 --output "$work/out/m.jpg" --yes --quiet "$@"
}

echo "| case | build | exit | seconds | peak MB |"
echo "|---|---|---|---|---|"
for exe in "$after" $before; do
  name=$([ "$exe" = "$after" ] && echo after || echo before)
  rm -f "$work/huge.tzc" "$work/hugejpeg.tzc" "$work/tiles.tzc"
  "$exe" list create "$work/tiles.tzc" --include "$work/tiles/" >/dev/null 2>&1
  echo "| 4 PNG tiles 20000², list create --threads 4 | $name | $(measure "$exe" list create "$work/huge.tzc" --include "$work/huge/" --threads 4 | tr ' ' '|') |"
  echo "| mosaic with those tiles, 4 threads | $name | $(mosaic "$exe" "$work/photo.jpg" "$work/huge.tzc" | tr ' ' '|') |"
  echo "| 4 arith JPEG tiles 65000², list create --threads 4 | $name | $(measure "$exe" list create "$work/hugejpeg.tzc" --include "$work/hugejpeg/" --threads 4 | tr ' ' '|') |"
  echo "| arith JPEG 65000² main image | $name | $(mosaic "$exe" "$work/arith65000.jpg" "$work/tiles.tzc" | tr ' ' '|') |"
  echo "| PNG 60000² main image | $name | $(mosaic "$exe" "$work/black60000.png" "$work/tiles.tzc" | tr ' ' '|') |"
  echo "| arith JPEG 20000² main image | $name | $(mosaic "$exe" "$work/arith20000.jpg" "$work/tiles.tzc" | tr ' ' '|') |"
  if [ "$name" = after ]; then
    echo "| arith JPEG 20000² main image, budget 1000 MB | $name | $(mosaic "$exe" "$work/arith20000.jpg" "$work/tiles.tzc" --set Advanced.Options.DecodeMemoryMaxSizeMB=1000 | tr ' ' '|') |"
  fi
done
