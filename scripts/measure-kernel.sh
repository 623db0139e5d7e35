#!/usr/bin/env bash
# Measures one 128-frame kernel process call at 48 kHz, in the default and the
# busy configuration: time per call and realtime factor with Google Benchmark,
# instructions per call with callgrind, and the busy configuration's hot spots.
# Builds into build-bench (RelWithDebInfo). Output files stay in build-bench/.
set -euo pipefail
cd "$(dirname "$0")/.."

out=build-bench
symbol=lmpr_music_norva_tindrel_bf9421541c27_process
small=10000
large=20000

mkdir -p "$out"
cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVA_BUILD_TESTS=OFF -DNORVA_BUILD_BENCH=ON \
  >"$out/configure.log"
cmake --build "$out" -j "$(nproc)" --target kernel_bench kernel_callgrind >"$out/build.log"

echo "== machine"
echo "$(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(nproc) cores, $(uname -sr)"
echo "compiler: $(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$out/CMakeCache.txt") $(g++ -dumpfullversion 2>/dev/null || true)"

echo "== Google Benchmark (median of 5 repetitions)"
"$out/bench/kernel_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_min_time=0.5 --benchmark_out="$out/kernel_bench.json" --benchmark_out_format=json 2>&1 |
  grep -E '^(Benchmark|-+$|BM_.*_median|Run on|CPU|\*\*\*)' || true

# Total instructions a callgrind run spent inside process.
instructions() {
  local config=$1 calls=$2 file="$out/callgrind.$1.$2.out"
  valgrind --tool=callgrind --callgrind-out-file="$file" --toggle-collect="$symbol" \
    "$out/bench/kernel_callgrind" "$config" "$calls" >"$out/callgrind.$config.$calls.log" 2>&1
  sed -n 's/^summary: *//p' "$file" | head -n 1
}

echo "== callgrind: instructions inside process per call"
for config in default busy; do
  a=$(instructions "$config" "$small")
  b=$(instructions "$config" "$large")
  per_call=$(( (b - a) / (large - small) ))
  printf '%-8s %6d instructions/call  (%d over %d calls, %d over %d calls)\n' \
    "$config" "$per_call" "$a" "$small" "$b" "$large"
  grep '^config' "$out/callgrind.$config.$large.log" | sed 's/^/         /' || true
done

# The eight functions with the highest self cost, without the object file names.
hot_spots() {
  # Reads to the end: leaving early would end callgrind_annotate with SIGPIPE.
  awk '/file:function/ { getline; on = 1; next } on && NF && n < 8 { print; ++n }' |
    sed 's/ \[[^]]*\]$//'
}

echo "== hot spots, busy configuration (self cost, callgrind_annotate)"
callgrind_annotate --inclusive=no "$out/callgrind.busy.$large.out" 2>/dev/null |
  hot_spots
echo "== hot spots, default configuration"
callgrind_annotate --inclusive=no "$out/callgrind.default.$large.out" 2>/dev/null |
  hot_spots
