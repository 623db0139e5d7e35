#!/usr/bin/env bash
# Measures the plug-in as a host drives it: the bundle Tindrel.vst3 is loaded
# through the probe's VST 3 host and plays its factory pattern (running,
# 120 BPM, sixteenths) at 48 kHz.
#   - Google Benchmark: CPU time per IAudioProcessor::process call for 128- and
#     512-frame blocks (the host's side of the block included), realtime
#     factor, and the time from loading the bundle to the end of its first block.
#   - callgrind: instructions inside the processor's process method per block,
#     and where they go in the 512-frame case (inclusive cost per function).
# Builds into build-bench (RelWithDebInfo). Output files stay in build-bench/.
set -euo pipefail
cd "$(dirname "$0")/.."

out=build-bench
symbol='norva::NorvaProcessor::process(Steinberg::Vst::ProcessData&)'
small=10000
large=20000
target=500

mkdir -p "$out"
cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVA_BUILD_TESTS=OFF -DNORVA_BUILD_BENCH=ON \
  >"$out/configure.log"
cmake --build "$out" -j "$(nproc)" --target plugin_bench plugin_callgrind >"$out/build.log"

echo "== machine"
echo "$(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(nproc) cores, $(uname -sr)"
echo "compiler: $(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$out/CMakeCache.txt") $(g++ -dumpfullversion 2>/dev/null || true)"
echo "load average: $(cut -d ' ' -f 1-3 /proc/loadavg)"

echo "== Google Benchmark (median of 5 repetitions)"
"$out/bench/plugin_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_min_time=0.5 --benchmark_out="$out/plugin_bench.json" --benchmark_out_format=json 2>&1 |
  grep -E '^(Benchmark|-+$|BM_.*_median|Run on|CPU|\*\*\*)' || true

# Total instructions a callgrind run spent inside process.
instructions() {
  local frames=$1 calls=$2 file="$out/callgrind.plugin.$1.$2.out"
  valgrind --tool=callgrind --callgrind-out-file="$file" "--toggle-collect=$symbol" \
    "$out/bench/plugin_callgrind" "$frames" "$calls" >"$out/callgrind.plugin.$frames.$calls.log" 2>&1
  sed -n 's/^summary: *//p' "$file" | head -n 1
}

echo "== callgrind: instructions inside process per block (target: at most $target)"
for frames in 128 512; do
  a=$(instructions "$frames" "$small")
  b=$(instructions "$frames" "$large")
  per_block=$(( (b - a) / (large - small) ))
  verdict="met"
  (( per_block <= target )) || verdict="NOT met"
  printf '%4d frames %6d instructions/block  target %s  (%d over %d blocks, %d over %d blocks)\n' \
    "$frames" "$per_block" "$verdict" "$a" "$small" "$b" "$large"
  grep -E '^[0-9]+-frame blocks' "$out/callgrind.plugin.$frames.$large.log" | sed 's/^/           /' || true
done

# Per-function costs of one callgrind file, one line per function:
# inclusive <tab> self <tab> calls into it <tab> name. A function's inclusive
# cost is its own plus what its calls to other functions cost. Functions are
# merged by name: callgrind_annotate --inclusive=yes lists some of them twice
# (under their source file and under "???" for call sites in inlined code).
per_function() {
  awk '
    function name(field,   id, rest) {
      if (match(field, /^\([0-9]+\)/)) {
        id = substr(field, 2, RLENGTH - 2); rest = substr(field, RLENGTH + 2)
        if (rest != "") names[id] = rest
        return names[id]
      }
      return field
    }
    /^fn=/ { cur = name(substr($0, 4)); seen[cur] = 1; next }
    /^cfn=/ { callee = name(substr($0, 5)); next }
    /^calls=/ { split(substr($0, 7), c, " "); pending = c[1]; next }
    /^[0-9+*-]/ {
      cost = NF >= 2 ? $NF : 0
      if (pending != "") {
        if (callee != cur) { out[cur] += cost; into[callee] += pending }
        pending = ""
      } else {
        self[cur] += cost
      }
      next
    }
    # Functions with no instructions of their own ran before collection began.
    END { for (f in seen) if (self[f] > 0) printf "%d\t%d\t%d\t%s\n", self[f] + out[f], self[f], into[f], f }
  ' "$1"
}

# Per-block figures: the difference between the two runs divided by the
# difference in blocks, highest inclusive cost first.
per_block_table() {
  local frames=$1
  per_function "$out/callgrind.plugin.$frames.$small.out" >"$out/callgrind.plugin.$frames.$small.functions"
  per_function "$out/callgrind.plugin.$frames.$large.out" >"$out/callgrind.plugin.$frames.$large.functions"
  awk -F '\t' -v n=$((large - small)) '
    NR == FNR { incl[$4] = $1; self[$4] = $2; calls[$4] = $3; next }
    { printf "%8.1f %8.1f %6.2f  %s\n", ($1 - incl[$4]) / n, ($2 - self[$4]) / n, ($3 - calls[$4]) / n, $4 }
  ' "$out/callgrind.plugin.$frames.$small.functions" "$out/callgrind.plugin.$frames.$large.functions" |
    sort -k1,1nr | head -n "${2:-16}"
}

echo "== where the instructions go, 512-frame block (per block; inclusive, self, calls)"
per_block_table 512
echo "== 128-frame block"
per_block_table 128 8

callgrind_annotate --inclusive=yes "$out/callgrind.plugin.512.$large.out" \
  >"$out/callgrind.plugin.512.annotate.txt" 2>/dev/null || true
echo "(callgrind_annotate --inclusive=yes output: $out/callgrind.plugin.512.annotate.txt)"
