#!/usr/bin/env bash
# The jobs of a list analysed in shares on Slurm, queued by
# list-slurm-submit.sh:
#   list-slurm.sbatch share PICTURE_FOLDER...   one share, as one task of an array job
#   list-slurm.sbatch merge                     the join of every share into LIST
#
#SBATCH --job-name=tess-list
#SBATCH --cpus-per-task=4
#
# Environment (exported by the submit script): LIST, SHARES (how many shares
# the pictures are cut into: not the array's size, which is 1 when one share
# is queued again), PARTS (the folder of the partial lists), TESSELLARIUM.
set -euo pipefail
: "${LIST:?}" "${SHARES:?}" "${PARTS:?}"
program=${TESSELLARIUM:-tessellarium}

case "${1:-}" in
  share)
    shift
    includes=()
    for folder in "$@"; do includes+=(--include "$folder"); done
    # The array's task ids run 1..SHARES, so they name the shares directly.
    exec "$program" list create "$PARTS/part$SLURM_ARRAY_TASK_ID.tzc" "${includes[@]}" \
      --threads "${SLURM_CPUS_PER_TASK:-1}" --shard "$SLURM_ARRAY_TASK_ID/$SHARES"
    ;;
  merge)
    parts=()
    for k in $(seq 1 "$SHARES"); do parts+=("$PARTS/part$k.tzc"); done
    "$program" list merge "$LIST" "${parts[@]}"
    # Only a join that was made lets the shares go.
    rm -rf "$PARTS"
    ;;
  *)
    echo "usage: $0 share PICTURE_FOLDER... | merge" >&2
    exit 2
    ;;
esac
