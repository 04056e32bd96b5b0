#!/usr/bin/env bash
# The site's Debian package on this machine, used as an operator uses it: install an older
# version and run the README's install section (lighttpd with the package's snippet, on port
# 80, and the probe); sign in through lighttpd and through nginx (the package's snippets and its
# example server block, login.fcgi from the package's service, login.cgi through fcgiwrap);
# upgrade to this tree's version (the service and lighttpd's login.fcgi start again on the new
# program; the database and its used strings stay); remove (no program of the package runs or
# answers, the database stays); purge (nothing of the package stays).
# The machine runs no systemd: the test runs in a mount namespace of its own where a stand-in
# systemctl (systemctl-standin.sh, mounted over systemctl) runs the units' command lines as
# systemd would, and where
# the container's policy lets maintainer scripts start services, so that the package's
# maintainer scripts act as on a systemd machine. It installs a package and writes under /etc,
# /var/lib and /run, so it runs only as root and only where the package has never been;
# whatever happens, it leaves the machine as it found it.
#
#   package-test.sh MAKE_LOGONS
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 MAKE_LOGONS" >&2; exit 2; }
make_logons=$(readlink -f "$1")
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
folder=/var/lib/entravo-site
database=$folder/site.db
enabled=/etc/lighttpd/conf-enabled/50-entravo.conf
programs=/usr/lib/entravo-site

[ "$(id -u)" -eq 0 ] || { echo "not root: skipped (this test installs the package)"; exit 77; }
for tool in lighttpd lighty-enable-mod nginx fcgiwrap spawn-fcgi dpkg-buildflags lintian help2man unshare \
  systemd-analyze deb-systemd-helper; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed: skipped (run scripts/setup.sh)"; exit 77; }
done
state=$(dpkg-query -W -f='${db:Status-Status}' entravo-site 2>/dev/null || true)
if [ -n "$state" ] && [ "$state" != not-installed ] || [ -e "$folder" ] || [ -L "$enabled" ]; then
  echo "entravo-site is already on this machine ($state; $folder, $enabled): skipped, it stays as it is"
  exit 77
fi
if curl -s -o /dev/null -m 2 http://127.0.0.1:80/ || [ -e /run/lighttpd.pid ] || [ -e /run/fcgiwrap.socket ]; then
  echo "a web server already answers on port 80 (or runs): skipped; the README's install starts lighttpd there"
  exit 77
fi

# In a mount namespace of its own: /run/systemd/system says systemd runs, and the container's
# policy-rc.d (which forbids starting services) is covered by one that allows it, for this
# test's processes only.
if [ -z "${ENTRAVO_PACKAGE_TEST_NAMESPACE:-}" ]; then
  exec env ENTRAVO_PACKAGE_TEST_NAMESPACE=1 unshare --mount --propagation private -- "$0" "$@"
fi
mount -t tmpfs -o size=1m,mode=0755 tmpfs /run/systemd
mkdir /run/systemd/system
work=$(mktemp -d "${TMPDIR:-/tmp}/package-test.XXXXXX")
chmod 0755 "$work" # nginx's workers (www-data) read its configuration here
if [ -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 0\n' >"$work/policy-rc.d"
  chmod 0755 "$work/policy-rc.d"
  mount --bind "$work/policy-rc.d" /usr/sbin/policy-rc.d
fi
# systemctl itself stays reachable to the stand-in, which answers for it everywhere else (apt
# gives maintainer scripts a PATH of its own).
mkdir "$work/standin"
touch "$work/systemctl"
mount --bind "$(readlink -f /usr/bin/systemctl)" "$work/systemctl"
mount --bind "$here/systemctl-standin.sh" /usr/bin/systemctl
export SYSTEMCTL_STANDIN_STATE=$work/standin SYSTEMCTL_STANDIN_REAL=$work/systemctl
: >"$work/standin/log"

made_run=()
for run_folder in /run/lighttpd /run/entravo-site; do [ -e "$run_folder" ] || made_run+=("$run_folder"); done
# The guards above make everything here this test's own to remove.
cleanup() {
  [ ! -f "$work/nginx.pid" ] || kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
  [ ! -f "$work/app.pid" ] || kill "$(cat "$work/app.pid")" 2>/dev/null || true
  systemctl stop lighttpd.service fcgiwrap.socket entravo-site.socket >/dev/null 2>&1 || true
  rm -f "$enabled" /run/fcgiwrap.socket /run/lighttpd.pid
  dpkg --purge entravo-site >/dev/null 2>&1 || true
  rm -rf "$folder" "${made_run[@]}"
  rm -f /etc/lighttpd/conf-available/50-entravo.conf.dpkg-*
  umount /usr/sbin/policy-rc.d /usr/bin/systemctl "$work/systemctl" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

. "$here/../support/check.sh"
run() { # COMMAND...: shown with its output, as an operator sees it
  echo "\$ $*"
  "$@" 2>&1 | sed 's/^/    /'
  return "${PIPESTATUS[0]}"
}
# What the stand-in systemd did since the last look, as its journal would show it.
standin_log() {
  local seen=${standin_seen:-0}
  tail -n +$((seen + 1)) "$work/standin/log" | sed 's/^/    /'
  standin_seen=$(wc -l <"$work/standin/log")
}
status() { # URL [CURL OPTIONS...]: the status, with the headers and body kept in $work/last.*
  local url=$1
  shift
  curl -s -m 20 -D "$work/last.headers" -o "$work/last.body" -w '%{http_code}' "$@" "$url"
}
as_site() { runuser -u www-data -- entravo-site "$@"; }
exists() { [ -e "$1" ] || [ -L "$1" ] && echo yes || echo no; }
alive() { local s; s=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1) && [ -n "$s" ] && [ "$s" != Z ]; }
# The processes running a program of the package, "PID PROGRAM" each, "(deleted)" after a
# program replaced since it started.
package_processes() {
  local pid exe
  for pid in $(ls /proc | grep -E '^[0-9]+$'); do
    alive "$pid" || continue
    exe=$(readlink "/proc/$pid/exe" 2>/dev/null) || continue
    [[ "$exe" == $programs/* ]] && echo "$pid ${exe#$programs/}"
  done | sort -n
}
service_pid() { cat "$work/standin/entravo-site.service.pid" 2>/dev/null || echo none; }
lighttpd_fcgi() { pgrep -x -P "$(cat "$work/standin/lighttpd.service.pid")" login.fcgi || echo none; }
wait_for() { # POLLS COMMAND...: 0.1 s a poll
  local polls=$1
  shift
  for ((; polls > 0; polls--)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# An older release and this one, both from this tree.
build_package() { # VERSION (empty: this tree's) DIR
  "$root/scripts/package.sh" site "$1" "$2" >"$work/package.log" 2>&1 || { cat "$work/package.log"; exit 1; }
}
build_package 0.9.0 "$work/old"
build_package "" "$work/new"
old=$(ls "$work"/old/entravo-site_0.9.0_*.deb)
new=$(ls "$work"/new/entravo-site_*.deb)

# --- install: the README's install section, run as it is written (sudo is root here) -------
mapfile -t recipe < <(awk '/<!-- the package test runs these -->/ { found = 1; next }
  found && /^    / { sub(/^    /, ""); print; seen = 1; next } seen { exit }' "$root/README.md")
check "the README has its install section" 4 "${#recipe[@]}"
readme_run() { # LINE: with sudo as root does it, and the older package for this tree's
  local line=$1
  line=${line//sudo -u www-data /runuser -u www-data -- }
  line=${line//sudo /}
  line=${line/apt install .\/entravo-site_*_amd64.deb/apt-get install -y -q .\/$(basename "$old")}
  echo "\$ $1"
  [ "$line" = "${1//sudo /}" ] || echo "    (as: $line)"
  (cd "$(dirname "$old")" && bash -c "$line") 2>&1 | sed 's/^/    /'
  return "${PIPESTATUS[0]}"
}
[ -d /run/lighttpd ] || install -d -o www-data -g www-data -m 0750 /run/lighttpd
readme_run "${recipe[0]}" >"$work/apt.log" || { cat "$work/apt.log"; exit 1; }
grep -v -e '^    WARNING: apt does not have' -e '^    $' "$work/apt.log" | head -n 3
echo "    ..."
standin_log
check "the database folder is the web server's, closed to others" "www-data:www-data 750" "$(stat -c '%U:%G %a' "$folder")"
check "installing made the database, the web server's, 0640" "www-data 640" "$(stat -c '%U %a' "$database")"
check "the settings file and the snippets are conffiles" \
  "/etc/entravo-site/site.conf /etc/lighttpd/conf-available/50-entravo.conf /etc/nginx/conf.d/entravo-site.conf /etc/nginx/snippets/entravo-auth.conf /etc/nginx/snippets/entravo.conf" \
  "$(dpkg-query -W -f='${Conffiles}' entravo-site | awk 'NF { print $1 }' | sort | xargs)"
check "installing enabled no web server configuration" no "$(exists "$enabled")"
# Read from the package: minimal images leave manual pages out of what dpkg unpacks.
check "the package carries the manual page" 1 "$(dpkg-deb -c "$old" | grep -c ' ./usr/share/man/man1/entravo-site.1.gz$')"
for pair in lighttpd.conf.in:/etc/lighttpd/conf-available/50-entravo.conf nginx.conf.in:/etc/nginx/snippets/entravo.conf \
  nginx-auth.conf.in:/etc/nginx/snippets/entravo-auth.conf entravo-site.service.in:/lib/systemd/system/entravo-site.service; do
  check "installed as the tests fill it in: ${pair#*:}" "" \
    "$(diff <("$root/scripts/render-site-config.sh" --package "$root/packaging/entravo-site/${pair%%:*}") "${pair#*:}")"
done
echo "\$ systemd-analyze verify entravo-site.socket entravo-site.service"
man=$([ -e /usr/share/man/man1/entravo-site.1.gz ] && command -v man >/dev/null && echo yes || echo no)
verified=$(systemd-analyze verify --man="$man" /lib/systemd/system/entravo-site.socket \
  /lib/systemd/system/entravo-site.service 2>&1 && echo "(no finding)")
echo "$verified" | sed 's/^/    /'
check "systemd-analyze verify finds nothing in the units" "(no finding)" "$verified"
check "the service runs login.fcgi as www-data, its socket the web server's" "login.fcgi www-data www-data:www-data 660" \
  "$(ps -o comm=,user= -p "$(service_pid)" 2>&1 | xargs) $(stat -c '%U:%G %a' /run/entravo-site/login.socket 2>&1)"

readme_run "${recipe[1]}"
standin_log
# lighttpd's unit is of Type=simple: it is started once it runs, maybe before it listens.
wait_for 100 curl -s -o /dev/null -m 2 http://127.0.0.1:80/
check "Debian's whole lighttpd configuration takes the snippet" yes \
  "$(lighttpd -tt -f /etc/lighttpd/lighttpd.conf >"$work/config-test" 2>&1 && echo yes || cat "$work/config-test")"
alice=0123456789ABCDEF
readme_run "${recipe[2]/0123456789ABCDEF alice/$alice alice}"
readme_run "${recipe[3]}" && probed=yes || probed=no
check "the probe passes through lighttpd's login.fcgi" yes "$probed"
run runuser -u www-data -- entravo-site probe http://127.0.0.1/entravo/login.cgi && probed=yes || probed=no
check "the probe passes through lighttpd's login.cgi" yes "$probed"

# --- nginx: the package's snippets in its example server block, with an application ---------
python3 "$root/scripts/hello_app.py" </dev/null >"$work/app.port" 2>/dev/null &
echo $! >"$work/app.pid"
wait_for 100 test -s "$work/app.port"
run systemctl start fcgiwrap.socket
standin_log
mkdir -p "$work/www"
echo "Touch your token to the reader and double-click the Entravo icon to sign in." >"$work/www/how-to-sign-in.html"
ln -s /etc/nginx/snippets "$work/snippets"
ln -s /etc/nginx/fastcgi_params "$work/fastcgi_params"
nginx_port=$((20000 + RANDOM % 20000))
dpkg-deb --fsys-tarfile "$old" | tar -xO ./usr/share/doc/entravo-site/examples/nginx-app.conf |
  sed -e "s/listen 80;/listen 127.0.0.1:$nginx_port;/" -e "s/127.0.0.1:3000/127.0.0.1:$(cat "$work/app.port")/" \
    -e "s|root /var/www/html;|root $work/www;|" >"$work/site.conf"
cat >"$work/nginx.conf" <<CONF
user www-data;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events {}
http {
  include /etc/nginx/mime.types;
  access_log /var/log/nginx/access.log;
  include /etc/nginx/conf.d/*.conf;
  include $work/site.conf;
}
CONF
check "nginx takes its snippets in the example server block" yes \
  "$(nginx -q -t -c "$work/nginx.conf" >"$work/nginx-test" 2>&1 && echo yes || cat "$work/nginx-test")"
nginx -c "$work/nginx.conf"
front=http://127.0.0.1:$nginx_port
wait_for 100 test -s "$work/nginx.pid"
run runuser -u www-data -- entravo-site probe "$front/entravo/login.fcgi" && probed=yes || probed=no
check "the probe passes through nginx and the service" yes "$probed"
run runuser -u www-data -- entravo-site probe "$front/entravo/login.cgi" && probed=yes || probed=no
check "the probe passes through nginx and fcgiwrap" yes "$probed"

# --- signing in through each, and /auth without a session on every shipped front ---------------
mapfile -t strings < <("$make_logons" "$alice" 1000 8)
echo "\$ curl http://127.0.0.1/entravo/login.cgi?Authenticate=${strings[0]}"
check "lighttpd, login.cgi: a genuine string signs in" 303 "$(status "http://127.0.0.1/entravo/login.cgi?Authenticate=${strings[0]}" -c "$work/jar")"
check "the session opens the welcome page" 200 "$(status http://127.0.0.1/entravo/login.cgi -b "$work/jar")"
check "the welcome page names the account" 1 "$(grep -c 'Signed in as alice' "$work/last.body")"
check "lighttpd, login.fcgi: a genuine string signs in" 303 "$(status "http://127.0.0.1/entravo/login.fcgi?Authenticate=${strings[1]}")"
check "nginx, login.fcgi: a genuine string signs in" 303 "$(status "$front/entravo/login.fcgi?Authenticate=${strings[2]}" -c "$work/jar2")"
check "nginx: then the application greets the account" "Hello, alice" \
  "$(status "$front/app/" -b "$work/jar2" -H 'X-Entravo-Account: mallory' >/dev/null; head -1 "$work/last.body")"
check "nginx, login.cgi: a genuine string signs in" 303 "$(status "$front/entravo/login.cgi?Authenticate=${strings[3]}")"
for url in http://127.0.0.1/entravo/login.cgi/auth http://127.0.0.1/entravo/login.fcgi/auth \
  "$front/entravo/login.cgi/auth" "$front/entravo/login.fcgi/auth" "$front/app/"; do
  check "without a session: $url" 401 "$(status "$url")"
done
check "no sign-in string in nginx's access log" 0 "$(grep -c 'Authenticate=' /var/log/nginx/access.log || true)"

# --- what the operator sees, as shipped: the metrics for loopback, the record, the admin grant --
check "lighttpd: the metrics answer this machine" 200 "$(status http://127.0.0.1/entravo/login.fcgi/metrics)"
check "the metrics count the sign-ins" 1 "$(grep -c '^entravo_sign_ins_total{outcome="accepted"} [1-9]' "$work/last.body")"
check "nginx: the metrics answer this machine" 200 "$(status "$front/entravo/login.cgi/metrics")"
check "the sign-in record lists alice's four sign-ins" 4 "$(as_site sign-ins --account alice | grep -c " page alice$")"
run runuser -u www-data -- entravo-site admin grant alice
check "the admin grant is kept" alice "$(as_site admin list | awk '{ print $2 }')"
check "the admin page without a session says how to sign in" 401 "$(status http://127.0.0.1/entravo/login.fcgi/admin)"
check "the settings file names the metrics' readers" 1 "$(grep -c '^#ENTRAVO_SITE_METRICS_FROM=' /etc/entravo-site/site.conf)"
check "the manual page names the metrics' readers, sign-ins and admin" 3 \
  "$(dpkg-deb --fsys-tarfile "$old" | tar -xO ./usr/share/man/man1/entravo-site.1.gz | gunzip |
     grep -oF -e ENTRAVO_SITE_METRICS_FROM -e 'sign\-ins' -e 'admin grant' | sort -u | wc -l)"

# --- upgrade -----------------------------------------------------------------------------------
before_service=$(service_pid) before_lighttpd=$(lighttpd_fcgi)
run dpkg -i "$new"
standin_log
check "the upgrade is this tree's version" "$(basename "$new" | cut -d_ -f2)" "$(dpkg-query -W -f='${Version}' entravo-site)"
check "the upgrade keeps the enrolled token" "$alice active alice" "$(as_site list)"
renewed() { [ "$(service_pid)" != "$before_service" ] && [ "$(lighttpd_fcgi)" != none ] && [ "$(lighttpd_fcgi)" != "$before_lighttpd" ]; }
check "the service and lighttpd's login.fcgi started again" yes "$(wait_for 100 renewed && echo yes || echo no)"
echo "    running: $(package_processes | xargs)"
check "no process runs an old program" 0 "$(package_processes | grep -c deleted || true)"
check "a string used before the upgrade is still refused" 409 "$(status "http://127.0.0.1/entravo/login.fcgi?Authenticate=${strings[0]}")"
check "a new string signs in after the upgrade, through nginx" 303 "$(status "$front/entravo/login.fcgi?Authenticate=${strings[4]}")"
run runuser -u www-data -- entravo-site probe http://127.0.0.1/entravo/login.fcgi >/dev/null && probed=yes || probed=no
check "the probe passes after the upgrade" yes "$probed"
mapfile -t installed < <(dpkg-query -L entravo-site)

# --- remove ------------------------------------------------------------------------------------
run dpkg --remove entravo-site
standin_log
check "removing keeps the database" yes "$(exists "$database")"
check "removing takes the programs" no "$(exists /usr/bin/entravo-site)"
check "removing disables the lighttpd snippet, whose programs are gone" no "$(exists "$enabled")"
check "removing keeps the snippet itself" yes "$(exists /etc/lighttpd/conf-available/50-entravo.conf)"
none_left() { [ -z "$(package_processes)" ]; }
check "no program of the package runs" yes "$(wait_for 100 none_left && echo yes || package_processes | xargs)"
check "lighttpd no longer signs anyone in" 404 "$(status "http://127.0.0.1/entravo/login.fcgi?Authenticate=${strings[5]}")"
check "nor nginx" 502 "$(status "$front/entravo/login.fcgi?Authenticate=${strings[6]}")"

# --- purge -------------------------------------------------------------------------------------
run dpkg --purge entravo-site
standin_log
# A folder other packages share stays; files, and the package's own folders, must not.
left=$(for path in "${installed[@]}"; do
  # (/lib is a link to usr/lib: a folder of every package.)
  if { [ -L "$path" ] && [ ! -d "$path" ]; } || { [ -f "$path" ] && [ ! -L "$path" ]; } ||
    { [ -d "$path" ] && [[ "$path" == *entravo* ]]; }; then echo "$path"; fi
done)
check "purging leaves no file of the package" "" "$left"
check "purging deletes the database and its folder" no "$(exists "$folder")"
check "purging forgets the service's enablement" "" \
  "$(ls /etc/systemd/system/*/entravo-site* /var/lib/systemd/deb-systemd-helper-*/*entravo* 2>/dev/null || true)"

[ "$failures" -eq 0 ] || { echo "logs:"; cat /var/log/lighttpd/error.log "$work/nginx-error.log" "$work"/standin/*.log 2>/dev/null; exit 1; }
