#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Two builds of tessellarium on one small library of JPEG and PNG tiles: a
# mosaic in every still format, from a JPEG and from a PNG main image, and
# whether both builds wrote the same bytes. A web mosaic is compared file by
# file; the folder's mark (which names the version) is left out. Then split
# pieces (all of them, and a range of them) and, from a library of clips,
# every video format (the whole video, and a range of its frames).
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
# One mosaic by both builds into before/ and after/, then compared.
compare() {
  local name=$1
  shift
  for exe in before after; do
    rm -rf "$work/$exe" && mkdir -p "$work/$exe"
    "${!exe}" mosaic "$@" --output "$work/$exe/m.x" --yes --quiet >/dev/null 2>&1 || echo "$name: $exe failed"
    rm -f "$work/$exe/m RezIroriz/.tessellarium"
  done
  if [ -n "$(ls -A "$work/before")" ] && diff -r "$work/before" "$work/after" >/dev/null; then
    echo "$name: same"
  else
    echo "$name: DIFFERENT"
    different=$((different + 1))
  fi
}
still=(--list "$work/tiles.tzc" --set RezIroriz=0 --set MosaicSizeUnit=pixel --set MosaicSizeWidth=1600
       --set MosaicSizeHeight=1600 --set TileSize=40)
for main in main.jpg main.png; do
  for format in jpg png bmp ppm raw tiff tiff_jpg bigtiff psd psb web; do
    compare "$main $format" "$work/$main" "${still[@]}" --set FileFormat=$format
  done
done
compare "split jpg" "$work/main.jpg" "${still[@]}" --set FileFormat=jpg --split 500x400
compare "split psd with web" "$work/main.jpg" "${still[@]}" --set FileFormat=psd --set RezIroriz=1 --split 700x900
compare "split pieces 3-5 png" "$work/main.png" "${still[@]}" --set FileFormat=png --split 500x400 --pieces 3-5

# Clips of 40 frames, each frame of its own brightness, each clip its own tint.
mkdir -p "$work/clips"
clip=0
for tint in 1:0.3:0.3 0.3:1:0.3 0.3:0.3:1 1:1:0.3; do
  IFS=: read -r r g b <<<"$tint"
  clip=$((clip + 1))
  ffmpeg -nostdin -loglevel error -f lavfi -i "color=c=black:s=64x48:r=25:d=1.6" \
    -vf "geq=r='(40+4*N)*$r':g='(40+4*N)*$g':b='(40+4*N)*$b'" -c:v rawvideo -pix_fmt bgr24 "$work/clips/c$clip.avi"
done
"$after" list create "$work/clips.tzc" --video "$work/clips/" >/dev/null 2>&1 || { echo "compare_formats: no clip list" >&2; exit 1; }
video=(--list "$work/clips.tzc" --set RezIroriz=0 --set MosaicSizeUnit=pixel --set MosaicSizeWidth=160
       --set MosaicSizeHeight=96 --set TileSize=4 --set DuplicateSpacing=0)
compare "video avi_uncompressed" "$work/main.jpg" "${video[@]}" --set FileFormat=avi_uncompressed
compare "video avi_compressed" "$work/main.jpg" "${video[@]}" --set FileFormat=avi_compressed \
  --set Advanced.DivarAdadir.FourCC=XVID
compare "video frames 11-14 avi" "$work/main.jpg" "${video[@]}" --set FileFormat=avi_uncompressed --frames 11-14
compare "video video_jpg" "$work/main.jpg" "${video[@]}" --set FileFormat=video_jpg \
  --set Advanced.DivarAdadir.FrameCountFromVideoTile=5
compare "video split video_jpg" "$work/main.jpg" "${video[@]}" --set FileFormat=video_jpg --split 80x48 \
  --set Advanced.DivarAdadir.FrameCountFromVideoTile=3
echo "$different different"
[ "$different" -eq 0 ]
