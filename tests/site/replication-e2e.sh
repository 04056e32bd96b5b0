#!/usr/bin/env bash
# What `entravo-site check` says of a PostgreSQL database's replication, against a primary and
# a streaming standby (throwaway clusters on loopback ports): a warning for an asynchronous
# standby and for synchronous_commit below on, with exit status 0; none once the standby is
# synchronous. Checked both as the clusters' superuser and as a site's own role, which sees a
# standby's state only with pg_read_all_stats.
#
#   replication-e2e.sh ENTRAVO_SITE
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 ENTRAVO_SITE" >&2; exit 2; }
site=$1
cluster=$(cd "$(dirname "$0")/../.." && pwd)/scripts/pg-cluster.sh
ls /usr/lib/postgresql/*/bin/pg_basebackup >/dev/null 2>&1 || { echo "PostgreSQL is not installed: skipped"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/site-replication.XXXXXX")
chmod 0711 "$work" # the clusters run as nobody when the tests run as root
cleanup() {
  "$cluster" stop "$work/standby" || true
  "$cluster" stop "$work/primary" || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE

. "$(dirname "$0")/../support/check.sh"

"$cluster" start "$work/primary" --tcp >/dev/null
"$cluster" standby "$work/standby" "$work/primary" async >/dev/null
admin=$("$cluster" uri "$work/primary")
sql() { psql -qtA "$admin" -c "$1"; }
# The site's own role and database, as the README makes them.
sql "CREATE ROLE site LOGIN" >/dev/null
sql "CREATE DATABASE site OWNER site" >/dev/null
own=${admin/entravo@/site@}
own=${own%/entravo}/site
"$site" --db "$admin" init >/dev/null
"$site" --db "$own" init >/dev/null

# check's lines less the address, and its status.
checked() { # URI
  local status=0
  "$site" --db "$1" check >"$work/out" 2>&1 || status=$?
  sed "s|^$1: ||" "$work/out"
  echo "status $status"
}
risk="an acceptance can be lost on failover, so its string could work twice"

check "asynchronous standby: named, with the risk" \
  "warning: standby \"standby\" replicates asynchronously (sync_state async): $risk
status 0" "$(checked "$admin")"
check "asynchronous standby, seen by the site's role: none is named synchronous" \
  "warning: standby \"standby\" replicates asynchronously (synchronous_standby_names is empty): $risk
status 0" "$(checked "$own")"

sql "ALTER SYSTEM SET synchronous_standby_names = '\"standby\"'" >/dev/null
sql "SELECT pg_reload_conf()" >/dev/null
synchronous() { [ "$(sql "SELECT sync_state FROM pg_stat_replication")" = sync ]; }
for ((poll = 0; poll < 100; poll++)); do synchronous && break; sleep 0.1; done
check "synchronous standby: no warning" "status 0" "$(checked "$admin")"
check "synchronous standby, seen by a role that may not read its state: said so" yes \
  "$(grep -q "whether it replicates synchronously is hidden from this role (it needs pg_read_all_stats)" <(checked "$own") && echo yes)"
sql "GRANT pg_read_all_stats TO site" >/dev/null
check "synchronous standby, seen by the site's role with pg_read_all_stats: no warning" "status 0" "$(checked "$own")"

sql "ALTER ROLE site SET synchronous_commit = local" >/dev/null
check "synchronous_commit local for the site's role: named where it holds" \
  "warning: synchronous_commit is local for this connection (role site): $risk
warning: synchronous_commit is local for role site in every database: $risk
status 0" "$(checked "$own")"

[ "$failures" -eq 0 ] || { tail -20 "$work/standby/server.log"; exit 1; }
