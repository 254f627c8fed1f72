#!/usr/bin/env bash
# The real program on library-size lists: `list show` of a synthesised
# 1,000,000-entry list (load, count, print) and `list update` of an unchanged
# 100,000-file tree (load, scan, check every file, save), each with its wall
# time and peak resident memory. The files come from list_scale_bench --make.
#   bench/list_scale.sh [BUILD_DIR] [WORK_DIR]
set -euo pipefail

build=${1:-build}
work=${2:-$build/list_scale}
exe="$build/bin/tessellarium"
maker="$build/bench/list_scale_bench"
[ -x "$exe" ] && [ -x "$maker" ] || { echo "list_scale: build $exe and $maker first"; exit 1; }
[ -x /usr/bin/time ] || { echo "list_scale: /usr/bin/time is missing (Debian package time)"; exit 1; }

rm -rf "$work"
mkdir -p "$work/settings"
export TESSELLARIUM_CONFIG_PATH="$work/settings"
echo "list_scale: synthesising a 1,000,000-entry list and a 100,000-file tree"
"$maker" --make "$work"
ls -l "$work/million.tzc" "$work/tree.tzc"

timed() {
  local label=$1
  shift
  /usr/bin/time -f "$label: %e s wall, %M KB peak resident" "$@" >/dev/null
}

# Twice each: the first run also reads the files into the page cache.
for run in 1 2; do
  timed "list show, 1,000,000 entries (run $run)" "$exe" list show "$work/million.tzc"
  timed "list update, 100,000 unchanged files (run $run)" "$exe" list update "$work/tree.tzc"
done
[ "$("$exe" list show "$work/tree.tzc" | sed -n 's/^Entries: //p')" = 100000 ] ||
  { echo "list_scale: the update lost entries (a file was decoded)"; exit 1; }
