#!/usr/bin/env bash
# The automatic scan of a generated site (2,000 pages in five directory levels,
# 10 image links each) by weblumifang-cli --auto, beside wget -r -np fetching the
# same pages (pictures rejected); then the same scan at 20,000 pages for scaling.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/nginx.inc"
cmake --build "$WL_BENCH_BUILD" --target weblumifang-cli -j2 >/dev/null
cli="$WL_BENCH_BUILD/cli/weblumifang-cli"
small=${WL_SCAN_PAGES:-2000}
large=${WL_SCAN_LARGE_PAGES:-20000}
work="$(mktemp -d /tmp/wl-bench-scan.XXXXXX)"
# wget's copies go to tmpfs where there is one: on a disk, creating thousands
# of files right after deleting the last run's set makes wget's times swing.
wget_root="$work"
if [ -d /dev/shm ] && [ "$(df -Pm /dev/shm | awk 'NR==2{print $4}')" -gt 256 ]; then
  wget_root="$(mktemp -d /dev/shm/wl-bench-scan.XXXXXX)"
fi
trap 'wl_nginx_stop; rm -rf "$work" "$wget_root"' EXIT

python3 "$here/make_site.py" pages "$work/site/s" "$small"
python3 "$here/make_site.py" pages "$work/site/l" "$large"
wl_nginx_start "$work/site"
base="http://127.0.0.1:$WL_NGINX_PORT"

# Prints "seconds pages" for one scan.
scan_once() {
  local url="$1" out="$work/scan.out" t0 t1
  t0=$(date +%s.%N)
  "$cli" --auto -T 10 "$url" >"$out" 2>/dev/null || true
  t1=$(date +%s.%N)
  local pages
  pages=$(sed -n 's/^Done! (\([0-9]*\) html files.*/\1/p' "$out" | tail -1)
  echo "$(echo "$t1 - $t0" | bc -l) ${pages:-0}"
}

wget_once() {
  local url="$1" dir="$wget_root/wget" t0 t1
  rm -rf "$dir"
  t0=$(date +%s.%N)
  wget -q -r -np -l inf -R 'jpg,jpeg,gif,png,jif,css' -P "$dir" "$url" || true
  t1=$(date +%s.%N)
  echo "$(echo "$t1 - $t0" | bc -l) $(find "$dir" -name '*.html' | wc -l)"
}

# Best of three runs each, interleaved so both see the same machine load.
best_cli=""; best_wget=""
for _ in 1 2 3; do
  read -r s p < <(scan_once "$base/s/index.html")
  if [ -z "$best_cli" ] || [ "$(echo "$s < ${best_cli%% *}" | bc -l)" = 1 ]; then best_cli="$s $p"; fi
  read -r s p < <(wget_once "$base/s/index.html")
  if [ -z "$best_wget" ] || [ "$(echo "$s < ${best_wget%% *}" | bc -l)" = 1 ]; then best_wget="$s $p"; fi
done
read -r cs cp <<<"$best_cli"
read -r ws wp <<<"$best_wget"
[ "$cp" = "$small" ] || echo "warning: scan found $cp of $small pages" >&2
[ "$wp" = "$small" ] || echo "warning: wget fetched $wp of $small pages" >&2
cli_rate=$(echo "$cp / $cs" | bc -l)
wget_rate=$(echo "$wp / $ws" | bc -l)
printf 'scan.pages_s %.0f pages/s\n' "$cli_rate"
printf 'scan.wget_pages_s %.0f pages/s\n' "$wget_rate"
printf 'scan.ratio_vs_wget %.2f x\n' "$(echo "$cli_rate / $wget_rate" | bc -l)"

# Best of two for the large site as well, so both figures see the same noise.
read -r ls lp < <(scan_once "$base/l/index.html")
read -r s p < <(scan_once "$base/l/index.html")
if [ "$(echo "$s < $ls" | bc -l)" = 1 ]; then ls=$s; lp=$p; fi
[ "$lp" = "$large" ] || echo "warning: large scan found $lp of $large pages" >&2
printf 'scan.large_pages_s %.0f pages/s\n' "$(echo "$lp / $ls" | bc -l)"
printf 'scan.scaling %.2f x (time for %d pages / time for %d pages; linear is %d)\n' \
  "$(echo "$ls / $cs" | bc -l)" "$large" "$small" "$((large / small))"
printf 'scan.peak_rss_mb %s MB (%d pages)\n' \
  "$(wl_peak_rss_mb "$cli" --auto -T 10 "$base/s/index.html")" "$small"
printf 'scan.large_peak_rss_mb %s MB (%d pages)\n' \
  "$(wl_peak_rss_mb "$cli" --auto -T 10 "$base/l/index.html")" "$large"
