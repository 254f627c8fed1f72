#!/usr/bin/env bash
# The cost of analysing a library in shares: `list create` of a picture
# folder in one process against the same folder in N shares (`list create
# --shard K/N`, run one after another on this machine) joined by `list merge`.
# The shares' sum plus the join, over the single run, is what sharding costs;
# the merged list is checked to be byte-identical to the single one. From
# the measured times it projects the wall time on M machines.
#
#   bench/list_shards.sh [BUILD_DIR] [WORK_DIR] [PICTURE_DIR...]
#
# Without picture folders it makes two from FFmpeg's test pattern with grain:
# 10,000 pictures of 160 × 120 (cheap to decode, so the scan and start-up of
# every share weigh most) and 400 of 4,000 × 3,000, twelve megapixels like a
# camera's photos, where decoding dominates as it does with a real library.
#
# Environment: SHARDS (4), THREADS per process (2), MACHINES ("1 4 16 64").
set -euo pipefail

build=${1:-build}
work=${2:-$build/list_shards}
shift $(( $# > 2 ? 2 : $# ))
shards=${SHARDS:-4}
threads=${THREADS:-2}
machines=${MACHINES:-1 4 16 64}
exe="$build/bin/tessellarium"
[ -x "$exe" ] || { echo "list_shards: build $exe first" >&2; exit 1; }

mkdir -p "$work/settings"
export TESSELLARIUM_CONFIG_PATH="$work/settings"
folders=("$@")
if [ ${#folders[@]} -eq 0 ]; then
  for spec in "small 160x120 10000" "photos 4000x3000 400"; do
    read -r name size count <<<"$spec"
    folders+=("$work/$name")
    [ -d "$work/$name" ] && [ "$(ls "$work/$name" | wc -l)" -eq "$count" ] && continue
    rm -rf "${work:?}/$name" && mkdir -p "$work/$name"
    echo "list_shards: making $count pictures of $size in $work/$name" >&2
    # Grain makes the JPEGs as costly to decode as photographs; FFmpeg's
    # smooth test pattern alone decodes several times faster.
    ffmpeg -loglevel error -f lavfi -i "testsrc2=size=$size:rate=25" -vf "noise=alls=30:allf=t" \
      -frames:v "$count" -q:v 3 "$work/$name/p%05d.jpg"
  done
fi

seconds() { local start=$1 end; end=$(date +%s.%N); echo "$end - $start" | bc -l; }

echo "| pictures | one process s | $shards shares s (sum) | merge s | overhead | per share s (slowest) |"
echo "|---|---|---|---|---|---|"
declare -A share_sums
for folder in "${folders[@]}"; do
  count=$(find "$folder" -type f | wc -l)
  # One untimed pass reads the pictures into the page cache for both.
  "$exe" list create "$work/warm.tzc" --include "$folder" --threads "$threads" >/dev/null 2>&1
  start=$(date +%s.%N)
  "$exe" list create "$work/whole.tzc" --include "$folder" --threads "$threads" >/dev/null 2>&1
  single=$(seconds "$start")
  cp "$work/whole.tzc" "$work/single.tzc"
  total=0 slowest=0 parts=()
  for k in $(seq 1 "$shards"); do
    start=$(date +%s.%N)
    "$exe" list create "$work/part$k.tzc" --include "$folder" --threads "$threads" --shard "$k/$shards" >/dev/null 2>&1
    took=$(seconds "$start")
    total=$(echo "$total + $took" | bc -l)
    slowest=$(echo "if ($took > $slowest) $took else $slowest" | bc -l)
    parts+=("$work/part$k.tzc")
  done
  start=$(date +%s.%N)
  "$exe" list merge "$work/whole.tzc" "${parts[@]}" >/dev/null
  merge=$(seconds "$start")
  cmp -s "$work/whole.tzc" "$work/single.tzc" || { echo "list_shards: the merged list differs" >&2; exit 1; }
  overhead=$(echo "($total + $merge) / $single * 100 - 100" | bc -l)
  share_sums[$folder]="$total $merge $single"
  printf "| %d (%s) | %.2f | %.2f | %.2f | %+.1f %% | %.2f |\n" "$count" "$(basename "$folder")" "$single" "$total" \
    "$merge" "$overhead" "$slowest"
done

echo
echo "Projected wall time with the library split into M shares on M machines. Each share pays a fixed"
echo "cost (start-up and the scan of the whole folder set), estimated as (shares' sum - one process) /"
echo "($shards - 1); the rest of one process's time divides among the machines; the join comes last:"
echo
echo "| pictures | $(printf '%s machines | ' $machines)"
echo "|---|$(printf -- '---|%.0s' $machines)"
for folder in "${folders[@]}"; do
  read -r total merge single <<<"${share_sums[$folder]}"
  fixed=$(echo "f = ($total - $single) / ($shards - 1); if (f < 0) f = 0; f" | bc -l)
  row="| $(basename "$folder") |"
  for m in $machines; do
    t=$(echo "$fixed + ($single - $fixed) / $m + $merge" | bc -l)
    [ "$m" -eq 1 ] && t=$single
    row+=" $(printf '%.2f' "$t") |"
  done
  echo "$row"
done
