#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when missing:
# the compiler and libraries of the normal build, and clang with its
# compiler runtimes (libFuzzer, sanitizers) for the fuzz build. g++ brings
# its own sanitizer runtimes (libasan, libubsan) for the sanitizer build.
set -euo pipefail
packages=(cmake make g++ libgtest-dev libbenchmark-dev clang libclang-rt-dev "$@")
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
