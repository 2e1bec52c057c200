#!/usr/bin/env bash
# Downloads over https by weblumifang-cli from loopback nginx: one 1 GiB picture
# beside curl --http1.0 (rate, peak memory), 2,000 small pictures beside
# curl --http1.0 -K (a connection per file, as ours) and wget -i (which keeps
# connections open), and the client CPU that TLS adds per resumed connection.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/nginx.inc"
cmake --build "$WL_BENCH_BUILD" --target weblumifang-cli -j2 >/dev/null
cli="$WL_BENCH_BUILD/cli/weblumifang-cli"
nfiles=${WL_TLS_FILES:-2000}
big_mb=${WL_TLS_BIG_MB:-1024}
rounds=${WL_TLS_ROUNDS:-5}
work="$(mktemp -d /tmp/wl-bench-tls.XXXXXX)"
out_root="$work"
if [ -d /dev/shm ] && [ "$(df -Pm /dev/shm | awk 'NR==2{print $4}')" -gt $((big_mb * 3)) ]; then
  out_root="$(mktemp -d /dev/shm/wl-bench-tls.XXXXXX)"
fi
trap 'wl_nginx_stop; rm -rf "$work" "$out_root"' EXIT

mkdir -p "$work/site"
wl_nginx_start "$work/site"
# A certificate made for this run, and an https listener beside the plain one.
wl_nginx_add_tls "$work"
tls_port=$WL_TLS_PORT
base="https://127.0.0.1:$tls_port"
plain="http://127.0.0.1:$WL_NGINX_PORT"
python3 "$here/make_site.py" files "$work/site/f" "$nfiles" "$base/f/"
sed "s|$base|$plain|" "$work/site/f/list.bls" >"$work/plain.bls"
{ echo "--http1.0"; echo "--cacert $work/ca.pem"; echo "-s"
  while IFS= read -r u; do echo "url = \"$u\""; echo "output = \"$out_root/curl/$(basename "$u")\""; done <"$work/site/f/list.txt"
} >"$work/curl.cfg"
count_files() { find "$1" -type f | wc -l; }

cli_rates=(); curl_rates=(); wget_rates=()
for _ in $(seq 1 "$rounds"); do
  rm -rf "$out_root/cli" "$out_root/curl" "$out_root/wget"; mkdir -p "$out_root/cli" "$out_root/curl" "$out_root/wget"
  s=$(wl_time "$cli" -T 10 --ca-file "$work/ca.pem" -l "$work/site/f/list.bls" -d "$out_root/cli")
  n=$(count_files "$out_root/cli")
  [ "$n" = "$nfiles" ] || echo "warning: weblumifang-cli saved $n of $nfiles files" >&2
  cli_rates+=("$(echo "$n / $s" | bc -l)")
  s=$(wl_time curl -K "$work/curl.cfg")
  n=$(count_files "$out_root/curl")
  [ "$n" = "$nfiles" ] || echo "warning: curl saved $n of $nfiles files" >&2
  curl_rates+=("$(echo "$n / $s" | bc -l)")
  s=$(wl_time wget -q --ca-certificate="$work/ca.pem" -i "$work/site/f/list.txt" -P "$out_root/wget")
  n=$(count_files "$out_root/wget")
  [ "$n" = "$nfiles" ] || echo "warning: wget saved $n of $nfiles files" >&2
  wget_rates+=("$(echo "$n / $s" | bc -l)")
done
cli_rate=$(wl_median "${cli_rates[@]}")
curl_rate=$(wl_median "${curl_rates[@]}")
wget_rate=$(wl_median "${wget_rates[@]}")
printf 'tls.files_s %.0f files/s\n' "$cli_rate"
printf 'tls.curl_files_s %.0f files/s\n' "$curl_rate"
printf 'tls.wget_files_s %.0f files/s\n' "$wget_rate"
printf 'tls.files_ratio_vs_curl %.2f x\n' "$(echo "$cli_rate / $curl_rate" | bc -l)"
printf 'tls.files_ratio_vs_wget %.2f x\n' "$(echo "$cli_rate / $wget_rate" | bc -l)"

# Client CPU (user + system) for the same files over https and over http: the
# difference per file is what TLS costs per (resumed) connection.
cpu_s() {
  local f; f=$(mktemp)
  /usr/bin/time -f '%U %S' -o "$f" "$@" >/dev/null 2>&1 || true
  awk '{print $1 + $2}' "$f"; rm -f "$f"
}
tls_cpu=(); plain_cpu=()
for _ in $(seq 1 "$rounds"); do
  rm -rf "$out_root/cli"; mkdir -p "$out_root/cli"
  tls_cpu+=("$(cpu_s "$cli" -T 10 --ca-file "$work/ca.pem" -l "$work/site/f/list.bls" -d "$out_root/cli")")
  rm -rf "$out_root/cli"; mkdir -p "$out_root/cli"
  plain_cpu+=("$(cpu_s "$cli" -T 10 -l "$work/plain.bls" -d "$out_root/cli")")
done
t=$(wl_median "${tls_cpu[@]}"); p=$(wl_median "${plain_cpu[@]}")
printf 'tls.handshake_cpu_ms %.3f ms (client CPU per https file beyond http: %s s vs %s s for %s files)\n' \
  "$(echo "($t - $p) * 1000 / $nfiles" | bc -l)" "$t" "$p" "$nfiles"

rm -rf "$out_root/cli" "$out_root/curl" "$out_root/wget"
dd if=/dev/urandom of="$work/site/big.jpg" bs=1M count="$big_mb" status=none
# Written back and read once before the clock starts: otherwise the first
# rounds share the disk with a gigabyte of write-back.
sync "$work/site/big.jpg"
cat "$work/site/big.jpg" >/dev/null
printf '%s\r\n' "$base/big.jpg" >"$work/big.bls"
bytes=$((big_mb * 1024 * 1024))
big_cli=(); big_curl=(); big_ratios=()
cli_big() {
  rm -rf "$out_root/cli"; mkdir -p "$out_root/cli"
  s=$(wl_time "$cli" -T 10 --ca-file "$work/ca.pem" -l "$work/big.bls" -d "$out_root/cli")
  [ "$(stat -c %s "$out_root/cli/big.jpg" 2>/dev/null || echo 0)" = "$bytes" ] || echo "warning: incomplete big.jpg" >&2
  rm -rf "$out_root/cli"
  echo "$big_mb / $s" | bc -l
}
curl_big() {
  rm -f "$out_root/curl.jpg"
  s=$(wl_time curl --http1.0 -s --cacert "$work/ca.pem" -o "$out_root/curl.jpg" "$base/big.jpg")
  rm -f "$out_root/curl.jpg"
  echo "$big_mb / $s" | bc -l
}
# Pairs in turn, each side first in every other round, so neither always
# meets the machine as the other left it.
for i in $(seq 1 "$rounds"); do
  if [ $((i % 2)) = 1 ]; then a=$(cli_big); b=$(curl_big); else b=$(curl_big); a=$(cli_big); fi
  big_cli+=("$a"); big_curl+=("$b")
  big_ratios+=("$(echo "$a / $b" | bc -l)")
done
cli_mb=$(wl_median "${big_cli[@]}")
curl_mb=$(wl_median "${big_curl[@]}")
printf 'tls.download_mb_s %.0f MB/s\n' "$cli_mb"
printf 'tls.curl_mb_s %.0f MB/s\n' "$curl_mb"
printf 'tls.download_ratio_vs_curl %.2f x (median of %s paired rounds:%s)\n' "$(wl_median "${big_ratios[@]}")" "$rounds" \
  "$(printf ' %.2f' "${big_ratios[@]}")"
mkdir -p "$out_root/cli"
printf 'tls.download_peak_rss_mb %s MB\n' "$(wl_peak_rss_mb "$cli" -T 10 --ca-file "$work/ca.pem" -l "$work/big.bls" -d "$out_root/cli")"
printf 'tls.curl_peak_rss_mb %s MB\n' "$(wl_peak_rss_mb curl --http1.0 -s --cacert "$work/ca.pem" -o "$out_root/curl.jpg" "$base/big.jpg")"
