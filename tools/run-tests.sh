#!/usr/bin/env bash
# Everything CI checks, after tools/install-deps.sh --tests:
#   1. the optimised build and its test suite (folder build/);
#   2. the same suite built with AddressSanitizer and UndefinedBehaviorSanitizer
#      (folder build-asan/; any report fails its test);
#   3. the libFuzzer targets of fuzz/ built with clang (folder build-fuzz/):
#      the regression inputs replayed, then each target fuzzed for
#      POINTFALL_FUZZ_SECONDS (default 30), two at a time, while the
#      sanitizer suite runs.
# Any failure fails the script.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)
fuzz_seconds=${POINTFALL_FUZZ_SECONDS:-30}
export QT_QPA_PLATFORM=offscreen

step() { printf '\n==== %s (%s)\n' "$1" "$(date -u +%H:%M:%S)"; }

step "optimised build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$jobs"
step "test suite"
ctest --test-dir build --output-on-failure -j"$jobs" -LE slow

step "sanitizer build (address, undefined)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O1 -DNDEBUG" \
  -DPOINTFALL_SANITIZE="address;undefined" \
  -DPOINTFALL_BUILD_BENCH=OFF
cmake --build build-asan -j"$jobs"

step "fuzz build (clang, libFuzzer)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Release -DPOINTFALL_FUZZ=ON \
  -DPOINTFALL_BUILD_TESTS=OFF -DPOINTFALL_BUILD_BENCH=OFF
cmake --build build-fuzz -j"$jobs" --target fuzz

step "fuzzing ${fuzz_seconds}s per target, beside the sanitizer suite"
fuzz_log=build-fuzz/run-fuzz.log
bash tools/run-fuzz.sh build-fuzz "$fuzz_seconds" 2 > "$fuzz_log" 2>&1 &
fuzz_pid=$!

step "test suite under the sanitizers"
# A UB report fails the test instead of scrolling past; leaks are reported
# too, except what Qt keeps until the end of the process.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tools/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
san_status=0
ctest --test-dir build-asan --output-on-failure -j"$jobs" -LE slow || san_status=$?

fuzz_status=0
wait "$fuzz_pid" || fuzz_status=$?
step "fuzzing results"
cat "$fuzz_log"

if [ "$san_status" -ne 0 ] || [ "$fuzz_status" -ne 0 ]; then
  echo "FAILED: sanitizer suite status $san_status, fuzzing status $fuzz_status" >&2
  exit 1
fi
echo "all checks passed: test suite, sanitizer suite, fuzzing"
