#!/usr/bin/env bash
# Socket benchmark: idle CPU of a waiting TWSocket, 1 GiB through one TWSocket
# each way beside a plain blocking loop, descriptors after 10,000 cycles.
# Arguments (optional): idle seconds, transfer MiB, cycles.
set -euo pipefail
cmake --build "$WL_BENCH_BUILD" --target bench_socket -j2 >/dev/null
exec "$WL_BENCH_BUILD/bench/bench_socket" "${1:-10}" "${2:-1024}" "${3:-10000}"
