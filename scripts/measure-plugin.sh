#!/usr/bin/env bash
# Measures the plug-in as a host drives it: the bundle Tindrel.vst3 is loaded
# through the probe's VST 3 host and driven through IAudioProcessor::process
# at 48 kHz, on each load of bench/plugin_loads.cpp (a block size and the
# parameter changes its first block delivers), in two builds:
#   default  build-bench/          RelWithDebInfo (-O2 -g), link-time optimisation on
#   Release  build-bench-release/  Release (-O3), link-time optimisation on
# (NORVA_LTO is on by default for every GCC build but Debug.)
#   - Google Benchmark: CPU time per process call on each load (the host's
#     side of the block included), realtime factor, and the time from loading
#     the bundle to the end of its first block.
#   - callgrind: instructions inside the processor's process method per block
#     on each load, as one table against the targets, and where they go
#     (inclusive cost per function) in the default build.
# Output files stay in the build folders.
set -euo pipefail
cd "$(dirname "$0")/.."

# The trailing * takes in a part the compiler may split off (" [clone .part.0]").
symbol='norva::NorvaProcessor::process(Steinberg::Vst::ProcessData&)*'
# The driver runs N and 2N blocks; the instructions per block are the
# difference divided by N. N = 11250 blocks is a whole number of 16-step
# pattern cycles on every load (750 blocks at 120 BPM in 128-frame blocks,
# 375 in 512-frame ones, 5625 at 208 BPM, 75 at 300 BPM in sixty-fourths), so
# the figure is the mean over whole cycles, not over wherever N ends.
small=11250
large=$((2 * small))
jobs=2

builds=(default Release)
declare -A dir=([default]=build-bench [Release]=build-bench-release)
declare -A type=([default]=RelWithDebInfo [Release]=Release)

for b in "${builds[@]}"; do
  out=${dir[$b]}
  mkdir -p "$out"
  cmake -S . -B "$out" -DCMAKE_BUILD_TYPE="${type[$b]}" -DNORVA_BUILD_TESTS=OFF -DNORVA_BUILD_BENCH=ON \
    >"$out/configure.log"
  cmake --build "$out" -j "$jobs" --target plugin_bench plugin_callgrind >"$out/build.log"
done

echo "== machine"
echo "$(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(nproc) cores, $(uname -sr)"
echo "compiler: $(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' build-bench/CMakeCache.txt) $(g++ -dumpfullversion 2>/dev/null || true)"
echo "commit: $(git rev-parse --short HEAD)$(git diff --quiet HEAD -- . 2>/dev/null || echo ' (with local changes)')"
echo "load average: $(cut -d ' ' -f 1-3 /proc/loadavg)"

for b in "${builds[@]}"; do
  out=${dir[$b]}
  echo "== Google Benchmark, $b build (median of 5 repetitions)"
  "$out/bench/plugin_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_min_time=0.5 --benchmark_out="$out/plugin_bench.json" --benchmark_out_format=json 2>&1 |
    grep -E '^(Benchmark|-+$|BM_.*_median|Run on|CPU|\*\*\*)' || true
done

# name <tab> block frames <tab> target <tab> description, one line per load.
mapfile -t loads < <(build-bench/bench/plugin_callgrind --list)

# Total instructions a callgrind run spent inside process.
instructions() {
  local out=$1 load=$2 calls=$3 file="$1/callgrind.plugin.$2.$3"
  valgrind --tool=callgrind --callgrind-out-file="$file.out" "--toggle-collect=$symbol" \
    "$out/bench/plugin_callgrind" "$load" "$calls" >"$file.log" 2>&1
  sed -n 's/^summary: *//p' "$file.out" | head -n 1
}

echo "== callgrind: instructions inside process per block ($large and $small blocks)"
declare -A per
for b in "${builds[@]}"; do
  out=${dir[$b]}
  for line in "${loads[@]}"; do
    IFS=$'\t' read -r name frames target description <<<"$line"
    a=$(instructions "$out" "$name" "$small")
    c=$(instructions "$out" "$name" "$large")
    per[$b.$name]=$(awk -v a="$a" -v c="$c" -v n="$small" 'BEGIN { printf "%.1f", (c - a) / n }')
    printf '%-8s %-22s %9s/block  (%d over %d blocks, %d over %d)  %s\n' "$b" "$name" \
      "${per[$b.$name]}" "$a" "$small" "$c" "$large" \
      "$(sed -n "s/^$name: //p" "$out/callgrind.plugin.$name.$large.log" | head -n 1)"
  done
done

# met? judges the default build, the one that ships; the other build is
# named when only it meets the target.
echo
echo "| load | block | default | Release | target | met? |"
echo "|---|---|---|---|---|---|"
for line in "${loads[@]}"; do
  IFS=$'\t' read -r name frames target description <<<"$line"
  d=${per[default.$name]} r=${per[Release.$name]}
  verdict=$(awk -v d="$d" -v r="$r" -v t="$target" 'BEGIN {
    if (d <= t && r <= t) print "yes"; else if (d <= t) print "yes (default only)";
    else if (r <= t) print "no (Release only)"; else print "no" }')
  printf '| %s | %d | %s | %s | ≤ %d | %s |\n' "$description" "$frames" "$d" "$r" "$target" "$verdict"
done
echo

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

# Per-block figures of one load: the difference between the two runs divided
# by the difference in blocks, highest inclusive cost first.
per_block_table() {
  local out=$1 name=$2 base="$1/callgrind.plugin.$2"
  per_function "$base.$small.out" >"$base.$small.functions"
  per_function "$base.$large.out" >"$base.$large.functions"
  awk -F '\t' -v n=$((large - small)) '
    NR == FNR { incl[$4] = $1; self[$4] = $2; calls[$4] = $3; next }
    $1 != incl[$4] { printf "%8.1f %8.1f %6.2f  %s\n", ($1 - incl[$4]) / n, ($2 - self[$4]) / n, ($3 - calls[$4]) / n, $4 }
  ' "$base.$small.functions" "$base.$large.functions" | sort -k1,1nr | head -n "${3:-10}"
}

for line in "${loads[@]}"; do
  IFS=$'\t' read -r name frames target description <<<"$line"
  echo "== where the instructions go, default build, $name ($frames frames; per block: inclusive, self, calls)"
  per_block_table build-bench "$name"
  callgrind_annotate --inclusive=yes "build-bench/callgrind.plugin.$name.$large.out" \
    >"build-bench/callgrind.plugin.$name.annotate.txt" 2>/dev/null || true
done
echo "(callgrind_annotate --inclusive=yes output: build-bench/callgrind.plugin.<load>.annotate.txt)"
