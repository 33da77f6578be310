#!/usr/bin/env bash
# Installs the dependencies, builds everything, runs every test, then runs the tests again under
# AddressSanitizer + UBSan and the concurrency tests under ThreadSanitizer, runs every fuzz target
# for 10 s, and finally builds a small consumer project against the installed package and as a
# subproject.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)

bash scripts/deps.sh

echo "== release build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== AddressSanitizer + UBSan"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKAVO_SANITIZE="address;undefined" \
      -DKAVO_BUILD_BENCHMARKS=OFF -DKAVO_BUILD_TOOLS=ON
cmake --build build-asan -j"$jobs" --target kavo_all_tests
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== ThreadSanitizer (concurrency tests)"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAVO_SANITIZE=thread \
      -DKAVO_BUILD_BENCHMARKS=OFF -DKAVO_BUILD_TOOLS=OFF
cmake --build build-tsan -j"$jobs" --target kavo_concurrency_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan --output-on-failure -j"$jobs" -L concurrency

echo "== fuzz targets, 10 s each (scripts/fuzz.sh runs them longer)"
bash scripts/fuzz.sh -j "$jobs" 10

echo "== consumer project against the installed package"
prefix="$root/build/install"
rm -rf "$prefix" build/consumer
cmake --install build --prefix "$prefix" > /dev/null
cmake -S tests/consumer -B build/consumer -DCMAKE_PREFIX_PATH="$prefix"
cmake --build build/consumer -j"$jobs"
KAVO_ROOT="$prefix" ./build/consumer/consumer
echo "== consumer project with the library as a subproject"
rm -rf build/consumer-sub
cmake -S tests/consumer -B build/consumer-sub -DKAVO_SOURCE_DIR="$root"
cmake --build build/consumer-sub -j"$jobs"
KAVO_CONFIG="$root/config/kavo.json" ./build/consumer-sub/consumer
echo "== all tests passed"
