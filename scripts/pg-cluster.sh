#!/usr/bin/env bash
# A throwaway PostgreSQL cluster in one folder, for the site's tests and load runs: a Unix
# socket in that folder (and, with --tcp, a free loopback port too); database "entravo", owned
# by the role "entravo", which local connections reach without a password. A standby is a
# streaming copy of a running cluster (pg_basebackup -R) in a folder of its own, on a port of
# its own, which the primary waits for at each commit (sync) or not (async). Run by root (as CI
# is), the servers run as "nobody": PostgreSQL refuses to run as root. Then DIR's parent folders
# must let "nobody" through (mode o+x).
#
#   scripts/pg-cluster.sh start DIR [--tcp]               make the cluster if DIR has none, start it; prints its URI
#   scripts/pg-cluster.sh standby DIR PRIMARY sync|async  a standby of the cluster running in PRIMARY, started; prints its URI
#   scripts/pg-cluster.sh promote DIR                     the standby in DIR takes writes (returns once it does)
#   scripts/pg-cluster.sh kill DIR                        kill -9 of all the server's processes at once, as its machine's end
#   scripts/pg-cluster.sh stop DIR                        stop it (fast shutdown: sessions are ended, data kept)
#   scripts/pg-cluster.sh uri DIR [DIR...]                its libpq URI; of several, one URI reaching the one that takes writes
set -euo pipefail

readonly role=entravo database=entravo
readonly unprivileged=nobody
readonly start_tries=10   # ports to try when one turns out to be taken
readonly ready_polls=300  # polls of 0.1 s each: a standby streaming, a killed server gone

usage() {
  sed -n '10,15p' "$0" | sed 's/^#   //' >&2
  exit 2
}

bin_dir() {
  local found
  found=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
  [ -n "$found" ] || { echo "pg-cluster: PostgreSQL is not installed (run scripts/setup.sh)" >&2; exit 1; }
  echo "$found"
}

# Runs a PostgreSQL program as the cluster's owner.
as_owner() {
  if [ "$(id -u)" = 0 ]; then
    runuser -u "$unprivileged" -- "$@"
  else
    "$@"
  fi
}

absolute() { (cd "$1" && pwd); }

# The port of the server in DIR, which also names its socket file.
port_of() { if [ -f "$1/port" ]; then cat "$1/port"; else echo 5432; fi; }

# A cluster on TCP has its port noted in DIR/port; its URI names the port, which a URI naming
# several clusters needs.
uri() {
  if [ $# -eq 1 ] && [ ! -f "$1/port" ]; then
    echo "postgresql:///$database?host=$1&user=$role"
    return
  fi
  local dir hosts=""
  for dir in "$@"; do
    [ -f "$dir/port" ] || { echo "pg-cluster: $dir has no TCP port (start it with --tcp)" >&2; exit 1; }
    hosts+=${hosts:+,}127.0.0.1:$(cat "$dir/port")
  done
  if [ $# -eq 1 ]; then
    echo "postgresql://$role@$hosts/$database"
  else
    echo "postgresql://$role@$hosts/$database?target_session_attrs=read-write"
  fi
}

# Where the server in DIR listens, in a file of its own that postgresql.conf includes: a standby
# copies its primary's files and then gets its own.
write_listen() { # DIR PORT (empty: the socket only)
  {
    echo "unix_socket_directories = '$1'"
    if [ -n "$2" ]; then
      echo "listen_addresses = '127.0.0.1'"
      echo "port = $2"
    else
      echo "listen_addresses = ''"
    fi
  } >"$1/data/site-listen.conf"
  [ "$(id -u)" != 0 ] || chown "$unprivileged" "$1/data/site-listen.conf"
}

# Starts the server in DIR; on TCP, on a free port (another is tried when one is taken).
launch() { # DIR TCP(yes|no)
  local dir=$1 tcp=$2 bin port="" try logged
  bin=$(bin_dir)
  for ((try = 0; try < start_tries; try++)); do
    [ "$tcp" = no ] || port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
    write_listen "$dir" "$port"
    logged=$(stat -c %s "$dir/server.log" 2>/dev/null || echo 0)
    if as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 start >/dev/null; then
      if [ -n "$port" ]; then echo "$port" >"$dir/port"; else rm -f "$dir/port"; fi
      return 0
    fi
    # Only a port someone else holds is worth another try.
    [ "$tcp" = yes ] && tail -c +$((logged + 1)) "$dir/server.log" | grep -q 'could not bind' || break
  done
  echo "pg-cluster: the server in $dir did not start; see $dir/server.log" >&2
  exit 1
}

owned_dir() { # DIR: made, given to the servers' user, printed as an absolute path
  local dir
  mkdir -p "$1"
  dir=$(absolute "$1")
  [ "$(id -u)" != 0 ] || chown "$unprivileged" "$dir"
  echo "$dir"
}

start() {
  [ $# -eq 1 ] || { [ $# -eq 2 ] && [ "$2" = --tcp ]; } || usage
  local dir bin tcp=no
  [ $# -eq 1 ] || tcp=yes
  dir=$(owned_dir "$1")
  bin=$(bin_dir)
  if [ ! -f "$dir/data/PG_VERSION" ]; then
    as_owner "$bin/initdb" -D "$dir/data" -U "$role" --auth=trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 \
      || { echo "pg-cluster: initdb failed; see $dir/initdb.log" >&2; exit 1; }
    cat >>"$dir/data/postgresql.conf" <<CONF
max_connections = 200
include = 'site-listen.conf'
CONF
    launch "$dir" "$tcp"
    as_owner "$bin/createdb" -h "$dir" -p "$(port_of "$dir")" -U "$role" "$database"
  else
    launch "$dir" "$tcp"
  fi
  uri "$dir"
}

sql() { psql -qtA "$(uri "$1")" -c "$2"; } # DIR STATEMENT, as the role

# The standby's replication state as its primary sees it (sync, async), once it streams.
sync_state() { sql "$1" "SELECT sync_state FROM pg_stat_replication WHERE application_name = '$2' AND state = 'streaming'"; }

standby() {
  [ $# -eq 3 ] || usage
  local dir primary mode=$3 bin name poll
  case $mode in sync | async) ;; *) usage ;; esac
  primary=$(absolute "$2")
  [ -f "$primary/data/postmaster.pid" ] || { echo "pg-cluster: no server runs in $primary" >&2; exit 1; }
  dir=$(owned_dir "$1")
  [ ! -e "$dir/data" ] || { echo "pg-cluster: $dir already holds a cluster" >&2; exit 1; }
  bin=$(bin_dir)
  # The primary knows the standby by this name (its application_name).
  name=$(basename "$dir" | tr -c 'a-zA-Z0-9_\n' _)
  as_owner "$bin/pg_basebackup" -D "$dir/data" -R -X stream -c fast \
    -d "host=$primary port=$(port_of "$primary") user=$role application_name=$name" >"$dir/basebackup.log" 2>&1 \
    || { echo "pg-cluster: pg_basebackup failed; see $dir/basebackup.log" >&2; exit 1; }
  launch "$dir" yes
  # Named only now, so that the copy does not name itself: promoted, it would wait for ever for
  # a standby it does not have.
  [ "$mode" = async ] || sql "$primary" "ALTER SYSTEM SET synchronous_standby_names = '\"$name\"'" >/dev/null
  sql "$primary" "SELECT pg_reload_conf()" >/dev/null
  for ((poll = 0; poll < ready_polls; poll++)); do
    [ "$(sync_state "$primary" "$name")" = "$mode" ] && { uri "$dir"; return 0; }
    sleep 0.1
  done
  echo "pg-cluster: the standby in $dir does not stream as $mode; see $dir/server.log" >&2
  exit 1
}

promote() {
  [ $# -eq 1 ] || usage
  as_owner "$(bin_dir)/pg_ctl" -D "$1/data" -w -t 30 promote >/dev/null
}

# The server's main process when it runs: the first line of its pid file, alive.
server_pid() {
  local pid
  [ -f "$1/data/postmaster.pid" ] || return 1
  pid=$(head -1 "$1/data/postmaster.pid")
  kill -0 "$pid" 2>/dev/null || return 1
  echo "$pid"
}

# Whether any of these processes still runs (an ended one its parent has not reaped does not).
running() {
  local pid
  for pid in "$@"; do
    [ -r "/proc/$pid/stat" ] && [ "$(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null)" != Z ] && return 0
  done
  return 1
}

kill_server() {
  [ $# -eq 1 ] || usage
  local pid processes poll
  pid=$(server_pid "$1") || { echo "pg-cluster: no server runs in $1" >&2; exit 1; }
  # The main process and its children at once, as when their machine ends: none of them writes
  # or sends anything more, nor sees the others end first.
  mapfile -t processes < <(echo "$pid"; pgrep -P "$pid" || true)
  kill -9 "${processes[@]}" 2>/dev/null || true
  for ((poll = 0; poll < ready_polls; poll++)); do
    running "${processes[@]}" || break
    sleep 0.1
  done
  # Nothing of it runs: its pid file could only name someone else's process later.
  rm -f "$1/data/postmaster.pid"
}

stop() {
  [ $# -eq 1 ] || usage
  server_pid "$1" >/dev/null || return 0
  as_owner "$(bin_dir)/pg_ctl" -D "$1/data" -m fast -w -t 30 stop >/dev/null \
    || as_owner "$(bin_dir)/pg_ctl" -D "$1/data" -m immediate -w -t 30 stop >/dev/null
}

case "${1:-}" in
  start) shift; start "$@" ;;
  standby) shift; standby "$@" ;;
  promote) shift; promote "$@" ;;
  kill) shift; kill_server "$@" ;;
  stop) shift; stop "$@" ;;
  uri)
    shift
    [ $# -ge 1 ] || usage
    dirs=()
    for dir in "$@"; do dirs+=("$(absolute "$dir")"); done
    uri "${dirs[@]}" ;;
  *) usage ;;
esac
