# Shared by fuzz-smoke.sh and fuzz-campaign.sh (sourced, not run): builds the
# libFuzzer targets with clang, ASan and UBSan into build-fuzz, and runs one
# target on its working corpus.

# Every target that fuzz/CMakeLists.txt registers with norva_add_fuzzer.
mapfile -t FUZZ_TARGETS < <(sed -n 's/^norva_add_fuzzer(\([A-Za-z0-9_]*\)).*/\1/p' fuzz/CMakeLists.txt)
FUZZ_BUILD=build-fuzz
FUZZ_WORK=fuzz/corpus-work

build_fuzzers() {
  mkdir -p "$FUZZ_BUILD"
  CC=clang CXX=clang++ cmake -S . -B "$FUZZ_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DNORVA_BUILD_FUZZ=ON -DNORVA_SANITIZE=ON -DNORVA_BUILD_TESTS=OFF -DNORVA_BUILD_BENCH=OFF \
    >"$FUZZ_BUILD/configure.log" 2>&1 || { cat "$FUZZ_BUILD/configure.log"; return 1; }
  cmake --build "$FUZZ_BUILD" -j "$(nproc)" --target "${FUZZ_TARGETS[@]}"
}

# run_fuzzer TARGET SECONDS [libFuzzer options...]: runs TARGET on a copy of its
# committed seed corpus (inputs found earlier are kept). Returns non-zero when
# the target found a crash, a sanitizer report or a failed check; the input is
# then in build-fuzz/artifacts/.
run_fuzzer() {
  local target=$1 seconds=$2
  shift 2
  local work="$FUZZ_WORK/$target" log="$FUZZ_BUILD/$target.log"
  mkdir -p "$work" "$FUZZ_BUILD/artifacts"
  cp -n "fuzz/corpus/$target"/* "$work"/ 2>/dev/null || true
  if ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$FUZZ_BUILD/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$FUZZ_BUILD/artifacts/$target-" "$@" "$work" >"$log" 2>&1; then
    local runs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    echo "fuzz: $target ok (${runs:-?} runs in ${seconds}s, corpus $(ls "$work" | wc -l) inputs)"
    return 0
  fi
  echo "fuzz: $target FAILED, log $log:"
  grep -E 'ERROR|SUMMARY|fuzz check failed|kernel panic|runtime error|Test unit written' "$log" | head -n 20
  return 1
}
