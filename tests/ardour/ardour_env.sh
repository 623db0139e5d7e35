# Shared set-up of the Ardour tests, sourced by scan_test.sh and session_test.sh.

# Sets ARDOUR_MAJOR, ARDOUR_LUA and ARDOUR_SCANNER for the newest installed
# Ardour with both the headless Lua session tool and the VST 3 scanner.
ardour_find() {
  local major lua scanner
  for major in 9 8 7; do
    lua=$(command -v "ardour${major}-lua" 2>/dev/null) || continue
    scanner="/usr/lib/ardour${major}/ardour-vst3-scanner"
    [[ -x "$scanner" ]] || continue
    ARDOUR_MAJOR=$major ARDOUR_LUA=$lua ARDOUR_SCANNER=$scanner
    return 0
  done
  return 1
}

# Points HOME and the XDG folders at DIR, so Ardour's configuration, plug-in
# cache and presets stay out of the user's own, and shows the Dummy backend
# (no sound card, no X).
ardour_private_home() {
  export HOME="$1/home" XDG_RUNTIME_DIR="$1/run"
  export XDG_CONFIG_HOME="$HOME/.config" XDG_CACHE_HOME="$HOME/.cache"
  export XDG_DATA_HOME="$HOME/.local/share" XDG_STATE_HOME="$HOME/.local/state"
  unset ARDOUR_CONFIG_PATH ARDOUR_DATA_PATH ARDOUR_DLL_PATH VST3_PATH DISPLAY WAYLAND_DISPLAY
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

# ardour_scan BUNDLE LOG: runs the scanner on BUNDLE with a fresh cache entry
# and leaves its output in LOG. Returns the scanner's exit status.
ardour_scan() {
  LD_LIBRARY_PATH="/usr/lib/ardour${ARDOUR_MAJOR}${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
    timeout -k 5 60 "$ARDOUR_SCANNER" -f -v "$1" >"$2" 2>&1
}

# ardour_test_start NAME ARGS...: the common start of a DAW test. Defines
# fail(), sets bundle (the .vst3 folder named by the one argument, which is
# the bundle or the Tindrel.so inside it) and module, and exits 77 where
# Ardour is missing or the module carries a sanitizer runtime, which an
# uninstrumented host cannot load.
ardour_test_start() {
  test_name=$1
  fail() {
    echo "$test_name: FAIL: $*" >&2
    exit 1
  }
  [[ $# -eq 2 ]] || fail "usage: $test_name.sh BUNDLE"
  bundle=$2
  [[ -f "$bundle" && "$bundle" == *.so ]] && bundle=$(dirname "$(dirname "$(dirname "$bundle")")")
  bundle=${bundle%/}
  [[ -d "$bundle" && "$bundle" == *.vst3 ]] || fail "no .vst3 bundle at $2"
  bundle=$(cd "$bundle" && pwd -P)
  module="$bundle/Contents/x86_64-linux/Tindrel.so"
  [[ -f "$module" ]] || fail "the bundle has no $module"
  if ! ardour_find; then
    echo "$test_name: SKIP: Ardour (ardourN-lua and its ardour-vst3-scanner) is not installed"
    exit 77
  fi
  if LC_ALL=C grep -aqE 'lib(asan|tsan|msan|ubsan)\.so|__(asan|tsan|msan)_init' "$module"; then
    echo "$test_name: SKIP: $module is built with a sanitizer runtime, which Ardour cannot load"
    exit 77
  fi
}
