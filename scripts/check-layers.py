#!/usr/bin/env python3
"""Fails when a folder includes a header of a folder above it (or of a peer),
when the host includes a header of the filter's own layers, or when the
filter's layer libraries link other than their includes say.

The layers, top to bottom; a folder may include its own headers and those of
the layers below it. The same order is the CMake graph: each of the filter's
layers is a static library gifin::<folder>, built in its folder's
CMakeLists.txt, whose target_link_libraries name exactly the folders its
files include (core also links the companion library, whose interface is a
public header).
The tests, fuzzers, benchmarks and examples drive every layer and are not
checked.
"""
import os
import re
import subprocess
import sys

LAYERS = [
    ["host"],                  # the command-line host
    ["filter"],                # the exports and the module entry
    ["gif"],                   # the GIF stream: header, LZW, rasters, plain text
    ["output", "profile"],     # the picture builder steps; the profile reader
    ["core", "companion"],     # job record, status protocol, input source; the companion stand-in
    ["platform"],              # the Windows calls (our stand-in off Windows)
    ["resources"],             # string table and version values
    ["include/gifimport"],     # the public headers
]
RANK = {folder: rank for rank, layer in enumerate(LAYERS) for folder in layer}
# The filter's own layers: the host reaches them only through the exports and
# the public headers.
FILTER_LAYERS = ["filter", "gif", "output", "profile", "core"]
# What a layer library may name in target_link_libraries, by folder.
LINK_TARGETS = {"gifin::%s" % folder: folder for folder in FILTER_LAYERS + ["resources"]}
LINK_TARGETS.update({"WinPlatform": "platform", "gifimport_headers": "include/gifimport"})
# The companion module itself (by name off Windows, by ordinal on it): what
# the filter calls through gifimport/companion.h, not a folder it includes.
COMPANION_MODULE = {"QvGdi32", "QvGdi32Import"}
INCLUDE_RE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
LINK_RE = re.compile(r"target_link_libraries\(\s*gifin_(\w+)_lib\s+([^)]*)\)")


def folder_of(path):
    """The layer folder a repository path belongs to, or None."""
    if path.startswith("include/gifimport/") or path.startswith("gifimport/"):
        return "include/gifimport"
    top = path.split("/", 1)[0]
    return top if top in RANK and "/" in path else None


def linked_folders(root, folder, faults):
    """The folders the layer library of `folder` links, from its CMakeLists.txt."""
    path = os.path.join(folder, "CMakeLists.txt")
    with open(os.path.join(root, path), encoding="utf-8") as f:
        text = re.sub(r"#.*", "", f.read())
    linked = set()
    for m in LINK_RE.finditer(text):
        if m.group(1) != folder:
            faults.append("%s: links gifin_%s_lib" % (path, m.group(1)))
        for item in m.group(2).split():
            if item in ("PUBLIC", "PRIVATE", "INTERFACE") or item in COMPANION_MODULE:
                continue
            if item not in LINK_TARGETS:
                faults.append("%s: gifin::%s links %s, not a layer" % (path, folder, item))
                continue
            target = LINK_TARGETS[item]
            if target == folder or RANK[target] <= RANK[folder]:
                faults.append("%s: gifin::%s links %s (%s)" % (
                    path, folder, target, "itself" if target == folder else
                    "a peer" if RANK[target] == RANK[folder] else "above"))
            linked.add(target)
    return linked


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    files = subprocess.run(["git", "ls-files", "*.c", "*.cpp", "*.h", "*.inc", "*.rc"], cwd=root,
                           check=True, capture_output=True, text=True).stdout.split()
    faults = []
    included = {folder: set() for folder in FILTER_LAYERS}
    for path in files:
        source = folder_of(path)
        if source is None:
            continue
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            for no, line in enumerate(f, 1):
                m = INCLUDE_RE.match(line)
                target = folder_of(m.group(1)) if m else None
                if target is None or target == source:
                    continue
                if source in included:
                    included[source].add(target)
                if source == "host" and target in FILTER_LAYERS:
                    faults.append("%s:%d: host includes %s (only include/gifimport and host/)" % (
                        path, no, target))
                elif RANK[target] <= RANK[source]:
                    faults.append("%s:%d: %s includes %s (%s)" % (
                        path, no, source, target,
                        "a peer" if RANK[target] == RANK[source] else "above"))
    # The layer libraries link the folders they include, no more, no fewer.
    # The companion library's interface and the types every layer names are
    # public headers (include/gifimport), which core links for all of them.
    exact = set(FILTER_LAYERS + ["resources", "platform"])
    for folder in FILTER_LAYERS:
        linked = linked_folders(root, folder, faults)
        for target in sorted((included[folder] ^ linked) & exact):
            faults.append("%s/CMakeLists.txt: gifin::%s %s %s" % (
                folder, folder, "links but does not include" if target in linked
                else "includes but does not link", target))
    for fault in faults:
        print(fault)
    if faults:
        print("layer check: %d fault(s) against the layers (scripts/check-layers.py)" % len(faults))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
