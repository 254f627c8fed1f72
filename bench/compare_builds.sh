#!/usr/bin/env bash
# Two builds of tessellarium side by side on the data compare_metapixel.sh
# leaves behind (its WORK_DIR, one tile count): the spacing, High Quality D=1
# and Experimental mosaics at colour change 0 and 30, three runs each,
# alternating builds; prints user and wall seconds and whether both builds
# wrote the same mosaic.
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
