#!/usr/bin/env bash
# Builds every fuzz target (clang, ASan, UBSan, in build-fuzz) and runs each one
# for ten seconds on a copy of its seed corpus. Exits non-zero when a target
# fails to build or finds anything.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/fuzz-common.sh

if ! build_fuzzers; then
  echo "fuzz-smoke: 0 passed, ${#FUZZ_TARGETS[@]} failed (build)"
  exit 1
fi
passed=0
failed=0
for target in "${FUZZ_TARGETS[@]}"; do
  if run_fuzzer "$target" 10; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done
echo "fuzz-smoke: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
