#!/usr/bin/env bash
# Tokenizer and link-splitting throughput; gumbo on the same page as peer.
set -euo pipefail
cmake --build "$WL_BENCH_BUILD" --target bench_tokenizer -j2 >/dev/null
"$WL_BENCH_BUILD/bench/bench_tokenizer"
