#!/usr/bin/env python3
"""norva-probe bridge over a pipe, as a script drives it: the hello answers
"norva.ready", an over-long line is dropped with a notice and the session
goes on, a tempo edit reaches the processor (the rendered file plays at the
new tempo) and the end of input ends the run with status 0.

usage: probe_bridge_test.py NORVA_PROBE BUNDLE"""
import json
import os
import struct
import subprocess
import sys
import tempfile
import time

BPM = 240  # 16ths at 240 BPM are 120 ticks apart in a file at that tempo; at the default 120, 240
TICKS_PER_16TH = 480 // 4
MAX_LINE = 4 << 20  # kBridgeMaxLineBytes


def fail(message):
    print(message, file=sys.stderr)
    sys.exit(1)


def note_on_ticks(data):
    """The tempo and the ticks of every note-on of a format 0 file the probe wrote."""
    if data[:4] != b"MThd" or data[14:18] != b"MTrk":
        fail("not a MIDI file")
    track, i, tick, tempo, ons = data[22:], 0, 0, None, []

    def varlen():
        nonlocal i
        value = 0
        while True:
            byte = track[i]
            i += 1
            value = (value << 7) | (byte & 0x7F)
            if byte < 0x80:
                return value

    while i < len(track):
        tick += varlen()
        status = track[i]
        if status == 0xFF:
            kind, length = track[i + 1], track[i + 2]
            if kind == 0x51:
                tempo = int.from_bytes(track[i + 3:i + 6], "big")
            i += 3 + length
            continue
        if status & 0xF0 == 0x90 and track[i + 2] > 0:
            ons.append(tick)
        i += 3
    return tempo, ons


probe, bundle = sys.argv[1:3]
with tempfile.TemporaryDirectory() as folder:
    midi = os.path.join(folder, "out.mid")
    run = subprocess.Popen([probe, "bridge", bundle, "--render", midi], stdin=subprocess.PIPE,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    run.stdin.write(b'{"type":"norva.ready"}\n' + b"x" * (MAX_LINE + 1) + b"\n" +
                    b'{"type":"norva.setParam","path":"tindrel.bpm","value":%d}\n' % BPM)
    run.stdin.flush()
    hello = run.stdout.readline().decode()
    time.sleep(2)
    rest, errors = run.communicate(timeout=60)  # closes the input: the end of the session
    if run.returncode != 0:
        fail(f"exit status {run.returncode}: {errors.decode()}")
    for line in [hello] + rest.decode().splitlines():
        if not isinstance(json.loads(line), dict):
            fail(f"not one JSON object a line: {line!r}")
    if not hello.startswith('{"type":"norva.hello","plugin":{"id":"music.norva.tindrel"'):
        fail(f"the first line is not the hello: {hello[:200]!r}")
    if errors.decode() != f"norva-probe: line 2 is longer than {MAX_LINE} bytes; dropped\n":
        fail(f"unexpected standard error: {errors.decode()!r}")

    with open(midi, "rb") as f:
        tempo, ons = note_on_ticks(f.read())
    if tempo != 60000000 // BPM:
        fail(f"file tempo {tempo}, expected {60000000 // BPM}")
    # The edit may land a block or two after the start; the notes after it
    # come a sixteenth apart at the new tempo.
    gaps = [b - a for a, b in zip(ons, ons[1:])][len(ons) // 2:]
    if len(ons) < 8 or min(gaps) != TICKS_PER_16TH or any(gap % TICKS_PER_16TH for gap in gaps):
        fail(f"note-ons not a sixteenth apart at {BPM} BPM: {ons}")
print("bridge: hello, dropped line, tempo edit in the render, exit 0")
