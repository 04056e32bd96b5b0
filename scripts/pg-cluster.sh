#!/usr/bin/env bash
# A throwaway PostgreSQL cluster in one folder, for the site's tests and load runs: no TCP,
# only a Unix socket in that folder; database "entravo", owned by the role "entravo", which
# local connections reach without a password. Run by root (as CI is), the server runs as
# "nobody": PostgreSQL refuses to run as root. Then DIR's parent folders must let "nobody"
# through (mode o+x).
#
#   scripts/pg-cluster.sh start DIR   make the cluster if DIR has none, start it; prints its URI
#   scripts/pg-cluster.sh stop DIR    stop it (fast shutdown: sessions are ended, data kept)
#   scripts/pg-cluster.sh uri DIR     the libpq URI of the database
set -euo pipefail

readonly role=entravo database=entravo
readonly unprivileged=nobody

usage() {
  sed -n '8,10p' "$0" | sed 's/^#   //' >&2
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

uri() { echo "postgresql:///$database?host=$1&user=$role"; }

start() {
  [ $# -eq 1 ] || usage
  local dir bin
  mkdir -p "$1"
  dir=$(cd "$1" && pwd)
  bin=$(bin_dir)
  [ "$(id -u)" = 0 ] && chown "$unprivileged" "$dir"
  if [ ! -f "$dir/data/PG_VERSION" ]; then
    as_owner "$bin/initdb" -D "$dir/data" -U "$role" --auth=trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 \
      || { echo "pg-cluster: initdb failed; see $dir/initdb.log" >&2; exit 1; }
    cat >>"$dir/data/postgresql.conf" <<CONF
listen_addresses = ''
unix_socket_directories = '$dir'
max_connections = 200
CONF
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 start >/dev/null
    as_owner "$bin/createdb" -h "$dir" -U "$role" "$database"
  else
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 start >/dev/null
  fi
  uri "$dir"
}

stop() {
  [ $# -eq 1 ] || usage
  [ -f "$1/data/postmaster.pid" ] || return 0
  as_owner "$(bin_dir)/pg_ctl" -D "$1/data" -m fast -w -t 30 stop >/dev/null
}

case "${1:-}" in
  start) shift; start "$@" ;;
  stop) shift; stop "$@" ;;
  uri) shift; [ $# -eq 1 ] || usage; uri "$(cd "$1" && pwd)" ;;
  *) usage ;;
esac
