#!/usr/bin/env bash
# The whole test run: dependencies, build, every test, the benchmarks, the
# sanitizer pass over the unit tests and a short run of every fuzz target.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VEXA_BUILD_DIR:-$root/build}
jobs=$(nproc)

"$root/scripts/install-deps.sh"

echo "== build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$jobs"

echo "== tests"
ctest --test-dir "$build" --output-on-failure -j"$jobs" -LE fuzz

echo "== benchmarks"
if [ -f "$build/benchmarks.txt" ]; then
  while read -r bench; do
    [ -n "$bench" ] || continue
    echo "-- $(basename "$bench")"
    "$bench"
  done < "$build/benchmarks.txt"
fi

echo "== unit tests under address and undefined-behaviour sanitizers"
cmake -S "$root" -B "$build-asan" -DCMAKE_BUILD_TYPE=Debug -DVEXA_SANITIZE=ON -DVEXA_BENCH=OFF
cmake --build "$build-asan" -j"$jobs" --target unit_tests
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$build-asan" --output-on-failure -j"$jobs" -L unit

echo "== fuzz targets (${VEXA_FUZZ_SECONDS:-10} s each)"
CC=clang CXX=clang++ cmake -S "$root" -B "$build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVEXA_FUZZ=ON -DVEXA_TESTS=OFF -DVEXA_BENCH=OFF -DVEXA_FUZZ_SECONDS="${VEXA_FUZZ_SECONDS:-10}"
cmake --build "$build-fuzz" -j"$jobs" --target fuzzers
ctest --test-dir "$build-fuzz" --output-on-failure -L fuzz --no-tests=ignore
