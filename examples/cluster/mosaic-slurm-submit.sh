#!/usr/bin/env bash
# Queues one split mosaic on Slurm: a first job places the tiles, saves the
# placement and writes piece 1; an array job, started only when it has
# succeeded, renders pieces 2..PIECES from that placement, one task a piece.
# The image, the list and the output folder must be on a file system every
# node sees at the same path.
#
#   examples/cluster/mosaic-slurm-submit.sh IMAGE LIST.tzc OUTPUT WxH PIECES [--set KEY=VALUE]...
set -euo pipefail

[ $# -ge 5 ] || { echo "usage: $0 IMAGE LIST.tzc OUTPUT WxH PIECES [--set KEY=VALUE]..." >&2; exit 2; }
image=$(realpath "$1")
list=$(realpath "$2")
output=$(realpath -m "$3")
split=$4
pieces=$5
shift 5
program=${TESSELLARIUM:-tessellarium}
placement="$output.placement.txt"
command=$(printf '%q ' "$program" mosaic "$image" --list "$list" --output "$output" --split "$split" "$@" --no --quiet)

first=$(sbatch --parsable --job-name=tess-place --output=tess-place-%j.log \
  --wrap="$command --save-placement $(printf '%q' "$placement") --pieces 1-1")
if [ "$pieces" -gt 1 ]; then
  sbatch --parsable --dependency="afterok:$first" --array="2-$pieces" --job-name=tess-piece \
    --output=tess-piece-%A_%a.log \
    --wrap="$command --placement $(printf '%q' "$placement") --pieces \$SLURM_ARRAY_TASK_ID-\$SLURM_ARRAY_TASK_ID"
fi
