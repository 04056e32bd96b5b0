#!/usr/bin/env bash
# Builds the three presets and runs every test: native unit tests (ASan, UBSan), then the
# Windows test programs of both architectures under Wine, in one throwaway Wine session.
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in native win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
scripts/check-imports.sh
ctest --preset native -j "$(nproc)"
scripts/wine-session.sh bash -c 'ctest --preset win32 && ctest --preset win64'
