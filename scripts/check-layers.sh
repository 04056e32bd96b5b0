#!/usr/bin/env bash
# The layer check (scripts/check_layers.py), run from the root of the tree.
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 scripts/check_layers.py "$@"
