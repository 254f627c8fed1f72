#!/usr/bin/env bash
# Usage: session_test.sh CMAKE BUILD_DIR SESSION_DRIVER SHOT_DIR [german-help]
# Installs BUILD_DIR into a scratch prefix and plays a user's session with the
# installed tessellarium-gui on a virtual X server (Qt's xcb platform, as on a
# desktop): the preloaded SESSION_DRIVER opens the guide, adds a main image,
# builds a Tile Images List from a folder of pictures, makes a mosaic and
# checks its file. With german-help the program runs with LANGUAGE=de and
# only Help is pressed: the window speaks German and the German guide opens.
# Skipped (77) only when no X server can be started; a failed session leaves
# a picture of its screen in SHOT_DIR/session-failure.png.
set -uo pipefail

cmake=$1 build=$2 driver=$3 shots=$4 plan=${5:-session}
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

for tool in xvfb-run Xvfb xauth; do
  command -v "$tool" >/dev/null || skip "no X server can be started: $tool is not installed (scripts/install-deps installs xvfb and xauth)"
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR= "$cmake" --install "$build" --prefix "$root/usr" >"$root/install.log" 2>&1 ||
  { cat "$root/install.log"; fail "cmake --install"; }

# The desktop's "open this" goes to a stand-in that only notes the request, so
# no browser or file manager starts; everything the program keeps is kept here.
mkdir -p "$root/bin" "$root/session" "$root/home"
chmod 700 "$root/home"
cat >"$root/bin/xdg-open" <<EOF
#!/bin/sh
printf '%s\n' "\$*" >>"$root/opened.txt"
EOF
chmod +x "$root/bin/xdg-open"
rm -f "$shots/$plan-failure.png"

unset TESSELLARIUM_DATA_DIR LANGUAGE LC_MESSAGES LANG WAYLAND_DISPLAY QT_QPA_PLATFORMTHEME \
      XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
export PATH=$root/bin:$PATH HOME=$root/home XDG_CONFIG_HOME=$root/home/.config XDG_RUNTIME_DIR=$root/home
export TESSELLARIUM_CONFIG_PATH=$root/settings LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
export TESS_SESSION_DIR=$root/session TESS_SESSION_SECONDS=60 TESS_SESSION_SHOT=$shots/$plan-failure.png
if [ "$plan" = german-help ]; then export LANGUAGE=de TESS_SESSION_PLAN=help; fi

xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" \
  sh -c 'touch "$1/x-started"; exec timeout -k 5 90 env LD_PRELOAD="$2" "$3"' \
  session "$root" "$driver" "$root/usr/bin/tessellarium-gui" >"$root/log" 2>&1
status=$?
[ -e "$root/x-started" ] || { cat "$root/log"; skip "no X server could be started (xvfb-run failed)"; }
cat "$root/log"

[ "$status" -eq 0 ] || fail "tessellarium-gui ended with status $status"
grep -q '^session: passed' "$root/log" || fail "the session did not finish"
# What went to the desktop's browser: the guide in the window's language and
# the mosaic's web page (on by default).
opened() { grep -q "$1" "$root/opened.txt" 2>/dev/null || fail "$2 was not opened: $(cat "$root/opened.txt" 2>/dev/null)"; }
if [ "$plan" = german-help ]; then
  grep -q '^session: the Mosaic button reads Mosaik$' "$root/log" || fail "the main window does not speak German"
  opened "/share/tessellarium/guide/index-de.html" "the German guide"
else
  opened "/share/tessellarium/guide/index.html" "the guide"
  opened "RezIroriz/index.html" "the web mosaic"
fi
echo "the $plan passed"
