#!/usr/bin/env bash
# Ardour's VST 3 scanner indexes the built bundle as one effect class,
# "Tindrel", with no audio buses and one MIDI input and one MIDI output.
#
#   scan_test.sh BUNDLE      (the Tindrel.vst3 folder, or the Tindrel.so in it)
#
# Exits 0 on success, 1 on failure, 77 (skipped) when Ardour is not installed.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=ardour_env.sh
. "$here/ardour_env.sh"
ardour_test_start scan_test "$@"

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
ardour_private_home "$work"
log="$work/scan.log"
ardour_scan "$bundle" "$log"
status=$?
[[ $status -eq 0 ]] || { cat "$log" >&2; fail "ardour-vst3-scanner exited with status $status"; }

# The scanner writes its findings to one cache file in the private cache folder;
# that file is what Ardour reads when it lists the plug-in.
mapfile -t caches < <(find "$XDG_CACHE_HOME" -name '*.v3i' -type f)
[[ ${#caches[@]} -eq 1 ]] || { cat "$log" >&2; fail "expected one scanner cache file, found ${#caches[@]}"; }
count=$(grep -c '<VST3Info ' "${caches[0]}")
[[ $count -eq 1 ]] || { cat "${caches[0]}" >&2; fail "expected one indexed class, found $count"; }
info=$(grep '<VST3Info ' "${caches[0]}")

errors=0
for pair in name=Tindrel uid=643D3396653D3529623D3070633D3203 "vendor=Norva Music" category=Fx n_inputs=0 \
    n_outputs=0 n_aux_inputs=0 n_aux_outputs=0 n_midi_inputs=1 n_midi_outputs=1; do
  name=${pair%%=*} want=${pair#*=}
  got=$(sed -n "s/.* $name=\"\\([^\"]*\\)\".*/\\1/p" <<<"$info")
  [[ "$got" == "$want" ]] || { echo "scan_test: $name is \"$got\", expected \"$want\"" >&2; errors=$((errors + 1)); }
done
# The scanner's log names the processor class and its category as the factory
# reports them, and accepts the plug-in.
for line in "Class: [0-9]* 'Tindrel' 'Audio Module Class'" "Found Plugin: Tindrel"; do
  grep -q "$line" "$log" || { echo "scan_test: the scanner's log lacks \"$line\"" >&2; errors=$((errors + 1)); }
done
[[ $errors -eq 0 ]] || { echo "--- scanner output" >&2; cat "$log" >&2; fail "$errors check(s) failed"; }
echo "scan_test: PASS: Ardour ${ARDOUR_MAJOR} indexes Tindrel with no audio buses, 1 MIDI in, 1 MIDI out"
