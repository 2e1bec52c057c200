#!/usr/bin/env bash
# Image-file library: OpenDib against plain libjpeg-turbo / libpng decodes in
# the same run, scaled drawing, halftoning; then our own decoders when built;
# then WebP and AVIF against plain libwebp / libavif calls.
set -euo pipefail
cmake --build "$WL_BENCH_BUILD" --target bench_raster -j2 >/dev/null
"$WL_BENCH_BUILD/bench/bench_raster"
if [ -f "$WL_ROOT/bench/bench_raster_own.cpp" ]; then
  cmake --build "$WL_BENCH_BUILD" --target bench_raster_own -j2 >/dev/null
  "$WL_BENCH_BUILD/bench/bench_raster_own"
fi
cmake --build "$WL_BENCH_BUILD" --target bench_raster_web -j2 >/dev/null
"$WL_BENCH_BUILD/bench/bench_raster_web"
