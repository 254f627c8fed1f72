#!/usr/bin/env bash
# One split mosaic rendered by GNU parallel, on this machine or over ssh on
# several: the first job places the tiles, saves the placement and writes
# piece 1; every other piece is rendered from that placement by a job of its
# own. The pieces equal those one process writes, byte for byte.
#
#   examples/cluster/mosaic-parallel.sh IMAGE LIST.tzc OUTPUT WxH PIECES [--set KEY=VALUE]...
#
# PIECES is how many pieces the split gives (the mosaic's width and height
# over W and H, rounded up, multiplied); OUTPUT names the mosaic as --output
# does. Environment: TESSELLARIUM (the program), JOBS (pieces rendered at
# once on each machine, default 1), SSH_LOGINS (a GNU parallel
# --sshloginfile; the files must be at the same paths on every machine).
set -euo pipefail

[ $# -ge 5 ] || { echo "usage: $0 IMAGE LIST.tzc OUTPUT WxH PIECES [--set KEY=VALUE]..." >&2; exit 2; }
image=$(realpath "$1")
list=$(realpath "$2")
output=$(realpath -m "$3")
split=$4
pieces=$5
shift 5
program=${TESSELLARIUM:-tessellarium}
jobs=${JOBS:-1}
placement="$output.placement.txt"

common=(mosaic "$image" --list "$list" --output "$output" --split "$split" "$@" --no --quiet)
# The placement is worked out once.
"$program" "${common[@]}" --save-placement "$placement" --pieces 1-1 >/dev/null

remote=()
[ -n "${SSH_LOGINS:-}" ] && remote=(--sshloginfile "$SSH_LOGINS" --workdir "$PWD")
if [ "$pieces" -gt 1 ]; then
  parallel -q "${remote[@]}" --jobs "$jobs" --halt now,fail=1 \
    "$program" "${common[@]}" --placement "$placement" --pieces "{}-{}" ::: $(seq 2 "$pieces") >/dev/null
fi
rm -f "$placement"
