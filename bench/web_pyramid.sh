#!/usr/bin/env bash
# What the web mosaic adds to a run, beside libvips building the same kind of
# pyramid from the finished mosaic. For each mosaic size and each library
# size it times the real program twice, the JPEG alone and the JPEG with
# "Create a RezIroriz", and prints wall time and peak resident memory of
# both, the difference (the pyramid's cost), and `vips dzsave` of the JPEG the
# first run wrote (256-pixel JPEG tiles, no overlap, the mosaic's quality).
#   bench/web_pyramid.sh [BUILD_DIR] [WORK_DIR] [WIDTHxHEIGHT ...]
# By default a 16,000 × 10,000 mosaic; a 60,000 × 45,000 one as well:
#   bench/web_pyramid.sh build build/web_pyramid 16000x10000 60000x45000
# WEB_PYRAMID_LISTS: library sizes in pictures ("2000 10000").
# WEB_PYRAMID_REPEAT: runs of each measurement (1); the one with the least
# wall time is shown, which keeps most of the load of others out of it.
# Mosaics are 100 tiles a row. What a run wrote is moved aside once measured
# and removed when the script ends (a 60,000 × 45,000 mosaic is gigabytes of
# disk), never between runs: on ext4 without a journal, as on the development
# machine, every file created in the minutes after thousands were deleted
# makes the kernel step over each of those deleted inodes, which cost a run
# writing 2,852 tiles 1.3 processor seconds of system time. A run of the
# script that starts within six minutes of the last one's end waits for the
# rest of them for the same reason.
set -euo pipefail

build=${1:-build}
work=${2:-$build/web_pyramid}
exe="$build/bin/tessellarium"
lists=${WEB_PYRAMID_LISTS:-2000 10000}
repeat=${WEB_PYRAMID_REPEAT:-1}
[ -x "$exe" ] || { echo "web_pyramid: $exe is not built"; exit 1; }
[ -x /usr/bin/time ] || { echo "web_pyramid: /usr/bin/time is missing (Debian package time)"; exit 1; }
command -v vips >/dev/null || { echo "web_pyramid: vips is missing (scripts/install-deps installs libvips-tools)"; exit 1; }

sizes=("${@:3}")
((${#sizes[@]})) || sizes=("16000x10000")

mkdir -p "$work/settings" "$work/logs" "$work/out"
trash="$work/out/measured"
if [ -e "$trash" ]; then
  rm -rf "$trash"
  date +%s > "$work/ended"
fi
since=$(($(date +%s) - $(cat "$work/ended" 2>/dev/null || echo 0)))
if ((since < 370)); then
  echo "web_pyramid: files were removed $since s ago; waiting $((370 - since)) s until the kernel reuses their inodes"
  sync
  sleep $((370 - since))
fi
mkdir -p "$trash"
discarded=0
# Moves what a run wrote out of the way; nothing is deleted until the end.
discard() {
  local path
  for path in "$@"; do
    [ -e "$path" ] || continue
    discarded=$((discarded + 1))
    mv "$path" "$trash/$discarded"
  done
}
tidy_up() {
  rm -rf "$trash"
  date +%s > "$work/ended"
}
trap tidy_up EXIT
# The benchmark keeps its settings apart from the user's.
export TESSELLARIUM_CONFIG_PATH="$work/settings"
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }

# The libraries: ffmpeg's generators are deterministic, so every machine gets
# the same pictures. Kept between runs of the script.
largest=0
for n in $lists; do ((n > largest)) && largest=$n; done
if (($(cat "$work/pictures/count" 2>/dev/null || echo 0) < largest)); then
  echo "web_pyramid: drawing $largest tile pictures and a main image with ffmpeg"
  rm -rf "$work/pictures"
  mkdir -p "$work/pictures"
  half=$((largest / 2))
  ff -f lavfi -i "mandelbrot=s=160x120:rate=25:start_scale=2:end_scale=0.05:maxiter=256,hue=H=2*PI*t/7:s=1.3" \
     -frames:v "$half" -q:v 4 "$work/pictures/m%05d.jpg" &
  ff -f lavfi -i "testsrc2=s=160x120:rate=25,hue=H=2*PI*t/3:s=1+0.4*sin(t):b=2*sin(t/2)" \
     -frames:v "$((largest - half))" -q:v 4 "$work/pictures/t%05d.jpg"
  wait
  ff -f lavfi -i "mandelbrot=s=2000x1500:start_x=-0.75:start_y=0.1:start_scale=0.35:end_pts=1" \
     -frames:v 1 -q:v 2 "$work/main.jpg"
  echo "$largest" > "$work/pictures/count"
fi

# Runs a command under GNU time; leaves "wall_seconds peak_MB cpu_seconds"
# in $measured. On a shared machine the wall time moves with the load of
# others; the processor time (user + system, all threads) much less.
measure() {
  local log="$1"; shift
  /usr/bin/time -f "%e %M %U %S" -o "$log.time" "$@" > "$log" 2>&1 || { cat "$log" "$log.time"; exit 1; }
  measured=$(awk '{ printf "%.1f %.0f %.1f", $1, $2 / 1024, $3 + $4 }' "$log.time")
}

# measure, $repeat times; `tidy` runs before each. Keeps the fastest run.
measure_best() {
  local tidy="$1" log="$2"; shift 2
  local best="" i
  for ((i = 0; i < repeat; i++)); do
    eval "$tidy"
    measure "$log" "$@"
    if [ -z "$best" ] || awk -v a="${measured%% *}" -v b="${best%% *}" 'BEGIN { exit !(a < b) }'; then
      best=$measured
    fi
  done
  measured=$best
}

rows=()
for n in $lists; do
  list="$work/list_$n.tzc"
  if [ ! -f "$list" ]; then
    echo "web_pyramid: the Tile Images List of $n pictures"
    rm -rf "$work/tiles_$n"
    mkdir -p "$work/tiles_$n"
    # The first n/2 of each kind, so a smaller library is part of a larger one.
    for kind in m t; do
      find "$work/pictures" -name "$kind*.jpg" | sort | awk -v k="$((n / 2))" 'NR <= k' | xargs -r ln -t "$work/tiles_$n"
    done
    measure "$work/logs/list_$n" "$exe" list create "$list" --include "$work/tiles_$n/"
  fi
  for size in "${sizes[@]}"; do
    w=${size%x*}
    h=${size#*x}
    # Logs apart: a file beginning with the mosaic's name would make the
    # program pick a new name for it.
    base="$work/out/mosaic_${size}_$n"
    log="$work/logs/${size}_$n"
    common=(mosaic "$work/main.jpg" --list "$list" --set MosaicSizeUnit=pixel --set MosaicSizeWidth="$w"
            --set MosaicSizeHeight="$h" --set TileSize=100 --set TileUnit=tilesxrow --set FileFormat=jpg
            --output "$base" --yes --quiet)
    echo "web_pyramid: $w × $h, $n pictures: the JPEG alone"
    measure_best 'discard "$base.jpg" "$base RezIroriz"' "$log.jpg" "$exe" "${common[@]}" --set RezIroriz=0
    read -r jpg_s jpg_mb jpg_cpu <<< "$measured"
    echo "web_pyramid: $w × $h, $n pictures: vips dzsave of that JPEG"
    measure_best 'discard "$base.vips_files" "$base.vips.dzi"' "$log.vips" vips dzsave "$base.jpg" "$base.vips" --tile-size 256 --overlap 0 --suffix ".jpg[Q=95]"
    read -r vips_s vips_mb vips_cpu <<< "$measured"
    vips_tiles=$(find "$base.vips_files" -name '*.jpg' | wc -l)
    discard "$base.jpg" "$base.vips_files" "$base.vips.dzi"
    echo "web_pyramid: $w × $h, $n pictures: the JPEG and the web mosaic"
    measure_best 'discard "$base.jpg" "$base RezIroriz"' "$log.web" "$exe" "${common[@]}" --set RezIroriz=1
    read -r web_s web_mb web_cpu <<< "$measured"
    tiles=$(find "$base RezIroriz/mosaic" -name '*.jpg' | wc -l)
    discard "$base.jpg" "$base RezIroriz"
    rows+=("$(printf '%-12s %6s %7.1f %7.1f %7s %7.1f %7.1f %7s %7.1f %7.1f %6s %7.1f %7.1f %7s' "$size" "$n" \
      "$jpg_s" "$jpg_cpu" "$jpg_mb" "$web_s" "$web_cpu" "$web_mb" \
      "$(awk -v a="$web_s" -v b="$jpg_s" 'BEGIN { print a - b }')" "$(awk -v a="$web_cpu" -v b="$jpg_cpu" 'BEGIN { print a - b }')" \
      "$tiles" "$vips_s" "$vips_cpu" "$vips_mb")")
    echo "web_pyramid: dzsave wrote $vips_tiles tiles"
  done
done

echo
# Wall and processor seconds and peak MB of the JPEG alone and with the web
# mosaic, what the web mosaic added, its tile count, and vips dzsave's figures.
printf '%-12s %6s %7s %7s %7s %7s %7s %7s %7s %7s %6s %7s %7s %7s\n' "mosaic" "list" "jpg s" "cpu s" "MB" \
  "+web s" "cpu s" "MB" "added s" "cpu s" "tiles" "vips s" "cpu s" "MB"
printf '%s\n' "${rows[@]}"
