#!/usr/bin/env bash
# Installs what is missing, builds the vantir3 program and runs its demo: the
# built-in sample survey processed and drawn into build/demo/demo.png.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target vantir3_cli
mkdir -p build/demo
build/tools/vantir3 demo -o build/demo
