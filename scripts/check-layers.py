#!/usr/bin/env python3
"""Fails when a folder includes a header of a folder above it (or of a peer).

The layers, top to bottom; a folder may include its own headers and those of
the layers below it. The tests, fuzzers, benchmarks and examples drive every
layer and are not checked.
"""
import os
import re
import subprocess
import sys

LAYERS = [
    ["host"],                  # the command-line host
    ["filter", "companion"],   # the two modules: the exports; the companion stand-in
    ["gif", "profile"],        # the GIF subsystems; the profile reader
    ["output"],                # the picture builder steps
    ["core"],                  # job record, status protocol, input source
    ["platform"],              # the Windows calls (our stand-in off Windows)
    ["resources"],             # string table and version values
    ["include/gifimport"],     # the public headers
]
RANK = {folder: rank for rank, layer in enumerate(LAYERS) for folder in layer}
INCLUDE_RE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def folder_of(path):
    """The layer folder a repository path belongs to, or None."""
    if path.startswith("include/gifimport/") or path.startswith("gifimport/"):
        return "include/gifimport"
    top = path.split("/", 1)[0]
    return top if top in RANK and "/" in path else None


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    files = subprocess.run(["git", "ls-files", "*.c", "*.cpp", "*.h", "*.inc", "*.rc"], cwd=root,
                           check=True, capture_output=True, text=True).stdout.split()
    faults = []
    for path in files:
        source = folder_of(path)
        if source is None:
            continue
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            for no, line in enumerate(f, 1):
                m = INCLUDE_RE.match(line)
                target = folder_of(m.group(1)) if m else None
                if target is None or target == source or RANK[target] > RANK[source]:
                    continue
                faults.append("%s:%d: %s includes %s (%s)" % (
                    path, no, source, target, "a peer" if RANK[target] == RANK[source] else "above"))
    for fault in faults:
        print(fault)
    if faults:
        print("layer check: %d include(s) against the layers (scripts/check-layers.py)" % len(faults))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
