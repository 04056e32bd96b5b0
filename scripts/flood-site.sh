#!/usr/bin/env bash
# How much a flood of junk grows the site database: SECONDS of junk requests as fast as the
# server answers them, first from one address, then from every address of one /24, through
# lighttpd on loopback on an optimised build. Prints the requests, their answers and the
# database's growth for each flood; fails when either grows it by 100 KB or more. Never part
# of the test run.
#
#   scripts/flood-site.sh [SECONDS]     default: 60
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
readonly most_growth=$((100 * 1024)) parallel=16
[ "$seconds" -le 300 ] || { echo "flood-site: at most 300 s" >&2; exit 2; }

cmake --preset bench >/dev/null
cmake --build build/bench --target login.cgi entravo-site >/dev/null
bin=$PWD/build/bench/bin
work=$(mktemp -d "${TMPDIR:-/tmp}/site-flood.XXXXXX")
trap 'scripts/site-server.sh stop "$work/server"; rm -rf "$work"' EXIT
db=$work/site.db
"$bin/entravo-site" --db "$db" init >/dev/null
"$bin/entravo-site" --db "$db" enroll 0123456789ABCDEF flood
junk=$(scripts/site-server.sh start "$work/server" "$bin/login.cgi" "$db")/entravo/login.cgi?Authenticate=$(printf '7%.0s' {1..64})

# What the flood left stored: the log is copied into the file first, as its next checkpoint
# would (the log itself stays below a fixed size while the site runs).
footprint() {
  sqlite3 "$db" 'PRAGMA wal_checkpoint(TRUNCATE)' >/dev/null
  du -cb "$db" "$db-wal" 2>/dev/null | tail -1 | cut -f1
}

flood() { # NAME ADDRESS-PATTERN (one %d for 1..254, or none)
  local name=$1 pattern=$2 before end host=0 urls=() i
  for ((i = 0; i < 64; i++)); do urls+=(-o /dev/null "$junk"); done
  before=$(footprint)
  end=$((SECONDS + seconds))
  while [ "$SECONDS" -lt "$end" ]; do
    host=$((host % 254 + 1))
    # shellcheck disable=SC2059
    curl -s --no-progress-meter -m 30 -Z --parallel-max "$parallel" -w '%{http_code}\n' --interface "$(printf "$pattern" "$host")" \
      "${urls[@]}" || true
  done | sort | uniq -c | awk '{ printf "%s x %s, ", $2, $1 }' >"$work/answers"
  local growth=$(($(footprint) - before))
  echo "flood-site: $name for $seconds s: $(sed 's/, $//' "$work/answers"); the database grew by $((growth / 1024)) KB"
  [ "$growth" -lt "$most_growth" ]
}

status=0
flood "one address" "127.0.9.7" || status=1
flood "one /24" "127.0.10.%d" || status=1
"$bin/entravo-site" --db "$db" attempts --days 1
[ "$status" -eq 0 ] && echo "flood-site: each flood grew the database by less than 100 KB" ||
  echo "flood-site: a flood grew the database by 100 KB or more" >&2
exit "$status"
