#!/usr/bin/env bash
# The pictures a user wants, on a generated gallery where links wrap
# thumbnails, with small icons and banners inline, and on a folder serving
# one picture under three names. Counts, not speed: what the scan lists with
# --skip-thumbnails, what a download with --min-size 400x400 keeps and how
# many bytes we read (and nginx sent) for the pictures given up as too small,
# and how many duplicates --no-duplicates saves. WL_CLI may name a
# weblumifang-cli built elsewhere; otherwise the Release build is made.
# WL_KEEP=1 keeps the work folder (logs, strace output) for a look afterwards.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/nginx.inc"
if [ -n "${WL_CLI:-}" ]; then
  cli="$WL_CLI"
else
  cmake --build "$WL_BENCH_BUILD" --target weblumifang-cli -j2 >/dev/null
  cli="$WL_BENCH_BUILD/cli/weblumifang-cli"
fi
work="$(mktemp -d /tmp/wl-bench-pictures.XXXXXX)"
trap 'wl_nginx_stop; [ -n "${WL_KEEP:-}" ] || rm -rf "$work"' EXIT

python3 "$here/make_site.py" gallery "$work/site"
log="$work/access.log"
export WL_NGINX_ACCESS_LOG="$log"
# Small socket buffers on the server's side: on loopback the kernel would
# otherwise take a whole megabyte before the client has read its first bytes,
# and the log would count bytes no network would have carried yet.
export WL_NGINX_SERVER_EXTRA="sendfile off; output_buffers 1 16k;"
wl_nginx_start "$work/site"
sed -i "s|listen 127.0.0.1:$WL_NGINX_PORT backlog=4096;|listen 127.0.0.1:$WL_NGINX_PORT backlog=4096 sndbuf=16k;|" \
  "$WL_NGINX_DIR/nginx.conf"
kill "$WL_NGINX_PID" 2>/dev/null || true; wait "$WL_NGINX_PID" 2>/dev/null || true
nginx -p "$WL_NGINX_DIR" -c "$WL_NGINX_DIR/nginx.conf" &
WL_NGINX_PID=$!
for _ in $(seq 1 100); do
  if curl -s -o /dev/null "http://127.0.0.1:$WL_NGINX_PORT/"; then break; fi
  sleep 0.05
done
base="http://127.0.0.1:$WL_NGINX_PORT"
originals=$(ls "$work/site/gallery/orig" | wc -l)

# The scan, thumbnails skipped.
list="$work/gallery.txt"
"$cli" --auto -T 10 --skip-thumbnails -s "$list" "$base/gallery/index.html" >"$work/scan.out" 2>&1 || true
tr -d '\r' <"$list" >"$list.lf"
listed=$(grep -c . "$list.lf" || true)
listed_orig=$(grep -c '/gallery/orig/' "$list.lf" || true)
listed_thumbs=$(grep -c '/gallery/thumbs/' "$list.lf" || true)
printf 'pictures.gallery_listed %d pictures (%d of %d originals, %d thumbnails)\n' \
  "$listed" "$listed_orig" "$originals" "$listed_thumbs"

# The download of that list at a minimum size: icons and banners are given up.
# The target applies to the bytes our program read (every recv on the
# picture's connection after its GET, header included), counted by strace:
# nginx's count also holds what waited unread in the kernels' socket buffers
# when the client closed, which on loopback (where the first flight of
# 64 KiB segments fills any window) is a whole receive buffer per picture. A small
# SO_RCVBUF would cut that (16 KiB: 0.146 -> 0.040 here) but would also cap
# the window of every picture kept on that connection, so the client keeps
# the kernel's own buffer.
: >"$log"
trace="$work/download.strace"
strace -f -qq -s 160 -o "$trace" -e trace=sendto,sendmsg,write,writev,recvfrom,recvmsg,read,close \
  "$cli" -T 10 --min-size 400x400 -l "$list" -d "$work/kept" >"$work/download.out" 2>&1 || true
sleep 0.3  # nginx writes its last log lines
kept=$(ls "$work/kept" 2>/dev/null | wc -l)
kept_orig=$(ls "$work/kept" 2>/dev/null | grep -c '^p[0-9]*\.jpg$' || true)
printf 'pictures.min_size_kept %d files (%d originals)\n' "$kept" "$kept_orig"
# Bytes received per request path: a GET sent on a descriptor starts its
# count, a close of the descriptor ends it; a call strace splits in two
# (another thread ran meanwhile) is joined by its thread id.
awk '
  function take(fd, rest) {
    if (rest ~ /GET \// && match(rest, /GET \/[^ ]*/)) cur[fd] = substr(rest, RSTART + 4, RLENGTH - 4)
  }
  {
    pid = $1; line = substr($0, length($1) + 1); sub(/^ +/, "", line)
    if (line ~ /^<\.\.\. [a-z]+ resumed>/) {
      if (!(pid in pend)) next
      fd = pend[pid]; call = pendcall[pid]; delete pend[pid]
      rest = line
    } else if (match(line, /^[a-z]+\([0-9]+/)) {
      call = substr(line, 1, index(line, "(") - 1); fd = substr(line, index(line, "(") + 1, RLENGTH - index(line, "("))
      rest = line
      if (line ~ /<unfinished \.\.\.>$/) { pend[pid] = fd; pendcall[pid] = call; if (call ~ /^(send|write)/) take(fd, rest); next }
    } else next
    if (call == "close") { delete cur[fd]; next }
    if (call ~ /^(send|write)/) { take(fd, rest); next }
    if (call ~ /^(recv|read)/ && (fd in cur) && match(rest, /= [0-9]+$/)) got[cur[fd]] += substr(rest, RSTART + 2)
  }
  END { for (p in got) print p, got[p] }' "$trace" >"$work/received.txt"
read -r ours sent full < <(
  awk '$1 == 200 && ($2 ~ /\/gallery\/icons\// || $2 ~ /\/gallery\/banners\//) {print $2, $4}' "$log" |
    while read -r uri bytes; do
      got=$(awk -v u="$uri" '$1 == u {print $2}' "$work/received.txt" | head -n 1)
      echo "${got:--} $bytes $(stat -c %s "$work/site$uri")"
    done |
    awk '$1 == "-" {lost++} {r += $1; s += $2; f += $3} END {print (lost ? -1 : r + 0), s + 0, f + 0}')
# No count for a request would read as nothing read: strace failed.
if [ "$ours" -lt 0 ]; then
  echo "pictures.min_size_bytes_read_ratio: strace did not see every request (see $trace)" >&2
  exit 1
fi
printf 'pictures.min_size_bytes_read_ratio %.3f (%d of %d bytes read by us for the pictures too small; target <= 0.1)\n' \
  "$(echo "$ours / ($full + ($full == 0))" | bc -l)" "$ours" "$full"
printf 'pictures.min_size_bytes_sent_ratio %.3f (%d of %d bytes nginx sent for them, kernel buffers included)\n' \
  "$(echo "$sent / ($full + ($full == 0))" | bc -l)" "$sent" "$full"

# One picture under three names, and one other.
sed "s|^|$base|; s|$|\r|" "$work/site/dup/list.txt" >"$work/dup.txt"
"$cli" -T 10 --no-duplicates -l "$work/dup.txt" -d "$work/dup" >"$work/dup.out" 2>&1 || true
saved=$(ls "$work/dup" | wc -l)
distinct=$(md5sum "$work/dup"/* | awk '{print $1}' | sort -u | wc -l)
printf 'pictures.duplicates_saved %d files (%d saved, %d distinct; 0 expected)\n' \
  "$((saved - distinct))" "$saved" "$distinct"
"$cli" -T 10 -l "$work/dup.txt" -d "$work/dup-off" >/dev/null 2>&1 || true
printf 'pictures.duplicates_saved_off %d files (without --no-duplicates, for comparison)\n' \
  "$(( $(ls "$work/dup-off" | wc -l) - $(md5sum "$work/dup-off"/* | awk '{print $1}' | sort -u | wc -l) ))"
