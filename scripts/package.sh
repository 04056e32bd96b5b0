#!/usr/bin/env bash
# Release packaging: for i686 and x86_64, a zip with the two programs and the user guide, and
# the per-user installer (the build's "installer" target, made with NSIS). Output in dist/:
# entravo-<version>-setup.exe and .zip carry the 32-bit programs, the release for every
# Windows; the 64-bit pair is named "-64bit-bus-library-only", which is all it is good for.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v makensis >/dev/null || { echo "package: makensis not found (Debian package nsis)" >&2; exit 1; }
command -v zip >/dev/null || { echo "package: zip not found" >&2; exit 1; }
version=$(sed -n 's/^project(logonagent VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
rm -rf dist
mkdir -p dist

for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target installer
  setup=$(ls "build/$preset/dist/"entravo-"$version"*-setup.exe)
  cp "$setup" dist/
  release=$(basename "$setup" -setup.exe)

  # The zip holds what the installer installs (stripped programs, the CRLF guide), in a folder.
  zipdir=$(mktemp -d)
  mkdir "$zipdir/Entravo"
  cp "build/$preset/installer/stage/logonagent.exe" "build/$preset/installer/stage/lampup.exe" \
     "build/$preset/installer/stage/User guide.txt" "$zipdir/Entravo/"
  (cd "$zipdir" && zip -q -X -r "$OLDPWD/dist/$release.zip" Entravo)
  rm -rf "$zipdir"
done

ls -l dist | awk 'NR > 1 { printf "%10d  %s\n", $5, $9 }'
