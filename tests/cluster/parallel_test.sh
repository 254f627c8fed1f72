#!/usr/bin/env bash
# The GNU parallel examples with four jobs at once on generated pictures:
# list-parallel.sh gives the list one `list create` gives, byte for byte,
# error file included, and mosaic-parallel.sh the pieces one `mosaic` gives.
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
[ -z "$(ls -d "$list".parts* 2>/dev/null)" ] || { echo "FAILED: the partial lists were left behind"; exit 1; }
echo "the list of four parallel shares equals the list of one process"

# A split mosaic of that list with the default settings but its size: the
# script works out the nine pieces itself and writes them without the web
# mosaic the defaults ask for. Placed once, rendered by four parallel jobs,
# they equal the pieces one process writes.
ffmpeg -loglevel error -f lavfi -i "testsrc2=size=640x480" -frames:v 1 "$work/main.png"
settings=(--set MosaicSizeUnit=pixel --set MosaicSizeWidth=600 --set MosaicSizeHeight=450 --set TileSize=12
          --set FileFormat=bmp --set MultiSize2=10)
mkdir -p "$work/one" "$work/many"
"$program" mosaic "$work/main.png" --list "$list" --output "$work/one/m.bmp" --split 200x150 "${settings[@]}" \
  --set RezIroriz=0 --no --quiet >/dev/null
"$examples/mosaic-parallel.sh" "$work/main.png" "$list" "$work/many/m.bmp" 200x150 "${settings[@]}" 2>/dev/null
pieces=$(ls "$work/one" | wc -l)
[ "$pieces" -eq 9 ] || { echo "FAILED: one process wrote $pieces files, not nine pieces"; exit 1; }
for piece in "$work"/one/*; do
  cmp "$piece" "$work/many/$(basename "$piece")" || { echo "FAILED: $(basename "$piece") differs"; exit 1; }
done
[ "$(ls "$work/many" | wc -l)" -eq 9 ] || { echo "FAILED: the parallel run left other files"; exit 1; }
echo "the nine pieces of four parallel jobs equal those of one process"

# A piece that fails stops the run with its status and takes the placement
# with it.
cat >"$work/failing" <<FAILING
#!/usr/bin/env bash
[[ " \$* " == *" --pieces 5-5 "* ]] && exit 1
exec "$program" "\$@"
FAILING
chmod +x "$work/failing"
mkdir -p "$work/broken"
if TESSELLARIUM="$work/failing" "$examples/mosaic-parallel.sh" "$work/main.png" "$list" "$work/broken/m.bmp" 200x150 \
  "${settings[@]}" >/dev/null 2>&1; then
  echo "FAILED: a failed piece ended the script with status 0"; exit 1
fi
[ ! -e "$work/broken/m.bmp.placement.txt" ] || { echo "FAILED: the placement was left behind"; exit 1; }
echo "a failed piece fails the script and leaves no placement"
