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

[[ $# -eq 1 ]] || { echo "usage: scan_test.sh BUNDLE" >&2; exit 1; }
ardour_test_start scan_test "$1"

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
ardour_private_home "$work"

ardour_scan "$bundle" "$work/scan.log"
status=$?
if [[ $status -ne 0 ]]; then
  cat "$work/scan.log" >&2
  fail "ardour-vst3-scanner exited with status $status"
fi

# The scanner writes its findings to one cache file in the private cache folder;
# that file is what Ardour reads when it lists the plug-in.
mapfile -t caches < <(find "$XDG_CACHE_HOME" -name '*.v3i' -type f)
if [[ ${#caches[@]} -ne 1 ]]; then
  cat "$work/scan.log" >&2
  fail "expected one scanner cache file, found ${#caches[@]}"
fi
cache=${caches[0]}

count=$(grep -c '<VST3Info ' "$cache")
if [[ $count -ne 1 ]]; then
  cat "$cache" >&2
  fail "expected one indexed class, found $count"
fi
info=$(grep '<VST3Info ' "$cache")

# attr NAME: the value of attribute NAME on the VST3Info line.
attr() {
  sed -n "s/.* $1=\"\\([^\"]*\\)\".*/\\1/p" <<<"$info"
}

errors=0
expect() {
  local name=$1 want=$2 got
  got=$(attr "$name")
  if [[ "$got" != "$want" ]]; then
    echo "scan_test: $name is \"$got\", expected \"$want\"" >&2
    errors=$((errors + 1))
  fi
}
expect name Tindrel
expect uid 643D3396653D3529623D3070633D3203
expect vendor "Norva Music"
expect category Fx
expect n_inputs 0
expect n_outputs 0
expect n_aux_inputs 0
expect n_aux_outputs 0
expect n_midi_inputs 1
expect n_midi_outputs 1

# The scanner's log names the processor class and its category as the factory
# reports them.
if ! grep -q "Class: [0-9]* 'Tindrel' 'Audio Module Class'" "$work/scan.log"; then
  echo "scan_test: the scanner did not report class 'Tindrel' as 'Audio Module Class'" >&2
  errors=$((errors + 1))
fi
if ! grep -q "Found Plugin: Tindrel" "$work/scan.log"; then
  echo "scan_test: the scanner did not accept Tindrel as a plug-in" >&2
  errors=$((errors + 1))
fi

if [[ $errors -ne 0 ]]; then
  echo "--- scanner output" >&2
  cat "$work/scan.log" >&2
  fail "$errors check(s) failed"
fi
echo "scan_test: PASS: Ardour ${ARDOUR_MAJOR} indexes Tindrel with no audio buses, 1 MIDI in, 1 MIDI out"
exit 0
