#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time.
#   FUZZ_SECONDS  seconds per target (default 45)
#   FUZZ_BUILD    build directory (default build-fuzz)
#   FUZZ_TARGETS  names to run (default: all, e.g. "string convert")
#   JOBS          parallel build jobs (default: number of cores)
# A crash, leak, time-out or failed check ends the run with a non-zero exit;
# the input that caused it stays in <build>/fuzz-artifacts/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_EACH=${FUZZ_SECONDS:-45}
BUILD=${FUZZ_BUILD:-build-fuzz}
JOBS=${JOBS:-$(nproc)}
TARGETS=${FUZZ_TARGETS:-request string convert error_text}

command -v clang++ >/dev/null || { echo "fuzz: clang++ is missing (make deps)" >&2; exit 2; }

# A build directory made from another source tree (or with another
# compiler) cannot be reused: start it again.
if [ -f "$BUILD/CMakeCache.txt" ] &&
   ! grep -qx "CMAKE_HOME_DIRECTORY:INTERNAL=$PWD" "$BUILD/CMakeCache.txt"; then
  rm -rf "$BUILD"
fi
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVQ_FUZZ=ON -DVQ_TESTS=OFF -DVQ_BENCH=OFF >/dev/null
build_targets=()
for t in $TARGETS; do build_targets+=(--target "fuzz_$t"); done
cmake --build "$BUILD" -j "$JOBS" "${build_targets[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}

failed=()
summary=()
for t in $TARGETS; do
  exe="$BUILD/bin/fuzz_$t"
  seeds="tests/fuzz/corpus/$t"
  work="$BUILD/fuzz-corpus/$t"     # grows run after run; the seeds stay small
  artifacts="$BUILD/fuzz-artifacts/$t"
  log="$BUILD/fuzz-$t.log"
  mkdir -p "$work" "$artifacts"
  echo "fuzz: $t for ${SECONDS_EACH}s"
  status=0
  "$exe" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "$seeds" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 || true)
  if [ "$status" -ne 0 ]; then
    failed+=("$t")
    summary+=("$t: FAILED (exit $status) after ${runs:-?} runs, $cov; see $log")
    grep -E 'ERROR|SUMMARY|runtime error|Test unit written' "$log" | head -20 >&2 || true
    ls -1 "$artifacts" >&2 || true
  else
    summary+=("$t: ${runs:-?} runs, $cov, no crash")
  fi
done

echo "fuzz summary (${SECONDS_EACH}s each):"
printf '  %s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: failures in: ${failed[*]} (reproducers in $BUILD/fuzz-artifacts/)" >&2
  exit 1
fi
