#!/usr/bin/env bash
# Builds an optimised native tree without sanitizers and runs every benchmark in it.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench
for bench in build/bench/bin/*_benchmark; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  "$bench" "$@"
done
