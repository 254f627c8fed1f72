#!/usr/bin/env bash
# examples/cluster/list-parallel.sh with four jobs at once on generated
# pictures gives the list one `list create` gives, byte for byte, error file
# included.
set -euo pipefail
examples=$1
program=$2
command -v parallel >/dev/null || { echo "skipped: GNU parallel is not installed (scripts/install-deps)"; exit 77; }
command -v ffmpeg >/dev/null || { echo "skipped: ffmpeg is not installed (scripts/install-deps)"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TESSELLARIUM_CONFIG_PATH="$work/settings" TESSELLARIUM="$program" JOBS=4
mkdir -p "$work/settings" "$work/a b" "$work/b/deeper" "$work/lib"
ffmpeg -loglevel error -f lavfi -i "testsrc2=size=96x72:rate=25" -frames:v 60 -q:v 5 "$work/a b/p%03d.jpg"
ffmpeg -loglevel error -f lavfi -i "mandelbrot=size=72x96:rate=25" -frames:v 30 "$work/b/deeper/m%03d.png"
echo "not a picture" >"$work/b/broken.jpg"

# A list records its own path, so both are made under one name in turn.
list="$work/lib/tiles.tzc"
"$program" list create "$list" --include "$work/a b" --include "$work/b" >/dev/null 2>&1
mv "$list" "$work/one.tzc"
mv "$list.imageErrors.txt" "$work/one.errors"
"$examples/list-parallel.sh" "$list" 4 "$work/a b" "$work/b" >/dev/null 2>&1
cmp "$work/one.tzc" "$list" || { echo "FAILED: the joined list differs from the list of one process"; exit 1; }
cmp "$work/one.errors" "$list.imageErrors.txt" || { echo "FAILED: the error files differ"; exit 1; }
[ ! -e "$list.parts" ] || { echo "FAILED: the partial lists were left behind"; exit 1; }
echo "the list of four parallel shares equals the list of one process"
