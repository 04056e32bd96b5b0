#!/usr/bin/env bash
# Runs the site's login page under a real lighttpd on a free loopback port, for tests, load
# runs and the demo. Everything the server needs and writes stays in one folder.
#
#   scripts/site-server.sh start DIR PROGRAM DB [MODE]  start; prints the base URL (http://127.0.0.1:PORT)
#   scripts/site-server.sh proxy DIR BACKDIR            start a reverse proxy to the server in BACKDIR
#   scripts/site-server.sh start-snippet DIR CONF       start with an installed configuration snippet
#   scripts/site-server.sh nginx DIR BACKDIR            nginx with the session check, in front of an application
#   scripts/site-server.sh stop DIR                     stop the server started in DIR (and wait for it)
#
# MODE: cgi (the default: PROGRAM is login.cgi, one process per request), fcgi (PROGRAM is
# login.fcgi; lighttpd's mod_fastcgi starts and restarts $SITE_FCGI_PROCESSES of them, 2 by
# default) or spawn-fcgi (the same processes started by spawn-fcgi, lighttpd only connects).
# The login page answers at BASE/cgi-bin/NAME (PROGRAM's name) with ENTRAVO_SITE_DB=DB, a
# SQLite file or a PostgreSQL URI (and ENTRAVO_SITE_TRUSTED_PROXIES when that is set). With a
# snippet, the server is configured as Debian's lighttpd.conf configures it (its modules; as
# www-data when started by root) plus CONF, and answers wherever CONF says. lighttpd's error
# log (including the login program's messages) is DIR/error.log.
set -euo pipefail

readonly start_tries=10       # ports to try when one turns out to be taken
readonly ready_polls=100      # polls of 0.1 s each for the server to answer
readonly stop_polls=50
processes=${SITE_FCGI_PROCESSES:-2}

usage() {
  sed -n '5,9p' "$0" | sed 's/^#   //' >&2
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

# How lighttpd reaches the login page in each mode.
page_config() {
  local dir=$1 program=$2 db=$3 mode=$4 name
  name=$(basename "$program")
  case $mode in
    cgi)
      echo 'server.modules += ("mod_cgi")'
      echo "\$HTTP[\"url\"] =~ \"^/cgi-bin/\" { cgi.assign = (\"\" => \"\") }" ;;
    fcgi)
      cat <<CONF
server.modules += ("mod_fastcgi")
fastcgi.server = ("/cgi-bin/$name" => ((
  "socket" => "$dir/fcgi.socket",
  "bin-path" => "$program",
  "bin-environment" => ("ENTRAVO_SITE_DB" => "$db"),
  "max-procs" => $processes,
  "check-local" => "disable"
)))
CONF
      ;;
    spawn-fcgi)
      cat <<CONF
server.modules += ("mod_fastcgi")
fastcgi.server = ("/cgi-bin/$name" => (("socket" => "$dir/fcgi.socket", "check-local" => "disable")))
CONF
      ;;
  esac
}

write_config() {
  local dir=$1 program=$2 db=$3 mode=$4 port=$5 proxies=""
  [ -z "${ENTRAVO_SITE_TRUSTED_PROXIES:-}" ] ||
    proxies=", \"ENTRAVO_SITE_TRUSTED_PROXIES\" => \"$ENTRAVO_SITE_TRUSTED_PROXIES\""
  {
    cat <<CONF
server.modules = ("mod_setenv")
server.document-root = "$dir/www"
$(listen_config "$dir" "$port")
server.max-connections = 1024
setenv.set-environment = ("ENTRAVO_SITE_DB" => "$db"$proxies)
CONF
    page_config "$dir" "$program" "$db" "$mode"
  } >"$dir/lighttpd.conf"
}

# spawn-fcgi forks the processes and ends; their ids land in DIR/fcgi.pids.
spawn_processes() {
  local dir=$1 program=$2 db=$3
  command -v spawn-fcgi >/dev/null || { echo "site-server: spawn-fcgi is not installed (run scripts/setup.sh)" >&2; exit 1; }
  rm -f "$dir/fcgi.socket"
  ENTRAVO_SITE_DB=$db spawn-fcgi -s "$dir/fcgi.socket" -F "$processes" -P "$dir/fcgi.pids" -- "$program" \
    >>"$dir/error.log" 2>&1
}

# The server launch starts in DIR, in the foreground: lighttpd, unless a mode says otherwise.
server_program() { exec lighttpd -D -f "$1/lighttpd.conf"; }

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
    server_program "$dir" </dev/null >>"$dir/error.log" 2>&1 &
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
  echo "site-server: the server did not start; see $dir/error.log" >&2
  exit 1
}

new_dir() { # DIR: made, and printed as an absolute path
  command -v lighttpd >/dev/null || { echo "site-server: lighttpd is not installed (run scripts/setup.sh)" >&2; exit 1; }
  mkdir -p "$1"
  (cd "$1" && pwd)
}

start() {
  [ $# -eq 3 ] || [ $# -eq 4 ] || usage
  local dir program db mode=${4:-cgi}
  case $mode in cgi | fcgi | spawn-fcgi) ;; *) usage ;; esac
  dir=$(new_dir "$1")
  program=$(readlink -f "$2")
  # A PostgreSQL URI stays as it is; a SQLite file is named by its full path.
  case $3 in postgres://* | postgresql://*) db=$3 ;; *) db=$(readlink -f "$3") ;; esac
  [ -x "$program" ] || { echo "site-server: $2 is not a program" >&2; exit 1; }
  mkdir -p "$dir/www/cgi-bin"
  ln -sf "$program" "$dir/www/cgi-bin/$(basename "$program")"
  [ "$mode" = spawn-fcgi ] && spawn_processes "$dir" "$program" "$db"
  launch "$dir" write_config "$dir" "$program" "$db" "$mode"
  # lighttpd started its FastCGI processes before it answered. Noted, they end with a stop even
  # after lighttpd itself was killed outright and they were left behind.
  [ "$mode" != fcgi ] || pgrep -P "$(cat "$dir/server.pid")" >"$dir/fcgi.pids" || true
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

# Whether a process runs: one that ended is gone even while no parent has reaped it (a
# server whose starter ended belongs to the first process, which may reap late).
running() {
  [ -r "/proc/$1/stat" ] && [ "$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null)" != Z ]
}

# Ends these processes and waits for them; what does not end in time is killed.
end_processes() {
  local pid poll
  for pid in "$@"; do kill "$pid" 2>/dev/null || true; done
  for pid in "$@"; do
    for ((poll = 0; poll < stop_polls; poll++)); do
      running "$pid" || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
  done
}

write_nginx_config() {
  local dir=$1 backend=$2 app=$3 port=$4
  local user=""
  # Started by root, the worker would run as nobody and find no way into DIR.
  [ "$(id -u)" -ne 0 ] || user="user root;"
  cat >"$dir/nginx.conf" <<CONF
$user
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events {}
http {
  access_log off;
  client_body_temp_path $dir/tmp; proxy_temp_path $dir/tmp; fastcgi_temp_path $dir/tmp;
  uwsgi_temp_path $dir/tmp; scgi_temp_path $dir/tmp;
  server {
    listen 127.0.0.1:$port;
    location /cgi-bin/ { proxy_pass $backend; }
    location = /entravo-auth {
      internal;
      proxy_pass $backend/cgi-bin/login.cgi/auth;
      proxy_pass_request_body off;
      proxy_set_header Content-Length "";
    }
    location /app/ {
      auth_request /entravo-auth;
      auth_request_set \$entravo_account \$upstream_http_x_entravo_account;
      proxy_set_header X-Entravo-Account \$entravo_account;
      proxy_pass http://127.0.0.1:$app;
      error_page 401 /signin.html;
    }
    location = /signin.html { root $dir/www; }
  }
}
CONF
}

# nginx in front of an application (scripts/hello_app.py) at /app/, which only a signed-in
# visitor reaches, with the session check of the login.cgi server in BACKDIR; the login page
# passes through at /cgi-bin/.
start_nginx() {
  [ $# -eq 2 ] || usage
  local dir app_port poll
  command -v nginx >/dev/null || { echo "site-server: nginx is not installed (run scripts/setup.sh)" >&2; exit 1; }
  dir=$(new_dir "$1")
  [ -f "$2/port" ] || { echo "site-server: no server was started in $2" >&2; exit 1; }
  mkdir -p "$dir/www" "$dir/tmp"
  echo "Touch your token to the reader and double-click the Entravo icon to sign in." >"$dir/www/signin.html"
  python3 "$(dirname "$0")/hello_app.py" </dev/null >"$dir/app.port" 2>>"$dir/error.log" &
  echo $! >"$dir/app.pid"
  for ((poll = 0; poll < ready_polls; poll++)); do
    [ ! -s "$dir/app.port" ] || break
    sleep 0.1
  done
  app_port=$(cat "$dir/app.port")
  server_program() { exec nginx -p "$1" -c "$1/nginx.conf" -g 'daemon off;'; }
  launch "$dir" write_nginx_config "$dir" "http://127.0.0.1:$(cat "$2/port")" "$app_port"
}

stop() {
  [ $# -eq 1 ] || usage
  local dir=$1 children=()
  if [ -f "$dir/app.pid" ]; then
    end_processes "$(cat "$dir/app.pid")"
    rm -f "$dir/app.pid"
  fi
  if [ -f "$dir/server.pid" ]; then
    # The FastCGI processes lighttpd started end with it; should it be gone already, here.
    # Never both at once: a server that sees its processes end starts new ones.
    mapfile -t children < <(pgrep -P "$(cat "$dir/server.pid")" || true)
    end_processes "$(cat "$dir/server.pid")"
    end_processes "${children[@]}"
    rm -f "$dir/server.pid"
  fi
  if [ -f "$dir/fcgi.pids" ]; then
    mapfile -t children <"$dir/fcgi.pids"
    end_processes "${children[@]}"
    rm -f "$dir/fcgi.pids"
  fi
}

case "${1:-}" in
  start) shift; start "$@" ;;
  proxy) shift; proxy "$@" ;;
  start-snippet) shift; start_snippet "$@" ;;
  nginx) shift; start_nginx "$@" ;;
  stop) shift; stop "$@" ;;
  *) usage ;;
esac
