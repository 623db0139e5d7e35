#!/bin/sh
# Renders the built bundle with norva-probe and checks that midicsv reads the
# file. Exits 77 (skipped) when midicsv is not installed.
set -u
probe="$1"
bundle="$2"
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
# fail MESSAGE [FILE]: says what went wrong (and shows FILE) on stderr.
fail() { echo "$1" >&2; [ $# -lt 2 ] || cat "$2" >&2; exit 1; }

"$probe" render "$bundle" --seconds 2 --set tindrel.bpm=140 --note 0.5:72:on:0.5 --note 1:72:off \
  --out "$dir/out.mid" >"$dir/summary.txt" || fail "norva-probe render failed"
grep -q '^notes: ' "$dir/summary.txt" || fail "no summary on stdout"

if ! command -v midicsv >/dev/null 2>&1; then
  echo "midicsv not installed; skipping the file check"
  exit 77
fi
if ! midicsv "$dir/out.mid" "$dir/out.csv" 2>"$dir/midicsv.err" || [ -s "$dir/midicsv.err" ]; then
  fail "midicsv rejected the file:" "$dir/midicsv.err"
fi
# midicsv reads damaged files without complaint, so check what it read: every
# event known, as many note-ons as the summary counted, the track closed last.
! grep -q 'Unknown_event' "$dir/out.csv" || fail "midicsv found events it does not know:" "$dir/out.csv"
notes=$(sed -n 's/^notes: //p' "$dir/summary.txt")
ons=$(grep -c 'Note_on_c' "$dir/out.csv")
[ "$notes" = "$ons" ] || fail "summary counts $notes notes, the file holds $ons note-ons"
[ "$(tail -n 2 "$dir/out.csv" | head -n 1 | cut -d, -f3)" = " End_track" ] ||
  fail "the track does not end with End_track"
# The plug-in plays on the first channel (0 in midicsv's numbering).
for line in '0, 0, Header, 0, 1, 480' '1, 0, Tempo, 428571' '1, 0, Note_on_c, 0, 60, 100' \
    '1, 560, Note_on_c, 0, 72, 64' '1, 1120, Note_off_c, 0, 72, 0' '1, 2240, End_track'; do
  grep -q "$line" "$dir/out.csv" || fail "midicsv output lacks '$line':" "$dir/out.csv"
done
exit 0
