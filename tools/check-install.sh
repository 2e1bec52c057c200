#!/usr/bin/env bash
# Checks what a user and a distribution get from a finished build: the files
# `cmake --install` puts in place, the desktop entry, the metainfo and the
# manual pages by their validators, and the two Debian packages made by cpack
# (weblumifang, the window; weblumifang-cli, the command line): their control
# data, their contents, and installing and removing them in a throw-away root
# (the machine's own package database is never touched).
#
#   bash tools/check-install.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: check-install.sh BUILD_DIR}" && pwd)
id=de.quenbrik.WebLumifang
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "check-install: no project version in $build/CMakeCache.txt" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/wl-check-install-XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "check-install: FAILED: $*" >&2; failures=$((failures + 1)); }
step() { echo "== $*"; }

# The files of an installation below its prefix, sorted: those of the window
# program's package, those of the command line's, and both together.
window_files() {
  printf '%s\n' bin/weblumifang \
    "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml" \
    "share/icons/hicolor/scalable/apps/$id.svg" \
    share/man/man1/weblumifang.1.gz
  for s in 16 22 24 32 48 64 128 256; do
    echo "share/icons/hicolor/${s}x${s}/apps/$id.png"
  done
}
cli_files() {
  printf '%s\n' bin/weblumifang-cli share/man/man1/weblumifang-cli.1.gz
}
window_files | sort > "$work/expected-weblumifang"
cli_files | sort > "$work/expected-weblumifang-cli"
sort "$work/expected-weblumifang" "$work/expected-weblumifang-cli" > "$work/expected"

# The programs named answer --version with their name and the project's
# version, without a display.
check_versions() {
  local bindir=$1
  shift
  for prog in "$@"; do
    local out
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$bindir/$prog" --version 2>&1) || fail "$prog --version exits with $?"
    [ "$out" = "$prog $version" ] || fail "$prog --version says '$out', not '$prog $version'"
  done
}

step "install into a DESTDIR"
dest="$work/dest"
DESTDIR="$dest" cmake --install "$build" --prefix /usr/local > /dev/null
(cd "$dest/usr/local" && find . -type f -o -type l) | sed 's|^\./||' | sort > "$work/installed"
diff -u "$work/expected" "$work/installed" || fail "the installed files differ from the expected list"
check_versions "$dest/usr/local/bin" weblumifang weblumifang-cli
for size in 16 48 256; do
  png="$dest/usr/local/share/icons/hicolor/${size}x${size}/apps/$id.png"
  # PNG: width and height are the big-endian words at bytes 16 and 20.
  dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$dims" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $dims"
done

step "desktop entry"
entry="$dest/usr/local/share/applications/$id.desktop"
# Hints count too: one warns that an entry with two main categories shows up
# twice in some menus.
validated=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate"
[ -z "$validated" ] || fail "desktop-file-validate: $validated"
grep -qx 'Categories=Graphics;Viewer;' "$entry" || fail "the entry's categories are not Graphics;Viewer;"
grep -qx 'Exec=weblumifang %u' "$entry" || fail "the entry does not start weblumifang with an address"
grep -qx "Icon=$id" "$entry" || fail "the entry's icon is not $id"
# A picture collector must never become the default web browser.
if grep -q '^MimeType=.*x-scheme-handler' "$entry"; then fail "the entry claims web addresses"; fi

step "metainfo"
appstreamcli validate --no-net "$dest/usr/local/share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"
grep -q "<release version=\"$version\"" "$dest/usr/local/share/metainfo/$id.metainfo.xml" \
  || fail "the metainfo has no release $version"

step "manual pages"
for prog in weblumifang weblumifang-cli; do
  page="$dest/usr/local/share/man/man1/$prog.1.gz"
  zcat "$page" > "$work/$prog.1"
  groff -man -ww -z "$work/$prog.1" 2> "$work/groff.err" || fail "groff on $prog.1"
  if [ -s "$work/groff.err" ]; then cat "$work/groff.err" >&2; fail "groff warns about $prog.1"; fi
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" > /dev/null 2> "$work/man.err" || fail "man on $prog.1"
  if [ -s "$work/man.err" ]; then cat "$work/man.err" >&2; fail "man warns about $prog.1"; fi
  grep -q "^\.TH .*\"Web Lumifang $version\"" "$work/$prog.1" || fail "$prog.1 does not carry version $version"
  # Every option that --help lists is described in the page (as roff writes it).
  "$dest/usr/local/bin/$prog" --help > "$work/help"
  for opt in $(grep -oE -- '(^|[ ,])--?[a-zA-Z][a-zA-Z-]*' "$work/help" | tr -d ' ,' | sort -u); do
    roff=${opt//-/\\-}
    grep -qF -- "$roff" "$work/$prog.1" || fail "$prog.1 does not describe $opt"
  done
done

step "Debian packages"
(cd "$build" && cpack -G DEB -B "$work/pkg" > "$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack"; }
debs=()
for pkg in weblumifang weblumifang-cli; do
  deb=$(ls "$work/pkg/${pkg}_"*.deb 2> /dev/null | head -n 1 || true)
  [ -n "$deb" ] || { fail "cpack made no package $pkg"; continue; }
  debs+=("$deb")
  echo "-- $pkg: $(basename "$deb")"
  dpkg-deb --info "$deb" > "$work/info"
  grep -qx " Package: $pkg" "$work/info" || fail "$pkg: package name"
  grep -qx " Version: $version" "$work/info" || fail "$pkg: package version"
  depends=$(sed -n 's/^ Depends: //p' "$work/info")
  echo "Depends: $depends"
  if [ "$pkg" = weblumifang ]; then
    needed=(libc6 libstdc++6 libqt6widgets6 libqt6printsupport6 libssl3 libjpeg62-turbo libpng16-16 qt6-qpa-plugins ca-certificates)
  else
    needed=(libc6 libstdc++6 libssl3 ca-certificates)
  fi
  for lib in "${needed[@]}"; do
    [[ ", $depends," == *", $lib "* || ", $depends," == *", $lib,"* ]] || fail "$pkg does not depend on $lib"
  done
  if [ "$pkg" = weblumifang-cli ]; then
    # The command line must install on a machine without the window system.
    gui=$(tr ',|' '\n\n' <<< "$depends" | sed 's/^ *//; s/ .*//' \
      | grep -E '^(libqt6gui|libqt6widgets|libqt6printsupport|qt6-qpa-plugins)' | sort -u | tr '\n' ' ' || true)
    [ -z "$gui" ] || fail "weblumifang-cli depends on the window system: ${gui% }; a library that weblumifang-cli links still needs Qt Gui or Widgets (see: ldd $build/cli/weblumifang-cli | grep -i qt)"
  fi
  dpkg-deb --contents "$deb" | awk '{print $6}' | grep -v '/$' | sed 's|^\./usr/||' | sort > "$work/packaged"
  diff -u "$work/expected-$pkg" "$work/packaged" || fail "the files of $pkg differ from the expected list"
  if command -v lintian > /dev/null; then
    # Errors only: a package built by cpack has no Debian changelog or
    # copyright file of a distribution's own making, which lintian would ask for.
    lintian --tag-display-limit 0 --fail-on error \
      --suppress-tags no-copyright-file,no-changelog,debian-changelog-file-missing,changelog-file-missing-in-native-package \
      "$deb" || fail "lintian reports errors on $pkg"
  fi
done

if [ "${#debs[@]}" = 2 ]; then
  step "install and remove the packages in a throw-away root"
  root="$work/root"
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
  touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
  # The root is empty: its dependencies are the machine's, checked above.
  force=(--force-depends --force-bad-path --force-script-chrootless)
  [ "$(id -u)" = 0 ] || force+=(--force-not-root)
  run_dpkg() {
    dpkg --root="$root" "${force[@]}" --log=/dev/null "$@" > "$work/dpkg.log" 2>&1 \
      || { cat "$work/dpkg.log" >&2; fail "dpkg $1 in the throw-away root"; }
  }
  installed_files() {
    { (cd "$root/usr" && find . \( -type f -o -type l \)) || true; } | sed 's|^\./||' | sort
  }
  # The command line alone brings nothing of the window.
  run_dpkg -i "${debs[1]}"
  installed_files > "$work/installed"
  diff -u "$work/expected-weblumifang-cli" "$work/installed" || fail "weblumifang-cli alone installs other files"
  check_versions "$root/usr/bin" weblumifang-cli
  run_dpkg -i "${debs[0]}"
  installed_files > "$work/installed"
  diff -u "$work/expected" "$work/installed" || fail "the two packages together install other files"
  check_versions "$root/usr/bin" weblumifang weblumifang-cli
  run_dpkg --purge weblumifang weblumifang-cli
  # dpkg removes the folders it emptied, /usr included.
  left=$(find "$root" \( -type f -o -type l \) -not -path "$root/var/lib/dpkg/*")
  [ -z "$left" ] || fail "files left after removal: $left"
fi

if [ "$failures" -gt 0 ]; then
  echo "check-install: $failures check(s) failed" >&2
  exit 1
fi
echo "check-install: all checks passed"
