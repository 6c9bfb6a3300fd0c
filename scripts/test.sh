#!/usr/bin/env bash
# Installs what is missing, builds everything (Release) and runs the whole
# test suite; then builds and runs the same suite again under
# AddressSanitizer + UndefinedBehaviorSanitizer (build-asan), and builds the
# libFuzzer targets with clang (build-fuzz) and runs each for a bounded time.
# Any test failure, sanitizer report or fuzzer crash fails the script.
#
# Usage: scripts/test.sh [stage...]
#   release  the Release build and the whole suite (step 1)
#   install  the Release build and only the installed-tree test
#   asan     the suite under the sanitizers (step 2)
#   fuzz     the fuzz targets (step 3)
#   arm      the library and its tests cross-built for aarch64 and run under
#            user-mode QEMU (step 4; installs the cross packages first)
# Without a stage (as in CI) it runs release, asan, fuzz and arm, in that order.
set -euo pipefail
cd "$(dirname "$0")/.."
stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(release asan fuzz arm)
for stage in "${stages[@]}"; do
  case "$stage" in
    release|install|asan|fuzz|arm) ;;
    *) echo "unknown stage '$stage' (release, install, asan, fuzz, arm)" >&2; exit 2 ;;
  esac
done
scripts/deps.sh
jobs="$(nproc)"

# 1. Release build, the whole suite (or, for the install stage, only the
#    test that installs it into a temporary prefix and builds hosts there).
build_release() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
  cmake --build build -j"$jobs"
}
stage_release() {
  build_release
  ctest --test-dir build --output-on-failure -j"$jobs"
}
stage_install() {
  build_release
  ctest --test-dir build --output-on-failure -L install
}

# Sanitizer settings for steps 2 and 3: leaks are reported, and any report
# ends the program with a failure.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=1:strict_init_order=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

# 2. The whole suite under ASan + UBSan (-O1 -g, assertions on; without the
#    benchmarks and tools, which the suite does not need).
stage_asan() {
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
    -DVANTIR3_SANITIZE=ON -DVANTIR3_BUILD_BENCH=OFF -DVANTIR3_BUILD_TOOLS=OFF
  cmake --build build-asan -j"$jobs"
  ctest --test-dir build-asan --output-on-failure -j"$jobs"
}

# 3. libFuzzer targets, each run for a bounded time from its committed seed
#    corpus. New inputs go to build-fuzz/corpus/<target> (the committed
#    corpus is only read); a crash, a sanitizer report, a leak or an input
#    running longer than 10 s fails the step and leaves the input in
#    build-fuzz/artifacts/.
stage_fuzz() {
  cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
    -DVANTIR3_BUILD_FUZZ=ON -DVANTIR3_BUILD_TESTS=OFF -DVANTIR3_BUILD_BENCH=OFF \
    -DVANTIR3_BUILD_TOOLS=OFF
  cmake --build build-fuzz -j"$jobs"
  fuzz_seconds="${VANTIR3_FUZZ_SECONDS:-30}"
  mkdir -p build-fuzz/artifacts
  for src in fuzz/fuzz_*.cc; do
    target="$(basename "$src" .cc)"
    echo "== fuzzing $target for ${fuzz_seconds} s"
    mkdir -p "build-fuzz/corpus/$target"
    dict=()
    [ -f "fuzz/$target.dict" ] && dict=(-dict="fuzz/$target.dict")
    log="build-fuzz/$target.log"
    if ! "build-fuzz/fuzz/$target" -max_total_time="$fuzz_seconds" -timeout=10 \
        -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$target-" "${dict[@]}" \
        "build-fuzz/corpus/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
      cat "$log"
      echo "fuzz target $target failed; the input is in build-fuzz/artifacts/"
      exit 1
    fi
    grep -E '^Done|^stat::(number_of_executed_units|new_units_added|peak_rss_mb)' "$log"
  done
}

# 4. Cross build for aarch64 (cmake/aarch64-linux-gnu.cmake: Debian's cross
#    compiler and the arm64 packages through multiarch), library and unit
#    tests only; CTest runs every test program under qemu-aarch64. The x86
#    vector paths are not compiled there, so every kernel takes its scalar
#    path, and the tests' fixed expected values show the same bits as on
#    x86-64. Death tests are left out: under qemu-user a death test's child
#    hangs (fork style) or dies by a signal instead of its exit code
#    (threadsafe style). About 10 minutes on 2 busy cores, most of it the
#    build.
stage_arm() {
  scripts/deps.sh --arm
  cmake -S . -B build-arm -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
    -DCMAKE_BUILD_TYPE=Release -DVANTIR3_BUILD_BENCH=OFF -DVANTIR3_BUILD_TOOLS=OFF
  cmake --build build-arm -j"$jobs"
  ctest --test-dir build-arm --output-on-failure -j"$jobs" -E 'DeathTest'
}

for stage in "${stages[@]}"; do
  echo "== stage $stage"
  "stage_$stage"
done
echo "stages passed: ${stages[*]}"
