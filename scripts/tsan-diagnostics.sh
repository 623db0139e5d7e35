#!/bin/sh
# Builds the runtime diagnostics tests with ThreadSanitizer in build-tsan
# (clang, separate from the normal build) and runs them. Any reported race
# fails the run. Usage: scripts/tsan-diagnostics.sh [extra gtest arguments]
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-tsan"

cmake -S "$root" -B "$build" \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS=-fsanitize=thread \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
  -DNORVA_BUILD_BENCH=OFF
cmake --build "$build" --target runtime_diagnostics_test -j "${JOBS:-2}"

TSAN_OPTIONS="halt_on_error=1 ${TSAN_OPTIONS:-}" "$build/tests/runtime_diagnostics_test" "$@"
