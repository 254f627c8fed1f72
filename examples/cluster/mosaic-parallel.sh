#!/usr/bin/env bash
# One split mosaic rendered by GNU parallel, on this machine or over ssh on
# several: the first job places the tiles, saves the placement and writes
# piece 1; every other piece is rendered from that placement by a job of its
# own. The pieces equal those one process writes, byte for byte.
#
#   examples/cluster/mosaic-parallel.sh IMAGE LIST.tzc OUTPUT WxH [SETTINGS]...
#
# OUTPUT names the mosaic as --output does; SETTINGS are any of
# --set KEY=VALUE, --settings FILE and --section NAME. How many pieces the
# split gives is asked of `tessellarium summary --split WxH` with the same
# settings. Environment: TESSELLARIUM (the program), JOBS (pieces rendered at
# once on each machine, default 1), SSH_LOGINS (a GNU parallel
# --sshloginfile; the files must be at the same paths on every machine).
#
# A web mosaic (RezIroriz) is made of the whole mosaic in one run, never of
# pieces, so the pieces are written without one (--set RezIroriz=0); make
# the web mosaic with one `tessellarium mosaic` run if you want it.
set -euo pipefail

usage="usage: $0 IMAGE LIST.tzc OUTPUT WxH [--set KEY=VALUE | --settings FILE | --section NAME]..."
[ $# -ge 4 ] || { echo "$usage" >&2; exit 2; }
image=$(realpath "$1")
list=$(realpath "$2")
output=$(realpath -m "$3")
split=$4
shift 4
# The piece count used to be given here; the program works it out now.
if [[ ${1:-} =~ ^[0-9]+$ ]]; then
  echo "note: the piece count '$1' is no longer needed: it is worked out from the settings" >&2
  shift
fi
program=${TESSELLARIUM:-tessellarium}
jobs=${JOBS:-1}
settings=("$@" --set RezIroriz=0)
echo "note: split pieces are written without a web mosaic (RezIroriz=0): a web mosaic needs the whole mosaic in one run" >&2

# The pieces `mosaic --split` cuts this mosaic into, in the program's own
# (untranslated) words.
summary=$(LC_ALL=C LANGUAGE='' "$program" summary "$image" --split "$split" "${settings[@]}")
pieces=$(sed -n 's/^Split Pieces: [0-9]* x [0-9]* = \([0-9]*\)$/\1/p' <<<"$summary")
[ -n "$pieces" ] || { echo "error: 'tessellarium summary' gave no piece count for this mosaic" >&2; exit 2; }

common=(mosaic "$image" --list "$list" --output "$output" --split "$split" "${settings[@]}" --no --quiet)
if [ "$pieces" -lt 2 ]; then
  # One piece is the whole mosaic: nothing to share out.
  "$program" "${common[@]}" >/dev/null
  exit 0
fi

placement="$output.placement.txt"
trap 'rm -f "$placement"' EXIT
# The placement is worked out once.
"$program" "${common[@]}" --save-placement "$placement" --pieces 1-1 >/dev/null

remote=()
[ -n "${SSH_LOGINS:-}" ] && remote=(--sshloginfile "$SSH_LOGINS" --workdir "$PWD")
parallel -q "${remote[@]}" --jobs "$jobs" --halt now,fail=1 \
  "$program" "${common[@]}" --placement "$placement" --pieces "{}-{}" ::: $(seq 2 "$pieces") >/dev/null
echo "$pieces pieces written"
