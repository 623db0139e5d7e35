#!/usr/bin/env bash
# Checks the include layering, then builds and runs every test: the suite in build/ and the editor page's
# browser tests against that build (tests/browser), the suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/, then a short
# fuzzing pass (scripts/fuzz-smoke.sh). Exits non-zero on any failure. The last
# line counts the test cases of both ctest runs, the browser tests and the fuzz targets:
# "N passed, M failed" (a build or set-up step that fails counts as one failure).
set -uo pipefail
cd "$(dirname "$0")/.."

started=$SECONDS
passed=0
failed=0
jobs=$(nproc)

finish() {
  echo "test.sh: finished in $((SECONDS - started)) s"
  echo "$passed passed, $failed failed"
  [[ $failed -eq 0 ]]
  exit $?
}

# run_ctest DIR [ctest options...]: runs the tests of one build directory and
# adds up the results.
run_ctest() {
  local dir=$1 log="$1/ctest.log" summary total bad
  shift
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" "$@" 2>&1 | tee "$log"
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [[ -z "$summary" ]]; then
    echo "test.sh: no test ran in $dir"
    failed=$((failed + 1))
    return
  fi
  bad=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$summary")
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$summary")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

# run_browser: the editor page in headless Chromium against the bundle in
# build/ (tests/browser); its cases join the count. Without Chromium it is
# skipped, except in CI (CI=true), where a missing browser is a failure.
run_browser() {
  local log=build/browser.log pass fail status
  if [[ ! -x /usr/bin/chromium && "${CI:-}" != "true" ]]; then
    echo "test.sh: browser tests skipped: /usr/bin/chromium is missing (scripts/setup.sh installs it as root)"
    return
  fi
  (cd tests/browser && NORVA_BUNDLE="$PWD/../../build/Tindrel.vst3" \
    NORVA_PROBE="$PWD/../../build/tools/probe/norva-probe" node --test --test-timeout=60000) 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  pass=$(sed -nE 's/^# pass ([0-9]+)$/\1/p' "$log" | tail -n 1)
  fail=$(sed -nE 's/^# fail ([0-9]+)$/\1/p' "$log" | tail -n 1)
  if [[ -z "$pass" || -z "$fail" ]] || [[ $status -ne 0 && $fail -eq 0 ]]; then
    echo "test.sh: the browser tests did not finish"
    failed=$((failed + 1))
    return
  fi
  passed=$((passed + pass))
  failed=$((failed + fail))
}

# build DIR [cmake options...]
build() {
  local dir=$1
  shift
  echo "== building $dir"
  mkdir -p "$dir"
  cmake -S . -B "$dir" "$@" >"$dir/configure.log" 2>&1 || { cat "$dir/configure.log"; return 1; }
  cmake --build "$dir" -j "$jobs"
}

if ! scripts/setup.sh; then
  failed=$((failed + 1))
  finish
fi

echo "== include layering"
if scripts/check-layers.sh; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi

if build build -DCMAKE_BUILD_TYPE=RelWithDebInfo; then
  echo "== tests (build)"
  run_ctest build
  echo "== browser tests (tests/browser)"
  run_browser
else
  failed=$((failed + 1))
fi

if build build-asan -DCMAKE_BUILD_TYPE=Debug -DNORVA_SANITIZE=ON -DNORVA_BUILD_BENCH=OFF; then
  echo "== tests under ASan and UBSan (build-asan)"
  # The DAW tests load the plug-in into Ardour, which an instrumented build
  # cannot join: they run with the plain build only.
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest build-asan -LE daw
else
  failed=$((failed + 1))
fi

echo "== realtime diagnostic queue, host threads and CC threads under ThreadSanitizer (build-tsan)"
if scripts/tsan-diagnostics.sh; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi

echo "== fuzz smoke (build-fuzz)"
mkdir -p build-fuzz
scripts/fuzz-smoke.sh 2>&1 | tee build-fuzz/smoke.log
line=$(grep -E '^fuzz-smoke: [0-9]+ passed, [0-9]+ failed' build-fuzz/smoke.log | tail -n 1)
if [[ -n "$line" ]]; then
  passed=$((passed + $(sed -E 's/^fuzz-smoke: ([0-9]+) passed.*/\1/' <<<"$line")))
  failed=$((failed + $(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")))
else
  failed=$((failed + 1))
fi

finish
