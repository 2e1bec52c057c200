#!/usr/bin/env bash
# HTTP client against a loopback nginx, with curl as the peer in the same run.
#   http.download_mb_s / http.curl_mb_s / http.ratio_vs_curl   1 GiB file, three rounds (ours, then curl):
#                                                               medians, each round's figure printed beside
#   http.download_peak_rss_mb                                   the client's peak memory meanwhile
#   http.recv_calls_per_mib / http.curl_recv_calls_per_mib      receive system calls per MiB of the same
#   http.ioctl_calls                                            download (strace -c -f, one run each)
#   http.requests_s / http.curl_requests_s / http.ratio_requests_vs_curl   2,000 Gets of a 5 KB page
#   http.wait_cpu_s                                             CPU used by a Get waiting 10 s on a silent server
set -euo pipefail
: "${WL_BENCH_BUILD:?run through bench/run}"
BIN=${BENCH_HTTP_BIN:-"$WL_BENCH_BUILD/bench/bench_http"}
if [ -z "${BENCH_HTTP_BIN:-}" ]; then
  cmake --build "$WL_BENCH_BUILD" --target bench_http -j2 >/dev/null
fi

dir=$(mktemp -d "${TMPDIR:-/tmp}/bench-http-XXXXXX")
nginx_pid=
cleanup() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$dir/www"
user_line=""
[ "$(id -u)" = 0 ] && user_line="user root;"
cat >"$dir/nginx.conf" <<EOF
$user_line
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $dir/tmp_body;
  proxy_temp_path $dir/tmp_proxy;
  fastcgi_temp_path $dir/tmp_fastcgi;
  uwsgi_temp_path $dir/tmp_uwsgi;
  scgi_temp_path $dir/tmp_scgi;
  default_type application/octet-stream;
  server { listen 127.0.0.1:$port; root $dir/www; }
}
EOF
head -c $((1024 * 1024 * 1024)) /dev/urandom >"$dir/www/big.bin"
head -c 5120 /dev/urandom >"$dir/www/page.html"
nginx -c "$dir/nginx.conf" -p "$dir" -g 'daemon off;' &
nginx_pid=$!
for _ in $(seq 100); do
  curl -s -o /dev/null "http://127.0.0.1:$port/page.html" && break
  sleep 0.05
done
base="http://127.0.0.1:$port"

# Warm the page cache once so both clients read the file from memory.
cat "$dir/www/big.bin" >/dev/null

best() { sort -g | tail -1; }
median3() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
# The rounds pair ours with curl back to back, so a burst of foreign load on
# the shared machine hits one round's pair, not one side of every round.
ours_runs=(); curl_runs=(); ratios=(); ours_rss=0
for _ in 1 2 3; do
  out=$("$BIN" download "$base/big.bin")
  mb=$(echo "$out" | awk '{print $1}')
  ours_rss=$(printf '%s\n%s\n' "$ours_rss" "$(echo "$out" | awk '{print $2}')" | best)
  cmb=$(curl --http1.0 -s -o /dev/null -w '%{speed_download}\n' "$base/big.bin" | awk '{printf "%.1f\n", $1 / 1e6}')
  ours_runs+=("$mb"); curl_runs+=("$cmb")
  ratios+=("$(awk -v a="$mb" -v b="$cmb" 'BEGIN{printf "%.2f", a / b}')")
done
echo "http.download_mb_s $(median3 "${ours_runs[@]}") MB/s (rounds: ${ours_runs[*]})"
echo "http.curl_mb_s $(median3 "${curl_runs[@]}") MB/s (rounds: ${curl_runs[*]})"
echo "http.ratio_vs_curl $(median3 "${ratios[@]}") (rounds: ${ratios[*]})"
echo "http.download_peak_rss_mb $ours_rss MB"

# System calls of one download each. recv() is the recvfrom call on Linux;
# ioctl counts every readable-bytes query of the run.
if command -v strace >/dev/null; then
  calls() { awk -v want="$2" '$NF ~ want && $4 ~ /^[0-9]+$/ {n += $4} END {print n + 0}' "$1"; }
  mib=1024
  strace -c -f -o "$dir/ours.strace" "$BIN" download "$base/big.bin" >/dev/null
  strace -c -f -o "$dir/curl.strace" curl --http1.0 -s -o /dev/null "$base/big.bin"
  echo "http.recv_calls_per_mib $(awk -v n="$(calls "$dir/ours.strace" '^(recvfrom|recvmsg|recv)$')" -v m=$mib 'BEGIN{printf "%.2f", n / m}') calls/MiB"
  echo "http.curl_recv_calls_per_mib $(awk -v n="$(calls "$dir/curl.strace" '^(recvfrom|recvmsg|recv)$')" -v m=$mib 'BEGIN{printf "%.2f", n / m}') calls/MiB"
  echo "http.ioctl_calls $(calls "$dir/ours.strace" '^ioctl$') calls"
else
  echo "http: strace not installed, system-call counts skipped" >&2
fi

n=2000
for _ in $(seq $n); do printf 'url = "%s/page.html"\noutput = "/dev/null"\n' "$base"; done >"$dir/list"
ours_rq=$(for _ in 1 2 3; do "$BIN" requests "$base/page.html" $n; done | best)
curl_rq=$(for _ in 1 2 3; do
  t0=$(date +%s.%N)
  curl --http1.0 -s -K "$dir/list"
  t1=$(date +%s.%N)
  awk -v n=$n -v a="$t0" -v b="$t1" 'BEGIN{printf "%.0f\n", n / (b - a)}'
done | best)
echo "http.requests_s $ours_rq requests/s"
echo "http.curl_requests_s $curl_rq requests/s"
echo "http.ratio_requests_vs_curl $(awk -v a="$ours_rq" -v b="$curl_rq" 'BEGIN{printf "%.2f", a / b}')"

echo "http.wait_cpu_s $("$BIN" wait 10) s"
