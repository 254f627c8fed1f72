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
# and how much each mosaic looks like its main image, measured by the
# likeness helper built beside the benchmarks: CIEDE2000 of the cells' mean
# colours, of every pixel seen from far (blurred by half a cell) and from
# near (by an eighth of one), each as mean and 95th percentile, the fine
# structural similarity, and how varied the mosaic is (the share of cells
# showing a photo no other cell shows, and the most cells one photo fills).
# Prints one table, in Markdown, a row per main image, and the means over the
# main images, and keeps them in WORK_DIR.
#
#   bench/peer/compare_metapixel.sh [BUILD_DIR] [WORK_DIR]
#
# Environment:
#   TILE_COUNTS           library sizes, in photos ("2000 10000")
#   MAIN_IMAGES           the main images, picture files separated by blanks
#                         (the skimage sample coffee.png)
#   EXTRA_SETTINGS        --set overrides for every mosaic of ours, KEY=VALUE
#                         separated by blanks ("ImageCompare=perceptual"); a
#                         row's own settings win over them (empty)
#   EXPERIMENTAL_LIMIT    seconds an Experimental mosaic may take before it is
#                         stopped the way Ctrl-C stops it, which keeps the
#                         last finished assignment (300)
#   REPEATS               runs of each mosaic, for both programs; the table
#                         gives the median (3). The libraries are made once.
#   TESS_SAMPLE_PICTURES  the folder of Debian's python3-skimage sample photos
#
# The tiles are real photographs: seeded crops of the skimage sample photos at
# three scales, with shifted hue, saturation and brightness, half of them
# mirrored, cut to 160 × 120 JPEGs. Each main image (another of those photos
# unless MAIN_IMAGES says) is scaled to cover 2,560 × 1,536 and cut to it
# about its middle, so that 40 tiles a row of 64 × 48 pixels (the tiles' own
# 4:3 shape) make 40 × 32 cells for both programs without a partial row.
set -euo pipefail

build=${1:-build}
work=${2:-$build/compare_metapixel}
tile_counts=${TILE_COUNTS:-2000 10000}
experimental_limit=${EXPERIMENTAL_LIMIT:-300}
repeats=${REPEATS:-3}
pictures=${TESS_SAMPLE_PICTURES:-/usr/lib/python3/dist-packages/skimage/data}
main_images=${MAIN_IMAGES:-$pictures/coffee.png}
read -r -a extra_settings <<< "${EXTRA_SETTINGS:-}"
exe="$build/bin/tessellarium"
likeness="$build/bench/likeness"

say() { echo "compare_metapixel: $*" >&2; }
fail() { say "$*"; exit 1; }

[ -x "$exe" ] || fail "$exe is not built (target tessellarium)"
[ -x "$likeness" ] || fail "$likeness is not built (target likeness, with -DTESS_BUILD_BENCH=ON)"
command -v metapixel >/dev/null && command -v metapixel-prepare >/dev/null ||
  fail "metapixel is missing: install the Debian package metapixel (scripts/install-deps does)"
command -v ffmpeg >/dev/null || fail "ffmpeg is missing (scripts/install-deps installs it)"
for count in $tile_counts; do
  [[ $count =~ ^[1-9][0-9]*$ ]] || fail "TILE_COUNTS holds '$count', not a number of photos"
done
[[ $experimental_limit =~ ^[1-9][0-9]*$ ]] || fail "EXPERIMENTAL_LIMIT must be a number of seconds"
[[ $repeats =~ ^[1-9][0-9]*$ ]] || fail "REPEATS must be a number of runs"

tile_sources=(astronaut.png chelsea.png motorcycle_left.png motorcycle_right.png
              hubble_deep_field.jpg rocket.jpg retina.jpg ihc.png)
for source in "${tile_sources[@]}"; do
  [ -f "$pictures/$source" ] || fail "no $pictures/$source (install python3-skimage or set TESS_SAMPLE_PICTURES)"
done
read -r -a main_sources <<< "$main_images"
((${#main_sources[@]} > 0)) || fail "MAIN_IMAGES names no picture"
for source in "${main_sources[@]}"; do
  [ -f "$source" ] || fail "no main image $source (install python3-skimage, set TESS_SAMPLE_PICTURES or MAIN_IMAGES)"
done
for setting in "${extra_settings[@]}"; do
  [[ $setting == ?*=* ]] || fail "EXTRA_SETTINGS holds '$setting', not KEY=VALUE"
done

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

# The main images, numbered in the order given; main_names holds what the
# table calls them.
main_names=()
for k in "${!main_sources[@]}"; do
  source=${main_sources[$k]}
  say "scaling $(basename "$source") to a ${mosaic_w}x${mosaic_h} main image"
  ff -i "$source" -vf "scale=$mosaic_w:$mosaic_h:force_original_aspect_ratio=increase:flags=lanczos,crop=$mosaic_w:$mosaic_h" \
    -q:v 2 "$work/main$k.jpg"
  main_names+=("$(basename "$source")")
done

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
add() { calc "$1 + $2"; }

# The likeness figures of the table, in its order.
figure_keys=(cell_mean cell_p95 far_mean far_p95 near_mean near_p95 ssim distinct_share largest_use)
declare -A figures_of=()
# Leaves in $figures the likeness figures of a mosaic against main image
# number K, matched against the tile photos of FOLDER: blank-separated in
# the order of figure_keys. Each mosaic is measured once, however many rows
# show it.
measure() {  # mosaic, K, folder
  local mosaic=$1 k=$2 folder=$3 line key value values=()
  if [ -z "${figures_of[$mosaic]:-}" ]; then
    line=$("$likeness" "$mosaic" "$work/main$k.jpg" $columns $rows "$folder") || fail "likeness failed on $mosaic"
    for key in "${figure_keys[@]}"; do
      value=$(field "$line" "$key")
      [ -n "$value" ] || fail "likeness gave no $key for $mosaic: $line"
      values+=("$value")
    done
    figures_of[$mosaic]="${values[*]}"
  fi
  figures=${figures_of[$mosaic]}
}

# Rows of the table, tab-separated: tiles, main image, step, our seconds,
# their seconds, a mark for our time, our figures and theirs (both empty
# where no mosaic is measured). Both tables are drawn from it at the end.
rows_file="$work/rows.tsv"
: > "$rows_file"
row() { printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$4" "$5" "${6:-}" "${7:-}" "${8:-}" >> "$rows_file"; }

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
  row "$count" "—" "library (list create / metapixel-prepare)" "$our_total" "$their_total"

  # Our mosaic of $main_file, built into $command: output, answer, then
  # --set overrides. Built rather than run here, so that timeout can run it
  # too. EXTRA_SETTINGS go before the row's own, which win.
  ours() {
    local out="$1" answer="$2" s; shift 2
    command=("$exe" mosaic "$main_file" --list "$dir/tiles.tzc"
             --set MosaicSizeUnit=pixel --set MosaicSizeWidth=$mosaic_w --set MosaicSizeHeight=$mosaic_h
             --set TileSize=$columns --set TileUnit=tilesxrow --set FileFormat=jpg --set RezIroriz=0)
    for s in "${extra_settings[@]}" "$@"; do command+=(--set "$s"); done
    command+=(--output "$out" "$answer" --quiet)
  }
  # Metapixel's, built into $command: output, then metapixel options.
  theirs() {
    local out="$1"; shift
    command=(metapixel -l "$dir/metapixel-library" -w $tile_w -h $tile_h --scale=1 "$@"
             --metapixel "$main_file" "$out")
  }
  # Our figures and metapixel's for a row, into $our_figures and $their_figures.
  both() {  # our mosaic, their mosaic
    measure "$1" "$k" "$dir/tiles"
    our_figures=$figures
    measure "$2" "$k" "$dir/tiles"
    their_figures=$figures
  }

  mosaics=0 stopped_any=""
  for k in "${!main_names[@]}"; do
    main_file="$work/main$k.jpg" name=${main_names[$k]} out="$dir/main$k"
    mkdir -p "$out"
    for change in 0 30; do
      say "$count tiles, $name: spacing 3, colour change $change"
      # --no keeps the spacing should the list be large enough for the offer
      # to drop duplicates.
      ours "$out/ours-spacing$change.jpg" --no \
        MosaicProcessing=standard TileDuplication=0 DuplicateSpacing=3 ColorChange=$change
      timed "$out/spacing$change.log" "${command[@]}"
      our_seconds=$seconds
      theirs "$out/theirs-local$change.jpg" --search=local --distance=3 --cheat=$change
      timed "$out/local$change.log" "${command[@]}"
      their_seconds=$seconds
      both "$out/ours-spacing$change.jpg" "$out/theirs-local$change.jpg"
      row "$count" "$name" "spacing 3, colour change $change % (metapixel local, --distance=3 --cheat=$change)" \
        "$our_seconds" "$their_seconds" "" "$our_figures" "$their_figures"
      our_total=$(add "$our_total" "$our_seconds")
      their_total=$(add "$their_total" "$their_seconds")
      mosaics=$((mosaics + 1))
      if ((change == 0)); then
        # Our default comparison, Best Quality, puts a rising curve on each
        # entry's distance, so it shuns tiles with any patch far off the
        # cell, at some cost to the cell's mean; the Weaker comparison adds
        # the distances as they are, at the same detail. Not counted end to
        # end.
        ours "$out/ours-spacing-colours.jpg" --no MosaicProcessing=standard TileDuplication=0 DuplicateSpacing=3 \
          ColorChange=0 ImageCompare=weaker
        timed "$out/spacing-colours.log" "${command[@]}"
        both "$out/ours-spacing-colours.jpg" "$out/theirs-local$change.jpg"
        row "$count" "$name" "spacing 3, colour change 0 %, Weaker comparison (ImageCompare=weaker; metapixel local as above)" \
          "$seconds" "$their_seconds" "" "$our_figures" "$their_figures"
      fi

      if ((count < cells)); then
        say "$count tiles: no mosaic without duplicates, fewer photos than the $cells cells"
        continue
      fi
      say "$count tiles, $name: no duplicates, colour change $change"
      theirs "$out/theirs-global$change.jpg" --search=global --cheat=$change
      timed "$out/global$change.log" "${command[@]}"
      their_seconds=$seconds
      ours "$out/ours-d1-$change.jpg" --yes MosaicProcessing=standard TileDuplication=1 DuplicateSpacing=0 ColorChange=$change
      timed "$out/d1-$change.log" "${command[@]}"
      both "$out/ours-d1-$change.jpg" "$out/theirs-global$change.jpg"
      row "$count" "$name" "no duplicates, High Quality D=1, colour change $change % (metapixel global, --cheat=$change)" \
        "$seconds" "$their_seconds" "" "$our_figures" "$their_figures"
      our_total=$(add "$our_total" "$seconds")
      their_total=$(add "$their_total" "$their_seconds")
      ours "$out/ours-experimental$change.jpg" --yes \
        MosaicProcessing=standard1 TileDuplication=1 DuplicateSpacing=0 ColorChange=$change
      timed_limited "$experimental_limit" "$out/experimental$change.log" "${command[@]}"
      mark=""
      ((stopped)) && mark=" (stopped)" stopped_any=" (Experimental stopped)"
      both "$out/ours-experimental$change.jpg" "$out/theirs-global$change.jpg"
      row "$count" "$name" "no duplicates, Experimental, colour change $change % (metapixel global, --cheat=$change)" \
        "$seconds" "$their_seconds" "$mark" "$our_figures" "$their_figures"
      our_total=$(add "$our_total" "$seconds")
      # The same global search stands against both of our modes; it is counted
      # once for each in the end-to-end time, as a user wanting both would run it.
      their_total=$(add "$their_total" "$their_seconds")
      mosaics=$((mosaics + 2))
      if ((change == 0)); then
        # As for the spacing mosaic: both no-duplicate modes once more
        # with the Weaker comparison.
        # Not counted end to end.
        ours "$out/ours-d1-colours.jpg" --yes MosaicProcessing=standard TileDuplication=1 DuplicateSpacing=0 \
          ColorChange=0 ImageCompare=weaker
        timed "$out/d1-colours.log" "${command[@]}"
        both "$out/ours-d1-colours.jpg" "$out/theirs-global$change.jpg"
        row "$count" "$name" "no duplicates, High Quality D=1, colour change 0 %, Weaker comparison (ImageCompare=weaker; metapixel global as above)" \
          "$seconds" "$their_seconds" "" "$our_figures" "$their_figures"
        ours "$out/ours-experimental-colours.jpg" --yes MosaicProcessing=standard1 TileDuplication=1 DuplicateSpacing=0 \
          ColorChange=0 ImageCompare=weaker
        timed_limited "$experimental_limit" "$out/experimental-colours.log" "${command[@]}"
        mark=""
        ((stopped)) && mark=" (stopped)"
        both "$out/ours-experimental-colours.jpg" "$out/theirs-global$change.jpg"
        row "$count" "$name" "no duplicates, Experimental, colour change 0 %, Weaker comparison (ImageCompare=weaker; metapixel global as above)" \
          "$seconds" "$their_seconds" "$mark" "$our_figures" "$their_figures"
      fi
    done
  done
  row "$count" "all" "end to end (library + $mosaics mosaics)" "$our_total" "$their_total" "$stopped_any"
done

# Draws the rows as a Markdown table; with "means", one row per library size
# and step holding the means over the main images.
table() {
  LC_ALL=C awk -F '\t' -v means="${1:-}" '
    function figure(i, v, mean) {
      if (i <= 6) return sprintf("%.1f", v)
      if (i == 7) return sprintf("%.3f", v)
      if (i == 8) return sprintf("%.2f", v)
      return mean ? sprintf("%.1f", v) : sprintf("%d", v)
    }
    function line(tiles, main, step, ours_s, theirs_s, mark, ours, theirs, measured, mean,   i, text) {
      text = sprintf("| %s | %s | %s | %.2f%s | %.2f | %s |", tiles, main, step, ours_s, mark, theirs_s,
                     ours_s > 0 ? sprintf("%.1f×", theirs_s / ours_s) : "—")
      for (i = 1; i <= 9; ++i)
        text = text " " (measured ? figure(i, ours[i], mean) " / " figure(i, theirs[i], mean) : "—") " |"
      print text
    }
    {
      n = split($7, o, " ")
      split($8, t, " ")
      if (means == "") {
        line($1, $2, $3, $4, $5, $6, o, t, n > 0, 0)
        next
      }
      key = $1 SUBSEP $3
      if (!(key in seen)) { seen[key] = 1; order[++keys] = key; tiles_of[key] = $1; step_of[key] = $3 }
      rows_of[key]++
      ours_s_sum[key] += $4
      theirs_s_sum[key] += $5
      if ($6 != "") mark_of[key] = $6
      if ($2 != "—" && $2 != "all") mains_of[key] = rows_of[key]
      measured_of[key] = n > 0
      for (i = 1; i <= n; ++i) { ours_sum[key, i] += o[i]; theirs_sum[key, i] += t[i] }
    }
    END {
      for (k = 1; k <= keys; ++k) {
        key = order[k]
        c = rows_of[key]
        for (i = 1; i <= 9; ++i) { om[i] = ours_sum[key, i] / c; tm[i] = theirs_sum[key, i] / c }
        line(tiles_of[key], key in mains_of ? mains_of[key] : "—", step_of[key], ours_s_sum[key] / c,
             theirs_s_sum[key] / c, mark_of[key], om, tm, measured_of[key], 1)
      }
    }' "$rows_file"
}

header() {  # what the second column holds
  echo "| tiles | $1 | step | tessellarium s | metapixel s | metapixel ÷ ours | cell ΔE00 mean | cell ΔE00 p95 | far ΔE00 mean | far ΔE00 p95 | near ΔE00 mean | near ΔE00 p95 | fine SSIM | distinct share | largest use |"
  echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
}

model=$(lscpu | sed -n 's/^Model name: *//p' | head -1)
{
  echo
  echo "Photos cut from the skimage samples, 160x120; main images ${main_names[*]} at" \
       "${mosaic_w}x${mosaic_h}; $columns x $rows cells of ${tile_w}x${tile_h}."
  echo "$model, $(nproc) cores, $(date -u +%Y-%m-%d). Wall seconds, the median of $repeats runs for each mosaic, one run for each library."
  echo "Experimental stopped after ${experimental_limit} s keeps its last finished assignment."
  ((${#extra_settings[@]} == 0)) || echo "Our mosaics with --set ${extra_settings[*]} (where the row sets no other value)."
  echo "Likeness, tessellarium / metapixel: CIEDE2000 of the cells' mean colours, and of every pixel with both pictures" \
       "blurred by half a cell (far) and by an eighth of one (near), at 8 pixels a cell; SSIM of those pixels unblurred;" \
       "distinct share: photos shown ÷ cells, each cell matched to the tile photo it shows; largest use: the most cells one photo fills."
  echo
  header "main image"
  table
  if ((${#main_names[@]} > 1)); then
    echo
    echo "Means over the ${#main_names[@]} main images (end to end: all of them together):"
    echo
    header "main images"
    table means
  fi
} | tee "$work/table.md"
