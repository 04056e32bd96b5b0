#!/usr/bin/env bash
# Every front the package ships, configured with its own snippets (scripts/site-server.sh):
# login.cgi and login.fcgi under lighttpd, and under nginx (login.fcgi on its socket as the
# entravo-site service starts it, login.cgi through fcgiwrap) with an application behind the
# session check. On each, `entravo-site probe` passes, the session check refuses a request
# without a session, and no path under the site's prefix ever answers with a program's bytes.
# Then the misroutings that once let requests through: a front that does not split the path,
# and a session check sent to the welcome page. Then the settings: a bad one is named by
# login.cgi for each request and stops login.fcgi from starting at all.
#
#   fronts-e2e.sh LOGIN_CGI ENTRAVO_SITE LOGIN_FCGI
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 LOGIN_CGI ENTRAVO_SITE LOGIN_FCGI" >&2; exit 2; }
cgi=$1 site=$2 fcgi=$3
here=$(cd "$(dirname "$0")" && pwd)
server=$here/../../scripts/site-server.sh
. "$here/../support/check.sh"
for program in lighttpd nginx spawn-fcgi fcgiwrap python3; do
  command -v "$program" >/dev/null || { echo "$program is not installed: skipped"; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/site-fronts.XXXXXX")
cleanup() {
  for dir in lighttpd nginx bad; do "$server" stop "$work/$dir"; done
  for dir in open misrouted; do
    [ ! -f "$work/$dir/server.pid" ] || kill "$(cat "$work/$dir/server.pid")" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

status() { # URL [CURL OPTIONS...]: the status, with the headers and body kept in $work/last.*
  local url=$1
  shift
  curl -s -m 20 -D "$work/last.headers" -o "$work/last.body" -w '%{http_code}' "$@" "$url"
}
program_bytes() { head -c 4 "$work/last.body" | grep -c $'^\x7fELF' || true; }
logged() { # PATTERN FILE: yes once the line is in the log (a server may write it just after answering)
  local poll
  for ((poll = 0; poll < 50; poll++)); do
    grep -q -- "$1" "$2" && echo yes && return
    sleep 0.1
  done
}

export ENTRAVO_SITE_DB=$work/site.db
"$site" init >/dev/null
lighttpd=$("$server" start "$work/lighttpd" "$cgi" "$ENTRAVO_SITE_DB" cgi)
nginx=$("$server" start "$work/nginx" "$fcgi" "$ENTRAVO_SITE_DB" nginx)

for front in "$lighttpd" "$nginx"; do
  server_name=$([ "$front" = "$lighttpd" ] && echo lighttpd || echo nginx)
  for page in login.cgi login.fcgi; do
    url=$front/entravo/$page
    "$site" probe "$url" >"$work/probe.log" 2>&1 && passed=yes || passed=no
    check "$server_name $page: the probe passes" yes "$([ $passed = yes ] && echo yes || cat "$work/probe.log")"
    check "$server_name $page: /auth without a session" 401 "$(status "$url/auth")"
  done
  for path in /entravo/login.cgi/auth /entravo/login.cgi/verify /entravo/login.fcgi/verify /entravo/ \
    /entravo/login.cgi/ /entravo/login.cgi/auth/x /entravo/login.cgix /entravo/login.fcgix /entravo/login.cgi.bak; do
    answer=$(status "$front$path")
    # /verify answers every request (its answers are signed); no other path passes anyone.
    [ "$answer" != 200 ] || [[ "$path" == */verify ]] && kind=closed || kind="answered $answer"
    check "$server_name $path: closed, and never a program's bytes" "closed 0" "$kind $(program_bytes)"
  done
done
check "nginx: the application without a session" 401 "$(status "$nginx/app/")"

# The probe tells an open door: a lighttpd that serves the program itself below its path.
mkdir -p "$work/open/www"
port=$(cat "$work/lighttpd/port")
cat >"$work/open/lighttpd.conf" <<CONF
server.modules = ("mod_alias", "mod_cgi", "mod_setenv")
server.document-root = "$work/open/www"
server.bind = "127.0.0.1"
server.port = $((port + 1))
server.errorlog = "$work/open/error.log"
alias.url = ("/entravo/login.cgi" => "$(readlink -f "$cgi")")
\$HTTP["url"] == "/entravo/login.cgi" {
    cgi.assign = ("" => "")
    setenv.set-environment = ("ENTRAVO_SITE_CONF" => "$work/lighttpd/site.conf")
}
CONF
lighttpd -D -f "$work/open/lighttpd.conf" </dev/null >>"$work/open/error.log" 2>&1 &
echo $! >"$work/open/server.pid"
open=http://127.0.0.1:$((port + 1))/entravo/login.cgi
for ((poll = 0; poll < 50; poll++)); do [ "$(status "$open")" != 000 ] && break; sleep 0.1; done
"$site" probe "$open" >"$work/probe.log" 2>&1 && passed=yes || passed=no
check "an open door: the probe fails" no "$passed"
check "and says why" 1 "$(grep -c '^FAILED: no answer, /verify.s included, was a program.s bytes' "$work/probe.log")"

# nginx misrouted: a FastCGI location without PATH_INFO, and a session check sent to the
# welcome page. Neither may pass a request without a session.
mkdir -p "$work/misrouted/tmp"
cat >"$work/misrouted/nginx.conf" <<CONF
$([ "$(id -u)" -ne 0 ] || echo "user root;")
pid $work/misrouted/nginx.pid;
error_log $work/misrouted/error.log;
events {}
http {
  access_log off;
  client_body_temp_path $work/misrouted/tmp; proxy_temp_path $work/misrouted/tmp; fastcgi_temp_path $work/misrouted/tmp;
  uwsgi_temp_path $work/misrouted/tmp; scgi_temp_path $work/misrouted/tmp;
  server {
    listen 127.0.0.1:$((port + 2));
    location /entravo/login.fcgi { include /etc/nginx/fastcgi_params; fastcgi_pass unix:$work/nginx/login.socket; }
    location = /welcome-as-check { internal; include /etc/nginx/fastcgi_params; fastcgi_pass unix:$work/nginx/login.socket; }
    location /app/ { auth_request /welcome-as-check; proxy_pass http://127.0.0.1:$(cat "$work/nginx/app.port"); }
  }
}
CONF
nginx -c "$work/misrouted/nginx.conf" -g 'daemon off;' </dev/null >>"$work/misrouted/error.log" 2>&1 &
echo $! >"$work/misrouted/server.pid"
misrouted=http://127.0.0.1:$((port + 2))
for ((poll = 0; poll < 50; poll++)); do [ "$(status "$misrouted/app/")" != 000 ] && break; sleep 0.1; done
check "unsplit: /auth is an error, never a pass" 500 "$(status "$misrouted/entravo/login.fcgi/auth")"
check "unsplit: and the error log says how to split it" yes \
  "$(logged 'without splitting off its PATH_INFO.*fastcgi_split_path_info' "$work/misrouted/error.log")"
check "a session check sent to the welcome page passes no one" 401 "$(status "$misrouted/app/")"

# Settings: login.cgi reads them for each request, login.fcgi once when it starts.
echo "ENTRAVO_SITE_TRUSTED_PROXIES=10.0.0.0/33" >>"$work/lighttpd/site.conf"
line=$(wc -l <"$work/lighttpd/site.conf")
check "a bad setting: login.cgi answers 500" 500 "$(status "$lighttpd/entravo/login.cgi")"
check "and names it in the error log" yes \
  "$(logged "login.cgi: $work/lighttpd/site.conf line $line: ENTRAVO_SITE_TRUSTED_PROXIES: '10.0.0.0/33' is not" "$work/lighttpd/error.log")"
check "login.fcgi goes on with what it read when it started" 401 "$(status "$lighttpd/entravo/login.fcgi/auth")"
# A typo in the proxies is found when login.fcgi starts, not as a 500 for every request later.
bad=$(ENTRAVO_SITE_TRUSTED_PROXIES=10.0.0.0/33 "$server" start "$work/bad" "$fcgi" "$ENTRAVO_SITE_DB" fcgi)
# lighttpd answers 500 while it tries to start the program, 503 once it has given up for a
# while: either way an error, never a pass.
answer=$(status "$bad/entravo/login.fcgi/auth")
check "a bad setting: login.fcgi does not start, and its page answers an error" yes \
  "$([ "$answer" = 500 ] || [ "$answer" = 503 ] && echo yes || echo "$answer")"
check "and the error log names the setting" yes \
  "$(logged "login.fcgi: $work/bad/site.conf line 2: ENTRAVO_SITE_TRUSTED_PROXIES: '10.0.0.0/33' is not" "$work/bad/error.log")"

[ "$failures" -eq 0 ] || { echo "logs:"; cat "$work"/*/error.log; exit 1; }
