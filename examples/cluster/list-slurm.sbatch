#!/usr/bin/env bash
# One share of a Tile Images List, as one task of a Slurm array job. Submit
# it with examples/cluster/list-slurm-submit.sh, which also queues the join.
#
#SBATCH --job-name=tess-list-share
#SBATCH --cpus-per-task=4
#SBATCH --output=tess-list-share-%A_%a.log
#
# Environment (exported by the submit script): LIST, PICTURES (folders,
# separated by ":"), TESSELLARIUM (the program).
set -euo pipefail

includes=()
IFS=: read -r -a folders <<<"$PICTURES"
for folder in "${folders[@]}"; do includes+=(--include "$folder"); done

# The array's task ids run 1..N, so they name the shares directly.
"${TESSELLARIUM:-tessellarium}" list create "$LIST.parts/part$SLURM_ARRAY_TASK_ID.tzc" "${includes[@]}" \
  --threads "${SLURM_CPUS_PER_TASK:-1}" --shard "$SLURM_ARRAY_TASK_ID/$SLURM_ARRAY_TASK_COUNT"
