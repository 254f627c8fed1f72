#!/usr/bin/env bash
# The Slurm examples under a stand-in sbatch (tests/cluster/sbatch) that runs
# each job as it is queued: the list of three shares equals the list of one
# process, also when a failed share is queued again on its own; the split
# mosaic's pieces equal those of one process. Folder names with a blank and
# an umlaut, in the C locale, check that arguments reach the jobs as given.
set -euo pipefail
examples=$(cd "$1" && pwd)
program=$(realpath "$2")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
command -v ffmpeg >/dev/null || { echo "skipped: ffmpeg is not installed (scripts/install-deps)"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C PATH="$here:$PATH" SBATCH_STATE="$work/jobs" TESSELLARIUM_CONFIG_PATH="$work/settings"
export TESSELLARIUM="$program"
place="$work/Köln 2024"
mkdir -p "$work/settings" "$place/a b" "$place/b" "$place/lib" "$work/logs"
ffmpeg -loglevel error -f lavfi -i "testsrc2=size=96x72:rate=25" -frames:v 40 -q:v 5 "$place/a b/p%03d.jpg"
ffmpeg -loglevel error -f lavfi -i "mandelbrot=size=72x96:rate=25" -frames:v 20 "$place/b/m%03d.png"
echo "not a picture" >"$place/b/broken.jpg"
cd "$work/logs"  # where the jobs' logs go

# States of the jobs queued since the last call, in order.
states() { for f in $(ls "$SBATCH_STATE" | sort -n); do printf '%s ' "$(cat "$SBATCH_STATE/$f")"; done; }

# A list records its own path, so both are made under one name in turn.
list="$place/lib/tiles.tzc"
"$program" list create "$list" --include "$place/a b" --include "$place/b" >/dev/null 2>&1
mv "$list" "$work/one.tzc"
mv "$list.imageErrors.txt" "$work/one.errors"

"$examples/list-slurm-submit.sh" "$list" 3 "$place/a b" "$place/b" >/dev/null
[ "$(states)" = "ok ok " ] || fail "the list's jobs ended $(states)"
cmp -s "$work/one.tzc" "$list" || fail "the joined list differs from the list of one process"
cmp -s "$work/one.errors" "$list.imageErrors.txt" || fail "the error files differ"
[ -z "$(ls -d "$list".parts* 2>/dev/null)" ] || fail "the partial lists were left behind"
echo "the list of three Slurm shares equals the list of one process"

# Share 2 fails once: the join is cancelled, not left pending, and the other
# shares wait for share 2 queued again on its own, then the join.
rm -f "$list" "$list.imageErrors.txt" && rm -rf "$SBATCH_STATE"
cat >"$work/flaky" <<FLAKY
#!/usr/bin/env bash
if [[ " \$* " == *" --shard 2/"* ]] && [ ! -e "$work/failed-once" ]; then touch "$work/failed-once"; exit 1; fi
exec "$program" "\$@"
FLAKY
chmod +x "$work/flaky"
TESSELLARIUM="$work/flaky" "$examples/list-slurm-submit.sh" "$list" 3 "$place/a b" "$place/b" >/dev/null
[ "$(states)" = "failed cancelled " ] || fail "after a failed share the jobs ended $(states)"
[ -e "$list.parts/part1.tzc" ] && [ -e "$list.parts/part3.tzc" ] || fail "the finished shares were not kept"
export LIST="$list" SHARES=3 PARTS="$list.parts"
again=$(sbatch --parsable --array=2 --cpus-per-task=2 "$examples/list-slurm.sbatch" share "$place/a b" "$place/b")
sbatch --dependency="afterok:${again%%;*}" --kill-on-invalid-dep=yes "$examples/list-slurm.sbatch" merge >/dev/null
unset LIST SHARES PARTS
[ "$(states)" = "failed cancelled ok ok " ] || fail "share 2 queued again ended $(states)"
cmp -s "$work/one.tzc" "$list" || fail "the list joined after share 2 was queued again differs"
[ ! -e "$list.parts" ] || fail "the partial lists were left behind after the join"
echo "a failed share cancels the join, and queued again on its own completes the list"

# A split mosaic with the default settings but its size: a web mosaic is on
# by default, and the pieces are written without it. One process writes the
# same split without the web mosaic.
ffmpeg -loglevel error -f lavfi -i "testsrc2=size=640x480" -frames:v 1 "$work/main.png"
settings=(--set MosaicSizeUnit=pixel --set MosaicSizeWidth=600 --set MosaicSizeHeight=450 --set TileSize=12
          --set FileFormat=bmp --set MultiSize2=10 --set "RezIrorizTitle=Köln 2024")
mkdir -p "$work/one" "$place/many"
"$program" mosaic "$work/main.png" --list "$list" --output "$work/one/m.bmp" --split 200x150 "${settings[@]}" \
  --set RezIroriz=0 --no --quiet >/dev/null
rm -rf "$SBATCH_STATE"
# The program as the jobs call it, each call's arguments a line.
cat >"$work/record" <<RECORD
#!/usr/bin/env bash
printf '%s\n' "\$*" >>"$work/calls"
exec "$program" "\$@"
RECORD
chmod +x "$work/record"
TESSELLARIUM="$work/record" CPUS=3 "$examples/mosaic-slurm-submit.sh" "$work/main.png" "$list" "$place/many/m.bmp" \
  200x150 "${settings[@]}" >/dev/null 2>"$work/notes"
grep -q "RezIroriz=0" "$work/notes" || fail "the script did not say that the pieces have no web mosaic"
[ "$(states)" = "ok ok ok " ] || fail "the mosaic's jobs ended $(states)"
[ "$(grep -c '^mosaic .* --set Advanced.Options.ThreadCount=3 ' "$work/calls")" -eq 9 ] || fail "not every piece ran on the job's 3 cores"
pieces=$(ls "$work/one" | wc -l)
[ "$pieces" -eq 9 ] || fail "one process wrote $pieces files, not nine pieces"
for piece in "$work"/one/*; do
  cmp -s "$piece" "$place/many/$(basename "$piece")" || fail "$(basename "$piece") differs"
done
[ "$(ls "$place/many" | wc -l)" -eq 9 ] || fail "the Slurm jobs left other files: $(ls "$place/many")"
echo "the nine pieces of the Slurm jobs equal those of one process"
