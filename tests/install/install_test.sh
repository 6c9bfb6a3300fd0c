#!/usr/bin/env bash
# Installs a build into a temporary prefix and uses it as a host developer
# would, with no environment variables pointing at it:
#  1. only the public interface is installed: the entry headers and what they
#     include (compiling the hosts below against the installed tree alone
#     proves that nothing they include is missing), no internal header;
#  2. every installed library and program finds the project's libraries
#     through its own run path;
#  3. a CMake host (find_package) and a pkg-config host build and run.
# Usage: install_test.sh <build directory>
set -euo pipefail
build="$1"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/vantir3-install.XXXXXX")"
trap 'rm -rf "$work"' EXIT
unset LD_LIBRARY_PATH
fail() { echo "install test: $*" >&2; exit 1; }

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log"

# 1. Public headers in, internal ones out.
inc="$prefix/include"
for h in vantir3/vantir3.h vantir3/framework/status.h kol_utils/kol_utils.h vantir3_survey/survey.h; do
  [ -f "$inc/$h" ] || fail "public header $h not installed"
done
for h in vantir3/numeric/fft.h vantir3/framework/buffer_walk.h vantir3/processes/deseparate.h \
    vantir3_survey/format_io.h; do
  [ ! -e "$inc/$h" ] || fail "internal header $h installed"
done
internal="$(find "$inc" -name '*_kernels.h')"
[ -z "$internal" ] || fail "internal headers installed: $internal"

# 2. Run paths: no installed binary misses a library.
while IFS= read -r f; do
  [ "$(head -c 4 "$f" | tail -c 3)" = "ELF" ] || continue
  if ldd "$f" | grep -q 'not found'; then
    ldd "$f" >&2
    fail "$f does not find its libraries"
  fi
done < <(find "$prefix" -type f \( -name '*.so*' -o -perm -u+x \))

# 3a. A CMake host.
cmake -S "$here" -B "$work/cmake-host" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY=ON >"$work/host.log" 2>&1 || { cat "$work/host.log"; fail "host configure"; }
cmake --build "$work/cmake-host" >>"$work/host.log" 2>&1 || { cat "$work/host.log"; fail "host build"; }
"$work/cmake-host/core_host"
"$work/cmake-host/survey_host"

# 3b. pkg-config hosts (the run path to the prefix's library folder is the
#     host's own choice; the libraries then find each other).
pc="$(find "$prefix" -name vantir3.pc)"
[ -n "$pc" ] || fail "vantir3.pc not installed"
export PKG_CONFIG_PATH="$(dirname "$pc")"
libdir="$(pkg-config --variable=libdir vantir3)"
cxx="${CXX:-c++}"
# shellcheck disable=SC2046  # pkg-config output is a list of flags
"$cxx" -std=c++17 "$here/core_host.cc" -o "$work/core_host_pc" \
  $(pkg-config --cflags --libs vantir3) -Wl,-rpath,"$libdir"
"$work/core_host_pc"
# shellcheck disable=SC2046
"$cxx" -std=c++17 "$here/survey_host.cc" -o "$work/survey_host_pc" \
  $(pkg-config --cflags --libs vantir3-survey) -Wl,-rpath,"$libdir"
"$work/survey_host_pc"
echo "install test: ok"
