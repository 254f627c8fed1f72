#!/usr/bin/env bash
# Queues a sharded list analysis on Slurm: an array job of SHARES tasks (one
# share each, list-slurm.sbatch) and a join that starts only when every task
# has succeeded. The picture folders and LIST's folder must be on a file
# system every node sees at the same path.
#
#   examples/cluster/list-slurm-submit.sh LIST.tzc SHARES PICTURE_FOLDER...
set -euo pipefail

[ $# -ge 3 ] || { echo "usage: $0 LIST.tzc SHARES PICTURE_FOLDER..." >&2; exit 2; }
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export LIST=$(realpath -m "$1")
shares=$2
shift 2
pictures=()
for folder in "$@"; do pictures+=("$(realpath "$folder")"); done
export PICTURES=$(IFS=:; echo "${pictures[*]}")
export TESSELLARIUM=${TESSELLARIUM:-tessellarium}
mkdir -p "$LIST.parts"

array=$(sbatch --parsable --export=ALL --array="1-$shares" "$here/list-slurm.sbatch")
parts=$(for k in $(seq 1 "$shares"); do printf '%q ' "$LIST.parts/part$k.tzc"; done)
sbatch --parsable --export=ALL --dependency="afterok:$array" --job-name=tess-list-merge \
  --output=tess-list-merge-%j.log --wrap="$TESSELLARIUM list merge $(printf '%q' "$LIST") $parts"
