#!/usr/bin/env bash
# A longer fuzzing campaign: scripts/fuzz-campaign.sh SECONDS [TARGET...]
# Runs each target (all of fuzz/CMakeLists.txt by default) for SECONDS on its working corpus in
# fuzz/corpus-work/, which keeps growing from one campaign to the next. Inputs
# that crash land in build-fuzz/artifacts/. To add a campaign's finds to the
# committed seeds, merge them:
#   build-fuzz/fuzz/TARGET -merge=1 fuzz/corpus/TARGET fuzz/corpus-work/TARGET
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/fuzz-common.sh

seconds=${1:-}
if [[ ! "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz-campaign.sh SECONDS [TARGET...]" >&2
  exit 2
fi
shift
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=("${FUZZ_TARGETS[@]}")

build_fuzzers || exit 1
failed=0
for target in "${targets[@]}"; do
  run_fuzzer "$target" "$seconds" || failed=$((failed + 1))
done
echo "fuzz-campaign: $((${#targets[@]} - failed)) passed, $failed failed"
[[ $failed -eq 0 ]]
