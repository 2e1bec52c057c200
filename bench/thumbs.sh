#!/usr/bin/env bash
# Thumbnail passes: an uncached pass of weblumifang-cli --thumbnails over big
# JPEGs and PNGs against vipsthumbnail (one process per file, --size 80x80,
# as a script would run it) in the same run; the cached pass rate and its
# scaling from 10,000 to 100,000 pictures; the longest time the window's
# thread handles no events during an uncached pass over 24-megapixel JPEGs;
# the peak memory of a pass over decompression-bomb WebPs and progressive
# JPEGs, and the time from choosing a folder of 100,000 pictures with a
# complete cache to the first painted grid.
# Each timed figure is the median of three runs.
set -euo pipefail
cmake --build "$WL_BENCH_BUILD" --target weblumifang-cli bench_thumbs -j2 >/dev/null
cli="$WL_BENCH_BUILD/cli/weblumifang-cli"
tool="$WL_BENCH_BUILD/bench/bench_thumbs"
work="$(mktemp -d /tmp/wl-thumbs-XXXXXX)"
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="$work"

now() { date +%s.%N; }
median3() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
rate() { python3 -c "print(f'{$1 / $2:.1f}')"; }
ratio() { python3 -c "print(f'{$1 / $2:.2f}')"; }

ours() {  # folder -> seconds of one uncached pass
  rm -f "$1/thbcache.tcf"
  local t0 t1; t0=$(now); "$cli" --thumbnails "$1" >/dev/null; t1=$(now)
  python3 -c "print($t1 - $t0)"
}
vips() {  # folder -> seconds of one vipsthumbnail process per file
  local out="$work/vips-out"; rm -rf "$out"; mkdir -p "$out"
  local t0 t1; t0=$(now)
  for f in "$1"/*.$2; do vipsthumbnail "$f" --size 80x80 -o "$out/%s.jpg"; done
  t1=$(now)
  python3 -c "print($t1 - $t0)"
}

have_vips=1
command -v vipsthumbnail >/dev/null || { have_vips=0; echo "vipsthumbnail missing (libvips-tools): peer figures skipped" >&2; }

for kind in jpeg png; do
  dir="$work/$kind"
  if [ $kind = jpeg ]; then "$tool" make-jpeg "$dir" 60 4000 3000; ext=jpg; else "$tool" make-png "$dir" 60 1920 1080; ext=png; fi
  n=$(ls "$dir"/*.$ext | wc -l)
  o=$(median3 "$(ours "$dir")" "$(ours "$dir")" "$(ours "$dir")")
  ours_rate=$(rate "$n" "$o")
  echo "thumbs.${kind}_per_s $ours_rate pictures/s"
  if [ $have_vips = 1 ]; then
    v=$(median3 "$(vips "$dir" $ext)" "$(vips "$dir" $ext)" "$(vips "$dir" $ext)")
    vips_rate=$(rate "$n" "$v")
    echo "thumbs.vips_${kind}_per_s $vips_rate pictures/s"
    echo "thumbs.ratio_vs_vips_${kind} $(ratio "$ours_rate" "$vips_rate") x"
  fi
done

cached() {  # folder -> "count seconds maxrss_kb" of the second pass
  "$tool" cached "$1"
}
"$tool" make-small "$work/small10k" 10000
c1=(); for i in 1 2 3; do c1+=("$(cached "$work/small10k")"); done
secs10=$(median3 "$(echo "${c1[0]}" | cut -d' ' -f2)" "$(echo "${c1[1]}" | cut -d' ' -f2)" "$(echo "${c1[2]}" | cut -d' ' -f2)")
echo "thumbs.cached_per_s $(rate 10000 "$secs10") thumbnails/s"
"$tool" make-small "$work/small100k" 100000
r100="$(cached "$work/small100k")"
secs100=$(echo "$r100" | cut -d' ' -f2)
echo "thumbs.cached_100k_per_s $(rate 100000 "$secs100") thumbnails/s"
echo "thumbs.scaling $(ratio "$secs100" "$secs10") x (100,000 vs 10,000 pictures; at most 12)"
echo "thumbs.cached_100k_maxrss $(python3 -c "print(round($(echo "$r100" | cut -d' ' -f3) / 1024))") MB"
o1=(); for i in 1 2 3; do o1+=("$("$tool" cachedopen "$work/small100k" 2>/dev/null | cut -d' ' -f1)"); done
echo "thumbs.cached_open_ms $(median3 "${o1[@]}") ms (100,000 cached pictures, first painted grid; at most 300; runs: ${o1[*]})"
rm -rf "$work/small100k" "$work/small10k"

# Eight lossless WebPs of 16,000 x 16,000 pixels in a few dozen bytes each;
# peak resident memory of the whole command, on every core the machine has.
"$tool" make-bomb "$work/bomb" 8 16000 16000
peak=$(python3 -c "
import resource, subprocess, sys
subprocess.run([sys.argv[1], '--thumbnails', sys.argv[2]], stdout=subprocess.DEVNULL, check=True)
print(round(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024))" "$cli" "$work/bomb")
echo "thumbs.bomb_peak_rss_mb $peak MB (8 WebPs of 16,000 x 16,000 pixels, $(nproc) cores; at most 1,500)"
rm -rf "$work/bomb"

# Four progressive JPEGs of 16,000 x 16,000 pixels, 1.5 MB each: libjpeg keeps
# 768 MB of coefficients for each while it decodes one.
"$tool" make-jpeg-bomb "$work/jpegbomb" 4 16000 16000
peak=$(python3 -c "
import resource, subprocess, sys
subprocess.run([sys.argv[1], '--thumbnails', sys.argv[2]], stdout=subprocess.DEVNULL, check=True)
print(round(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024))" "$cli" "$work/jpegbomb")
echo "thumbs.jpeg_bomb_peak_rss_mb $peak MB (4 progressive JPEGs of 16,000 x 16,000 pixels, $(nproc) cores; at most 1,500)"
rm -rf "$work/jpegbomb"

"$tool" make-jpeg "$work/big" 12 6000 4000
gaps=(); for i in 1 2 3; do rm -f "$work/big/thbcache.tcf"; gaps+=("$("$tool" uigap "$work/big" 2>/dev/null | cut -d' ' -f1)"); done
echo "thumbs.ui_max_gap_ms $(median3 "${gaps[@]}") ms (runs: ${gaps[*]})"
# The machine's own share: the longest a thread sleeping 1 ms at a time waits here.
echo "thumbs.idle_max_gap_ms $(python3 -c "
import time
worst=0; last=time.perf_counter(); end=last+5
while time.perf_counter() < end:
    time.sleep(0.001); now=time.perf_counter(); worst=max(worst, now-last); last=now
print(round(worst*1000))") ms (a sleeping loop on this machine, for comparison)"
