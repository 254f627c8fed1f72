#!/usr/bin/env bash
# The jobs of a split mosaic on Slurm, queued by mosaic-slurm-submit.sh:
#   mosaic-slurm.sbatch place [SETTINGS]...  places the tiles, saves the placement, writes piece 1
#   mosaic-slurm.sbatch piece [SETTINGS]...  piece SLURM_ARRAY_TASK_ID from the placement
#   mosaic-slurm.sbatch whole [SETTINGS]...  a mosaic the split leaves in one piece
#   mosaic-slurm.sbatch tidy                 removes the placement once every piece is written
#
#SBATCH --job-name=tess-mosaic
#
# Environment (exported by the submit script): IMAGE, LIST, OUTPUT, SPLIT
# (WxH), PLACEMENT, TESSELLARIUM. The settings come as arguments, so they
# reach the program as they were given, whatever they hold.
set -euo pipefail
: "${IMAGE:?}" "${LIST:?}" "${OUTPUT:?}" "${SPLIT:?}" "${PLACEMENT:?}"
program=${TESSELLARIUM:-tessellarium}
mode=${1:-}
[ $# -gt 0 ] && shift
# The cores Slurm gave the job, not every core of the node (which the
# program would otherwise count, and remember in the shared settings).
common=(mosaic "$IMAGE" --list "$LIST" --output "$OUTPUT" --split "$SPLIT" "$@" --no --quiet
        --set "Advanced.Options.ThreadCount=${SLURM_CPUS_PER_TASK:-1}")

case "$mode" in
  place) exec "$program" "${common[@]}" --save-placement "$PLACEMENT" --pieces 1-1 ;;
  piece) exec "$program" "${common[@]}" --placement "$PLACEMENT" \
           --pieces "$SLURM_ARRAY_TASK_ID-$SLURM_ARRAY_TASK_ID" ;;
  whole) exec "$program" "${common[@]}" ;;
  tidy) rm -f "$PLACEMENT" ;;
  *) echo "usage: $0 place|piece|whole [SETTINGS]... | tidy" >&2; exit 2 ;;
esac
