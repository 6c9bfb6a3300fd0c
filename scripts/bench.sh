#!/usr/bin/env bash
# Builds and runs the benchmarks (samples per second; read every figure as a
# ratio to BM_CopyBaseline of the same run). Extra arguments go to the
# benchmark program, e.g. --benchmark_filter=Gain.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target vantir3_bench
build/bench/vantir3_bench "$@"
