# Shared set-up of the Ardour tests, sourced by scan_test.sh and session_test.sh.
#
# ardour_find: sets ARDOUR_MAJOR, ARDOUR_LUA and ARDOUR_SCANNER for the newest
#   installed Ardour that has both the headless Lua session tool and the VST 3
#   scanner; returns 1 when there is none (the callers then skip with 77).
# ardour_private_home DIR: points HOME and the XDG folders at DIR, so Ardour's
#   configuration, plug-in cache and presets stay out of the user's own, and
#   writes a configuration that shows the Dummy backend (no sound card, no X).
# ardour_bundle_of PATH: prints the .vst3 bundle folder for PATH, which is the
#   bundle itself or the Tindrel.so inside it.
# ardour_sanitized_binary FILE: true when FILE was built with a sanitizer
#   runtime, which cannot be loaded into an uninstrumented host.

ardour_find() {
  local major
  for major in 9 8 7; do
    local lua scanner
    lua=$(command -v "ardour${major}-lua" 2>/dev/null) || continue
    scanner="/usr/lib/ardour${major}/ardour-vst3-scanner"
    [[ -x "$scanner" ]] || continue
    ARDOUR_MAJOR=$major
    ARDOUR_LUA=$lua
    ARDOUR_SCANNER=$scanner
    return 0
  done
  return 1
}

ardour_private_home() {
  local dir=$1
  export HOME="$dir/home"
  export XDG_CONFIG_HOME="$HOME/.config"
  export XDG_CACHE_HOME="$HOME/.cache"
  export XDG_DATA_HOME="$HOME/.local/share"
  export XDG_STATE_HOME="$HOME/.local/state"
  export XDG_RUNTIME_DIR="$dir/run"
  unset ARDOUR_CONFIG_PATH ARDOUR_DATA_PATH ARDOUR_DLL_PATH VST3_PATH
  unset DISPLAY WAYLAND_DISPLAY
  mkdir -p "$XDG_CONFIG_HOME/ardour${ARDOUR_MAJOR}" "$XDG_CACHE_HOME" "$XDG_DATA_HOME" \
    "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  cat >"$XDG_CONFIG_HOME/ardour${ARDOUR_MAJOR}/config" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<Ardour>
  <Config>
    <Option name="hide-dummy-backend" value="0"/>
  </Config>
</Ardour>
EOF
}

ardour_bundle_of() {
  local path=$1
  if [[ -f "$path" && "$path" == *.so ]]; then
    path=$(dirname "$(dirname "$(dirname "$path")")")
  fi
  path=${path%/}
  [[ -d "$path" && "$path" == *.vst3 ]] || return 1
  (cd "$path" && pwd -P)
}

ardour_sanitized_binary() {
  LC_ALL=C grep -aqE 'lib(asan|tsan|msan|ubsan)\.so|__(asan|tsan|msan)_init' "$1"
}

# ardour_scan BUNDLE LOG: runs the scanner on BUNDLE with a fresh cache entry
# and leaves its output in LOG. Returns the scanner's exit status.
ardour_scan() {
  LD_LIBRARY_PATH="/usr/lib/ardour${ARDOUR_MAJOR}${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
    timeout -k 5 60 "$ARDOUR_SCANNER" -f -v "$1" >"$2" 2>&1
}

# ardour_test_start NAME BUNDLE: the common start of a DAW test. Defines
# fail(), sets bundle and module, and exits 77 where Ardour is missing or the
# module carries a sanitizer runtime Ardour cannot load.
ardour_test_start() {
  test_name=$1
  fail() {
    echo "$test_name: FAIL: $*" >&2
    exit 1
  }
  [[ $# -eq 2 ]] || fail "usage: $test_name.sh BUNDLE"
  bundle=$(ardour_bundle_of "$2") || fail "no .vst3 bundle at $2"
  module="$bundle/Contents/x86_64-linux/Tindrel.so"
  [[ -f "$module" ]] || fail "the bundle has no $module"
  if ! ardour_find; then
    echo "$test_name: SKIP: Ardour (ardourN-lua and its ardour-vst3-scanner) is not installed"
    exit 77
  fi
  if ardour_sanitized_binary "$module"; then
    echo "$test_name: SKIP: $module is built with a sanitizer runtime, which Ardour cannot load"
    exit 77
  fi
}
