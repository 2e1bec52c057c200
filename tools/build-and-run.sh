#!/usr/bin/env bash
# Installs the packages, builds Web Lumifang (Release) and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DWL_TESTS=OFF
cmake --build build --target weblumifang weblumifang-cli
exec ./build/app/weblumifang "$@"
