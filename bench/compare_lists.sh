#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Two builds of tessellarium on one small library: `list create` (pictures,
# a broken picture, video clips of three rates), `list update` after the
# library changed, a video mosaic from the clips' list, and `extract` of
# clips and of single frames from a video; whether both builds wrote the
# same bytes. Each build writes at the same paths in turn
# (a list holds its own path, extracted folders are named after the video),
# and what it wrote is moved aside before the other runs.
#
#   bench/compare_lists.sh BEFORE_EXE AFTER_EXE
set -u
before=$1 after=$2
[ -x "$before" ] && [ -x "$after" ] || { echo "compare_lists: BEFORE_EXE and AFTER_EXE must be programs" >&2; exit 2; }
command -v ffmpeg >/dev/null || { echo "compare_lists: ffmpeg makes the pictures (scripts/install-deps)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TESSELLARIUM_CONFIG_PATH="$work/settings" XDG_RUNTIME_DIR="$work"
mkdir -p "$work/settings" "$work/tiles/sub" "$work/clips" "$work/film"
ffmpeg -loglevel error -f lavfi -i "testsrc2=size=96x72:rate=25" -frames:v 60 -q:v 4 "$work/tiles/j%03d.jpg"
ffmpeg -loglevel error -f lavfi -i "mandelbrot=size=72x96:rate=25" -frames:v 30 "$work/tiles/sub/p%03d.png"
printf 'not a picture' >"$work/tiles/broken.jpg"
for rate in 25 30000/1001 12.5; do
  ffmpeg -loglevel error -f lavfi -i "testsrc=size=64x48:rate=$rate" -frames:v 40 -c:v rawvideo -pix_fmt bgr24 \
    "$work/clips/c${rate//\//_}.avi"
done
# Scenes with hard cuts and a static stretch, so clip mode finds clips of each kind.
ffmpeg -loglevel error -f lavfi -i "color=c=black:s=64x48:r=25,format=gray,geq=lum='if(lt(N,90),100+12*mod(N,2),if(lt(N,150),230,40+12*mod(N,2)))'" \
  -frames:v 200 -c:v rawvideo -pix_fmt bgr24 "$work/film/scenes.avi"
ffmpeg -loglevel error -f lavfi -i "smptehdbars=size=320x200" -frames:v 1 -q:v 2 "$work/main.jpg"

# Static clips are written too.
"$after" config set Extract.ExtractStaticVideo 1 >/dev/null || { echo "compare_lists: no configuration" >&2; exit 1; }

different=0
compare() {  # NAME: both builds' copies of the named step
  if diff -r "$work/out-before/$1" "$work/out-after/$1" >/dev/null; then
    echo "$1: same"
  else
    echo "$1: DIFFERENT"
    different=$((different + 1))
  fi
}

for exe in before after; do
  out="$work/out-$exe"
  mkdir -p "$out/create" "$out/video" "$out/update" "$out/mosaic" "$out/clips" "$out/jpg" "$out/bmp"
  rm -f "$work"/*.tzc*
  "${!exe}" list create "$work/tiles.tzc" --include "$work/tiles/" --threads 2 >/dev/null 2>&1 ||
    echo "list create: $exe failed"
  cp "$work"/tiles.tzc* "$out/create/"
  "${!exe}" list create "$work/videos.tzc" --video "$work/clips/" --include "$work/tiles/sub/" >/dev/null 2>&1 ||
    echo "list create --video: $exe failed"
  cp "$work"/videos.tzc* "$out/video/"
  # The video mosaic's frame count and rate come from the clips' own.
  "${!exe}" mosaic "$work/main.jpg" --list "$work/videos.tzc" --set MosaicSizeUnit=pixel --set MosaicSizeWidth=320 \
    --set MosaicSizeHeight=200 --set TileSize=16 --set RezIroriz=0 --set FileFormat=avi_uncompressed \
    --set Advanced.DivarAdadir.ReverseLoop=NECESSARY --output "$out/mosaic/m.avi" --yes --quiet >/dev/null 2>&1 ||
    echo "video mosaic: $exe failed"
  # The library changes: a picture goes, one comes, one is rewritten.
  mv "$work/tiles/j001.jpg" "$work/j001.jpg"
  cp "$work/tiles/sub/p001.png" "$work/tiles/new.png"
  touch -d "2020-01-01 00:00:00" "$work/tiles/new.png"
  "${!exe}" list update "$work/tiles.tzc" --threads 2 >/dev/null 2>&1 || echo "list update: $exe failed"
  cp "$work"/tiles.tzc* "$out/update/"
  mv "$work/j001.jpg" "$work/tiles/j001.jpg"
  rm -f "$work/tiles/new.png"
  for mode in clips jpg bmp; do
    "${!exe}" extract "$work/film/scenes.avi" --mode $mode --count 7 >/dev/null 2>&1 || echo "extract $mode: $exe failed"
    find "$work/film" -mindepth 1 -maxdepth 1 -type d -exec mv {} "$out/$mode/" \;
  done
  # Every step wrote something.
  for step in create video update mosaic clips jpg bmp; do
    [ -n "$(ls -A "$out/$step")" ] || echo "$step: $exe wrote nothing"
  done
  ls "$out/clips" | grep -q "Static Video" || echo "clips: $exe found no static clip"
done
for step in create video update mosaic clips jpg bmp; do compare $step; done
echo "$different different"
[ "$different" -eq 0 ]
