#!/usr/bin/env bash
# Builds the three presets and runs every test: native unit tests (ASan, UBSan), then the
# Windows test programs of both architectures under Wine, in one throwaway Wine session.
# The i686 build runs while the native and x86_64 tests do, since those mostly wait.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
mkdir -p build
logs=$(mktemp -d "${TMPDIR:-/tmp}/logonagent-tests.XXXXXX")
trap 'rm -rf "$logs"' EXIT

for preset in native win64 win32; do
  cmake --preset "$preset" >/dev/null
done
cmake --build --preset native
cmake --build --preset win64

cmake --build --preset win32 >"$logs/win32-build.txt" 2>&1 &
win32_build=$!

status=0
ctest --preset native -j "$(nproc)" --output-junit "$logs/native.xml" || status=1
scripts/wine-session.sh ctest --preset win64 --output-junit "$logs/win64.xml" || status=1

if ! wait "$win32_build"; then
  cat "$logs/win32-build.txt"
  echo "test-all: the win32 build failed" >&2
  exit 1
fi
echo "test-all: win32 build done"
scripts/check-imports.sh || status=1
. scripts/wine-common.sh
if wine_can_run32; then
  scripts/wine-session.sh ctest --preset win32 --output-junit "$logs/win32.xml" || status=1
else
  echo "test-all: i686 test programs built, not run: $(wine_why_not32)"
fi

# One line for the whole run, from the reports of the test runs that ran.
scripts/test_summary.py "$logs"/*.xml || status=1
exit $status
