#!/usr/bin/env python3
"""Puts the editor page into the bundle's Resources/ui: the files of ui/ as
they stand, facts.js written by norva-page-facts, and manifest.json with the
page's build facts:

- "buildTime": when this ran, UTC, ISO 8601 to the second ("2026-12-07T06:43:35Z");
- "sourceRevision": the checkout's short revision ("unknown" outside a
  checkout or without git), with "-dirty" when ui/ has uncommitted changes;
- "sha256": the SHA-256, in lower-case hex, of the shipped page files (every
  file in Resources/ui but manifest.json) taken in the byte order of their
  paths relative to Resources/ui ("/" between folders); each file adds its
  path, a NUL byte, its size in decimal, a NUL byte and its bytes.

The plug-in reads the three with buffers of 64, 64 and 80 bytes (a value of
up to 62, 62 and 78 characters); these stay far below.

usage: bundle_page.py SOURCE_UI OUT_UI FACTS_TOOL"""
import datetime
import hashlib
import json
import os
import shutil
import subprocess
import sys

MANIFEST = "manifest.json"
FACTS = "facts.js"


def page_files(root):
    """Paths relative to root, "/"-separated, in byte order."""
    found = []
    for folder, _, names in os.walk(root):
        for name in names:
            found.append(os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/"))
    return sorted(found, key=lambda path: path.encode())


def page_digest(root):
    digest = hashlib.sha256()
    for path in page_files(root):
        if path == MANIFEST:
            continue
        with open(os.path.join(root, path), "rb") as f:
            data = f.read()
        digest.update(path.encode() + b"\0" + str(len(data)).encode() + b"\0" + data)
    return digest.hexdigest()


def source_revision(source):
    def git(*args):
        return subprocess.run(["git", "-C", source, *args], capture_output=True, text=True, check=True).stdout.strip()
    try:
        revision = git("rev-parse", "--short", "HEAD")
        dirty = git("status", "--porcelain", "--", ".")
    except (OSError, subprocess.CalledProcessError):
        return "unknown"
    return revision + ("-dirty" if dirty else "") if revision else "unknown"


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    source, out, facts_tool = sys.argv[1:]
    os.makedirs(out, exist_ok=True)
    shipped = set(page_files(source))
    for path in page_files(out):  # files no longer in ui/ leave the bundle
        if path not in shipped and path not in (MANIFEST, FACTS):
            os.remove(os.path.join(out, path))
    for path in shipped:
        target = os.path.join(out, path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(os.path.join(source, path), target)
    if subprocess.run([facts_tool, os.path.join(out, FACTS)]).returncode != 0:
        sys.exit("bundle_page.py: norva-page-facts failed")
    manifest = {
        "buildTime": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ"),
        "sourceRevision": source_revision(source),
        "sha256": page_digest(out),
    }
    with open(os.path.join(out, MANIFEST), "w") as f:
        json.dump(manifest, f, indent=2)
        f.write("\n")


if __name__ == "__main__":
    main()
