#!/usr/bin/env bash
# Tindrel in a real Ardour session, headless (ardourN-lua, Dummy backend, no
# sound card and no X display): a MIDI track with Tindrel at 150 BPM walking
# its pattern backwards, its notes recorded on a second MIDI track and checked
# (16ths 0.1 s apart, the rest on every fourth step, the velocities of the
# backward walk); then the session is saved, closed and loaded again, the
# parameters are read back from the plug-in and a second take is checked the
# same way. A load uses a copy of the saved session stripped of Ardour's own
# copy of the parameter values, so only the plug-in's saved state can bring
# them back. A last load turns Follow host on: two rolls from one place
# across a tempo change, and a loop range (session_test.lua follow).
#
#   session_test.sh BUNDLE      (the Tindrel.vst3 folder, or the Tindrel.so in it)
#
# Exits 0 on success, 1 on failure, 77 (skipped) when Ardour is not installed.
# Set TINDREL_KEEP_SESSION=1 to keep the session folder and logs.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=ardour_env.sh
. "$here/ardour_env.sh"

started=$SECONDS
ardour_test_start session_test "$@"

work=$(mktemp -d) || exit 1
if [[ "${TINDREL_KEEP_SESSION:-0}" == 1 ]]; then
  echo "session_test: keeping $work"
else
  trap 'rm -rf "$work"' EXIT
fi
ardour_private_home "$work"

# Ardour finds the bundle through VST3_PATH only; the headless tool loads only
# what the scanner has indexed, so the link is scanned first.
mkdir -p "$work/vst3"
ln -s "$bundle" "$work/vst3/Tindrel.vst3"
export VST3_PATH="$work/vst3"
# Ardour takes the scanner's cache only when it is newer than the module, to
# the second: a bundle linked a moment ago waits for the clock to move on.
while (($(date +%s) <= $(stat -c %Y "$module"))); do sleep 0.2; done
if ! ardour_scan "$work/vst3/Tindrel.vst3" "$work/scan.log" || ! grep -q "Found Plugin: Tindrel" "$work/scan.log"; then
  cat "$work/scan.log" >&2
  fail "ardour-vst3-scanner did not index the bundle"
fi

session="$work/session"
name=tindrel

# step NAME LUA-ARGS...: one run of the Lua script under a time-out. Passes when
# it exits 0, printed "RESULT: pass" and Ardour logged no error.
step() {
  local label=$1 log="$work/$1.log" status t0=$SECONDS limit=${TINDREL_STEP_TIMEOUT:-60}
  shift
  timeout -k 10 "$limit" "$ARDOUR_LUA" "$here/session_test.lua" "$@" </dev/null >"$log" 2>&1
  status=$?
  grep -E '^(CHECK|INFO|RESULT)|\[(ERROR|FATAL)\]' "$log" | sed "s/^/  [$label] /"
  local why=""
  if [[ $status -eq 124 || $status -eq 137 ]]; then why="Ardour did not finish within $limit s"
  elif [[ $status -gt 128 ]]; then why="Ardour died of signal $((status - 128))"
  elif [[ $status -ne 0 ]] || ! grep -q '^RESULT: pass' "$log"; then why="exit status $status"
  fi
  [[ -z "$why" ]] || { tail -n 30 "$log" >&2; fail "$label: $why"; }
  ! grep -qE '\[(ERROR|FATAL)\]' "$log" || fail "$label: Ardour reported an error"
  echo "session_test: $label passed in $((SECONDS - t0)) s"
}

step create create "$session" "$name"

# The plug-in's own state is the base64 chunk in the session file. Check that
# it is there and holds the values set, then make a snapshot without Ardour's
# copies of them (<Port> values and control values of the Tindrel processor).
file="$session/$name.ardour"
[[ -f "$file" ]] || fail "no session file $file"
chunk=$(awk '/<Processor .*unique-id="643D3396653D3529623D3070633D3203"/,/<\/Processor>/' "$file" |
  sed -n 's:.*<chunk>\(.*\)</chunk>.*:\1:p')
[[ -n "$chunk" ]] || fail "the saved session holds no state chunk for Tindrel"
state=$(base64 -d <<<"$chunk" 2>/dev/null | tr -d '\0' | LC_ALL=C tr -c '[:print:]' ' ')
for want in '"tindrel.bpm":(149\.99|150)' '"tindrel.direction":1[,}]' '"tindrel.g2":127[,}]'; do
  grep -qE "$want" <<<"$state" || { echo "$state" | head -c 2000 >&2; fail "Tindrel's saved state does not match $want"; }
done
echo "session_test: the saved state chunk holds Tempo 150, Direction 1, Step 2 127"

awk '
  /<Processor .*unique-id="643D3396653D3529623D3070633D3203"/ { inside = 1 }
  inside && /<Port id=/ { dropped++; next }
  inside && /<Controllable / { if (sub(/ value="[^"]*"/, "")) dropped++ }
  /<\/Processor>/ { inside = 0 }
  { print }
  END { print dropped > "/dev/stderr" }
' "$file" >"$session/stateonly.ardour" 2>"$work/dropped.txt" || fail "cannot write the stripped snapshot"
dropped=$(cat "$work/dropped.txt")
[[ "$dropped" -gt 0 ]] || fail "found none of Ardour's parameter values to strip"
echo "session_test: stateonly snapshot without $dropped host-side parameter values"

step reload reload "$session" "$name"
step stateonly reload "$session" stateonly

# Follow host. Ardour's Lua cannot make a loop range, so the session file gets
# one, from quarter note 4.9 to 6.9 (ticks of 1920 a quarter note): its ends lie
# between steps, because Ardour runs the plug-in's track ahead of the range by
# the session's latency, and a step on an end would cross the wrap.
loop='<Location id="9000001" name="Loop" start="b9408" end="b13248" flags="IsAutoLoop,IsHidden" locked="0" timestamp="0" cue="0"/>'
sed -i -e "s|<Locations/>|<Locations>$loop</Locations>|" -e "s|</Locations>|$loop</Locations>|" "$file" ||
  fail "cannot give the session a loop range"
grep -q 'IsAutoLoop' "$file" || fail "the session file has no <Locations> to give a loop range"
step follow follow "$session" "$name"

echo "session_test: PASS in $((SECONDS - started)) s (Ardour ${ARDOUR_MAJOR})"
exit 0
