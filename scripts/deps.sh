#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when missing:
# the compiler and libraries of the normal build, and clang with its
# compiler runtimes (libFuzzer, sanitizers) for the fuzz build. g++ brings
# its own sanitizer runtimes (libasan, libubsan) for the sanitizer build.
# The vector kernels are written once with Highway and dispatched at run
# time. The survey-file library reads SEG-Y through segyio; the program
# parses its arguments with CLI11 and draws with cairo; the Python binding
# needs pybind11, numpy, and Dask for batches, and its tests pytest.
#
# With --arm first, also what the aarch64 cross build needs (scripts/test.sh
# arm): Debian's cross compiler, user-mode QEMU to run its test programs, and
# the arm64 packages of the libraries it links (gtest, Highway, the segyio
# runtime: its -dev package exists for one architecture at a time) through
# multiarch, which adds arm64 to dpkg's architectures. Only then, as
# that changes where apt looks for packages.
set -euo pipefail
arm=()
if [ "${1:-}" = "--arm" ]; then
  shift
  arm=(g++-aarch64-linux-gnu qemu-user libgtest-dev:arm64 libhwy-dev:arm64 libsegyio1:arm64)
fi
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
if [ ${#arm[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
  $SUDO dpkg --add-architecture arm64
fi
packages=(cmake make g++ pkg-config libgtest-dev libbenchmark-dev clang libclang-rt-dev
  libsegyio-dev libcli11-dev libcairo2-dev libhwy-dev
  python3-dev pybind11-dev python3-numpy python3-pytest python3-dask python3-distributed
  "${arm[@]}" "$@")
missing=()
native="$(dpkg --print-architecture)"
for p in "${packages[@]}"; do
  # A name installed for two architectures is ambiguous to dpkg: then the
  # native one counts.
  dpkg -s "$p" >/dev/null 2>&1 || dpkg -s "$p:$native" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
