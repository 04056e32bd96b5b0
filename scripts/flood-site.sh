#!/usr/bin/env bash
# How much a flood of junk grows the site database, and what each junk request costs: SECONDS
# of junk requests as fast as the server answers them, first from one address, then from every
# address of one /24, through lighttpd on loopback on an optimised build. Prints the requests,
# their answers, the database's growth and the processor time per request of the web server
# (with its login programs) and of the database server, for each flood; fails when either
# grows the database by 100 KB or more. Never part of the test run.
#
#   scripts/flood-site.sh [SECONDS [sqlite|postgres]]   defaults: 60 s, sqlite
#
#   sqlite    login.cgi (a process per request) and a SQLite file
#   postgres  login.fcgi and a throwaway PostgreSQL cluster
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60} store=${2:-sqlite}
readonly most_growth=$((100 * 1024)) parallel=16
[ "$seconds" -le 300 ] || { echo "flood-site: at most 300 s" >&2; exit 2; }
case $store in sqlite | postgres) ;; *) sed -n '9p' "$0" | sed 's/^#   //' >&2; exit 2 ;; esac

cmake --preset bench >/dev/null
cmake --build build/bench --target login.cgi login.fcgi entravo-site >/dev/null
bin=$PWD/build/bench/bin
work=$(mktemp -d "${TMPDIR:-/tmp}/site-flood.XXXXXX")
chmod 0711 "$work" # the database cluster's owner passes through
cleanup() {
  scripts/site-server.sh stop "$work/server"
  scripts/pg-cluster.sh stop "$work/pg" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
. scripts/processor-ticks.sh

db_pids=()
if [ "$store" = postgres ]; then
  db=$(scripts/pg-cluster.sh start "$work/pg")
  db_pids=("$(head -1 "$work/pg/data/postmaster.pid")")
  program=$bin/login.fcgi kind=fcgi
else
  db=$work/site.db program=$bin/login.cgi kind=cgi
fi
"$bin/entravo-site" --db "$db" init >/dev/null
"$bin/entravo-site" --db "$db" enroll 0123456789ABCDEF flood
junk=$(scripts/site-server.sh start "$work/server" "$program" "$db" "$kind")/entravo/$(basename "$program")?Authenticate=$(printf '7%.0s' {1..64})
server_pid=$(cat "$work/server/server.pid")

# What the flood left stored. SQLite: the log is copied into the file first, as its next
# checkpoint would (the log itself stays below a fixed size while the site runs). PostgreSQL:
# its tables and their indexes.
footprint() {
  if [ "$store" = postgres ]; then
    psql -qtA "$db" -c "SELECT sum(pg_total_relation_size(oid)) FROM pg_class WHERE relkind = 'r' AND
                        relnamespace = current_schema()::regnamespace"
    return
  fi
  sqlite3 "$db" 'PRAGMA wal_checkpoint(TRUNCATE)' >/dev/null
  du -cb "$db" "$db-wal" 2>/dev/null | tail -1 | cut -f1
}

per_request() { # TICKS REQUESTS: milliseconds each
  awk -v t="$1" -v n="$2" -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.3f", n ? 1000 * t / hz / n : 0 }'
}

flood() { # NAME ADDRESS-PATTERN (one %d for 1..254, or none)
  local name=$1 pattern=$2 before end host=0 urls=() i
  for ((i = 0; i < 64; i++)); do urls+=(-o /dev/null "$junk"); done
  before=$(footprint)
  local server_before db_before
  server_before=$(ticks "$server_pid")
  db_before=$( ((${#db_pids[@]})) && ticks "${db_pids[@]}" || echo 0)
  end=$((SECONDS + seconds))
  while [ "$SECONDS" -lt "$end" ]; do
    host=$((host % 254 + 1))
    # shellcheck disable=SC2059
    curl -s --no-progress-meter -m 30 -Z --parallel-max "$parallel" -w '%{http_code}\n' --interface "$(printf "$pattern" "$host")" \
      "${urls[@]}" || true
  done >"$work/statuses"
  local server_ticks=$(($(ticks "$server_pid") - server_before))
  local db_ticks=$(( $( ((${#db_pids[@]})) && ticks "${db_pids[@]}" || echo 0) - db_before))
  local growth=$(($(footprint) - before))
  local requests answers
  requests=$(wc -l <"$work/statuses")
  answers=$(sort "$work/statuses" | uniq -c | awk '{ printf "%s x %s, ", $2, $1 }' | sed 's/, $//')
  echo "flood-site: $name for $seconds s: $answers; the database grew by $((growth / 1024)) KB;" \
    "processor time per request: web server $(per_request "$server_ticks" "$requests") ms, database" \
    "$( ((${#db_pids[@]})) && per_request "$db_ticks" "$requests" || echo -) ms"
  [ "$growth" -lt "$most_growth" ]
}

status=0
flood "one address" "127.0.9.7" || status=1
flood "one /24" "127.0.10.%d" || status=1
"$bin/entravo-site" --db "$db" attempts --days 1
[ "$status" -eq 0 ] && echo "flood-site: each flood grew the database by less than 100 KB" ||
  echo "flood-site: a flood grew the database by 100 KB or more" >&2
exit "$status"
