#!/usr/bin/env bash
# Two builds of tessellarium side by side on the data compare_metapixel.sh
# leaves behind (its WORK_DIR, one tile count): the spacing, High Quality D=1
# and Experimental mosaics at colour change 0 and 30, three runs each,
# alternating builds; prints user and wall seconds and whether both builds
# wrote the same mosaic. Then the same with PNG pictures: PNG_TILES of the
# tile photos as PNG files (2000 by default; 0 skips this part), listed by each
# build for itself (both lists must be the same), and the spacing mosaic at
# colour change 0 and 30 of the main image as PNG; and once more with a few of
# those tiles enlarged past 64 MiB of pixels, which the PNG loader shrinks
# while reading them for the list and for the cells (there the two builds may
# differ: the figures say by how much).
#
#   bench/compare_builds.sh BEFORE_EXE AFTER_EXE [PEER_WORK_DIR] [TILES]
set -u
before=$1 after=$2 work=${3:-build/compare_metapixel} tiles=${4:-10000}
[ -x "$before" ] && [ -x "$after" ] || { echo "compare_builds: BEFORE_EXE and AFTER_EXE must be programs" >&2; exit 2; }
[ -f "$work/main.jpg" ] && [ -f "$work/$tiles/tiles.tzc" ] ||
  { echo "compare_builds: run bench/peer/compare_metapixel.sh first (no $work/$tiles/tiles.tzc)" >&2; exit 2; }
export TESSELLARIUM_CONFIG_PATH="$work/settings"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
run() {  # exe out processing duplication spacing change answer
  /usr/bin/time -f "%U %e" "$1" mosaic "$work/main.jpg" --list "$work/$tiles/tiles.tzc" \
    --set MosaicSizeUnit=pixel --set MosaicSizeWidth=2560 --set MosaicSizeHeight=1536 --set TileSize=40 \
    --set TileUnit=tilesxrow --set FileFormat=jpg --set RezIroriz=0 --set MosaicProcessing="$3" \
    --set TileDuplication="$4" --set DuplicateSpacing="$5" --set ColorChange="$6" --output "$2" "$7" --quiet 2>&1 | tail -1
}
for cfg in "spacing3-cc0 standard 0 3 0 --no" "spacing3-cc30 standard 0 3 30 --no" "hqD1-cc0 standard 1 0 0 --yes" \
           "hqD1-cc30 standard 1 0 30 --yes" "exp-cc0 standard1 1 0 0 --yes" "exp-cc30 standard1 1 0 30 --yes"; do
  set -- $cfg
  b=() a=()
  for _ in 1 2 3; do
    b+=("$(run "$before" "$scratch/before.jpg" "$2" "$3" "$4" "$5" "$6")")
    a+=("$(run "$after" "$scratch/after.jpg" "$2" "$3" "$4" "$5" "$6")")
  done
  same=$(cmp -s "$scratch/before.jpg" "$scratch/after.jpg" && echo same || echo DIFFERENT)
  echo "$1 | before (user wall): ${b[*]} | after: ${a[*]} | $same"
done

png_tiles=${PNG_TILES:-2000}
((png_tiles > 0)) || exit 0
png="$scratch/png"
mkdir -p "$png/tiles" "$png/large"
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
ff -pattern_type glob -i "$work/$tiles/tiles/*.jpg" -frames:v "$png_tiles" "$png/tiles/p%05d.png"
ff -i "$work/main.jpg" "$png/main.png"
# Twelve tiles at 5,120 × 3,840: 75 MiB of pixels each when whole.
for i in $(seq 1 12); do
  ff -i "$png/tiles/p$(printf %05d $((i * 97)))".png -vf scale=5120:3840:flags=bicubic "$png/large/l$i.png"
done
png_run() {  # exe list out change
  /usr/bin/time -f "%U %e" "$1" mosaic "$png/main.png" --list "$2" \
    --set MosaicSizeUnit=pixel --set MosaicSizeWidth=2560 --set MosaicSizeHeight=1536 --set TileSize=40 \
    --set TileUnit=tilesxrow --set FileFormat=jpg --set RezIroriz=0 --set MosaicProcessing=standard \
    --set TileDuplication=0 --set DuplicateSpacing=3 --set ColorChange="$4" --output "$3" --no --quiet 2>&1 | tail -1
}
for kind in tiles large; do
  folders=(--include "$png/tiles/")
  [ "$kind" = large ] && folders+=(--include "$png/large/")
  # A list holds its own path: both are made under one name, then set aside.
  "$before" list create "$png/$kind.tzc" "${folders[@]}" >/dev/null 2>&1
  mv "$png/$kind.tzc" "$png/before-$kind.tzc"
  "$after" list create "$png/$kind.tzc" "${folders[@]}" >/dev/null 2>&1
  mv "$png/$kind.tzc" "$png/after-$kind.tzc"
  lists=$(cmp -s "$png/before-$kind.tzc" "$png/after-$kind.tzc" && echo "same lists" ||
          echo "lists differ in $(cmp -l "$png/before-$kind.tzc" "$png/after-$kind.tzc" 2>/dev/null | wc -l) bytes")
  for change in 0 30; do
    b=$(png_run "$before" "$png/before-$kind.tzc" "$scratch/before.jpg" "$change")
    a=$(png_run "$after" "$png/after-$kind.tzc" "$scratch/after.jpg" "$change")
    if cmp -s "$scratch/before.jpg" "$scratch/after.jpg"; then
      same=same
    else
      same="DIFFERENT (mean absolute error $(compare -metric MAE "$scratch/before.jpg" "$scratch/after.jpg" null: 2>&1))"
    fi
    echo "png-$kind-cc$change | before (user wall): $b | after: $a | $lists | $same"
  done
done
