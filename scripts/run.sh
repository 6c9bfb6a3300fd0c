#!/usr/bin/env bash
# Installs what is missing, builds, and runs the example host on a synthetic
# profile.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target example_host
build/tools/example_host
