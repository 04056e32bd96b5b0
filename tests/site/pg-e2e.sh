#!/usr/bin/env bash
# Two web servers, one PostgreSQL: two lighttpd instances on two loopback ports, each with its
# own login.fcgi processes, share a throwaway cluster. A string accepted through one is a replay
# through the other; 200 copies of one string at once, half to each, are accepted once; a
# revoked token is refused by both. Under load, one server killed outright leaves the other
# serving, and a restart of the database answers 503 only while it is down; the servers
# recover by themselves, and no string is ever accepted twice.
#
#   pg-e2e.sh LOGIN_FCGI ENTRAVO_SITE MAKE_LOGONS SITE_LOAD
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: $0 LOGIN_FCGI ENTRAVO_SITE MAKE_LOGONS SITE_LOAD" >&2; exit 2; }
fcgi=$1 site=$2 make_logons=$3 load=$4
root=$(cd "$(dirname "$0")/../.." && pwd)
server=$root/scripts/site-server.sh cluster=$root/scripts/pg-cluster.sh
command -v lighttpd >/dev/null || { echo "lighttpd is not installed: skipped"; exit 77; }
ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1 || { echo "PostgreSQL is not installed: skipped"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/site-pg-e2e.XXXXXX")
chmod 0711 "$work" # the cluster runs as nobody when the tests run as root
cleanup() {
  "$server" stop "$work/a" || true
  "$server" stop "$work/b" || true
  "$cluster" stop "$work/pg" || true
  rm -rf "$work"
}
trap cleanup EXIT

. "$(dirname "$0")/../support/check.sh"

# Bounded wait for a condition (a command run anew at each poll), 0.1 s at a time.
wait_for() { # POLLS COMMAND...
  local polls=$1
  shift
  for ((; polls > 0; polls--)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

alice=0123456789ABCDEF carol=2800000000000042
uri=$("$cluster" start "$work/pg")
export ENTRAVO_SITE_DB=$uri
"$site" init >/dev/null
"$site" enroll "$alice" alice
"$site" enroll "$carol" carol
mapfile -t strings < <("$make_logons" "$alice" 1000 3)

start_server() { # NAME: the login page's address
  echo "$("$server" start "$work/$1" "$fcgi" "$uri" fcgi)/entravo/login.fcgi"
}
a=$(start_server a)
b=$(start_server b)

# Each check comes from a network of its own, so the failure budgets of one do not touch another.
status() { # FROM URL [CURL OPTIONS...]
  local from=$1 url=$2
  shift 2
  curl -s -m 20 --interface "$from" -o "$work/last.body" -w '%{http_code}' "$@" "$url"
}
used() { psql -qtA "$uri" -c 'SELECT count(*) FROM used_strings'; }
# At least 200 more strings accepted than when the load run began: it is well under way.
under_way() { [ "$(used)" -ge $((before + 200)) ]; }

check "accepted through one server" 303 "$(status 127.0.1.1 "$a?Authenticate=${strings[0]}")"
check "a replay through the other" 409 "$(status 127.0.1.1 "$b?Authenticate=${strings[0]}")"

# One string, 200 requests at the same moment, half to each server.
urls=()
for ((i = 0; i < 100; i++)); do urls+=(-o /dev/null "$a?Authenticate=${strings[1]}" -o /dev/null "$b?Authenticate=${strings[1]}"); done
statuses=$(curl -s --no-progress-meter -m 60 --interface 127.0.2.1 -Z --parallel-immediate --parallel-max 200 \
  -w '%{http_code}\n' "${urls[@]}" | sort | uniq -c | awk '{print $2 "x" $1}' | tr '\n' ' ')
check "200 simultaneous copies on two servers, one acceptance" "303x1" "$(grep -o '303x[0-9]*' <<<"$statuses" || echo none)"
check "200 simultaneous copies, no other kind of answer" "" "$(sed -E 's/(303|409|429)x[0-9]+ //g' <<<"$statuses")"

mapfile -t carols < <("$make_logons" "$carol" 5000 3)
check "carol signs in through one server" 303 "$(status 127.0.3.1 "$a?Authenticate=${carols[0]}" -c "$work/jar")"
"$site" revoke "$carol"
check "revoked: refused by one server" 403 "$(status 127.0.3.1 "$a?Authenticate=${carols[1]}")"
check "revoked: refused by the other" 403 "$(status 127.0.3.1 "$b?Authenticate=${carols[2]}")"
check "revoked: the session is over on the other server" 1 \
  "$(status 127.0.3.1 "$b" -b "$work/jar" >/dev/null; grep -c 'not signed in' "$work/last.body")"

# A load run over both servers; ANSWERS gets "STATUS STRING" per request.
load_run() { # ANSWERS FIRST-TICK RATE SECONDS
  "$make_logons" "$alice" "$2" $(($3 * $4)) >"$work/load.strings"
  "$load" "$a,$b" "$work/load.strings" "$3" "$4" --answers "$1" >"$1.summary" || true
}
# The strings accepted in ANSWERS, offered again to both servers: every one must be a replay.
replays() { # ANSWERS
  awk '$1 == 303 { print $2 }' "$1" >"$work/accepted"
  local count
  count=$(wc -l <"$work/accepted")
  "$load" "$a,$b" "$work/accepted" "$count" 1 --answers "$1.replayed" >/dev/null || true
  awk '{ print $1 }' "$1.replayed" | sort | uniq -c | awk '{print $2 "x" $1}' | tr '\n' ' '
}
accepted_in() { awk '$1 == 303' "$1" | wc -l; }
tally() { awk '{ print $1 }' "$1" | sort | uniq -c | awk '{ printf "%s x%s, ", $2, $1 }' | sed 's/, $//'; }

# kill -9 of one server (lighttpd and its login.fcgi processes) in the middle of a load run.
before=$(used)
load_run "$work/kill" 100000 200 4 &
loader=$!
wait_for 100 under_way || echo "the load run did not get under way"
children=$(pgrep -P "$(cat "$work/a/server.pid")" || true)
kill -9 "$(cat "$work/a/server.pid")" $children
wait "$loader"
kinds=$(awk '{ print $1 }' "$work/kill" | sort -u | tr '\n' ' ')
check "server killed: the other served on, the dead one did not answer" "0 303 " "$kinds"
"$server" stop "$work/a"
a=$(start_server a)
check "server killed: every accepted string is then a replay" "409x$(accepted_in "$work/kill") " "$(replays "$work/kill")"
echo "kill -9 run (status x count, 0 = no answer): $(tally "$work/kill"); offered again: $(tally "$work/kill.replayed")"

# A restart of PostgreSQL in the middle of a load run: 503 while it is down, then by itself
# acceptances again.
probes=("$("$make_logons" "$alice" 900000 1)")
database_down() { [ "$(status 127.0.4.1 "$a?Authenticate=${probes[0]}")" = 503 ]; }
before=$(used)
load_run "$work/restart" 200000 200 6 &
loader=$!
wait_for 100 under_way || echo "the load run did not get under way"
"$cluster" stop "$work/pg"
wait_for 50 database_down || echo "the database did not look down"
# The load run meets the database down (the servers log each refusal) before it comes back.
refusals() { cat "$work"/a/error.log "$work"/b/error.log | grep -c 'cannot be reached' || true; }
seen=$(refusals)
met_down() { [ "$(refusals)" -ge $((seen + 20)) ]; }
wait_for 50 met_down || echo "the load run did not meet the database down"
"$cluster" start "$work/pg" >/dev/null
wait "$loader"
kinds=$(awk '{ print $1 }' "$work/restart" | sort -u | tr '\n' ' ')
check "database restarted: acceptances and 503 only" "303 503 " "$kinds"
last503=$(awk '$1 == 503 { n = NR } END { print n + 0 }' "$work/restart")
check "database restarted: only acceptances in the last second of the run" yes \
  "$([ "$last503" -le $((200 * 5)) ] && echo yes || echo "a 503 at request $last503")"
restart_replays=$(replays "$work/restart")
check "database restarted: every accepted string is then a replay" "409x$(accepted_in "$work/restart") " "$restart_replays"
echo "restart run: $(tally "$work/restart"); offered again: $(tally "$work/restart.replayed")"
check "no string accepted twice over every run" "" \
  "$(cat "$work"/{kill,kill.replayed,restart,restart.replayed} | awk '$1 == 303 { print $2 }' | sort | uniq -d)"

if [ "$failures" -ne 0 ]; then
  for log in "$work"/a/error.log "$work"/b/error.log; do echo "--- $log"; tail -20 "$log"; done
  exit 1
fi
