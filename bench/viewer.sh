#!/usr/bin/env bash
# Picture viewer: paint time at three zooms, drag latency, draws per zoom change.
set -euo pipefail
cmake --build "$WL_BENCH_BUILD" --target bench_viewer -j2 >/dev/null
QT_QPA_PLATFORM=offscreen "$WL_BENCH_BUILD/bench/bench_viewer"
