#!/usr/bin/env bash
# Installs what the project needs on Debian 12, and only what is missing: compilers (host and
# MinGW-w64 for both Windows targets), GoogleTest and Google Benchmark, Wine with Xvfb, the
# packaging tools (NSIS, and Debian's for the site's package), clang-format for the style
# check, and the site's SQLite, SHA-256 (nettle), lighttpd and nginx, FastCGI (libfcgi,
# spawn-fcgi, fcgiwrap), PostgreSQL (server and libpq), systemd's tools (the package's units are
# checked with systemd-analyze), clang (fuzzing), Chromium, Prometheus's Python client (its
# parser reads the site's metrics in the tests), and the OpenID Connect relying parties the
# provider is tested with: Apache with mod_auth_openidc, and authlib (with requests).
# Idempotent: when everything is present it prints nothing and costs a single dpkg query.
#
#   scripts/setup.sh          install what is missing (as root, or through sudo without a password)
#   scripts/setup.sh --check  only say what is missing; exit 1 when something is
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
  wine wine64 wine32:i386 xvfb x11-utils imagemagick
  zip nsis dpkg-dev help2man lintian
  libsqlite3-dev sqlite3 nettle-dev lighttpd nginx-light curl clang libclang-rt-14-dev clang-format
  libfcgi-dev spawn-fcgi fcgiwrap libpq-dev postgresql systemd
  chromium chromium-driver python3 python3-prometheus-client python3-yaml
  apache2 libapache2-mod-auth-openidc python3-authlib python3-requests
)

missing=()
while read -r status name; do
  [ "$status" = ii ] || missing+=("$name")
done < <(dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package}\n' "${packages[@]}" 2>/dev/null \
           | sed -E 's/^(..)[^ ]* /\1 /' || true)
# dpkg-query says nothing at all about packages it has never heard of.
known=" $(dpkg-query -W -f='${binary:Package} ' "${packages[@]}" 2>/dev/null || true) "
for p in "${packages[@]}"; do
  case "$known" in *" $p "*|*" ${p%:*}:amd64 "*) ;; *) missing+=("$p") ;; esac
done
# Keep each name once (a package can be both unknown and listed).
mapfile -t missing < <(printf '%s\n' "${missing[@]}" | sed '/^$/d' | sort -u)
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "${1:-}" = --check ]; then
  echo "setup: missing packages: ${missing[*]}" >&2
  exit 1
fi

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  as_root=(sudo -n)
else
  here=$(cd "$(dirname "$0")" && pwd)
  echo "setup: missing packages (${missing[*]}), which this user cannot install; run: sudo $here/setup.sh" >&2
  exit 1
fi

echo "setup: installing the missing packages (${missing[*]}); a few minutes on a new machine" >&2
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${as_root[@]}" dpkg --add-architecture i386
fi
log=$(mktemp "${TMPDIR:-/tmp}/entravo-setup.XXXXXX")
# A mirror in the middle of a sync serves an index that does not match its release file; the
# next try usually finds it whole.
update() {
  local try
  for try in 1 2 3; do
    "${as_root[@]}" apt-get update -qq >>"$log" 2>&1 && return 0
    [ "$try" -eq 3 ] || sleep $((try * 10))
  done
  return 1
}
install() { "${as_root[@]}" apt-get install -y -qq "$@" >>"$log" 2>&1; }
fail() {
  tail -n 20 "$log" >&2
  echo "setup: apt-get could not install the packages (log above, whole log in $log); check the network and the package sources, then run scripts/setup.sh again" >&2
  exit 1
}
# An index that stays out of date is used as it is: most packages install all the same.
update || echo "setup: apt-get update failed (see $log); installing from the package lists it has" >&2
if ! install "${missing[@]}"; then
  # Without the 32-bit Wine only the i686 test programs cannot run, as on a kernel without
  # 32-bit support; everything else installs, and the test run says what it skipped.
  rest=()
  for p in "${missing[@]}"; do [ "$p" = wine32:i386 ] || rest+=("$p"); done
  [ ${#rest[@]} -lt ${#missing[@]} ] || fail
  [ ${#rest[@]} -eq 0 ] || install "${rest[@]}" || fail
  echo "setup: wine32:i386 could not be installed (why: the end of $log): the i686 test programs will be built, not run" >&2
  exit 0
fi
rm -f "$log"
echo "setup: done" >&2
