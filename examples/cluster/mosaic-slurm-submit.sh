#!/usr/bin/env bash
# Queues one split mosaic on Slurm: a first job places the tiles, saves the
# placement and writes piece 1; an array job, started only when it has
# succeeded, renders the other pieces from that placement, one task a piece;
# a last job removes the placement once every piece is written. All three run
# mosaic-slurm.sbatch. The image, the list and the output folder must be on a
# file system every node sees at the same path.
#
#   examples/cluster/mosaic-slurm-submit.sh IMAGE LIST.tzc OUTPUT WxH [SETTINGS]...
#
# SETTINGS are any of --set KEY=VALUE, --settings FILE and --section NAME.
# How many pieces the split gives is asked of `tessellarium summary --split`
# here, with the same settings. Environment: TESSELLARIUM (the program), and
# what each job asks of Slurm: CPUS (cores, the program's thread count;
# default 8), MEMORY (default 16G), TIME (default 8:00:00).
#
# A web mosaic (RezIroriz) is made of the whole mosaic in one run, never of
# pieces, so the pieces are written without one (--set RezIroriz=0).
#
# When a piece fails, Slurm cancels the last job and the placement stays, so
# that the failed piece K can be queued again with the same exported IMAGE,
# LIST, OUTPUT, SPLIT and PLACEMENT (the script prints them):
#   sbatch --array=K mosaic-slurm.sbatch piece [SETTINGS]...
set -euo pipefail

usage="usage: $0 IMAGE LIST.tzc OUTPUT WxH [--set KEY=VALUE | --settings FILE | --section NAME]..."
[ $# -ge 4 ] || { echo "$usage" >&2; exit 2; }
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
IMAGE=$(realpath "$1")
LIST=$(realpath "$2")
OUTPUT=$(realpath -m "$3")
SPLIT=$4
shift 4
# The piece count used to be given here; the program works it out now.
if [[ ${1:-} =~ ^[0-9]+$ ]]; then
  echo "note: the piece count '$1' is no longer needed: it is worked out from the settings" >&2
  shift
fi
TESSELLARIUM=${TESSELLARIUM:-tessellarium}
PLACEMENT="$OUTPUT.placement.txt"
export IMAGE LIST OUTPUT SPLIT PLACEMENT TESSELLARIUM
settings=("$@" --set RezIroriz=0)
echo "note: split pieces are written without a web mosaic (RezIroriz=0): a web mosaic needs the whole mosaic in one run" >&2

# The pieces `mosaic --split` cuts this mosaic into, in the program's own
# (untranslated) words.
summary=$(LC_ALL=C LANGUAGE='' "$TESSELLARIUM" summary "$IMAGE" --split "$SPLIT" "${settings[@]}")
pieces=$(sed -n 's/^Split Pieces: [0-9]* x [0-9]* = \([0-9]*\)$/\1/p' <<<"$summary")
[ -n "$pieces" ] || { echo "error: 'tessellarium summary' gave no piece count for this mosaic" >&2; exit 2; }

resources=(--cpus-per-task="${CPUS:-8}" --mem="${MEMORY:-16G}" --time="${TIME:-8:00:00}" --export=ALL)
job="$here/mosaic-slurm.sbatch"
if [ "$pieces" -lt 2 ]; then
  # One piece is the whole mosaic: one job writes it.
  whole=$(sbatch --parsable "${resources[@]}" --job-name=tess-mosaic --output=tess-mosaic-%j.log \
    "$job" whole "${settings[@]}")
  echo "queued: mosaic ${whole%%;*} (one piece)"
  exit 0
fi
# --parsable answers "id" or "id;cluster".
first=$(sbatch --parsable "${resources[@]}" --job-name=tess-place --output=tess-place-%j.log \
  "$job" place "${settings[@]}")
first=${first%%;*}
# Without --kill-on-invalid-dep a failed job would leave the next pending for ever.
rest=$(sbatch --parsable "${resources[@]}" --dependency="afterok:$first" --kill-on-invalid-dep=yes \
  --array="2-$pieces" --job-name=tess-piece --output=tess-piece-%A_%a.log "$job" piece "${settings[@]}")
rest=${rest%%;*}
tidy=$(sbatch --parsable --time=0:05:00 --mem=100M --export=ALL --dependency="afterok:$rest" \
  --kill-on-invalid-dep=yes --job-name=tess-tidy --output=tess-tidy-%j.log "$job" tidy)
tidy=${tidy%%;*}
echo "queued: placement and piece 1 $first, pieces 2-$pieces $rest, tidying $tidy;" \
  "IMAGE=$IMAGE LIST=$LIST OUTPUT=$OUTPUT SPLIT=$SPLIT PLACEMENT=$PLACEMENT"
