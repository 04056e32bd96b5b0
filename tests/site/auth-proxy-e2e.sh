#!/usr/bin/env bash
# The session check in front of an application, configured as the package ships it: nginx with
# its snippets and the example server block (login.fcgi on its socket as the entravo-site
# service starts it, login.cgi through fcgiwrap). Before signing in the application is out of
# reach (401 and the how-to page); after the logon link and its 303 it greets the account, and
# neither header a client forges reaches it. Then lighttpd with its snippet and the example
# authorizer: login.fcgi guards a CGI program, which learns the account from its environment.
#
#   auth-proxy-e2e.sh LOGIN_CGI ENTRAVO_SITE MAKE_LOGONS LOGIN_FCGI
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: $0 LOGIN_CGI ENTRAVO_SITE MAKE_LOGONS LOGIN_FCGI" >&2; exit 2; }
cgi=$1 site=$2 make_logons=$3 fcgi=$4
here=$(cd "$(dirname "$0")" && pwd)
server=$here/../../scripts/site-server.sh render=$here/../../scripts/render-site-config.sh
templates=$here/../../packaging/entravo-site
. "$here/../support/check.sh"
for program in lighttpd nginx spawn-fcgi fcgiwrap python3; do
  command -v "$program" >/dev/null || { echo "$program is not installed: skipped"; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/auth-proxy.XXXXXX")
cleanup() {
  "$server" stop "$work/front"
  [ ! -f "$work/authorizer/server.pid" ] || kill "$(cat "$work/authorizer/server.pid")" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export ENTRAVO_SITE_DB=$work/site.db
"$site" init >/dev/null
"$site" enroll 0123456789ABCDEF alice
front=$("$server" start "$work/front" "$fcgi" "$ENTRAVO_SITE_DB" nginx)

status() { # URL [CURL OPTIONS...]
  local url=$1
  shift
  curl -s -m 20 -D "$work/last.headers" -o "$work/last.body" -w '%{http_code}' "$@" "$url"
}
forged=(-H 'X-Entravo-Account: mallory' -H 'X-Entravo-Identity: FFFFFFFFFFFFFFFF')

check "before signing in, the application is out of reach" 401 "$(status "$front/app/" "${forged[@]}")"
check "and the how-to page says how to sign in" 1 "$(grep -c 'double-click the Entravo icon' "$work/last.body")"
check "the logon link answers with a redirect" 303 \
  "$(status "$front/entravo/login.fcgi?Authenticate=$("$make_logons" 0123456789ABCDEF 1 1)" -c "$work/jar")"
check "then the application greets the account and its token, and only those" \
  "Hello, alice Identity: 0123456789ABCDEF" \
  "$(status "$front/app/" -b "$work/jar" "${forged[@]}" >/dev/null; tr '\n' ' ' <"$work/last.body" | sed 's/ $//')"
check "the session check answers at its own path too" "200 0123456789ABCDEF" \
  "$(status "$front/entravo/login.fcgi/auth" -b "$work/jar") $(grep -i '^X-Entravo-Identity:' "$work/last.headers" | tr -d '\r' | cut -d' ' -f2)"
check "after signing out the application is out of reach again" 401 \
  "$(status "$front/entravo/login.fcgi" --data '' -b "$work/jar" -c "$work/jar" >/dev/null; status "$front/app/" -b "$work/jar")"
check "login.cgi through fcgiwrap signs in to the same application" "303 Hello, alice" \
  "$(status "$front/entravo/login.cgi?Authenticate=$("$make_logons" 0123456789ABCDEF 2 1)" -c "$work/jar") $(status "$front/app/" -b "$work/jar" >/dev/null; head -1 "$work/last.body")"

# lighttpd: login.fcgi as the FastCGI authorizer of /app/, as the package's example has it.
mkdir -p "$work/authorizer/www/app"
# The program greets the account, and says which method reached it with what body: a form's
# fields arrive whole.
cat >"$work/authorizer/www/app/hello.cgi" <<'CGI'
#!/bin/sh
printf 'Content-Type: text/plain\r\n\r\nHello, %s (%s %s)\n' "${ENTRAVO_ACCOUNT:-nobody}" "$REQUEST_METHOD" \
  "$(head -c "${CONTENT_LENGTH:-0}")"
CGI
chmod +x "$work/authorizer/www/app/hello.cgi"
echo "ENTRAVO_SITE_DB=$ENTRAVO_SITE_DB" >"$work/authorizer/site.conf"
programs=$(dirname "$(readlink -f "$fcgi")")
"$render" "$templates/lighttpd.conf.in" PROGRAMS="$programs" LIGHTTPD_RUN="$work/authorizer" FCGI_PROCESSES=1 \
  >"$work/authorizer/50-entravo.conf"
"$render" "$templates/lighttpd-app.conf.in" PROGRAMS="$programs" LIGHTTPD_RUN="$work/authorizer" \
  APP_ROOT="$work/authorizer/www" >"$work/authorizer/app.conf"
write_authorizer_config() { # PORT
  cat >"$work/authorizer/lighttpd.conf" <<CONF
server.modules = ("mod_setenv")
server.document-root = "$work/authorizer/www"
server.bind = "127.0.0.1"
server.port = $1
server.errorlog = "$work/authorizer/error.log"
setenv.set-environment = ("ENTRAVO_SITE_CONF" => "$work/authorizer/site.conf")
include "$work/authorizer/50-entravo.conf"
include "$work/authorizer/app.conf"
\$HTTP["url"] =~ "^/app/" { cgi.assign = (".cgi" => "") }
CONF
}
for ((try = 0; try < 10; try++)); do
  port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
  write_authorizer_config "$port"
  env -u ENTRAVO_SITE_DB ENTRAVO_SITE_CONF="$work/authorizer/site.conf" lighttpd -D -f "$work/authorizer/lighttpd.conf" \
    </dev/null >>"$work/authorizer/error.log" 2>&1 &
  echo $! >"$work/authorizer/server.pid"
  for ((poll = 0; poll < 100; poll++)); do
    [ "$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/app/hello.cgi")" = 000 ] || break 2
    kill -0 "$(cat "$work/authorizer/server.pid")" 2>/dev/null || break
    sleep 0.1
  done
done
authorizer=http://127.0.0.1:$port
check "lighttpd: before signing in, the program is out of reach" 401 "$(status "$authorizer/app/hello.cgi")"
check "lighttpd: the logon link answers with a redirect" 303 \
  "$(status "$authorizer/entravo/login.fcgi?Authenticate=$("$make_logons" 0123456789ABCDEF 3 1)" -c "$work/jar2")"
check "lighttpd: then the program greets the account" "Hello, alice (GET )" \
  "$(status "$authorizer/app/hello.cgi" -b "$work/jar2" -H 'X-Entravo-Account: mallory' >/dev/null; cat "$work/last.body")"
check "lighttpd: a form sent by the signed-in user reaches the program" "Hello, alice (POST item=tea&count=2)" \
  "$(status "$authorizer/app/hello.cgi" -b "$work/jar2" --data 'item=tea&count=2' >/dev/null; cat "$work/last.body")"
for method in HEAD PUT DELETE PATCH OPTIONS; do
  check "lighttpd: $method of the signed-in user passes" 200 \
    "$(status "$authorizer/app/hello.cgi" -b "$work/jar2" -X "$method" $([ "$method" != HEAD ] || echo --head))"
done
for method in POST HEAD PUT DELETE PATCH OPTIONS; do
  check "lighttpd: $method of anyone else is refused" 401 \
    "$(status "$authorizer/app/hello.cgi" -X "$method" $([ "$method" != HEAD ] || echo --head) \
       $([ "$method" != POST ] || echo --data item=tea))"
done

[ "$failures" -eq 0 ] || { echo "logs:"; cat "$work/front/error.log" "$work/authorizer/error.log"; exit 1; }
