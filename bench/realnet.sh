#!/usr/bin/env bash
# Scan and download through a relay that adds 10 ms each way (a 20 ms round
# trip), beside the peers that fetch in parallel, in the same rounds:
#  - an llgal gallery made here from the JPEG photos of Debian's
#    mate-backgrounds: weblumifang-cli --auto --download beside
#    wget2 -r --no-parent and wget -r, both with -A for the picture types;
#  - 500 files of 10 to 40 KB from a list: ours at the default and at -j 16
#    beside wget2 at its default and at --max-threads=16, and aria2c -j 16;
#  - one 16 MB file, then 100 small ones, at -j 4 beside aria2c -j 4.
# Every run of ours must give the memo, list and files of -j 1 --no-keep-alive.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/nginx.inc"
for tool in wget2 wget aria2c llgal; do
  command -v "$tool" >/dev/null || { echo "realnet needs $tool (tools/deps.sh)" >&2; exit 1; }
done
photos=/usr/share/backgrounds/mate
[ -d "$photos" ] || { echo "realnet needs the photos of mate-backgrounds (tools/deps.sh)" >&2; exit 1; }
# WL_REALNET_CLI: another build of the program to measure (an older one, say).
if [ -n "${WL_REALNET_CLI:-}" ]; then
  cli="$WL_REALNET_CLI"
else
  cmake --build "$WL_BENCH_BUILD" --target weblumifang-cli -j2 >/dev/null
  cli="$WL_BENCH_BUILD/cli/weblumifang-cli"
fi
rounds=${WL_REALNET_ROUNDS:-3}
delay_ms=${WL_REALNET_DELAY_MS:-10}
nfiles=${WL_REALNET_FILES:-500}
nsmall=100
types='jpg,jpeg,png,gif'
work="$(mktemp -d /tmp/wl-bench-realnet.XXXXXX)"
relay_pid=""
cleanup() {
  if [ -n "$relay_pid" ]; then kill "$relay_pid" 2>/dev/null || true; wait "$relay_pid" 2>/dev/null || true; fi
  wl_nginx_stop
  rm -rf "$work"
}
trap cleanup EXIT

# The gallery: every JPEG photo of the package, with thumbnails, scaled
# copies and a slide page per photo, as llgal makes them.
mkdir -p "$work/site/g"
find "$photos" -name '*.jpg' -exec cp {} "$work/site/g/" \;
(cd "$work/site/g" && llgal -d . --li --sy 1080 >/dev/null 2>&1)
wl_nginx_start "$work/site"

relay_port=$(wl_free_port)
python3 "$here/latency_relay.py" "$relay_port" "$WL_NGINX_PORT" --delay-ms "$delay_ms" --ready "$work/relay.ready" \
  >"$work/relay.log" 2>&1 </dev/null &
relay_pid=$!
for _ in $(seq 1 200); do [ -e "$work/relay.ready" ] && break; sleep 0.01; done
base="http://127.0.0.1:$relay_port"

python3 "$here/make_site.py" files "$work/site/f" "$nfiles" "$base/f/" --size 10240 --max-size 40960
# One big file ahead of small ones: those must not wait behind it.
mkdir -p "$work/site/h"
head -c $((16 * 1024 * 1024)) /dev/urandom >"$work/site/h/big.jpg"
python3 "$here/make_site.py" files "$work/site/h/s" "$nsmall" "$base/h/s/" --size 10240 --max-size 40960
{ printf '%s\r\n' "$base/h/big.jpg"; cat "$work/site/h/s/list.bls"; } >"$work/hol.bls"
tr -d '\r' <"$work/hol.bls" >"$work/hol.txt"

gallery_pictures=$(find "$work/site/g" -type f \( -name '*.jpg' -o -name '*.png' \) | wc -l)
gallery_pages=$(find "$work/site/g" -name '*.html' | wc -l)
gallery_mb=$(du -sm "$work/site/g" | cut -f1)

# One run of ours: its memo, list and files digested into $work/digest.TAG.
# Prints the seconds it took. The folder is the same for every run, so the
# memo names the same paths.
ours() {
  local tag="$1" mode="$2"; shift 2
  local out="$work/out" t0 t1
  rm -rf "$out" "$work/list.bls"; mkdir -p "$out"
  t0=$(date +%s.%N)
  if [ "$mode" = gallery ]; then
    "$cli" --auto -T 10 "$@" -s "$work/list.bls" -d "$out" "$base/g/index.html" >"$work/memo" 2>/dev/null || true
  else
    "$cli" -T 10 "$@" -l "$work/$mode.bls" -d "$out" >"$work/memo" 2>/dev/null || true
    : >"$work/list.bls"
  fi
  t1=$(date +%s.%N)
  {
    cat "$work/memo" "$work/list.bls"
    (cd "$out" && find . -type f | LC_ALL=C sort | xargs -r sha256sum)
  } | sha256sum | cut -d' ' -f1 >"$work/digest.$tag"
  echo "$(find "$out" -type f | wc -l)" >"$work/count.$tag"
  echo "$t1 - $t0" | bc -l
}
# One run of a peer into a fresh folder; prints the seconds.
peer() {
  local tag="$1"; shift
  local out="$work/peer" s
  rm -rf "$out"; mkdir -p "$out"
  s=$(cd "$out" && wl_time "$@")
  find "$out" -type f \( -name '*.jpg' -o -name '*.png' \) | wc -l >"$work/count.$tag"
  echo "$s"
}
check_count() {
  local tag="$1" want="$2" n
  n=$(cat "$work/count.$tag")
  [ "$n" = "$want" ] || echo "warning: $tag saved $n of $want files" >&2
}

# The reference results, once.
cp "$work/site/f/list.bls" "$work/files.bls"
ours ref_gallery gallery -j 1 --no-keep-alive >/dev/null
ours ref_files files -j 1 --no-keep-alive >/dev/null
ours ref_hol hol -j 1 --no-keep-alive >/dev/null
same=1
same_check() {
  if ! cmp -s "$work/digest.$1" "$work/digest.ref_$2"; then
    same=0
    echo "warning: $1 differs from -j 1 --no-keep-alive" >&2
  fi
}

g=(); wg2=(); wg=(); f=(); f16=(); wf2=(); wf216=(); af16=(); h=(); ah=()
for _ in $(seq 1 "$rounds"); do
  g+=("$(ours gallery gallery)"); same_check gallery gallery
  wg2+=("$(peer wget2_gallery wget2 -q -r --no-parent --robots=off -l 0 -A "$types" "$base/g/index.html")")
  check_count wget2_gallery "$(cat "$work/count.ref_gallery")"
  wg+=("$(peer wget_gallery wget -q -r --no-parent -e robots=off -l inf -A "$types" "$base/g/index.html")")
  check_count wget_gallery "$(cat "$work/count.ref_gallery")"

  f+=("$(ours files files)"); same_check files files; check_count files "$nfiles"
  f16+=("$(ours files16 files -j 16)"); same_check files16 files; check_count files16 "$nfiles"
  wf2+=("$(peer wget2_files wget2 -q -i "$work/site/f/list.txt")"); check_count wget2_files "$nfiles"
  wf216+=("$(peer wget2_files16 wget2 -q --max-threads=16 -i "$work/site/f/list.txt")"); check_count wget2_files16 "$nfiles"
  af16+=("$(peer aria2_files16 aria2c -q -j 16 --file-allocation=none --auto-file-renaming=false -i "$work/site/f/list.txt")")
  check_count aria2_files16 "$nfiles"

  h+=("$(ours hol hol -j 4)"); same_check hol hol; check_count hol $((nsmall + 1))
  ah+=("$(peer aria2_hol aria2c -q -j 4 --file-allocation=none --auto-file-renaming=false -i "$work/hol.txt")")
  check_count aria2_hol $((nsmall + 1))
done

m() { wl_median "$@"; }
ratio() { echo "$1 / $2" | bc -l; }
rate() { echo "$nfiles / $1" | bc -l; }
mg=$(m "${g[@]}"); mwg2=$(m "${wg2[@]}"); mwg=$(m "${wg[@]}")
mf=$(m "${f[@]}"); mf16=$(m "${f16[@]}"); mwf2=$(m "${wf2[@]}"); mwf216=$(m "${wf216[@]}"); maf16=$(m "${af16[@]}")
mh=$(m "${h[@]}"); mah=$(m "${ah[@]}")
printf 'realnet.gallery_s %.2f s (%d pages, %d pictures, %d MB, %d ms round trip)\n' "$mg" \
  "$gallery_pages" "$gallery_pictures" "$gallery_mb" $((2 * delay_ms))
printf 'realnet.wget2_gallery_s %.2f s\n' "$mwg2"
printf 'realnet.wget_gallery_s %.2f s\n' "$mwg"
printf 'realnet.gallery_ratio_vs_wget2 %.2f x\n' "$(ratio "$mwg2" "$mg")"
printf 'realnet.gallery_ratio_vs_wget %.2f x\n' "$(ratio "$mwg" "$mg")"
printf 'realnet.files_s %.1f files/s (%d files of 10-40 KB, default connections)\n' "$(rate "$mf")" "$nfiles"
printf 'realnet.files16_s %.1f files/s (-j 16)\n' "$(rate "$mf16")"
printf 'realnet.wget2_files_s %.1f files/s (default)\n' "$(rate "$mwf2")"
printf 'realnet.wget2_files16_s %.1f files/s (--max-threads=16)\n' "$(rate "$mwf216")"
printf 'realnet.aria2_files16_s %.1f files/s (-j 16)\n' "$(rate "$maf16")"
printf 'realnet.files_ratio_vs_wget2 %.2f x\n' "$(ratio "$mwf2" "$mf")"
printf 'realnet.files16_ratio_vs_wget2 %.2f x\n' "$(ratio "$mwf216" "$mf16")"
printf 'realnet.files16_ratio_vs_aria2 %.2f x\n' "$(ratio "$maf16" "$mf16")"
printf 'realnet.hol_s %.2f s (16 MB, then %d files, -j 4)\n' "$mh" "$nsmall"
printf 'realnet.aria2_hol_s %.2f s (-j 4)\n' "$mah"
printf 'realnet.hol_ratio_vs_aria2 %.2f x\n' "$(ratio "$mah" "$mh")"
printf 'realnet.same_results %d (gallery %d files, %d rounds)\n' "$same" "$(cat "$work/count.ref_gallery")" "$rounds"
