#!/usr/bin/env bash
# Fails when an include breaks the order of the layers: a folder may include only folders of a
# lower layer (and itself), so no folder includes one above it and no two folders include each
# other. ARCHITECTURE.md draws the same table.
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 - "$@" <<'PY'
import os, re, subprocess, sys

# Top-level folder -> layer, lowest first.
LAYERS = {
    "platform": 0, "resources": 0,
    "profile": 1,
    "framework": 2, "discovery": 2,
    "logon": 3,
    "dialogs": 4,
    "agent": 5, "lampup": 5,
    "standins": 6, "tools": 6, "site": 6,
    "tests": 7,
}

files = subprocess.run(["git", "ls-files", "--cached", "--others", "--exclude-standard", "--", "*.cpp", "*.h", "*.c", "*.rc"],
                       capture_output=True, text=True, check=True).stdout.split()
include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
problems, edges = [], {}
for path in files:
    if not os.path.exists(path) or "/" not in path:
        continue
    source = path.split("/")[0]
    if source not in LAYERS:
        problems.append(f"{path}: the folder {source} has no layer")
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
            folder = target.split("/")[0] if "/" in target else "."
            if folder == source:
                continue
            edges.setdefault((source, folder), f"{path}:{number}")
            if folder not in LAYERS:
                problems.append(f"{path}:{number}: includes {target} from {folder}, which has no layer")
            elif LAYERS[folder] >= LAYERS[source]:
                problems.append(f"{path}:{number}: {source} (layer {LAYERS[source]}) includes {target} "
                                f"from {folder} (layer {LAYERS[folder]})")
for (source, folder) in sorted(edges):
    if source < folder and (folder, source) in edges:
        problems.append(f"{source} and {folder} include each other: {edges[(source, folder)]} and "
                        f"{edges[(folder, source)]}")
for problem in problems:
    print(f"check-layers: {problem}", file=sys.stderr)
if problems:
    sys.exit(1)
print(f"check-layers: {len(files)} files, every include follows the layers")
PY
