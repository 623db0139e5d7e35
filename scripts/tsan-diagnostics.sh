#!/bin/sh
# Builds the runtime diagnostics tests, the host threads test (two
# processors on their own audio threads beside a UI and a set-up thread, and
# plane edits from the UI thread racing with playback on the host's grid) and
# the CC layer's threads test (map handoff and activity feed) with
# ThreadSanitizer in build-tsan (clang, separate from the normal build) and
# runs them. Any reported race fails the run.
# Usage: scripts/tsan-diagnostics.sh [extra gtest arguments]
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-tsan"

cmake -S "$root" -B "$build" \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS=-fsanitize=thread \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
  -DNORVA_BUILD_BENCH=OFF
cmake --build "$build" --target runtime_diagnostics_test host_threads_test cc_threads_test -j "${JOBS:-2}"

for test in runtime_diagnostics_test host_threads_test cc_threads_test; do
  TSAN_OPTIONS="halt_on_error=1 ${TSAN_OPTIONS:-}" "$build/tests/$test" "$@"
done
