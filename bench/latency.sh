#!/usr/bin/env bash
# The scan and the downloads on a network with a 20 ms round trip: a relay in
# front of loopback nginx delays every byte and every connection set-up by
# 10 ms each way. weblumifang-cli with its defaults and with -j 1 beside wget
# (one connection kept open) in the same rounds, over http and https; then
# whether the default run gives exactly what -j 1 --no-keep-alive gives.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/nginx.inc"
cmake --build "$WL_BENCH_BUILD" --target weblumifang-cli -j2 >/dev/null
cli="${WL_BENCH_CLI:-$WL_BENCH_BUILD/cli/weblumifang-cli}"
npages=${WL_LATENCY_PAGES:-500}
nfiles=${WL_LATENCY_FILES:-1000}
rounds=${WL_LATENCY_ROUNDS:-3}
delay_ms=${WL_LATENCY_DELAY_MS:-10}
work="$(mktemp -d /tmp/wl-bench-latency.XXXXXX)"
relay_pids=()
cleanup() {
  for p in "${relay_pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  wl_nginx_stop
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/site"
python3 "$here/make_site.py" pages "$work/site/s" "$npages"
wl_nginx_start "$work/site"
# A certificate made for this run, and an https listener beside the plain one.
wl_nginx_add_tls "$work"
tls_port=$WL_TLS_PORT

# One relay per listener; start_relay TARGET sets relay_port. (Not run in a
# command substitution: the relay would hold its output open for ever.)
start_relay() {
  local ready
  relay_port=$(wl_free_port)
  ready="$work/relay.$relay_port"
  python3 "$here/latency_relay.py" "$relay_port" "$1" --delay-ms "$delay_ms" --ready "$ready" \
    >"$work/relay.$relay_port.log" 2>&1 </dev/null &
  relay_pids+=($!)
  for _ in $(seq 1 200); do [ -e "$ready" ] && break; sleep 0.01; done
}
start_relay "$WL_NGINX_PORT"; plain_relay=$relay_port
start_relay "$tls_port"; tls_relay=$relay_port
base="http://127.0.0.1:$plain_relay"
sbase="https://127.0.0.1:$tls_relay"

python3 "$here/make_site.py" files "$work/site/f" "$nfiles" "$base/f/"
sed "s|$base|$sbase|" "$work/site/f/list.bls" >"$work/https.bls"
sed "s|$base|$sbase|" "$work/site/f/list.txt" >"$work/https.txt"
count_files() { find "$1" -type f | wc -l; }

# Prints "seconds pages" for one scan with the extra options given.
scan_once() {
  local out="$work/scan.out" t0 t1 pages
  t0=$(date +%s.%N)
  "$cli" --auto -T 10 "$@" "$base/s/index.html" >"$out" 2>/dev/null || true
  t1=$(date +%s.%N)
  pages=$(sed -n 's/^Done! (\([0-9]*\) html files.*/\1/p' "$out" | tail -1)
  echo "$(echo "$t1 - $t0" | bc -l) ${pages:-0}"
}
wget_scan_once() {
  local dir="$work/wget-scan" t0 t1
  rm -rf "$dir"
  t0=$(date +%s.%N)
  wget -q -r -np -l inf -R 'jpg,jpeg,gif,png,jif,css' -P "$dir" "$base/s/index.html" || true
  t1=$(date +%s.%N)
  echo "$(echo "$t1 - $t0" | bc -l) $(find "$dir" -name '*.html' | wc -l)"
}
# Rate in files per second of one download command; $1 is its target folder.
files_rate() {
  local dir="$1" s n; shift
  rm -rf "$dir"; mkdir -p "$dir"
  s=$(wl_time "$@")
  n=$(count_files "$dir")
  [ "$n" = "$nfiles" ] || echo "warning: $(basename "$1") saved $n of $nfiles files" >&2
  rm -rf "$dir"
  echo "$n / $s" | bc -l
}

scan=(); scan_j1=(); wscan=(); dl=(); wdl=(); sdl=(); swdl=()
for _ in $(seq 1 "$rounds"); do
  read -r s p < <(scan_once)
  [ "$p" = "$npages" ] || echo "warning: scan found $p of $npages pages" >&2
  scan+=("$(echo "$p / $s" | bc -l)")
  read -r s p < <(scan_once -j 1)
  [ "$p" = "$npages" ] || echo "warning: scan -j 1 found $p of $npages pages" >&2
  scan_j1+=("$(echo "$p / $s" | bc -l)")
  read -r s p < <(wget_scan_once)
  [ "$p" = "$npages" ] || echo "warning: wget fetched $p of $npages pages" >&2
  wscan+=("$(echo "$p / $s" | bc -l)")

  dl+=("$(files_rate "$work/out" "$cli" -T 10 -l "$work/site/f/list.bls" -d "$work/out")")
  wdl+=("$(files_rate "$work/out" wget -q -i "$work/site/f/list.txt" -P "$work/out")")
  sdl+=("$(files_rate "$work/out" "$cli" -T 10 --ca-file "$work/ca.pem" -l "$work/https.bls" -d "$work/out")")
  swdl+=("$(files_rate "$work/out" wget -q --ca-certificate="$work/ca.pem" -i "$work/https.txt" -P "$work/out")")
done
ratio() { echo "$1 / $2" | bc -l; }
m_scan=$(wl_median "${scan[@]}"); m_scan_j1=$(wl_median "${scan_j1[@]}"); m_wscan=$(wl_median "${wscan[@]}")
m_dl=$(wl_median "${dl[@]}"); m_wdl=$(wl_median "${wdl[@]}")
m_sdl=$(wl_median "${sdl[@]}"); m_swdl=$(wl_median "${swdl[@]}")
printf 'latency.scan_pages_s %.1f pages/s (%d pages, %d ms round trip)\n' "$m_scan" "$npages" $((2 * delay_ms))
printf 'latency.scan_j1_pages_s %.1f pages/s\n' "$m_scan_j1"
printf 'latency.wget_scan_pages_s %.1f pages/s\n' "$m_wscan"
printf 'latency.scan_ratio_vs_wget %.2f x\n' "$(ratio "$m_scan" "$m_wscan")"
printf 'latency.scan_ratio_vs_wget_j1 %.2f x\n' "$(ratio "$m_scan_j1" "$m_wscan")"
printf 'latency.download_files_s %.1f files/s (%d files)\n' "$m_dl" "$nfiles"
printf 'latency.wget_files_s %.1f files/s\n' "$m_wdl"
printf 'latency.download_ratio_vs_wget %.2f x\n' "$(ratio "$m_dl" "$m_wdl")"
printf 'latency.https_download_files_s %.1f files/s\n' "$m_sdl"
printf 'latency.https_wget_files_s %.1f files/s\n' "$m_swdl"
printf 'latency.https_download_ratio_vs_wget %.2f x\n' "$(ratio "$m_sdl" "$m_swdl")"

# The same results: a scan that saves its list, and a download of a list that
# names some files twice (numbered names), one file that is missing (404) and
# one that exists already, with the defaults and with -j 1 --no-keep-alive.
# The memo lines, the saved list and the files are compared byte for byte.
{
  head -n 40 "$work/site/f/list.bls"
  head -n 5 "$work/site/f/list.bls"
  printf '%s\r\n' "$base/f/missing.jpg" "$sbase/f/f00007.jpg"
  sed -n '41,$p' "$work/site/f/list.bls"
} >"$work/mixed.bls"
same_run() {
  local tag="$1"; shift
  mkdir -p "$work/same-$tag/files"
  cp "$work/site/f/f00003.jpg" "$work/same-$tag/files/f00003.jpg"
  "$cli" --auto -T 10 --ca-file "$work/ca.pem" "$@" -s "$work/same-$tag/list.bls" "$base/s/index.html" \
    >"$work/same-$tag/scan.memo" 2>/dev/null || true
  "$cli" -T 10 --ca-file "$work/ca.pem" "$@" -l "$work/mixed.bls" -d "$work/same-$tag/files" \
    >"$work/same-$tag/download.memo" 2>/dev/null || true
}
same_run default
same_run j1 -j 1 --no-keep-alive
same=0
if diff -r "$work/same-default" "$work/same-j1" >"$work/same.diff" 2>&1; then
  same=1
else
  head -n 20 "$work/same.diff" >&2
fi
printf 'latency.same_results %d (memo %d lines, list %d entries, %d files compared)\n' "$same" \
  "$(cat "$work/same-default/scan.memo" "$work/same-default/download.memo" | wc -l)" \
  "$(wc -l <"$work/same-default/list.bls")" "$(count_files "$work/same-default/files")"
