#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when missing:
# the compiler and libraries of the normal build, and clang with its
# compiler runtimes (libFuzzer, sanitizers) for the fuzz build. g++ brings
# its own sanitizer runtimes (libasan, libubsan) for the sanitizer build.
# The vector kernels are written once with Highway and dispatched at run
# time. The survey-file library reads SEG-Y through segyio; the program
# parses its arguments with CLI11 and draws with cairo; the Python binding
# needs pybind11, numpy, and Dask for batches, and its tests pytest.
set -euo pipefail
packages=(cmake make g++ pkg-config libgtest-dev libbenchmark-dev clang libclang-rt-dev
  libsegyio-dev libcli11-dev libcairo2-dev libhwy-dev
  python3-dev pybind11-dev python3-numpy python3-pytest python3-dask python3-distributed
  "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
