#!/usr/bin/env bash
# Runs the site's login page under a real lighttpd on a free loopback port, for tests, load
# runs and the demo. Everything the server needs and writes stays in one folder.
#
#   scripts/site-server.sh start DIR CGI DB   start; prints the base URL (http://127.0.0.1:PORT)
#   scripts/site-server.sh proxy DIR BACKDIR  start a reverse proxy to the server in BACKDIR
#   scripts/site-server.sh start-snippet DIR CONF   start with an installed configuration snippet
#   scripts/site-server.sh stop DIR           stop the server started in DIR (and wait for it)
#
# The login page answers at BASE/cgi-bin/login.cgi with ENTRAVO_SITE_DB=DB (and
# ENTRAVO_SITE_TRUSTED_PROXIES when that is set). With a snippet, the server is configured as
# Debian's lighttpd.conf configures it (its modules; as www-data when started by root) plus
# CONF, and answers wherever CONF says. lighttpd's error log (including the CGI's messages) is
# DIR/error.log.
set -euo pipefail

readonly start_tries=10       # ports to try when one turns out to be taken
readonly ready_polls=100      # polls of 0.1 s each for the server to answer
readonly stop_polls=50

usage() {
  sed -n '5,8p' "$0" | sed 's/^#   //' >&2
  exit 2
}

# lighttpd does not say on standard output when it is ready; ask it over HTTP.
answers() {
  local code
  code=$(curl -s -o /dev/null -m 2 -w '%{http_code}' "http://127.0.0.1:$1/" 2>/dev/null || true)
  [ -n "$code" ] && [ "$code" != 000 ]
}

# Where every server of this script listens and logs: loopback only, its files in DIR.
listen_config() { # DIR PORT
  cat <<CONF
server.bind = "127.0.0.1"
server.port = $2
server.errorlog = "$1/error.log"
server.pid-file = "$1/lighttpd.pid"
CONF
}

write_config() {
  local dir=$1 db=$2 port=$3 proxies=""
  [ -z "${ENTRAVO_SITE_TRUSTED_PROXIES:-}" ] ||
    proxies=", \"ENTRAVO_SITE_TRUSTED_PROXIES\" => \"$ENTRAVO_SITE_TRUSTED_PROXIES\""
  cat >"$dir/lighttpd.conf" <<CONF
server.modules = ("mod_setenv", "mod_cgi")
server.document-root = "$dir/www"
$(listen_config "$dir" "$port")
server.max-connections = 1024
setenv.set-environment = ("ENTRAVO_SITE_DB" => "$db"$proxies)
\$HTTP["url"] =~ "^/cgi-bin/" { cgi.assign = ("" => "") }
CONF
}

# Starts lighttpd in DIR with the configuration that WRITER ARGS... writes for a port (the port
# is WRITER's last argument); prints the base URL.
launch() {
  local dir=$1 writer=$2 port pid
  shift 2
  for ((try = 0; try < start_tries; try++)); do
    port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
    "$writer" "$@" "$port"
    # Its own output goes to a file: a caller reading ours must not wait for the server. The
    # CGI programs inherit it, so their messages land in the error log too.
    lighttpd -D -f "$dir/lighttpd.conf" </dev/null >>"$dir/error.log" 2>&1 &
    pid=$!
    echo "$pid" >"$dir/server.pid"
    for ((poll = 0; poll < ready_polls; poll++)); do
      if answers "$port"; then
        echo "$port" >"$dir/port"
        echo "http://127.0.0.1:$port"
        return 0
      fi
      kill -0 "$pid" 2>/dev/null || break   # the port was taken: try another
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  echo "site-server: lighttpd did not start; see $dir/error.log" >&2
  exit 1
}

new_dir() { # DIR: made, and printed as an absolute path
  command -v lighttpd >/dev/null || { echo "site-server: lighttpd is not installed (run scripts/setup.sh)" >&2; exit 1; }
  mkdir -p "$1"
  (cd "$1" && pwd)
}

start() {
  [ $# -eq 3 ] || usage
  local dir cgi db
  dir=$(new_dir "$1")
  cgi=$(readlink -f "$2")
  db=$(readlink -f "$3")
  [ -x "$cgi" ] || { echo "site-server: $2 is not a program" >&2; exit 1; }
  mkdir -p "$dir/www/cgi-bin"
  ln -sf "$cgi" "$dir/www/cgi-bin/login.cgi"
  launch "$dir" write_config "$dir" "$db"
}

write_proxy_config() {
  local dir=$1 backend=$2 port=$3
  cat >"$dir/lighttpd.conf" <<CONF
server.modules = ("mod_proxy")
server.document-root = "$dir"
$(listen_config "$dir" "$port")
proxy.server = ("" => (("host" => "127.0.0.1", "port" => $backend)))
CONF
}

# A reverse proxy in front of a server this script started: it passes every request on and
# adds the client's address to X-Forwarded-For.
proxy() {
  [ $# -eq 2 ] || usage
  local dir
  dir=$(new_dir "$1")
  [ -f "$2/port" ] || { echo "site-server: no server was started in $2" >&2; exit 1; }
  launch "$dir" write_proxy_config "$dir" "$(cat "$2/port")"
}

write_snippet_config() {
  local dir=$1 snippet=$2 port=$3 user=""
  [ "$(id -u)" -ne 0 ] || user='server.username = "www-data"
server.groupname = "www-data"'
  cat >"$dir/lighttpd.conf" <<CONF
server.modules = ("mod_indexfile", "mod_access", "mod_alias", "mod_redirect")
server.document-root = "$dir/www"
$(listen_config "$dir" "$port")
$user
include "$snippet"
CONF
}

# The site as its package installs it: CONF is the snippet, through the link that enabled it.
start_snippet() {
  [ $# -eq 2 ] || usage
  local dir
  dir=$(new_dir "$1")
  [ -r "$2" ] || { echo "site-server: cannot read $2" >&2; exit 1; }
  mkdir -p "$dir/www"
  # lighttpd opens its log once it is www-data: DIR and the log are theirs (DIR's parents must
  # let them in).
  if [ "$(id -u)" -eq 0 ]; then
    touch "$dir/error.log"
    chown www-data:www-data "$dir" "$dir/error.log"
  fi
  launch "$dir" write_snippet_config "$dir" "$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
}

stop() {
  [ $# -eq 1 ] || usage
  local pidfile="$1/server.pid" pid
  [ -f "$pidfile" ] || return 0
  pid=$(cat "$pidfile")
  if kill "$pid" 2>/dev/null; then
    for ((poll = 0; poll < stop_polls; poll++)); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$pidfile"
}

case "${1:-}" in
  start) shift; start "$@" ;;
  proxy) shift; proxy "$@" ;;
  start-snippet) shift; start_snippet "$@" ;;
  stop) shift; stop "$@" ;;
  *) usage ;;
esac
