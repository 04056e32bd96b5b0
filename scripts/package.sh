#!/usr/bin/env bash
# Release packaging: for i686 and x86_64, a zip with the two programs and the user guide, and
# a per-user installer. Output in dist/.
set -euo pipefail
cd "$(dirname "$0")/.."
version=1.0.0
rm -rf dist
mkdir -p dist

for preset in win32 win64; do
  case $preset in
    win32) triple=i686-w64-mingw32 ;;
    win64) triple=x86_64-w64-mingw32 ;;
  esac
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target logonagent lampup
  stage=dist/stage-$preset/Entravo
  mkdir -p "$stage"
  for exe in logonagent.exe lampup.exe; do
    "$triple-strip" -o "$stage/$exe" "build/$preset/bin/$exe"
  done
  sed 's/$/\r/' docs/USER-GUIDE.txt > "$stage/User guide.txt"

  zip="dist/entravo-$version-$preset.zip"
  (cd "dist/stage-$preset" && zip -q -X -r "../$(basename "$zip")" Entravo)

  makensis -V2 -DARCH="$preset" -DBINDIR="$PWD/$stage" -DGUIDE="$PWD/$stage/User guide.txt" \
    -DOUTFILE="$PWD/dist/entravo-$version-$preset-setup.exe" installer/entravo.nsi
  rm -rf "dist/stage-$preset"
done

ls -l dist | awk 'NR > 1 { printf "%10d  %s\n", $5, $9 }'
