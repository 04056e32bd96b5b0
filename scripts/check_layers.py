#!/usr/bin/env python3
"""Fails when an include breaks the order of the layers: a folder may include only folders of a
lower layer (and itself), so no folder includes one above it and no two folders include each
other. ARCHITECTURE.md draws the same table.

Run from the root of the tree (scripts/check-layers.sh does).
"""
import os, re, subprocess, sys

# Folder -> layer, lowest first. A folder inside another (site/verifier) is ordered among its
# siblings only; to every folder outside, it is its parent, with the parent's layer.
LAYERS = {
    "platform": 0, "resources": 0,
    "profile": 1,
    "framework": 2, "discovery": 2,
    "logon": 3,
    "dialogs": 4,
    "agent": 5, "lampup": 5,
    "standins": 6, "tools": 6, "site": 6,
    "tests": 7,
    "site/verifier": 0,
    "site/store": 1, "site/oidc": 1,
    "site/report": 2,
    "site/cgi": 3, "site/command": 3, "site/clients": 3,
    "site/fcgi": 4,
}
NESTED = {name.split("/")[0] for name in LAYERS if "/" in name}


def folder_of(path):
    """The folder of LAYERS a file belongs to, "." for the root, None for a folder without a layer."""
    parts = path.split("/")
    if len(parts) == 1:
        return "."
    if parts[0] in NESTED:
        inner = "/".join(parts[:2])
        return inner if len(parts) > 2 and inner in LAYERS else None
    return parts[0] if parts[0] in LAYERS else None


def outer(folder):
    return folder.split("/")[0]


def ordered(source, folder):
    """The two layers to compare: the inner ones when both folders share a parent."""
    if outer(source) == outer(folder) and "/" in source and "/" in folder:
        return LAYERS[source], LAYERS[folder]
    return LAYERS[outer(source)], LAYERS[outer(folder)]


files = subprocess.run(["git", "ls-files", "--cached", "--others", "--exclude-standard", "--", "*.cpp", "*.h", "*.c", "*.rc"],
                       capture_output=True, text=True, check=True).stdout.split()
include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
problems, edges = [], {}
for path in files:
    if not os.path.exists(path) or "/" not in path:
        continue
    source = folder_of(path)
    if source is None:
        problems.append(f"{path}: its folder has no layer")
        continue
    with open(path, encoding="utf-8", errors="replace") as text:
        for number, line in enumerate(text, 1):
            match = include.match(line)
            if not match:
                continue
            name = match.group(1)
            beside = os.path.normpath(os.path.join(os.path.dirname(path), name))
            target = beside if os.path.exists(beside) else name
            if not os.path.exists(target):
                problems.append(f"{path}:{number}: cannot place the include \"{name}\"")
                continue
            folder = folder_of(target)
            if folder == source:
                continue
            if folder is None or folder == ".":
                problems.append(f"{path}:{number}: includes {target}, whose folder has no layer")
                continue
            edges.setdefault((source, folder), f"{path}:{number}")
            mine, theirs = ordered(source, folder)
            if theirs >= mine:
                problems.append(f"{path}:{number}: {source} (layer {mine}) includes {target} "
                                f"from {folder} (layer {theirs})")
for (source, folder) in sorted(edges):
    if source < folder and (folder, source) in edges:
        problems.append(f"{source} and {folder} include each other: {edges[(source, folder)]} and "
                        f"{edges[(folder, source)]}")
for problem in problems:
    print(f"check-layers: {problem}", file=sys.stderr)
if problems:
    sys.exit(1)
print(f"check-layers: {len(files)} files, every include follows the layers")
