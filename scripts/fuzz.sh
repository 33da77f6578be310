#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, build-fuzz/) and runs every target for SECONDS over a
# working corpus seeded from fuzz/corpus/<target>/. New inputs stay in build-fuzz/corpus/<target>/,
# findings of this run (crash-*, leak-*, timeout-*, oom-*) go to build-fuzz/findings/<target>/, the
# log of each run to build-fuzz/logs/<target>.log. Exits non-zero when any target found something.
#   scripts/fuzz.sh [-j JOBS] [SECONDS] [TARGET...]
# SECONDS defaults to 600. -j runs up to JOBS fuzzer processes at once (default 1; targets are
# spread over them, and with more jobs than targets each target gets several workers, libFuzzer's
# -fork). Run it under nice on a shared machine.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=1
if [ "${1:-}" = "-j" ]; then
  jobs=$2
  shift 2
fi
seconds=${1:-600}
[ $# -gt 0 ] && shift
all=(fuzz_video_nv12 fuzz_video_jpeg fuzz_camera fuzz_jpeg fuzz_config fuzz_model fuzz_sealed)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")

build=${KAVO_FUZZ_BUILD:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAVO_BUILD_FUZZERS=ON \
  -DKAVO_BUILD_TESTS=OFF -DKAVO_BUILD_BENCHMARKS=OFF -DKAVO_BUILD_TOOLS=OFF > /dev/null
cmake --build "$build" -j"$(nproc)" --target kavo_fuzzers

# Every fuzzer process gets platform memory of its own.
arenas=()
trap 'rm -f "${arenas[@]}"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
workers=$(( jobs > ${#targets[@]} ? jobs / ${#targets[@]} : 1 ))

run() {
  local t=$1 work="$build/corpus/$1" findings="$build/findings/$1" arena=/dev/shm/kavo_phys.fuzz.$$.$1
  rm -rf "$findings"  # a run reports only what it found itself
  mkdir -p "$work" "$findings" "$build/logs"
  local args=(-max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560 -artifact_prefix="$findings/"
              -print_final_stats=1)
  case $t in
    fuzz_config | fuzz_model) args+=(-dict=fuzz/json.dict) ;;
    # The frame reader keeps state across frames (watchdog entries, frame details), which would make
    # libFuzzer scan for leaks after nearly every input; leaks are still checked at exit.
    fuzz_video_* | fuzz_camera) args+=(-detect_leaks=0) ;;
  esac
  [ "$workers" -gt 1 ] && args+=(-fork="$workers" -ignore_crashes=1)
  KAVO_PHYS_ARENA=$arena TMPDIR=/dev/shm "$build/fuzz/$t" "${args[@]}" "$work" "fuzz/corpus/$t" \
    > "$build/logs/$t.log" 2>&1 || true
  rm -f "$arena"
  local runs
  runs=$(grep -ao 'stat::number_of_executed_units: *[0-9]*' "$build/logs/$t.log" | grep -o '[0-9]*$' | tail -1)
  echo "$t: ${runs:-?} executions"
}

for t in "${targets[@]}"; do
  arenas+=("/dev/shm/kavo_phys.fuzz.$$.$t")
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  run "$t" &
done
wait

found=0
for t in "${targets[@]}"; do
  if compgen -G "$build/findings/$t/*" > /dev/null; then
    echo "FINDING in $t:" "$build/findings/$t"/*
    found=1
  fi
done
exit $found
