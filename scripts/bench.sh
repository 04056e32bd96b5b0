#!/usr/bin/env bash
# Builds an optimised native tree without sanitizers and runs every benchmark in it.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DLOGONAGENT_SANITIZE=OFF >/dev/null
cmake --build build/bench
for bench in build/bench/bin/*_benchmark; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  "$bench" "$@"
done
