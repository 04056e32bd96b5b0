#!/usr/bin/env bash
# Runs the site's login pages under a real web server on a free loopback port, configured with
# the package's own snippets (packaging/entravo-site, filled in with this folder's places by
# scripts/render-site-config.sh), for tests, load runs and the demo. Everything the servers
# need and write stays in one folder. How to call it: usage, the first function below.
#
# PROGRAM is login.cgi or login.fcgi, beside the other one; the page answers at
# BASE/entravo/NAME (PROGRAM's name), below it /auth, /verify and the OpenID Connect provider's
# paths. The settings are DIR/site.conf (ENTRAVO_SITE_CONF): ENTRAVO_SITE_DB=DB (a SQLite file or
# a PostgreSQL URI), ENTRAVO_SITE_TRUSTED_PROXIES, ENTRAVO_SITE_THREADS and
# ENTRAVO_SITE_METRICS_FROM when they are set, and under lighttpd ENTRAVO_SITE_ISSUER=BASE/entravo/NAME,
# the page's own address. MODE:
#   cgi    lighttpd with the lighttpd snippet (the default; login.fcgi is started there too)
#   fcgi   the same, PROGRAM being login.fcgi
#   nginx  nginx with the nginx snippets in the example server block: login.fcgi on its socket
#          as the entravo-site service starts it, login.cgi through fcgiwrap, and at /app/ an
#          application (scripts/hello_app.py) that only a signed-in visitor reaches
# SITE_FCGI_PROCESSES sets lighttpd's login.fcgi processes (the package's snippet: 1). The
# servers' error log (the login programs' messages included) is DIR/error.log, the site's
# access log DIR/access.log.
set -euo pipefail

usage() {
  cat >&2 <<'USAGE'
scripts/site-server.sh start DIR PROGRAM DB [MODE]  start; prints the base URL (http://127.0.0.1:PORT)
scripts/site-server.sh proxy DIR BACKDIR            start a reverse proxy to the server in BACKDIR
scripts/site-server.sh stop DIR                     stop what was started in DIR (and wait for it)
USAGE
  exit 2
}

readonly start_tries=10       # ports to try when one turns out to be taken
readonly ready_polls=100      # polls of 0.1 s each for a server to answer
readonly stop_polls=50
here=$(cd "$(dirname "$0")" && pwd)
templates=$here/../packaging/entravo-site
render=$here/render-site-config.sh

fail() {
  echo "site-server: $*" >&2
  exit 1
}

# lighttpd and nginx do not say on standard output when they are ready; ask over HTTP.
answers() {
  local code
  code=$(curl -s -o /dev/null -m 2 -w '%{http_code}' "http://127.0.0.1:$1/" 2>/dev/null || true)
  [ -n "$code" ] && [ "$code" != 000 ]
}

# Waits for a file to appear (a socket) or to have something in it (-s, a port number).
appears() { # PATH [-s]
  local poll
  for ((poll = 0; poll < ready_polls; poll++)); do
    test "${2:--e}" "$1" && return 0
    sleep 0.1
  done
  return 1
}

# The settings every program started here reads, and nothing of the caller's environment:
# as with /etc/entravo-site/site.conf, each server's settings are its file's.
write_settings() { # DIR DB
  {
    echo "ENTRAVO_SITE_DB=$2"
    [ -z "${ENTRAVO_SITE_TRUSTED_PROXIES:-}" ] || echo "ENTRAVO_SITE_TRUSTED_PROXIES=$ENTRAVO_SITE_TRUSTED_PROXIES"
    [ -z "${ENTRAVO_SITE_THREADS:-}" ] || echo "ENTRAVO_SITE_THREADS=$ENTRAVO_SITE_THREADS"
    [ -z "${ENTRAVO_SITE_METRICS_FROM:-}" ] || echo "ENTRAVO_SITE_METRICS_FROM=$ENTRAVO_SITE_METRICS_FROM"
  } >"$1/site.conf"
}
readonly without_settings=(env -u ENTRAVO_SITE_DB -u ENTRAVO_SITE_TRUSTED_PROXIES -u ENTRAVO_SITE_THREADS
                           -u ENTRAVO_SITE_METRICS_FROM)
with_settings() { # DIR COMMAND...
  local dir=$1
  shift
  "${without_settings[@]}" ENTRAVO_SITE_CONF="$dir/site.conf" "$@"
}

# The head of a lighttpd configuration of DIR on PORT, with these modules.
lighttpd_head() { # DIR PORT MODULE...
  local dir=$1 port=$2 modules
  shift 2
  modules=$(printf ', "%s"' "$@")
  cat <<CONF
server.modules = (${modules:2})
server.document-root = "$dir/www"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$dir/error.log"
CONF
}

# The page is the OpenID Connect issuer at the address it answers on, which is known only now.
write_issuer() { # DIR URL
  sed -i '/^ENTRAVO_SITE_ISSUER=/d' "$1/site.conf"
  echo "ENTRAVO_SITE_ISSUER=$2" >>"$1/site.conf"
}

write_lighttpd_config() { # DIR PROGRAMS NAME PORT
  local dir=$1 programs=$2 name=$3 port=$4
  write_issuer "$dir" "http://127.0.0.1:$port/entravo/$name"
  "$render" "$templates/lighttpd.conf.in" PROGRAMS="$programs" LIGHTTPD_RUN="$dir" \
    FCGI_PROCESSES="${SITE_FCGI_PROCESSES:-1}" >"$dir/50-entravo.conf"
  # As Debian's lighttpd.conf, with the access log on; login.cgi finds its settings file
  # through its environment, which lighttpd makes for each request.
  {
    lighttpd_head "$dir" "$port" mod_indexfile mod_access mod_alias mod_redirect mod_setenv
    cat <<CONF
server.pid-file = "$dir/lighttpd.pid"
server.max-connections = 1024
accesslog.filename = "$dir/access.log"
setenv.set-environment = ("ENTRAVO_SITE_CONF" => "$dir/site.conf")
include "$dir/50-entravo.conf"
CONF
  } >"$dir/lighttpd.conf"
}

write_nginx_config() { # DIR PROGRAMS APP_PORT PORT
  local dir=$1 programs=$2 app=$3 port=$4 user=""
  mkdir -p "$dir/snippets" "$dir/conf.d" "$dir/tmp"
  "$render" "$templates/nginx.conf.in" PROGRAMS="$programs" RUN="$dir" FCGIWRAP_SOCKET="$dir/fcgiwrap.socket" \
    NGINX_LOGS="$dir" >"$dir/snippets/entravo.conf"
  "$render" "$templates/nginx-auth.conf.in" >"$dir/snippets/entravo-auth.conf"
  "$render" "$templates/nginx-log.conf" >"$dir/conf.d/entravo-site.conf"
  "$render" "$templates/nginx-app.conf.in" LISTEN="127.0.0.1:$port" APP="127.0.0.1:$app" SIGN_IN_PAGE="$dir/www" \
    >"$dir/app.conf"
  ln -sf /etc/nginx/fastcgi_params "$dir/fastcgi_params"
  # Started by root, the workers would run as nobody and find no way into DIR.
  [ "$(id -u)" -ne 0 ] || user="user root;"
  cat >"$dir/nginx.conf" <<CONF
$user
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events {}
http {
  access_log $dir/access-other.log;
  client_body_temp_path $dir/tmp; proxy_temp_path $dir/tmp; fastcgi_temp_path $dir/tmp;
  uwsgi_temp_path $dir/tmp; scgi_temp_path $dir/tmp;
  include $dir/conf.d/*.conf;
  include $dir/app.conf;
}
CONF
}

# The server of DIR in the foreground, as the process itself (so that its id is the server's),
# with DIR's settings and nothing of the caller's.
serve() { # DIR lighttpd|nginx
  local command=(lighttpd -D -f "$1/lighttpd.conf")
  [ "$2" = lighttpd ] || command=(nginx -p "$1" -c "$1/nginx.conf" -g 'daemon off;')
  exec "${without_settings[@]}" ENTRAVO_SITE_CONF="$1/site.conf" "${command[@]}"
}

# Starts SERVER in DIR with the configuration that WRITER ARGS... writes for a port (the port is
# WRITER's last argument); prints the base URL.
launch() { # DIR SERVER WRITER ARGS...
  local dir=$1 server=$2 writer=$3 port pid
  shift 3
  for ((try = 0; try < start_tries; try++)); do
    port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
    # A port another server answers on would look like this one ready.
    ! answers "$port" || continue
    "$writer" "$@" "$port"
    # Its own output goes to a file: a caller reading ours must not wait for the server. The
    # CGI programs inherit it, so their messages land in the error log too.
    serve "$dir" "$server" </dev/null >>"$dir/error.log" 2>&1 &
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
  fail "the server did not start; see $dir/error.log"
}

new_dir() { # DIR PROGRAM...: made, and printed as an absolute path
  local dir=$1 program
  shift
  for program in "$@"; do
    command -v "$program" >/dev/null || fail "$program is not installed (run scripts/setup.sh)"
  done
  mkdir -p "$dir/www"
  (cd "$dir" && pwd)
}

# A FastCGI program on a socket of DIR, started as the entravo-site service starts login.fcgi:
# the listening socket as its standard input. Its id lands in DIR/NAME.pid.
spawn() { # DIR NAME PROGRAM
  rm -f "$1/$2.socket"
  with_settings "$1" spawn-fcgi -s "$1/$2.socket" -F 1 -P "$1/$2.pid" -- "$3" >>"$1/error.log" 2>&1
  appears "$1/$2.socket" || fail "$3 did not start; see $1/error.log"
}

start_nginx() { # DIR PROGRAMS
  local dir=$1 programs=$2
  echo "Touch your token to the reader and double-click the Entravo icon to sign in." >"$dir/www/how-to-sign-in.html"
  spawn "$dir" login "$programs/login.fcgi"
  spawn "$dir" fcgiwrap "$(command -v fcgiwrap)"
  rm -f "$dir/app.port"
  python3 "$here/hello_app.py" </dev/null >"$dir/app.port" 2>>"$dir/error.log" &
  echo $! >"$dir/app.pid"
  appears "$dir/app.port" -s || fail "the application did not start; see $dir/error.log"
  launch "$dir" nginx write_nginx_config "$dir" "$programs" "$(cat "$dir/app.port")"
}

start() {
  [ $# -eq 3 ] || [ $# -eq 4 ] || usage
  local dir program db mode=${4:-cgi}
  case $mode in
    cgi | fcgi) dir=$(new_dir "$1" lighttpd) ;;
    nginx) dir=$(new_dir "$1" nginx spawn-fcgi fcgiwrap python3) ;;
    *) usage ;;
  esac
  program=$(readlink -f "$2")
  # A PostgreSQL URI stays as it is; a SQLite file is named by its full path.
  case $3 in postgres://* | postgresql://*) db=$3 ;; *) db=$(readlink -f "$3") ;; esac
  [ -x "$program" ] || fail "$2 is not a program"
  write_settings "$dir" "$db"
  if [ "$mode" = nginx ]; then
    start_nginx "$dir" "$(dirname "$program")"
    return
  fi
  launch "$dir" lighttpd write_lighttpd_config "$dir" "$(dirname "$program")" "$(basename "$program")"
  # lighttpd started its FastCGI processes before it answered. Noted, they end with a stop even
  # after lighttpd itself was killed outright and they were left behind.
  pgrep -P "$(cat "$dir/server.pid")" >"$dir/fcgi.pids" || true
}

write_proxy_config() { # DIR BACKEND_PORT PORT
  local dir=$1 backend=$2 port=$3
  {
    lighttpd_head "$dir" "$port" mod_proxy
    echo "proxy.server = (\"\" => ((\"host\" => \"127.0.0.1\", \"port\" => $backend)))"
  } >"$dir/lighttpd.conf"
}

# A reverse proxy in front of a server this script started: it passes every request on and
# adds the client's address to X-Forwarded-For.
proxy() {
  [ $# -eq 2 ] || usage
  local dir
  dir=$(new_dir "$1" lighttpd)
  [ -f "$2/port" ] || fail "no server was started in $2"
  : >"$dir/site.conf"
  launch "$dir" lighttpd write_proxy_config "$dir" "$(cat "$2/port")"
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
    ! running "$pid" || kill -9 "$pid" 2>/dev/null || true
  done
}

stop() {
  [ $# -eq 1 ] || usage
  local dir=$1 children=() file
  if [ -f "$dir/server.pid" ]; then
    # The FastCGI processes lighttpd started end with it; should it be gone already, here.
    # Never both at once: a server that sees its processes end starts new ones.
    mapfile -t children < <(pgrep -P "$(cat "$dir/server.pid")" || true)
    end_processes "$(cat "$dir/server.pid")"
    end_processes "${children[@]}"
    rm -f "$dir/server.pid"
  fi
  for file in "$dir/fcgi.pids" "$dir/login.pid" "$dir/fcgiwrap.pid" "$dir/app.pid"; do
    [ -f "$file" ] || continue
    mapfile -t children <"$file"
    end_processes "${children[@]}"
    rm -f "$file"
  done
}

case "${1:-}" in
  start) shift; start "$@" ;;
  proxy) shift; proxy "$@" ;;
  stop) shift; stop "$@" ;;
  *) usage ;;
esac
