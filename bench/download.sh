#!/usr/bin/env bash
# Downloads by weblumifang-cli from a loaded image list: 10,000 small files beside
# wget -i on the same list, then one 1 GiB picture beside curl (rate and peak memory).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/nginx.inc"
cmake --build "$WL_BENCH_BUILD" --target weblumifang-cli bench_break -j2 >/dev/null
cli="${WL_BENCH_CLI:-$WL_BENCH_BUILD/cli/weblumifang-cli}"
nfiles=${WL_DOWNLOAD_FILES:-10000}
big_mb=${WL_DOWNLOAD_BIG_MB:-1024}
work="$(mktemp -d /tmp/wl-bench-download.XXXXXX)"
# Targets on tmpfs where there is room, so the disk does not set the pace.
out_root="$work"
if [ -d /dev/shm ] && [ "$(df -Pm /dev/shm | awk 'NR==2{print $4}')" -gt $((big_mb * 3)) ]; then
  out_root="$(mktemp -d /dev/shm/wl-bench-download.XXXXXX)"
fi
trap 'wl_nginx_stop; rm -rf "$work" "$out_root"' EXIT

mkdir -p "$work/site"
wl_nginx_start "$work/site"
base="http://127.0.0.1:$WL_NGINX_PORT"
python3 "$here/make_site.py" files "$work/site/f" "$nfiles" "$base/f/"
count_files() { find "$1" -type f | wc -l; }

# Five rounds, each program once per round so both see the same machine;
# the medians are reported (a noisy round moves neither).
rounds=${WL_DOWNLOAD_ROUNDS:-5}
cli_rates=(); wget_rates=()
for _ in $(seq 1 "$rounds"); do
  rm -rf "$out_root/cli" "$out_root/wget"; mkdir -p "$out_root/cli" "$out_root/wget"
  s=$(wl_time "$cli" -T 10 -l "$work/site/f/list.bls" -d "$out_root/cli")
  n=$(count_files "$out_root/cli")
  [ "$n" = "$nfiles" ] || echo "warning: weblumifang-cli saved $n of $nfiles files" >&2
  cli_rates+=("$(echo "$n / $s" | bc -l)")
  s=$(wl_time wget -q -i "$work/site/f/list.txt" -P "$out_root/wget")
  n=$(count_files "$out_root/wget")
  [ "$n" = "$nfiles" ] || echo "warning: wget saved $n of $nfiles files" >&2
  wget_rates+=("$(echo "$n / $s" | bc -l)")
done
cli_rate=$(wl_median "${cli_rates[@]}")
wget_rate=$(wl_median "${wget_rates[@]}")
printf 'download.files_s %.0f files/s\n' "$cli_rate"
printf 'download.wget_files_s %.0f files/s\n' "$wget_rate"
printf 'download.ratio_vs_wget %.2f x\n' "$(echo "$cli_rate / $wget_rate" | bc -l)"
printf 'download.round_ratios'
for i in "${!cli_rates[@]}"; do printf ' %.2f' "$(echo "${cli_rates[$i]} / ${wget_rates[$i]}" | bc -l)"; done
printf ' x (each round)\n'

rm -rf "$out_root/cli" "$out_root/wget"
dd if=/dev/urandom of="$work/site/big.jpg" bs=1M count="$big_mb" status=none
printf '%s\r\n' "$base/big.jpg" >"$work/big.bls"
bytes=$((big_mb * 1024 * 1024))
best_cli=""; best_curl=""
for _ in 1 2 3; do
  rm -rf "$out_root/cli"; mkdir -p "$out_root/cli"; rm -f "$out_root/curl.jpg"
  s=$(wl_time "$cli" -T 10 -l "$work/big.bls" -d "$out_root/cli")
  [ "$(stat -c %s "$out_root/cli/big.jpg" 2>/dev/null || echo 0)" = "$bytes" ] || echo "warning: incomplete big.jpg" >&2
  if [ -z "$best_cli" ] || [ "$(echo "$s < $best_cli" | bc -l)" = 1 ]; then best_cli="$s"; fi
  s=$(wl_time curl -s -o "$out_root/curl.jpg" "$base/big.jpg")
  if [ -z "$best_curl" ] || [ "$(echo "$s < $best_curl" | bc -l)" = 1 ]; then best_curl="$s"; fi
done
cli_mb=$(echo "$big_mb / $best_cli" | bc -l)
curl_mb=$(echo "$big_mb / $best_curl" | bc -l)
printf 'download.mb_s %.0f MB/s\n' "$cli_mb"
printf 'download.curl_mb_s %.0f MB/s\n' "$curl_mb"
printf 'download.ratio_vs_curl %.2f x\n' "$(echo "$cli_mb / $curl_mb" | bc -l)"
rm -rf "$out_root/cli"; mkdir -p "$out_root/cli"
printf 'download.peak_rss_mb %s MB\n' "$(wl_peak_rss_mb "$cli" -T 10 -l "$work/big.bls" -d "$out_root/cli")"
rm -f "$out_root/curl.jpg"
printf 'download.curl_peak_rss_mb %s MB\n' "$(wl_peak_rss_mb curl -s -o "$out_root/curl.jpg" "$base/big.jpg")"

# How soon "Cancel" takes effect: Ctrl+C (which presses the break button) while
# the 1 GiB picture streams, and while a server stalls in the middle of a body;
# measured from the signal to the memo line of the aborted request.
break_ms() {
  rm -rf "$out_root/cli"; mkdir -p "$out_root/cli"
  python3 - "$cli" "$1" "$out_root/cli" <<'PY'
import os, select, signal, subprocess, sys, time
cli, lst, out = sys.argv[1:4]
p = subprocess.Popen([cli, "-T", "0", "-l", lst, "-d", out], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
# Wait until the body is arriving, then a little more.
end = time.monotonic() + 10
while time.monotonic() < end and not any(os.path.getsize(os.path.join(out, f)) > 0 for f in os.listdir(out)):
    time.sleep(0.005)
time.sleep(0.2)
t0 = time.monotonic()
p.send_signal(signal.SIGINT)
buf = b""
while b"HTTP Fehler: 3" not in buf:
    r, _, _ = select.select([p.stdout], [], [], 10)
    if not r:
        break
    chunk = os.read(p.stdout.fileno(), 4096)
    if not chunk:
        break
    buf += chunk
t1 = time.monotonic()
p.wait()
print(round((t1 - t0) * 1000, 1))
PY
}
printf 'download.break_streaming_ms %s ms\n' "$(break_ms "$work/big.bls")"
stall_port=$(wl_free_port)
python3 - "$stall_port" "$work/stall.ready" <<'PY' &
import socket, sys, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1]))); s.listen(4)
open(sys.argv[2], "w").close()
c, _ = s.accept(); c.recv(4096)
c.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 1000000\r\n\r\n" + b"x" * 1000)
time.sleep(60)
PY
stall_pid=$!
for _ in $(seq 1 200); do [ -e "$work/stall.ready" ] && break; sleep 0.01; done
printf '%s\r\n' "http://127.0.0.1:$stall_port/stall.jpg" >"$work/stall.bls"
printf 'download.break_stalled_ms %s ms\n' "$(break_ms "$work/stall.bls")"
kill "$stall_pid" 2>/dev/null || true

# The same for a click on "Cancel" (the form's button, due 300 ms into the
# 1 GiB transfer): the worst of three.
worst=0
for _ in 1 2 3; do
  rm -rf "$out_root/cli"; mkdir -p "$out_root/cli"
  ms=$("$WL_BENCH_BUILD/bench/bench_break" "$base/big.jpg" "$out_root/cli" 2>/dev/null | sed -n 's/^effect_ms //p')
  if [ "$(echo "${ms:--1} > $worst" | bc -l)" = 1 ]; then worst=$ms; fi
done
printf 'download.click_streaming_ms %s ms (worst of 3)\n' "$worst"
