#!/usr/bin/env bash
# Takes docs/images/generic-window.png: Tindrel's parameters in Ardour 7's
# generic plug-in window, as a musician sees them. A headless Ardour makes a
# session (a MIDI track with Tindrel, a few settings changed); the Ardour GUI
# opens it on an Xvfb display, with the Dummy backend chosen in its
# Audio/MIDI Setup dialog, and the mixer's processor menu opens "Edit with
# generic controls...". The clicks land at places in Ardour 7.3's windows, so
# another Ardour version may need other places.
#
#   scripts/ardour-generic-window.sh [BUNDLE] [OUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
bundle=$(cd "${1:-build/Tindrel.vst3}" && pwd -P)
out=${2:-docs/images/generic-window.png}
here=$(pwd)/tests/ardour
# shellcheck source=tests/ardour/ardour_env.sh
. "$here/ardour_env.sh"
ardour_find || { echo "ardour-generic-window: Ardour is not installed" >&2; exit 1; }
gui=$(command -v "ardour${ARDOUR_MAJOR}" || command -v ardour)
screen="python3 $(pwd)/scripts/x11_screen.py"

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
ardour_private_home "$work"
mkdir -p "$work/vst3"
ln -s "$bundle" "$work/vst3/Tindrel.vst3"
export VST3_PATH="$work/vst3"
ardour_scan "$work/vst3/Tindrel.vst3" "$work/scan.log"

cat >"$work/make.lua" <<'LUA'
if create_session(arg[1], "generic", 48000) == nil then error("cannot create the session") end
local track = Session:new_midi_track(ARDOUR.ChanCount(ARDOUR.DataType("midi"), 1),
  ARDOUR.ChanCount(ARDOUR.DataType("midi"), 1), true, ARDOUR.PluginInfo(), nil, nil, 1, "Seq",
  ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, false, false):front()
local proc = ARDOUR.LuaAPI.new_plugin(Session, "Tindrel", ARDOUR.PluginType.VST3, "")
track:add_processor_by_index(proc, 0, nil, true)
local plugin = proc:to_insert():plugin(0)
local index = {}
for i = 0, plugin:parameter_count() - 1 do index[plugin:parameter_label(i)] = i end
plugin = nil
for label, value in pairs({ Tempo = 136.2, Resolution = 7, Shuffle = 0.6, Transpose = -3, Direction = 2,
                            ["Key root"] = 2, ["Scale mask"] = 1709, Channel = 9 }) do
  ARDOUR.LuaAPI.set_processor_param(proc, index[label], value)
end
ARDOUR.LuaAPI.wait_for_process_callback(16, 5000) -- the processor takes them in, so its state holds them
proc, track = nil, nil
collectgarbage()
Session:save_state("", false, false, false, false, false)
close_session()
LUA
timeout 60 "$ARDOUR_LUA" "$work/make.lua" "$work/session" </dev/null >"$work/make.log" 2>&1 ||
  { cat "$work/make.log" >&2; exit 1; }

Xvfb -screen 0 1600x1000x24 -nolisten tcp -displayfd 3 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 50); do [[ -s "$work/display" ]] && break; sleep 0.1; done
DISPLAY=":$(cat "$work/display")"
export DISPLAY

cat >"$XDG_CONFIG_HOME/ardour${ARDOUR_MAJOR}/config" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<Ardour>
  <Config>
    <Option name="hide-dummy-backend" value="0"/>
    <Option name="check-announcements" value="0"/>
  </Config>
</Ardour>
XML
touch "$XDG_CONFIG_HOME/ardour${ARDOUR_MAJOR}/.a${ARDOUR_MAJOR}" # not a first run
"$gui" -n -a "$work/session/generic.ardour" >"$work/gui.log" 2>&1 &
pids+=($!)

# window TITLE: "X Y W H" of the first window whose title begins so, within 60 s.
window() {
  local line
  for _ in $(seq 600); do
    line=$(xwininfo -root -tree | grep -m1 -F "\"$1" || true)
    if [[ -n "$line" ]]; then
      sed -E 's/.* ([0-9]+)x([0-9]+)\+(-?[0-9]+)\+(-?[0-9]+) .*/\3 \4 \1 \2/' <<<"$line"
      return 0
    fi
    sleep 0.1
  done
  echo "ardour-generic-window: no window \"$1\"; Ardour said:" >&2
  tail -n 20 "$work/gui.log" >&2
  return 1
}
# at X Y DX DY [BUTTON]: a click at DX, DY from X, Y.
at() { $screen "$DISPLAY" click $(($1 + $3)) $(($2 + $4)) "${5:-1}"; sleep 1; }

read -r x y _ _ < <(window "Audio/MIDI Setup")
sleep 2
at "$x" "$y" 285 49    # the audio system list
at "$x" "$y" 268 93    # None (Dummy)
at "$x" "$y" 498 351   # Start
read -r x y w _ < <(window "generic - Ardour")
sleep 8
at "$x" "$y" $((w - 22)) 73      # Mix
sleep 2
at "$x" "$y" 331 187 3            # the Tindrel processor's menu
at "$x" "$y" 430 231              # Edit with generic controls...
read -r x y w h < <(window "Seq: Tindrel")
sleep 3
mkdir -p "$(dirname "$out")"
$screen "$DISPLAY" grab "$out" "$x" "$y" "$w" "$h"
echo "ardour-generic-window: $out (${w}x$h)"
