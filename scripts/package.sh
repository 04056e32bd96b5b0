#!/usr/bin/env bash
# Release packaging: for i686 and x86_64, a zip with the two programs and the user guide, and
# the per-user installer (the build's "installer" target, made with NSIS); and the web site's
# Debian package. Output in dist/: entravo-<version>-setup.exe and .zip carry the 32-bit
# programs, the release for every Windows; the 64-bit pair is named "-64bit-bus-library-only",
# which is all it is good for; entravo-site_<version>_amd64.deb is the site.
#
#   scripts/package.sh                        all of them, in a new dist/
#   scripts/package.sh site [VERSION [DIR]]   only the site's package (of another version, into
#                                             DIR instead of dist/: the package test's upgrade)
set -euo pipefail
usage() { sed -n '8,10p' "$0" | sed 's/^#   //'; }
case "${1:-}" in
  -h | --help) usage; exit 0 ;;
  "" | site) ;;
  *) usage >&2; exit 2 ;;
esac
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project(logonagent VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# The site's package from the release build (build/site-release), checked by lintian: an error
# fails the packaging, warnings are shown.
site_package() { # VERSION DIR
  local tool deb
  for tool in dpkg-buildflags dpkg-shlibdeps help2man lintian; do
    command -v "$tool" >/dev/null || { echo "package: $tool not found (run scripts/setup.sh)" >&2; exit 1; }
  done
  # Debian's build flags (hardening among them) as a Debian build passes them: CMake takes them
  # from the environment when it configures, so each packaging configures afresh.
  (
    eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
    export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS"
    cmake --preset site-release --fresh -DENTRAVO_SITE_VERSION="$1" >/dev/null
  )
  cmake --build --preset site-release
  (cd build/site-release && rm -f entravo-site_*.deb && cpack -G DEB >/dev/null)
  deb=$(ls build/site-release/entravo-site_"$1"_*.deb)
  lintian --fail-on error "$deb"
  mkdir -p "$2"
  cp "$deb" "$2/"
}

if [ "${1:-}" = site ]; then
  site_package "${2:-$version}" "${3:-dist}"
  exit 0
fi

command -v makensis >/dev/null || { echo "package: makensis not found (Debian package nsis)" >&2; exit 1; }
command -v zip >/dev/null || { echo "package: zip not found" >&2; exit 1; }
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
site_package "$version" dist

ls -l dist | awk 'NR > 1 { printf "%10d  %s\n", $5, $9 }'
