#!/usr/bin/env bash
# A Tile Images List analysed in shares by GNU parallel, on this machine or
# over ssh on several, then joined into one list: the same file, byte for
# byte, as `tessellarium list create` makes on one machine.
#
#   examples/cluster/list-parallel.sh LIST.tzc SHARES PICTURE_FOLDER...
#
# Environment:
#   TESSELLARIUM   the program (default: tessellarium on the PATH)
#   JOBS           shares analysed at once on each machine (default 1: the
#                  analysis of one share already uses every core)
#   SSH_LOGINS     a GNU parallel --sshloginfile (one host a line, ":" for
#                  this machine); without it every share runs here. The
#                  picture folders, the program and the folder of LIST must
#                  be at the same paths on every machine (a shared file
#                  system): a picture's share is decided by its path.
#
# The partial lists live in a folder beside LIST that goes when the script
# ends, whether the join was made or not.
set -euo pipefail

[ $# -ge 3 ] || { echo "usage: $0 LIST.tzc SHARES PICTURE_FOLDER..." >&2; exit 2; }
list=$(realpath -m "$1")
shares=$2
shift 2
[[ $shares =~ ^[1-9][0-9]*$ ]] || { echo "error: SHARES must be a whole number from 1, not '$shares'" >&2; exit 2; }
program=${TESSELLARIUM:-tessellarium}
jobs=${JOBS:-1}

includes=()
for folder in "$@"; do includes+=(--include "$(realpath "$folder")"); done

mkdir -p "$(dirname "$list")"
parts=$(mktemp -d "$list.parts.XXXXXX")
trap 'rm -rf "$parts"' EXIT

remote=()
[ -n "${SSH_LOGINS:-}" ] && remote=(--sshloginfile "$SSH_LOGINS" --workdir "$PWD")

# One job a share; --halt stops the others at the first failure, so a
# broken share never reaches the join.
parallel -q "${remote[@]}" --jobs "$jobs" --halt now,fail=1 \
  "$program" list create "$parts/part{}.tzc" "${includes[@]}" --shard "{}/$shares" ::: $(seq 1 "$shares")

parts_list=()
for k in $(seq 1 "$shares"); do parts_list+=("$parts/part$k.tzc"); done
"$program" list merge "$list" "${parts_list[@]}"
