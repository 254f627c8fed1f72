#!/bin/sh
# Saves a picture of every window of the desktop program into screenshots/
# (or the folder given as the second argument), as a user sees them: under a
# virtual X server (Debian's xvfb) when there is one, else on Qt's offscreen
# platform. The program runs with a settings folder of its own, so the user's
# settings are never touched. SCREENSHOT_SCREEN sets the virtual screen
# (1920x1080 by default); with QT_SCALE_FACTOR=2 and 2560x1600 the windows
# are seen as on a laptop at 200 %.
#   scripts/screenshots.sh [BUILD_DIR] [OUT_DIR]
set -eu

build=${1:-build}
out=${2:-screenshots}
program="$build/bin/tessellarium-gui"
if [ ! -x "$program" ]; then
  echo "screenshots: $program is not built (run: cmake --build $build --target tessellarium-gui)" >&2
  exit 1
fi

mkdir -p "$out"
out=$(cd "$out" && pwd)
settings=$(mktemp -d)
trap 'rm -rf "$settings"' EXIT INT TERM
export TESSELLARIUM_CONFIG_PATH="$settings/config"

if command -v xvfb-run >/dev/null 2>&1; then
  xvfb-run -a -s "-screen 0 ${SCREENSHOT_SCREEN:-1920x1080}x24" "$program" --screenshots "$out"
else
  QT_QPA_PLATFORM=offscreen "$program" --screenshots "$out"
fi
echo "screenshots: $(ls "$out"/*.png | wc -l) windows in $out"
