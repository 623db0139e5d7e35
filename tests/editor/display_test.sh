#!/usr/bin/env bash
# The editor in a real web view: under Xvfb, norva-probe's X11 host opens the
# editor three times (the page's "norva.ready" must reach the controller each
# time, and every close must leave the program parked and nothing else), then
# once more for a screenshot of the page inside the host's window.
#
#   display_test.sh PROBE BUNDLE OUTDIR
#
# Exits 0 on success, 1 on failure, 77 (skipped) where Xvfb or the web view
# program is missing; in CI (CI=true) a missing piece is a failure.
set -uo pipefail

fail() {
  echo "editor_display: FAIL: $*" >&2
  exit 1
}
skip() {
  [[ "${CI:-}" == "true" ]] && fail "$* (scripts/setup.sh installs it)"
  echo "editor_display: SKIP: $*"
  exit 77
}

[[ $# -eq 3 ]] || fail "usage: display_test.sh PROBE BUNDLE OUTDIR"
probe=$1 bundle=$2 out=$3
command -v xvfb-run >/dev/null || skip "xvfb-run is missing"
[[ -x "$bundle/Contents/x86_64-linux/tindrel-webview" ]] || skip "the bundle has no web view program (WebKitGTK 4.1 was missing at build time)"
mkdir -p "$out" || fail "cannot make $out"

# The web process renders without compositing under Xvfb, as on a plain X server.
run() {
  timeout -k 5 120 xvfb-run -a -s "-screen 0 1280x800x24" "$probe" editor "$bundle" "$@"
}
run --cycles 3 >"$out/cycles.log" 2>&1 || { cat "$out/cycles.log" >&2; fail "three opens and closes"; }
cat "$out/cycles.log"
run --screenshot "$out/editor.png" --after 3 >"$out/screenshot.log" 2>&1 ||
  { cat "$out/screenshot.log" >&2; fail "the screenshot"; }
cat "$out/screenshot.log"
echo "editor_display: ok (screenshot $out/editor.png)"
