#!/usr/bin/env bash
# Side by side with metapixel, another photomosaic program: the same tile
# photos, the same main image and the same grid for both, at each library size
# of TILE_COUNTS. Per size it times
#   - getting the tile library ready (our list creation, metapixel-prepare);
#   - one mosaic with duplicates at least 3 tiles apart, at colour change 0
#     and 30 % (metapixel's local search with --distance=3, and --cheat=30,
#     its blend of the main image into the tiles, for the 30 % class), and
#     at colour change 0 once more with the Weaker comparison (the entry
#     distances added as they are, no curve);
#   - one mosaic without duplicates at both colour classes: ours in High
#     Quality with every tile used at most once, and in the Experimental
#     processing, each against metapixel's global search;
#   - end to end: the library plus those six mosaics, for each program;
# and how close each mosaic's cell colours come to the main image (mean CIE76
# ΔE of the cell means, measured by the delta_e helper built beside the
# benchmarks). Prints one table, in Markdown, and keeps it in WORK_DIR.
#
#   bench/peer/compare_metapixel.sh [BUILD_DIR] [WORK_DIR]
#
# Environment:
#   TILE_COUNTS           library sizes, in photos ("2000 10000")
#   EXPERIMENTAL_LIMIT    seconds an Experimental mosaic may take before it is
#                         stopped the way Ctrl-C stops it, which keeps the
#                         last finished assignment (300)
#   REPEATS               runs of each mosaic, for both programs; the table
#                         gives the median (3). The libraries are made once.
#   TESS_SAMPLE_PICTURES  the folder of Debian's python3-skimage sample photos
#
# The tiles are real photographs: seeded crops of the skimage sample photos at
# three scales, with shifted hue, saturation and brightness, half of them
# mirrored, cut to 160 × 120 JPEGs. The main image is another of those photos,
# scaled to 2,560 pixels wide and cut to 2,560 × 1,536, so that 40 tiles a row
# of 64 × 48 pixels (the tiles' own 4:3 shape) make 40 × 32 cells for both
# programs without a partial row.
set -euo pipefail

build=${1:-build}
work=${2:-$build/compare_metapixel}
tile_counts=${TILE_COUNTS:-2000 10000}
experimental_limit=${EXPERIMENTAL_LIMIT:-300}
repeats=${REPEATS:-3}
pictures=${TESS_SAMPLE_PICTURES:-/usr/lib/python3/dist-packages/skimage/data}
exe="$build/bin/tessellarium"
delta_e="$build/bench/delta_e"

say() { echo "compare_metapixel: $*" >&2; }
fail() { say "$*"; exit 1; }

[ -x "$exe" ] || fail "$exe is not built (target tessellarium)"
[ -x "$delta_e" ] || fail "$delta_e is not built (target delta_e)"
command -v metapixel >/dev/null && command -v metapixel-prepare >/dev/null ||
  fail "metapixel is missing: install the Debian package metapixel (scripts/install-deps does)"
command -v ffmpeg >/dev/null || fail "ffmpeg is missing (scripts/install-deps installs it)"
for count in $tile_counts; do
  [[ $count =~ ^[1-9][0-9]*$ ]] || fail "TILE_COUNTS holds '$count', not a number of photos"
done
[[ $experimental_limit =~ ^[1-9][0-9]*$ ]] || fail "EXPERIMENTAL_LIMIT must be a number of seconds"
[[ $repeats =~ ^[1-9][0-9]*$ ]] || fail "REPEATS must be a number of runs"

main_source="$pictures/coffee.png"
tile_sources=(astronaut.png chelsea.png motorcycle_left.png motorcycle_right.png
              hubble_deep_field.jpg rocket.jpg retina.jpg ihc.png)
for source in "${tile_sources[@]}"; do
  [ -f "$pictures/$source" ] || fail "no $pictures/$source (install python3-skimage or set TESS_SAMPLE_PICTURES)"
done
[ -f "$main_source" ] || fail "no $main_source (install python3-skimage or set TESS_SAMPLE_PICTURES)"

mosaic_w=2560 mosaic_h=1536
columns=40 rows=32
tile_w=$((mosaic_w / columns)) tile_h=$((mosaic_h / rows))
cells=$((columns * rows))

rm -rf "$work"
mkdir -p "$work/settings"
# The benchmark keeps its settings apart from the user's.
export TESSELLARIUM_CONFIG_PATH="$work/settings"

# Arithmetic on decimals; awk is on every system, bc is not.
calc() { awk "BEGIN { OFMT = \"%.6f\"; print ($1) }"; }
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }

say "scaling $(basename "$main_source") to the ${mosaic_w}x${mosaic_h} main image"
ff -i "$main_source" -vf "scale=$mosaic_w:-1:flags=lanczos,crop=$mosaic_w:$mosaic_h" -q:v 2 "$work/main.jpg"

# Cuts COUNT tile photos into DIR: every source at three crop scales, plain and
# mirrored, each such run stepping its crop through the picture on a
# low-discrepancy sequence while hue, saturation and brightness swing, so
# neighbouring crops differ. The source is decoded once per run and looped.
cut_tiles() {
  local count=$1 dir=$2
  local scales=(0.9 0.55 0.3)
  local runs=$((${#tile_sources[@]} * ${#scales[@]} * 2))
  local run=0 source scale flip frames filter running=0
  mkdir -p "$dir"
  for source in "${tile_sources[@]}"; do
    for scale in "${scales[@]}"; do
      for flip in 0 1; do
        frames=$((count / runs + (run < count % runs ? 1 : 0)))
        if ((frames > 0)); then
          filter="format=rgb24,loop=loop=$((frames - 1)):size=1:start=0"
          filter+=",crop=w='trunc(min(iw,ih*4/3)*$scale/2)*2':h='trunc(ow*3/8)*2'"
          filter+=":x='(iw-ow)*mod(n*0.618034+$run*0.37,1)':y='(ih-oh)*mod(n*0.754878+$run*0.59,1)'"
          filter+=",scale=160:120,hue=h='45*sin(n*1.7+$run)':s='1+0.3*sin(n*0.9+$run)':b='1.5*sin(n*2.3+$run)'"
          ((flip)) && filter+=",hflip"
          ff -i "$pictures/$source" -vf "$filter" -frames:v "$frames" -q:v 4 "$dir/r$(printf %02d $run)_%05d.jpg" &
          # Two cutters at a time: the machine is shared.
          if ((++running >= 2)); then wait -n; running=$((running - 1)); fi
        fi
        run=$((run + 1))
      done
    done
  done
  wait
  local made
  made=$(find "$dir" -name '*.jpg' | wc -l)
  ((made == count)) || fail "cut $made tile photos into $dir instead of $count"
}

# The median of the numbers given.
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Runs a command and leaves its wall time in seconds in $seconds; a failure
# shows the command's log and ends the comparison.
timed_once() {
  local log="$1"; shift
  local start end
  start=$(date +%s.%N)
  "$@" > "$log" 2>&1 || { cat "$log" >&2; fail "failed: $*"; }
  end=$(date +%s.%N)
  seconds=$(calc "$end - $start")
}

# As timed_once, $repeats times over (each run writes the same output
# again), leaving the median time in $seconds: one run on a shared machine
# can be off by half.
timed() {
  local times=() k
  for ((k = 0; k < repeats; ++k)); do
    timed_once "$@"
    times+=("$seconds")
  done
  seconds=$(median "${times[@]}")
}

# As timed, but the command is interrupted (SIGINT, as Ctrl-C) after LIMIT
# seconds; $stopped says whether it was. An interrupted Experimental run
# saves the assignment it had finished. The signal goes to the command alone:
# sent to its process group as well, it would arrive twice, and a second
# Ctrl-C leaves at once without saving.
timed_limited() {
  local limit="$1" log="$2"; shift 2
  local start end status times=() k
  stopped=0
  for ((k = 0; k < repeats; ++k)); do
    status=0
    start=$(date +%s.%N)
    timeout --foreground --preserve-status -s INT -k 60 "$limit" "$@" > "$log" 2>&1 || status=$?
    end=$(date +%s.%N)
    times+=("$(calc "$end - $start")")
    if (($(calc "${times[-1]} >= $limit ? 1 : 0"))); then
      stopped=1
      # A run that needed stopping would need it again: once is enough.
      ((status == 0)) && break
    fi
    if ((status != 0)); then
      cat "$log" >&2
      ((stopped)) && fail "stopped after ${limit} s before it had a mosaic: $*"
      fail "failed: $*"
    fi
  done
  seconds=$(median "${times[@]}")
}

field() { echo "$1" | awk -v k="$2" '{for (i = 1; i < NF; ++i) if ($i == k) print $(i + 1)}'; }
mean_delta_e() { field "$("$delta_e" "$1" "$work/main.jpg" $columns $rows)" mean_delta_e; }
add() { calc "$1 + $2"; }

rows_out=()
row() {  # tiles, step, our seconds, their seconds, our ΔE, their ΔE
  local ratio
  ratio=$(calc "$4 / $3")
  rows_out+=("$(printf '| %s | %s | %.2f%s | %.2f | %.1f× | %s | %s |' "$1" "$2" "$3" "${7:-}" "$4" "$ratio" "$5" "$6")")
}

for count in $tile_counts; do
  dir="$work/$count"
  mkdir -p "$dir/metapixel-library"
  say "$count tiles: cutting the tile photos"
  cut_tiles "$count" "$dir/tiles"

  say "$count tiles: libraries"
  timed_once "$dir/list.log" "$exe" list create "$dir/tiles.tzc" --include "$dir/tiles/"
  our_total=$seconds
  timed_once "$dir/prepare.log" metapixel-prepare -r --width=$tile_w --height=$tile_h "$dir/tiles" "$dir/metapixel-library"
  their_total=$seconds
  row "$count" "library (list create / metapixel-prepare)" "$our_total" "$their_total" "—" "—"

  # Our mosaic command, built into $command: output, answer, then --set
  # overrides. Built rather than run here, so that timeout can run it too.
  ours() {
    local out="$1" answer="$2" s; shift 2
    command=("$exe" mosaic "$work/main.jpg" --list "$dir/tiles.tzc"
             --set MosaicSizeUnit=pixel --set MosaicSizeWidth=$mosaic_w --set MosaicSizeHeight=$mosaic_h
             --set TileSize=$columns --set TileUnit=tilesxrow --set FileFormat=jpg --set RezIroriz=0)
    for s in "$@"; do command+=(--set "$s"); done
    command+=(--output "$out" "$answer" --quiet)
  }
  # Metapixel's, built into $command: output, then metapixel options.
  theirs() {
    local out="$1"; shift
    command=(metapixel -l "$dir/metapixel-library" -w $tile_w -h $tile_h --scale=1 "$@"
             --metapixel "$work/main.jpg" "$out")
  }

  mosaics=0 stopped_any=""
  for change in 0 30; do
    say "$count tiles: spacing 3, colour change $change"
    # --no keeps the spacing should the list be large enough for the offer
    # to drop duplicates.
    ours "$dir/ours-spacing$change.jpg" --no \
      MosaicProcessing=standard TileDuplication=0 DuplicateSpacing=3 ColorChange=$change
    timed "$dir/spacing$change.log" "${command[@]}"
    our_seconds=$seconds
    theirs "$dir/theirs-local$change.jpg" --search=local --distance=3 --cheat=$change
    timed "$dir/local$change.log" "${command[@]}"
    their_seconds=$seconds
    row "$count" "spacing 3, colour change $change % (metapixel local, --distance=3 --cheat=$change)" \
      "$our_seconds" "$their_seconds" \
      "$(mean_delta_e "$dir/ours-spacing$change.jpg")" "$(mean_delta_e "$dir/theirs-local$change.jpg")"
    our_total=$(add "$our_total" "$our_seconds")
    their_total=$(add "$their_total" "$their_seconds")
    mosaics=$((mosaics + 1))
    if ((change == 0)); then
      # The ΔE above compares cell means only. Our default comparison, Best
      # Quality, puts a rising curve on each entry's distance, so it shuns
      # tiles with any patch far off the cell, at some cost to the cell's
      # mean; the Weaker comparison adds the distances as they are, at the
      # same detail. Not counted end to end.
      ours "$dir/ours-spacing-colours.jpg" --no MosaicProcessing=standard TileDuplication=0 DuplicateSpacing=3 \
        ColorChange=0 ImageCompare=weaker
      timed "$dir/spacing-colours.log" "${command[@]}"
      row "$count" "spacing 3, colour change 0 %, Weaker comparison (ImageCompare=weaker; metapixel local as above)" \
        "$seconds" "$their_seconds" \
        "$(mean_delta_e "$dir/ours-spacing-colours.jpg")" "$(mean_delta_e "$dir/theirs-local$change.jpg")"
    fi

    if ((count < cells)); then
      say "$count tiles: no mosaic without duplicates, fewer photos than the $cells cells"
      continue
    fi
    say "$count tiles: no duplicates, colour change $change"
    theirs "$dir/theirs-global$change.jpg" --search=global --cheat=$change
    timed "$dir/global$change.log" "${command[@]}"
    their_seconds=$seconds
    their_quality=$(mean_delta_e "$dir/theirs-global$change.jpg")
    ours "$dir/ours-d1-$change.jpg" --yes MosaicProcessing=standard TileDuplication=1 DuplicateSpacing=0 ColorChange=$change
    timed "$dir/d1-$change.log" "${command[@]}"
    row "$count" "no duplicates, High Quality D=1, colour change $change % (metapixel global, --cheat=$change)" \
      "$seconds" "$their_seconds" "$(mean_delta_e "$dir/ours-d1-$change.jpg")" "$their_quality"
    our_total=$(add "$our_total" "$seconds")
    their_total=$(add "$their_total" "$their_seconds")
    ours "$dir/ours-experimental$change.jpg" --yes \
      MosaicProcessing=standard1 TileDuplication=1 DuplicateSpacing=0 ColorChange=$change
    timed_limited "$experimental_limit" "$dir/experimental$change.log" "${command[@]}"
    mark=""
    ((stopped)) && mark=" (stopped)" stopped_any=" (Experimental stopped)"
    row "$count" "no duplicates, Experimental, colour change $change % (metapixel global, --cheat=$change)" \
      "$seconds" "$their_seconds" "$(mean_delta_e "$dir/ours-experimental$change.jpg")" "$their_quality" "$mark"
    our_total=$(add "$our_total" "$seconds")
    # The same global search stands against both of our modes; it is counted
    # once for each in the end-to-end time, as a user wanting both would run it.
    their_total=$(add "$their_total" "$their_seconds")
    mosaics=$((mosaics + 2))
    if ((change == 0)); then
      # As for the spacing mosaic: both no-duplicate modes once more
      # with the Weaker comparison.
      # Not counted end to end.
      ours "$dir/ours-d1-colours.jpg" --yes MosaicProcessing=standard TileDuplication=1 DuplicateSpacing=0 \
        ColorChange=0 ImageCompare=weaker
      timed "$dir/d1-colours.log" "${command[@]}"
      row "$count" "no duplicates, High Quality D=1, colour change 0 %, Weaker comparison (ImageCompare=weaker; metapixel global as above)" \
        "$seconds" "$their_seconds" "$(mean_delta_e "$dir/ours-d1-colours.jpg")" "$their_quality"
      ours "$dir/ours-experimental-colours.jpg" --yes MosaicProcessing=standard1 TileDuplication=1 DuplicateSpacing=0 \
        ColorChange=0 ImageCompare=weaker
      timed_limited "$experimental_limit" "$dir/experimental-colours.log" "${command[@]}"
      mark=""
      ((stopped)) && mark=" (stopped)"
      row "$count" "no duplicates, Experimental, colour change 0 %, Weaker comparison (ImageCompare=weaker; metapixel global as above)" \
        "$seconds" "$their_seconds" "$(mean_delta_e "$dir/ours-experimental-colours.jpg")" "$their_quality" "$mark"
    fi
  done
  row "$count" "end to end (library + $mosaics mosaics)" "$our_total" "$their_total" "—" "—" "$stopped_any"
done

model=$(lscpu | sed -n 's/^Model name: *//p' | head -1)
{
  echo
  echo "Photos cut from the skimage samples, 160x120; main image $(basename "$main_source") at" \
       "${mosaic_w}x${mosaic_h}; $columns x $rows cells of ${tile_w}x${tile_h}."
  echo "$model, $(nproc) cores, $(date -u +%Y-%m-%d). Wall seconds, the median of $repeats runs for each mosaic, one run for each library; ΔE: mean CIE76 of the cell means."
  echo "Experimental stopped after ${experimental_limit} s keeps its last finished assignment."
  echo
  echo "| tiles | step | tessellarium s | metapixel s | metapixel ÷ ours | tessellarium ΔE | metapixel ΔE |"
  echo "|---|---|---|---|---|---|---|"
  printf '%s\n' "${rows_out[@]}"
} | tee "$work/table.md"
