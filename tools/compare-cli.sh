#!/usr/bin/env bash
# Runs two builds of weblumifang-cli on the same local sites and says whether
# what they print and the files they leave are the same: for a change that
# must not change behaviour (a refactoring, a faster way of fetching).
#   tools/compare-cli.sh NEW_CLI OLD_CLI
# Sites, served by a private nginx: Debian's Apache manual (apache2-doc), an
# llgal gallery of mate-backgrounds' photos (scan, list, download; also with
# -j 1 --no-keep-alive), and a page with modern markup whose follow questions
# are answered No.
set -uo pipefail
[ $# -eq 2 ] || { echo "usage: $0 NEW_CLI OLD_CLI" >&2; exit 2; }
root="$(cd "$(dirname "$0")/.." && pwd)"
. "$root/bench/nginx.inc"
NEW="$1"; OLD="$2"
w="$(mktemp -d /tmp/wl-compare.XXXXXX)"
trap 'wl_nginx_stop; rm -rf "$w"' EXIT
mkdir -p "$w/site/g"
cp -r /usr/share/doc/apache2-doc/manual "$w/site/manual"
find /usr/share/backgrounds/mate -name '*.jpg' -exec cp {} "$w/site/g/" \;
(cd "$w/site/g" && llgal -d . --li --sy 1080 >/dev/null 2>&1)
printf '<html><body><a href="g/index.html">g</a><img srcset="g/thumb_x.jpg 100w, g/slide_y.jpg 800w" src="a.jpg"><a href="manual/en/index.html">m</a></body></html>' >"$w/site/index.html"
wl_nginx_start "$w/site"
base="http://127.0.0.1:$WL_NGINX_PORT"
for v in NEW OLD; do
  b="${!v}"
  "$b" --auto -T 10 -s "$w/$v-manual.bls" "$base/manual/en/index.html" >"$w/$v-manual.out" 2>"$w/$v-manual.err"
  echo "$v manual: exit $?"
  "$b" --auto -T 10 -s "$w/$v-gal.bls" -d "$w/$v-gal" "$base/g/index.html" >"$w/$v-gal.out" 2>"$w/$v-gal.err"
  echo "$v gallery: exit $?"
  "$b" -j 1 --no-keep-alive --auto -T 10 -d "$w/$v-gal1" "$base/g/index.html" >"$w/$v-gal1.out" 2>"$w/$v-gal1.err"
  echo "$v gallery -j 1: exit $?"
  "$b" --modern -T 10 -d "$w/$v-mod" "$base/index.html" >"$w/$v-mod.out" 2>"$w/$v-mod.err" </dev/null
  echo "$v modern: exit $?"
done
differ=0
for f in manual.out manual.bls manual.err gal.out gal.bls gal.err gal1.out mod.out mod.err; do
  if cmp -s "$w/NEW-$f" "$w/OLD-$f"; then echo "same $f ($(wc -l <"$w/NEW-$f") lines)"; else echo "DIFFERENT $f"; differ=1; fi
done
for d in gal gal1 mod; do
  if diff -r "$w/NEW-$d" "$w/OLD-$d" >/dev/null; then echo "same files of $d ($(ls "$w/NEW-$d" | wc -l))"; else echo "DIFFERENT files of $d"; differ=1; fi
done
exit $differ
