#!/usr/bin/env bash
# A real documentation site: Debian's Apache manual (apache2-doc) served by
# nginx, its start page relocating as on the real site (/index.html answers
# 302 with /en/index.html). weblumifang-cli --auto crawls it from /index.html
# beside wget -r --no-parent on the same server. Pages are the distinct HTML
# addresses answered 200 in nginx's log, errors the 404s, per program.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/nginx.inc"
manual=${WL_REALWEB_ROOT:-/usr/share/doc/apache2-doc/manual}
if [ ! -f "$manual/en/index.html" ]; then
  echo "the Apache manual is missing ($manual): apt-get install apache2-doc" >&2
  exit 1
fi
cmake --build "$WL_BENCH_BUILD" --target weblumifang-cli -j2 >/dev/null
cli="${WL_BENCH_CLI:-$WL_BENCH_BUILD/cli/weblumifang-cli}"
work="$(mktemp -d /tmp/wl-bench-realweb.XXXXXX)"
wget_root="$work"
if [ -d /dev/shm ] && [ "$(df -Pm /dev/shm | awk 'NR==2{print $4}')" -gt 256 ]; then
  wget_root="$(mktemp -d /dev/shm/wl-bench-realweb.XXXXXX)"
fi
trap 'wl_nginx_stop; rm -rf "$work" "$wget_root"' EXIT

log="$work/access.log"
export WL_NGINX_ACCESS_LOG="$log"
export WL_NGINX_SERVER_EXTRA="location = /index.html { return 302 /en/index.html; }"
wl_nginx_start "$manual"
start="http://127.0.0.1:$WL_NGINX_PORT/index.html"
# A crawl that does not end is a result too: it is stopped and reported.
limit=${WL_REALWEB_LIMIT_S:-600}

# Distinct HTML pages answered 200, and 404s, in the log since it was emptied.
log_pages() { awk '$1 == 200 && $3 ~ /^text\/html/ {print $2}' "$log" | sort -u | wc -l; }
log_requests() { awk '$1 == 200 && $3 ~ /^text\/html/' "$log" | wc -l; }
log_errors() { awk '$1 == 404' "$log" | wc -l; }

# Prints "seconds peak_rss_mb pages html_requests errors ended" for one run.
run_once() {
  : >"$log"
  local tf="$work/time" t0 t1 ended=1
  t0=$(date +%s.%N)
  timeout "$limit" /usr/bin/time -f '%M' -o "$tf" "$@" >"$work/out" 2>&1 || { [ $? -eq 124 ] && ended=0; }
  t1=$(date +%s.%N)
  sleep 0.2  # nginx writes its last log lines
  local rss; rss=$(awk 'END {printf "%.1f", $1/1024}' "$tf" 2>/dev/null || echo 0)
  echo "$(echo "$t1 - $t0" | bc -l) ${rss:-0} $(log_pages) $(log_requests) $(log_errors) $ended"
}

rounds=${WL_REALWEB_ROUNDS:-3}
times=(); wtimes=(); rsss=(); pages=0; wpages=0; requests=0; errors=0; werrors=0; all_ended=1
for _ in $(seq 1 "$rounds"); do
  read -r s rss p req e ended < <(run_once "$cli" --auto -T 10 "$start")
  times+=("$s"); rsss+=("$rss"); pages=$p; requests=$req; errors=$e
  [ "$ended" = 1 ] || all_ended=0
  rm -rf "$wget_root/wget"
  read -r s _ p _ e _ < <(run_once wget -q -r -l inf --no-parent -e robots=off --delete-after \
    -P "$wget_root/wget" "$start")
  wtimes+=("$s"); wpages=$p; werrors=$e
done
t=$(wl_median "${times[@]}")
wt=$(wl_median "${wtimes[@]}")
rate=$(echo "$pages / $t" | bc -l)
wrate=$(echo "$wpages / $wt" | bc -l)
printf 'realweb.ended %s (1: every crawl ended within %s s)\n' "$all_ended" "$limit"
printf 'realweb.pages %d pages\n' "$pages"
printf 'realweb.wget_pages %d pages\n' "$wpages"
printf 'realweb.page_requests %d requests (HTML answered 200; equal to pages when each is fetched once)\n' "$requests"
printf 'realweb.pages_s %.0f pages/s\n' "$rate"
printf 'realweb.wget_pages_s %.0f pages/s\n' "$wrate"
printf 'realweb.ratio_vs_wget %.2f x\n' "$(echo "$rate / $wrate" | bc -l)"
printf 'realweb.peak_rss_mb %s MB\n' "$(wl_median "${rsss[@]}")"
printf 'realweb.errors %d 404s\n' "$errors"
printf 'realweb.wget_errors %d 404s\n' "$werrors"
