#!/usr/bin/env bash
# entravo-site copy through the login page: a SQLite site moved into PostgreSQL and back into
# a new SQLite file, login.fcgi under lighttpd serving each store in turn. A string accepted
# before a copy is a replay (409) through the store it was copied into, `check` passes on both
# sides, and a store that already holds records is refused, left as it was.
#
#   copy-e2e.sh LOGIN_FCGI ENTRAVO_SITE MAKE_LOGONS
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 LOGIN_FCGI ENTRAVO_SITE MAKE_LOGONS" >&2; exit 2; }
fcgi=$1 site=$2 make_logons=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
server=$root/scripts/site-server.sh cluster=$root/scripts/pg-cluster.sh
command -v lighttpd >/dev/null || { echo "lighttpd is not installed: skipped"; exit 77; }
ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1 || { echo "PostgreSQL is not installed: skipped"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/site-copy-e2e.XXXXXX")
chmod 0711 "$work" # the cluster runs as nobody when the tests run as root
cleanup() {
  "$server" stop "$work/server" || true
  "$cluster" stop "$work/pg" || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE

. "$(dirname "$0")/../support/check.sh"

alice=0123456789ABCDEF
first=$work/site.db back=$work/back.db
uri=$("$cluster" start "$work/pg")
"$site" --db "$first" init >/dev/null
"$site" --db "$first" enroll "$alice" alice
mapfile -t strings < <("$make_logons" "$alice" 1000 3)

# The login page on the store DB, the server started afresh: what it answers to STRING.
page() { # DB STRING
  "$server" stop "$work/server" || true
  local base
  base=$("$server" start "$work/server" "$fcgi" "$1" fcgi)
  curl -s -m 20 -o /dev/null -w '%{http_code}' "$base/entravo/login.fcgi?Authenticate=$2"
}
# What entravo-site says, and its status.
said() { # ARGS...
  local status=0
  "$site" "$@" >"$work/out" 2>&1 || status=$?
  echo "$(cat "$work/out") (status $status)"
}

check "accepted on SQLite" 303 "$(page "$first" "${strings[0]}")"
"$server" stop "$work/server"

check "SQLite into PostgreSQL" "copied 5 records (status 0)" "$(said --db "$first" copy "$uri")"
check "check passes on the source" " (status 0)" "$(said --db "$first" check)"
check "check passes on the copy" " (status 0)" "$(said --db "$uri" check)"
check "used on SQLite: a replay through PostgreSQL" 409 "$(page "$uri" "${strings[0]}")"
check "a new string accepted through PostgreSQL" 303 "$(page "$uri" "${strings[1]}")"
"$server" stop "$work/server"

check "PostgreSQL into a new SQLite file" 0 "$("$site" --db "$uri" copy "$back" >/dev/null; echo $?)"
check "check passes on the second copy" " (status 0)" "$(said --db "$back" check)"
check "into a store that holds records: refused" 1 "$("$site" --db "$first" copy "$back" 2>"$work/err" >/dev/null || echo $?)"
check "into a store that holds records: why" 1 "$(grep -c "already holds a site's records" "$work/err")"
check "used on SQLite: a replay through the second copy" 409 "$(page "$back" "${strings[0]}")"
check "used on PostgreSQL: a replay through the second copy" 409 "$(page "$back" "${strings[1]}")"
check "the refused copy added nothing" 303 "$(page "$back" "${strings[2]}")"

[ "$failures" -eq 0 ] || { tail -20 "$work/server/error.log"; exit 1; }
