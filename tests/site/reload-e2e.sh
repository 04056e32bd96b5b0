#!/usr/bin/env bash
# login.fcgi ends when told, so that reloads, stops and upgrades leave none behind. Under a
# steady load of logons, lighttpd (with the package's snippet) reloaded 10 times, as
# `systemctl reload lighttpd` reloads it, keeps one login.fcgi process and the same number of
# PostgreSQL connections, and answers every request; stopped, it leaves no process and no
# connection. login.fcgi on its socket, as the entravo-site service runs it, ends on SIGTERM
# while idle. Prints the counts.
#
#   reload-e2e.sh LOGIN_FCGI ENTRAVO_SITE MAKE_LOGONS SITE_LOAD
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: $0 LOGIN_FCGI ENTRAVO_SITE MAKE_LOGONS SITE_LOAD" >&2; exit 2; }
fcgi=$(readlink -f "$1") site=$2 make_logons=$3 load=$4
root=$(cd "$(dirname "$0")/../.." && pwd)
server=$root/scripts/site-server.sh cluster=$root/scripts/pg-cluster.sh
command -v lighttpd >/dev/null || { echo "lighttpd is not installed: skipped"; exit 77; }
command -v spawn-fcgi >/dev/null || { echo "spawn-fcgi is not installed: skipped"; exit 77; }
ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1 || { echo "PostgreSQL is not installed: skipped"; exit 77; }
readonly reloads=10 rate=100 seconds=8

work=$(mktemp -d "${TMPDIR:-/tmp}/site-reload.XXXXXX")
chmod 0711 "$work" # the cluster runs as nobody when the tests run as root
cleanup() {
  "$server" stop "$work/server"
  [ ! -f "$work/service.pid" ] || kill "$(cat "$work/service.pid")" 2>/dev/null || true
  "$cluster" stop "$work/pg" || true
  rm -rf "$work"
}
trap cleanup EXIT

. "$(dirname "$0")/../support/check.sh"

# Ended: gone, or a zombie no one collects (spawn-fcgi's programs belong to the first process).
alive() { # PID
  local state
  state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1) && [ -n "$state" ] && [ "$state" != Z ]
}
wait_for() { # POLLS COMMAND...: 0.1 s a poll
  local polls=$1
  shift
  for ((; polls > 0; polls--)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

uri=$("$cluster" start "$work/pg")
export ENTRAVO_SITE_DB=$uri
"$site" init >/dev/null
"$site" enroll 0123456789ABCDEF alice
connections() {
  psql -qtA "$uri" -c "SELECT count(*) FROM pg_stat_activity WHERE datname = 'entravo' AND pid <> pg_backend_pid()"
}
connections_are() { [ "$(connections)" = "$1" ]; }
base=$("$server" start "$work/server" "$fcgi" "$uri" fcgi)
lighttpd=$(cat "$work/server/server.pid")
processes() { pgrep -x -P "$lighttpd" login.fcgi | sort | xargs; }
# Each thread connects before the first request (8 threads by default).
wait_for 100 connections_are 8 || true
before="$(processes | wc -w) process, $(connections) connections"
check "before: one login.fcgi, a connection for each of its threads" "1 process, 8 connections" "$before"

"$make_logons" 0123456789ABCDEF 1000 $((rate * seconds)) >"$work/strings"
"$load" "$base/entravo/login.fcgi" "$work/strings" "$rate" "$seconds" --answers "$work/answers" >"$work/load.log" || true &
loader=$!
replaced=0
for ((i = 0; i < reloads; i++)); do
  old=$(processes)
  kill -USR1 "$lighttpd"
  renewed() { local now; now=$(processes); [ -n "$now" ] && [ "$now" != "$old" ] && ! alive "$old"; }
  wait_for 100 renewed && replaced=$((replaced + 1))
done
wait "$loader"
wait_for 100 connections_are 8 || true
after="$(processes | wc -w) process, $(connections) connections"
check "each reload ended the old login.fcgi and started a new one" "$reloads" "$replaced"
check "after $reloads reloads under load: as before" "$before" "$after"
answers=$(awk '{ print $1 }' "$work/answers" | sort | uniq -c | awk '{ printf "%sx%s ", $2, $1 }' | sed 's/ $//')
check "every request during the reloads was answered, and accepted" "303x$((rate * seconds))" "$answers"
echo "figures: before: $before; after $reloads reloads under $rate logons/s: $after; answers: $answers"

kill "$lighttpd"
running() { for pid in $(pgrep -f -x "$fcgi"); do ! alive "$pid" || echo "$pid"; done; }
gone() { [ -z "$(running)" ] && connections_are 0; }
check "lighttpd stopped: no login.fcgi and no connection left" yes \
  "$(wait_for 100 gone && echo yes || echo "$(running | wc -l) processes, $(connections) connections")"
rm -f "$work/server/server.pid"

# As the service runs it: the socket as its standard input; SIGTERM while idle ends it.
echo "ENTRAVO_SITE_DB=$uri" >"$work/site.conf"
env -u ENTRAVO_SITE_DB ENTRAVO_SITE_CONF="$work/site.conf" \
  spawn-fcgi -s "$work/service.socket" -F 1 -P "$work/service.pid" -- "$fcgi" >/dev/null
wait_for 100 connections_are 8 || true
kill -TERM "$(cat "$work/service.pid")"
ended() { ! alive "$(cat "$work/service.pid")" && connections_are 0; }
check "on its socket, idle: SIGTERM ends it and its connections" yes "$(wait_for 50 ended && echo yes || echo no)"

[ "$failures" -eq 0 ] || { echo "error log:"; cat "$work/server/error.log"; exit 1; }
