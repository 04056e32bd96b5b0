#!/usr/bin/env bash
# The site's Debian package on this machine, used as an operator uses it: install an older
# version, enable its lighttpd snippet, enrol a token and sign in through the installed pages;
# upgrade to this tree's version (the database and its used strings stay: a replay is still
# refused); remove (the database stays, the snippet is disabled); purge (nothing of the package
# stays).
# It installs a package and writes under /etc and /var/lib, so it runs only as root and only
# where the package has never been; whatever happens, it leaves the machine as it found it.
#
#   package-test.sh MAKE_LOGONS
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 MAKE_LOGONS" >&2; exit 2; }
make_logons=$(readlink -f "$1")
root=$(cd "$(dirname "$0")/../.." && pwd)
server=$root/scripts/site-server.sh
folder=/var/lib/entravo-site
database=$folder/site.db
enabled=/etc/lighttpd/conf-enabled/50-entravo.conf

[ "$(id -u)" -eq 0 ] || { echo "not root: skipped (this test installs the package)"; exit 77; }
for tool in lighttpd lighty-enable-mod dpkg-buildflags lintian help2man; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed: skipped (run scripts/setup.sh)"; exit 77; }
done
state=$(dpkg-query -W -f='${db:Status-Status}' entravo-site 2>/dev/null || true)
if [ -n "$state" ] && [ "$state" != not-installed ] || [ -e "$folder" ] || [ -L "$enabled" ]; then
  echo "entravo-site is already on this machine ($state; $folder, $enabled): skipped, it stays as it is"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/package-test.XXXXXX")
chmod 0755 "$work" # the server runs as www-data in a folder inside
# lighttpd's own folder for FastCGI sockets, which a machine booted without systemd lacks.
made_run=no
if [ ! -d /run/lighttpd ]; then
  install -d -o www-data -g www-data -m 0750 /run/lighttpd
  made_run=yes
fi
# The guards above make everything here this test's own to remove.
cleanup() {
  "$server" stop "$work/server"
  [ "$made_run" = no ] || rm -rf /run/lighttpd
  dpkg --purge entravo-site >/dev/null 2>&1 || true
  rm -rf "$folder" "$work"
  rm -f "$enabled"
}
trap cleanup EXIT

. "$(dirname "$0")/../support/check.sh"
run() { # COMMAND...: shown with its output, as an operator sees it
  echo "\$ $*"
  "$@" 2>&1 | sed 's/^/    /'
  return "${PIPESTATUS[0]}"
}
status() { # URL [CURL OPTIONS...]: the status, with the body kept in $work/body
  local url=$1
  shift
  curl -s -m 20 -o "$work/body" -w '%{http_code}' "$@" "$url"
}
as_site() { runuser -u www-data -- entravo-site --db "$database" "$@"; }
serve() { # the server with the enabled snippet: prints its base URL, or its logs and fails
  "$server" start-snippet "$work/server" "$enabled" || { cat "$work/server/error.log" >&2; return 1; }
}
exists() { [ -e "$1" ] || [ -L "$1" ] && echo yes || echo no; }

# An older release and this one, both from this tree.
build_package() { # VERSION (empty: this tree's) DIR
  "$root/scripts/package.sh" site "$1" "$2" >"$work/package.log" 2>&1 || { cat "$work/package.log"; exit 1; }
}
build_package 0.9.0 "$work/old"
build_package "" "$work/new"
old=$(ls "$work"/old/entravo-site_0.9.0_*.deb)
new=$(ls "$work"/new/entravo-site_*.deb)

run dpkg -i "$old"
check "the database folder is the web server's, closed to others" "www-data:www-data 750" "$(stat -c '%U:%G %a' "$folder")"
check "installing made the database" yes "$(exists "$database")"
check "the snippets are conffiles" "/etc/lighttpd/conf-available/50-entravo.conf /etc/nginx/snippets/entravo.conf" \
  "$(dpkg-query -W -f='${Conffiles}' entravo-site | awk 'NF { print $1 }' | sort | xargs)"
check "installing enabled no web server configuration" no "$(exists "$enabled")"
# Read from the package: minimal images leave manual pages out of what dpkg unpacks.
check "the package carries the manual page" 1 "$(dpkg-deb -c "$old" | grep -c ' ./usr/share/man/man1/entravo-site.1.gz$')"

if command -v nginx >/dev/null; then
  # The snippet in a server block, checked by nginx itself; fastcgi_params is Debian's.
  ln -s /etc/nginx/fastcgi_params "$work/fastcgi_params"
  cat >"$work/nginx.conf" <<CONF
error_log $work/nginx-error.log;
pid $work/nginx.pid;
events {}
http { server { listen 127.0.0.1:8080; include /etc/nginx/snippets/entravo.conf; } }
CONF
  check "nginx takes its snippet" yes "$(nginx -q -t -c "$work/nginx.conf" >"$work/nginx-test" 2>&1 && echo yes || cat "$work/nginx-test")"
fi

run lighty-enable-mod entravo
check "Debian's whole lighttpd configuration takes the snippet" yes \
  "$(lighttpd -tt -f /etc/lighttpd/lighttpd.conf >"$work/config-test" 2>&1 && echo yes || cat "$work/config-test")"
alice=0123456789ABCDEF
run runuser -u www-data -- entravo-site --db "$database" enroll "$alice" alice
mapfile -t strings < <("$make_logons" "$alice" 1000 4)
base=$(serve)
login=$base/entravo/login.cgi

echo "\$ curl $login?Authenticate=${strings[0]}"
check "a genuine string signs in through the installed page" 303 "$(status "$login?Authenticate=${strings[0]}" -c "$work/jar")"
check "the session opens the welcome page" 200 "$(status "$login" -b "$work/jar")"
check "the welcome page names the account" 1 "$(grep -c 'Signed in as alice' "$work/body")"
if [ -x /usr/lib/entravo-site/login.fcgi ]; then
  check "a genuine string signs in through the FastCGI page" 303 \
    "$(status "$base/entravo/login.fcgi?Authenticate=${strings[1]}")"
fi
"$server" stop "$work/server"

run dpkg -i "$new"
check "the upgrade is this tree's version" "$(basename "$new" | cut -d_ -f2)" "$(dpkg-query -W -f='${Version}' entravo-site)"
check "the upgrade keeps the enrolled token" "$alice active alice" "$(as_site list)"
base=$(serve)
login=$base/entravo/login.cgi
check "a string used before the upgrade is still refused" 409 "$(status "$login?Authenticate=${strings[0]}")"
check "a new string signs in after the upgrade" 303 "$(status "$login?Authenticate=${strings[2]}")"
"$server" stop "$work/server"
mapfile -t installed < <(dpkg-query -L entravo-site)

run dpkg --remove entravo-site
check "removing keeps the database" yes "$(exists "$database")"
check "removing takes the programs" no "$(exists /usr/bin/entravo-site)"
check "removing disables the lighttpd snippet, whose programs are gone" no "$(exists "$enabled")"
check "removing keeps the snippet itself" yes "$(exists /etc/lighttpd/conf-available/50-entravo.conf)"

run dpkg --purge entravo-site
# A folder other packages share stays; files, and the package's own folders, must not.
left=$(for path in "${installed[@]}"; do
  if [ -L "$path" ] || [ -f "$path" ] || { [ -d "$path" ] && [[ "$path" == *entravo* ]]; }; then echo "$path"; fi
done)
check "purging leaves no file of the package" "" "$left"
check "purging deletes the database and its folder" no "$(exists "$folder")"

[ "$failures" -eq 0 ] || { echo "error log:"; cat "$work/server/error.log" 2>/dev/null; exit 1; }
