#!/usr/bin/env bash
# List analysis of photo libraries as people have them, with the real
# program: 2,000 photo-like JPEGs without a profile, the same files with an
# Adobe RGB profile put in (the colour conversion's cost: the coded pictures
# are byte for byte the same), the same pictures as PNG, and
# 12 HEIC photos of 12 megapixels with the 320-pixel thumbnail phones embed, against
# libheif decoding only those thumbnails. Each `list create` is run twice;
# the second, with the files in the page cache, is the figure.
#   bench/photo_formats.sh [BUILD_DIR] [WORK_DIR] [REFERENCE_PROGRAM]
# A REFERENCE_PROGRAM (another build's bin/tessellarium) is timed on the
# JPEG and PNG libraries beside this one.
set -euo pipefail

build=${1:-build}
work=${2:-$build/photo_formats}
reference=${3:-}
exe="$build/bin/tessellarium"
python=/usr/bin/python3
[ -x "$exe" ] || { echo "photo_formats: build $exe first"; exit 1; }
"$python" -c "import PIL" 2>/dev/null || { echo "photo_formats: python3-pil is missing"; exit 1; }
command -v heif-enc >/dev/null || { echo "photo_formats: heif-enc is missing (libheif-examples)"; exit 1; }
# The 564-byte Adobe RGB profile cameras embed (colord's copy is 18 KB of metadata).
profile=/usr/share/color/icc/ghostscript/a98.icc
[ -f "$profile" ] || { echo "photo_formats: $profile is missing (libgs-common)"; exit 1; }

rm -rf "$work"
mkdir -p "$work/settings" "$work/jpeg" "$work/jpeg_profiled" "$work/png" "$work/heic"
export TESSELLARIUM_CONFIG_PATH="$work/settings"

echo "photo_formats: writing the libraries"
"$python" - "$work" "$profile" <<'PY'
import sys
import numpy as np
from PIL import Image
work, profile_path = sys.argv[1], sys.argv[2]
icc = open(profile_path, "rb").read()
rng = np.random.default_rng(7)
y, x = np.mgrid[0:480, 0:640]
for i in range(2000):
    base = rng.integers(0, 256, 3)
    phase = rng.random(3) * 6.28
    planes = [(base[k] + 60 * np.sin((x * (k + 1) + y) / 37.0 + phase[k]) + rng.normal(0, 6, x.shape)) % 256
              for k in range(3)]
    img = Image.fromarray(np.stack(planes, axis=2).astype(np.uint8), "RGB")
    img.save(f"{work}/jpeg/p{i:04d}.jpg", quality=90)
    # The same bytes with an APP2 ICC_PROFILE segment after the start marker.
    coded = open(f"{work}/jpeg/p{i:04d}.jpg", "rb").read()
    segment = b"ICC_PROFILE\x00\x01\x01" + icc
    marker = b"\xff\xe2" + (len(segment) + 2).to_bytes(2, "big") + segment
    open(f"{work}/jpeg_profiled/p{i:04d}.jpg", "wb").write(coded[:2] + marker + coded[2:])
    img.save(f"{work}/png/p{i:04d}.png", compress_level=1)
for i in range(12):
    big_y, big_x = np.mgrid[0:3024, 0:4032]
    planes = [(rng.integers(0, 256) + 80 * np.sin((big_x * (k + 1) + big_y) / 301.0)) % 256 for k in range(3)]
    Image.fromarray(np.stack(planes, axis=2).astype(np.uint8), "RGB").save(f"{work}/heic/source{i:02d}.png",
                                                                          compress_level=1)
PY
for source in "$work"/heic/source*.png; do
  heif-enc -q 60 -t 320 -o "${source%.png}.heic" "$source" >/dev/null
  rm "$source"
done

timed() {
  local label=$1
  shift
  /usr/bin/time -f "$label: %e s wall, %U s user, %S s system, %M KB peak resident" "$@" >/dev/null 2>"$work/err" || { cat "$work/err"; exit 1; }
  tail -n 1 "$work/err"
}

for library in jpeg jpeg_profiled png heic; do
  for run in 1 2; do
    timed "list create, $library (run $run)" "$exe" list create "$work/$library.tzc" --include "$work/$library" --threads 2
  done
  if [ -n "$reference" ] && [ "$library" != heic ] && [ "$library" != jpeg_profiled ]; then
    timed "reference list create, $library" "$reference" list create "$work/ref-$library.tzc" --include "$work/$library" --threads 2
  fi
done
if [ -x "$build/bench/heif_thumbnail_bench" ]; then
  "$build/bench/heif_thumbnail_bench" "$work/heic"
fi
