#!/usr/bin/env bash
# Queues a sharded list analysis on Slurm: an array job of SHARES tasks (one
# share each) and a join that starts only when every task has succeeded;
# both run list-slurm.sbatch. The picture folders and LIST's folder must be
# on a file system every node sees at the same path.
#
#   examples/cluster/list-slurm-submit.sh LIST.tzc SHARES PICTURE_FOLDER...
#
# Environment: TESSELLARIUM (the program), and what each job asks of Slurm:
# CPUS (cores a share is analysed with, default 4), MEMORY (default 4G), TIME
# (default 4:00:00).
#
# The partial lists wait in LIST.parts/ and go once the join has made LIST.
# When a share fails, Slurm cancels the join and the finished shares stay:
# queue the failed share K again, then the join, with the same exported
# SHARES, LIST and PARTS (the script prints them):
#   sbatch --array=K list-slurm.sbatch share PICTURE_FOLDER...
#   sbatch --dependency=afterok:ID --kill-on-invalid-dep=yes list-slurm.sbatch merge
set -euo pipefail

[ $# -ge 3 ] || { echo "usage: $0 LIST.tzc SHARES PICTURE_FOLDER..." >&2; exit 2; }
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
LIST=$(realpath -m "$1")
SHARES=$2
shift 2
[[ $SHARES =~ ^[1-9][0-9]*$ ]] || { echo "error: SHARES must be a whole number from 1, not '$SHARES'" >&2; exit 2; }
pictures=()
for folder in "$@"; do pictures+=("$(realpath "$folder")"); done
# Every job reads these from its environment (sbatch exports the whole of it).
PARTS="$LIST.parts"
TESSELLARIUM=${TESSELLARIUM:-tessellarium}
export LIST SHARES PARTS TESSELLARIUM
resources=(--cpus-per-task="${CPUS:-4}" --mem="${MEMORY:-4G}" --time="${TIME:-4:00:00}" --export=ALL)
mkdir -p "$PARTS"

# --parsable answers "id" or "id;cluster".
array=$(sbatch --parsable "${resources[@]}" --array="1-$SHARES" --job-name=tess-list-share \
  --output=tess-list-share-%A_%a.log "$here/list-slurm.sbatch" share "${pictures[@]}")
array=${array%%;*}
# Without --kill-on-invalid-dep a failed share would leave the join pending for ever.
merge=$(sbatch --parsable "${resources[@]}" --dependency="afterok:$array" --kill-on-invalid-dep=yes \
  --job-name=tess-list-merge --output=tess-list-merge-%j.log "$here/list-slurm.sbatch" merge)
merge=${merge%%;*}
echo "queued: shares $array (1-$SHARES), join $merge; SHARES=$SHARES LIST=$LIST PARTS=$PARTS"
