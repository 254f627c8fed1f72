#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Two builds of tessellarium on one small library of generated tiles: a mosaic
# for every processing mode, each with unlimited duplicates, a duplicate
# spacing, no duplicates and a duplicate count of two, and then half and
# quarter tiles, a Parquet pattern, consecutive frames, the tile list file and
# tiles that carry their own MAX[n] counts; last, mosaics shaped by a mask of
# slanted bands, exact (PNG) and with the fringes JPEG leaves between colours.
# Each run also saves its placement;
# the two builds' folders are compared byte for byte. Random order is seeded
# by the clock, so its mosaics differ from run to run: only that both builds
# finish alike is compared there.
#
#   bench/compare_placements.sh BEFORE_EXE AFTER_EXE
set -u
before=$1 after=$2
[ -x "$before" ] && [ -x "$after" ] || { echo "compare_placements: BEFORE_EXE and AFTER_EXE must be programs" >&2; exit 2; }
command -v ffmpeg >/dev/null || { echo "compare_placements: ffmpeg makes the pictures (scripts/install-deps)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TESSELLARIUM_CONFIG_PATH="$work/settings" XDG_RUNTIME_DIR="$work"
mkdir -p "$work/settings" "$work/tiles/land" "$work/tiles/tall" "$work/tiles/groups" "$work/limited"
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
ff -f lavfi -i "testsrc2=size=96x72:rate=25" -frames:v 60 -q:v 4 "$work/tiles/land/j%03d.jpg"
ff -f lavfi -i "mandelbrot=size=72x96:rate=25" -frames:v 30 "$work/tiles/tall/p%03d.png"
# Variant groups: consecutive pictures that share a name up to "___" (Custom)
# and the folders above (Folder).
for g in 1 2 3 4; do
  ff -f lavfi -i "rgbtestsrc=size=96x72:rate=25,hue=h=$((g * 80))" -frames:v 5 -q:v 4 "$work/tiles/groups/g${g}___%02d.jpg"
done
ff -f lavfi -i "smptebars=size=96x72" -frames:v 1 -q:v 4 "$work/limited/MAX[2] bars.jpg"
ff -f lavfi -i "cellauto=size=96x72:rule=30" -frames:v 1 -q:v 4 "$work/limited/MAX[1] cells.jpg"
ff -f lavfi -i "smptehdbars=size=960x720" -frames:v 1 -q:v 2 "$work/main.jpg"
ff -f lavfi -i "color=c=gray:s=320x240,format=rgb24,geq=r='40+50*mod(floor((X+2*Y)/45)\,4)':g='90+40*mod(floor((2*X-Y+400)/60)\,3)':b=120" \
  -frames:v 1 "$work/bands.png"
ff -i "$work/bands.png" -q:v 3 "$work/bands.jpg"
"$after" list create "$work/tiles.tzc" --include "$work/tiles/" >/dev/null 2>&1 || { echo "compare_placements: no list" >&2; exit 1; }
"$after" list create "$work/limited.tzc" --include "$work/tiles/" --include "$work/limited/" >/dev/null 2>&1 ||
  { echo "compare_placements: no list with MAX marks" >&2; exit 1; }

# The mosaic's shape: its size, or a mask.
shape=(--set MosaicSizeUnit=pixel --set MosaicSizeWidth=960 --set MosaicSizeHeight=720)
# run EXE FOLDER LIST TIMES SETTINGS...: the mosaic (TIMES runs into one folder,
# so a later run finds what the first left there) and its placement.
run() {
  local exe=$1 out=$2 list=$3 times=$4
  shift 4
  local sets=() s
  for s in "$@"; do sets+=(--set "$s"); done
  rm -rf "$out" && mkdir -p "$out"
  local i status=0
  for ((i = 1; i <= times; i++)); do
    "$exe" mosaic "$work/main.jpg" --list "$work/$list.tzc" --set FileFormat=jpg --set RezIroriz=0 "${shape[@]}" \
      --set TileUnit=tilesxrow --set TileSize=16 "${sets[@]}" --save-placement "$out/placement.txt" --output "$out/m.jpg" --yes --quiet \
      >"$out/said.txt" 2>&1 || status=$?
  done
  echo "exit $status" >>"$out/said.txt"
  sed -i "s|$out|OUT|g" "$out/said.txt"
}

different=0
# compare NAME LIST TIMES SETTINGS...
compare() {
  local name=$1 list=$2 times=$3
  shift 3
  run "$before" "$work/before" "$list" "$times" "$@"
  run "$after" "$work/after" "$list" "$times" "$@"
  local verdict
  if [[ " $* " == *" MosaicProcessing=random "* ]]; then
    # Only how the runs ended can agree.
    if cmp -s "$work/before/said.txt" "$work/after/said.txt"; then verdict="same end (clock-seeded order)"; else verdict=DIFFERENT; fi
  elif diff -r "$work/before" "$work/after" >/dev/null; then
    verdict=same
  else
    verdict=DIFFERENT
  fi
  [ "$verdict" = DIFFERENT ] && different=$((different + 1))
  local ended
  ended=$(tail -1 "$work/after/said.txt")
  [ -f "$work/after/m.jpg" ] || ended="$ended, no mosaic"
  echo "$name: $verdict ($ended)"
}

for mode in standard faster custom sequential random folder sequential_date standard1 standard2; do
  for dup in "0 0" "0 3" "1 0" "2 2"; do
    set -- $dup
    compare "$mode D=$1 S=$2" tiles 1 MosaicProcessing=$mode TileDuplication=$1 DuplicateSpacing=$2
  done
  # Half and quarter tiles: the first placement, the split, the second dispatch.
  d=0
  case $mode in standard1 | standard2) d=1 ;; esac
  compare "$mode D=$d S=2 halves 8% quarters 6%" tiles 1 MosaicProcessing=$mode TileDuplication=$d \
    DuplicateSpacing=2 MultiSize2=8 MultiSize4=6
done
for mode in standard sequential faster; do
  compare "$mode Parquet (1:1) D=0 S=2" tiles 1 MosaicProcessing=$mode "Pattern=Parquet (1:1)" TileDuplication=0 \
    DuplicateSpacing=2
done
compare "standard consecutive frames 3 S=0" tiles 1 MosaicProcessing=standard ConsecutiveFrames=3 \
  TileDuplication=0 DuplicateSpacing=0
compare "standard consecutive frames 3 S=3" tiles 1 MosaicProcessing=standard ConsecutiveFrames=3 \
  TileDuplication=0 DuplicateSpacing=3
compare "faster tile list saved, then loaded" tiles 2 MosaicProcessing=faster TileDuplication=0 DuplicateSpacing=2 \
  Advanced.Options.TileListSave=1 Advanced.Options.TileListLoad=1
for mode in standard faster custom standard1; do
  compare "$mode MAX[n] tiles D=3 S=0" limited 1 MosaicProcessing=$mode TileDuplication=3 DuplicateSpacing=0
done
# Colour change moves what each cell asks of its tile: the spacing, High
# Quality without duplicates and Experimental at 30 %.
compare "standard D=0 S=3 colour change 30" tiles 1 MosaicProcessing=standard TileDuplication=0 DuplicateSpacing=3 \
  ColorChange=30
compare "standard D=1 S=0 colour change 30" tiles 1 MosaicProcessing=standard TileDuplication=1 DuplicateSpacing=0 \
  ColorChange=30
compare "standard1 D=1 S=0 colour change 30" tiles 1 MosaicProcessing=standard1 TileDuplication=1 DuplicateSpacing=0 \
  ColorChange=30
for mask in bands.png bands.jpg; do
  shape=(--mask "$work/$mask")
  compare "standard mask $mask D=0 S=2" tiles 1 MosaicProcessing=standard TileDuplication=0 DuplicateSpacing=2
done
echo "$different different"
[ "$different" -eq 0 ]
