#!/usr/bin/env bash
# Usage: install_test.sh CMAKE BUILD_DIR VERSION gui|nogui
# Installs BUILD_DIR under a scratch DESTDIR with prefix /usr and checks what
# landed there. A missing validator is reported and the test skipped (77)
# once everything else has passed.
set -uo pipefail

cmake=$1 build=$2 version=$3 gui=$4
app_id=org.tessellarium.Tessellarium
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0 skipped=()

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
need() { for f in "$@"; do [ -s "$root/usr/$f" ] || fail "not installed: /usr/$f"; done; }

if ! DESTDIR=$root "$cmake" --install "$build" --prefix /usr >"$root.log" 2>&1; then
  cat "$root.log"; rm -f "$root.log"; echo "FAIL: cmake --install"; exit 1
fi
rm -f "$root.log"

need bin/tessellarium \
     share/tessellarium/locale/de/LC_MESSAGES/tessellarium.mo share/tessellarium/locale/locale.txt \
     share/tessellarium/guide/index.html share/tessellarium/guide/index-de.html \
     share/tessellarium/webviewer/index.html \
     share/mime/packages/$app_id.xml share/man/man1/tessellarium.1.gz \
     share/bash-completion/completions/tessellarium share/zsh/vendor-completions/_tessellarium \
     share/fish/vendor_completions.d/tessellarium.fish
grep -q 'pattern="\*.tzc"' "$root/usr/share/mime/packages/$app_id.xml" || fail "*.tzc is not claimed"
# The builder's own settings never travel with the program.
[ -e "$root/usr/share/tessellarium/Settings" ] && fail "the build tree's Settings folder was installed"

# The desktop program's menu entry, icon and description.
if [ "$gui" = gui ]; then
  need bin/tessellarium-gui share/man/man1/tessellarium-gui.1 \
       share/applications/$app_id.desktop share/metainfo/$app_id.metainfo.xml \
       share/icons/hicolor/scalable/apps/$app_id.svg
  # Every rendered icon size is a PNG of that size.
  for png in "$root"/usr/share/icons/hicolor/*x*/apps/$app_id.png; do
    [ -e "$png" ] || { fail "no PNG application icon installed"; break; }
    size=${png#"$root"/usr/share/icons/hicolor/}; size=${size%%x*}
    got=$(od -An -j16 -N8 -tu1 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
    [ "$got" = "${size}x${size}" ] || fail "$png is $got, not ${size}x${size}"
  done

  # The desktop file names a program and an icon that were installed.
  desktop=$root/usr/share/applications/$app_id.desktop
  exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
  [ -x "$root/usr/bin/$exec_program" ] || fail "Exec=$exec_program is not installed"
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  [ -e "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "Icon=$icon is not installed"
  # The list file type the desktop file claims is the one the MIME package defines.
  mime=$(sed -n 's/^MimeType=\([^;]*\);.*/\1/p' "$desktop")
  grep -q "type=\"$mime\"" "$root/usr/share/mime/packages/$app_id.xml" || fail "MimeType=$mime is not defined"

  # The newest release of the metainfo is this version.
  release=$(grep -o '<release version="[^"]*"' "$root/usr/share/metainfo/$app_id.metainfo.xml" | head -1 | cut -d'"' -f2)
  [ "$release" = "$version" ] || fail "metainfo's newest release is $release, the program is $version"
fi

# The installed program runs and speaks German from the catalogue installed
# beside it.
export TESSELLARIUM_CONFIG_PATH=$root/config
unset TESSELLARIUM_DATA_DIR
got=$("$root/usr/bin/tessellarium" --version 2>&1) || fail "installed tessellarium --version failed: $got"
case $got in *"$version"*) ;; *) fail "installed tessellarium --version says '$got'" ;; esac
german=$(LANGUAGE=de LC_ALL=C.UTF-8 "$root/usr/bin/tessellarium" list show "$root/none.tzc" 2>&1)
english=$(LANGUAGE=en LC_ALL=C.UTF-8 "$root/usr/bin/tessellarium" list show "$root/none.tzc" 2>&1)
[ -n "$german" ] && [ "$german" != "$english" ] || fail "the installed program found no German catalogue: '$german'"

# Every command the program offers has its manual page, named on the program's own.
for command in $("$root/usr/bin/tessellarium" --help | awk '/^Commands:/ {on = 1; next} on && !NF {exit} on && /^  [^ ]/ {print $1}'); do
  need share/man/man1/tessellarium-$command.1.gz
  gzip -dc "$root/usr/share/man/man1/tessellarium.1.gz" | grep -q "^\.BR tessellarium\\\\-$command (1)" ||
    fail "tessellarium.1 does not name tessellarium-$command(1)"
done

# The example list names the tiles where the package puts them, and a program
# installed under a real prefix builds a mosaic from it and its web viewer.
example=$root/usr/share/tessellarium/example/example.tzc
if [ -e "$example" ]; then
  outside=$("$root/usr/bin/tessellarium" list show --entries "$example" |
            awk -F'\t' 'NF > 1 && index($1, "/usr/share/tessellarium/example/tiles/") != 1' | head -3)
  [ -z "$outside" ] || fail "the installed example list names tiles outside the installed data: $outside"
  prefix=$root/real
  if "$cmake" --install "$build" --prefix "$prefix" >/dev/null 2>&1; then
    mkdir -p "$root/out"
    "$prefix/bin/tessellarium" mosaic --quiet --yes --list "$prefix/share/tessellarium/example/example.tzc" \
        --output "$root/out/beach.jpg" "$prefix/share/tessellarium/example/tiles/$(ls "$prefix/share/tessellarium/example/tiles" | head -1)" \
        >"$root/out/log" 2>&1 || { cat "$root/out/log"; fail "the installed program's mosaic of the example list failed"; }
    [ -s "$root/out/beach.jpg" ] || fail "no mosaic written from the installed example list"
    [ -s "$root/out/beach RezIroriz/index.html" ] || fail "the web mosaic lacks the installed web viewer"
  else
    fail "$cmake --install --prefix $prefix"
  fi
fi

if command -v update-mime-database >/dev/null; then
  update-mime-database "$root/usr/share/mime" >/dev/null 2>&1 || fail "update-mime-database rejects the MIME package"
  grep -q "^\*\.tzc\|:\*\.tzc" "$root/usr/share/mime/globs2" 2>/dev/null || fail "*.tzc is missing from the MIME database"
fi
if [ "$gui" = nogui ]; then
  :
elif command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate"
else
  skipped+=("desktop-file-validate is not installed (scripts/install-deps installs desktop-file-utils)")
fi
if [ "$gui" = nogui ]; then
  :
elif command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml" || fail "appstreamcli validate"
else
  skipped+=("appstreamcli is not installed (scripts/install-deps installs appstream)")
fi

[ "$failures" -eq 0 ] || exit 1
if ((${#skipped[@]})); then printf 'SKIP: %s\n' "${skipped[@]}"; exit 77; fi
echo "installed layout checked"
