#!/usr/bin/env bash
# Builds Tindrel and renders eight seconds of a melody at 120 BPM in sixteenths
# to out/demo.mid: the 16-step pattern of scripts/demo-pattern.json (several
# pitches and gate lengths, two ratchets, a tie, rests). The probe prints a
# summary of what it rendered.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"

mkdir -p out
# The probe loads the plug-in bundle as a host does.
build/tools/probe/norva-probe render build/Tindrel.vst3 \
  --rate 48000 --seconds 8 --set tindrel.bpm=120 --set tindrel.resolution=3 \
  --pattern scripts/demo-pattern.json --out out/demo.mid

if command -v midicsv >/dev/null; then
  echo "first records of out/demo.mid (midicsv):"
  midicsv out/demo.mid | head -n 12
fi
