#!/usr/bin/env bash
# The automatic scan of a generated site (2,000 pages in five directory levels,
# 10 image links each) by weblumifang-cli --auto, beside wget -r -np fetching the
# same pages (pictures rejected); then the same scan at 20,000 pages for scaling.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/nginx.inc"
cmake --build "$WL_BENCH_BUILD" --target weblumifang-cli -j2 >/dev/null
cli="${WL_BENCH_CLI:-$WL_BENCH_BUILD/cli/weblumifang-cli}"
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

# Five rounds, each program once per round so both see the same machine;
# the medians are reported.
rounds=${WL_SCAN_ROUNDS:-5}
cli_rates=(); wget_rates=(); cli_times=()
for _ in $(seq 1 "$rounds"); do
  read -r s p < <(scan_once "$base/s/index.html")
  [ "$p" = "$small" ] || echo "warning: scan found $p of $small pages" >&2
  cli_rates+=("$(echo "$p / $s" | bc -l)"); cli_times+=("$s")
  read -r s p < <(wget_once "$base/s/index.html")
  [ "$p" = "$small" ] || echo "warning: wget fetched $p of $small pages" >&2
  wget_rates+=("$(echo "$p / $s" | bc -l)")
done
cli_rate=$(wl_median "${cli_rates[@]}")
wget_rate=$(wl_median "${wget_rates[@]}")
cs=$(wl_median "${cli_times[@]}")
printf 'scan.pages_s %.0f pages/s\n' "$cli_rate"
printf 'scan.wget_pages_s %.0f pages/s\n' "$wget_rate"
printf 'scan.ratio_vs_wget %.2f x\n' "$(echo "$cli_rate / $wget_rate" | bc -l)"
printf 'scan.round_ratios'
for i in "${!cli_rates[@]}"; do printf ' %.2f' "$(echo "${cli_rates[$i]} / ${wget_rates[$i]}" | bc -l)"; done
printf ' x (each round)\n'

# The large site three times, median, for the scaling figure.
large_times=()
for _ in 1 2 3; do
  read -r s p < <(scan_once "$base/l/index.html")
  [ "$p" = "$large" ] || echo "warning: large scan found $p of $large pages" >&2
  large_times+=("$s")
done
ls=$(wl_median "${large_times[@]}")
lp=$large
printf 'scan.large_pages_s %.0f pages/s\n' "$(echo "$lp / $ls" | bc -l)"
printf 'scan.scaling %.2f x (time for %d pages / time for %d pages; linear is %d)\n' \
  "$(echo "$ls / $cs" | bc -l)" "$large" "$small" "$((large / small))"
printf 'scan.peak_rss_mb %s MB (%d pages)\n' \
  "$(wl_peak_rss_mb "$cli" --auto -T 10 "$base/s/index.html")" "$small"
printf 'scan.large_peak_rss_mb %s MB (%d pages)\n' \
  "$(wl_peak_rss_mb "$cli" --auto -T 10 "$base/l/index.html")" "$large"
