#!/usr/bin/env bash
# A database failover under load: a primary and a streaming standby (throwaway clusters on
# loopback ports), two lighttpd servers whose login.fcgi processes reach them through one URI
# naming both hosts (target_session_attrs=read-write, connect_timeout). Mid-run the primary is
# killed outright (kill -9 of all its processes, as when its machine fails) and the standby is
# promoted; the load goes on. Then every string that was accepted is offered again.
#
# With a synchronous standby (the default) it checks that every accepted string is then refused
# as used, and that while no logon was accepted each answer was a 503 with Retry-After, never a
# 500, and came within connect_timeout, the time to find out what became of a commit the kill cut
# off, and a margin; and that every string answered 503 was not taken. With an asynchronous standby it checks the
# same answers but only counts the strings that worked twice, for scripts/measure-failover.sh.
#
#   failover-pg.sh LOGIN_FCGI ENTRAVO_SITE MAKE_LOGONS SITE_LOAD [sync|async]
#
# FAILOVER_RATE (logons/s, default 200) and FAILOVER_SECONDS (default 6) shape the load;
# FAILOVER_FIGURES names a file that gets the run's figures as one line (see the end).
set -euo pipefail
[ $# -eq 4 ] || [ $# -eq 5 ] || { echo "usage: $0 LOGIN_FCGI ENTRAVO_SITE MAKE_LOGONS SITE_LOAD [sync|async]" >&2; exit 2; }
fcgi=$1 site=$2 make_logons=$3 load=$4 mode=${5:-sync}
case $mode in sync | async) ;; *) echo "$0: the standby is sync or async" >&2; exit 2 ;; esac
rate=${FAILOVER_RATE:-200} seconds=${FAILOVER_SECONDS:-6}
root=$(cd "$(dirname "$0")/../.." && pwd)
server=$root/scripts/site-server.sh cluster=$root/scripts/pg-cluster.sh
command -v lighttpd >/dev/null || { echo "lighttpd is not installed: skipped"; exit 77; }
ls /usr/lib/postgresql/*/bin/pg_basebackup >/dev/null 2>&1 || { echo "PostgreSQL is not installed: skipped"; exit 77; }

# A lost database server costs a connection attempt this long at most; an answer may take the
# attempt and this margin (the web server and the rest of the request) before it counts as hung.
# A request whose commit the kill cut off may also spend the time the store takes to find out
# whether it was made (kResolveSeconds in site/store/StoreRules.h).
readonly connect_timeout=2 margin_ms=2000 resolve_ms=5000

work=$(mktemp -d "${TMPDIR:-/tmp}/site-failover.XXXXXX")
chmod 0711 "$work" # the clusters run as nobody when the tests run as root
loader=""
cleanup() {
  [ -z "$loader" ] || { kill "$loader" 2>/dev/null || true; wait "$loader" 2>/dev/null || true; }
  # Together: each waits for its login.fcgi processes to end.
  "$server" stop "$work/a" &
  "$server" stop "$work/b" &
  wait
  "$cluster" stop "$work/standby" || true
  "$cluster" stop "$work/primary" || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE # the servers and clusters end even when the run is cut short

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
milliseconds() { echo $(($(date +%s%N) / 1000000)); }

alice=0123456789ABCDEF
"$cluster" start "$work/primary" --tcp >/dev/null
"$cluster" standby "$work/standby" "$work/primary" "$mode" >/dev/null
primary_uri=$("$cluster" uri "$work/primary")
uri="$("$cluster" uri "$work/primary" "$work/standby")&connect_timeout=$connect_timeout"
"$site" --db "$primary_uri" init >/dev/null
"$site" --db "$primary_uri" enroll "$alice" alice
state=$(psql -qtA "$primary_uri" -c "SELECT sync_state FROM pg_stat_replication")
check "the standby streams, $mode" "$mode" "$state"

start_server() { # NAME: the login page's address
  echo "$("$server" start "$work/$1" "$fcgi" "$uri" fcgi)/entravo/login.fcgi"
}
a=$(start_server a)
b=$(start_server b)

used() { psql -qtA "$primary_uri" -c 'SELECT count(*) FROM used_strings'; }
under_way() { [ "$(used)" -ge $((rate * 3 / 2)) ]; }
# The servers log each request the store could not answer; the load has met the database down
# once 20 more are logged than at the kill.
unanswered() { cat "$work"/a/error.log "$work"/b/error.log | grep -c 'login.fcgi: ' || true; }
met_down() { [ "$(unanswered)" -ge $((logged + 20)) ]; }

"$make_logons" "$alice" 100000 $((rate * seconds)) >"$work/strings"
"$load" "$a,$b" "$work/strings" "$rate" "$seconds" --answers "$work/run" >"$work/run.summary" &
loader=$!
wait_for 100 under_way || echo "the load run did not get under way"
logged=$(unanswered)
killed_at=$(milliseconds)
"$cluster" kill "$work/primary"
wait_for 50 met_down || echo "the load run did not meet the database down"
"$cluster" promote "$work/standby"
promoted_at=$(milliseconds)
promoted_in=$((promoted_at - killed_at))
wait "$loader" || true
loader=""
# The load's own times count from its start.
started_at=$(awk '$1 == "start:" { print $2 }' "$work/run.summary")

# The longest time between two acceptances (by when their answers came) is the failover's gap;
# the answers that came within it are counted by status, the 503s by whether they said when to
# come back.
read -r gap_start gap_end gap_ms < <(awk '$1 == 303 { printf "%.6f\n", $3 + $4 }' "$work/run" | sort -n |
  awk 'NR > 1 && $1 - last > gap { gap = $1 - last; start = last } { last = $1 }
       END { printf "%.6f %.6f %d\n", start, start + gap, gap }')
within_gap() { awk -v s="$gap_start" -v e="$gap_end" '{ t = sprintf("%.6f", $3 + $4) + 0 } t > s + 0 && t < e + 0' "$work/run"; }
in_gap=$(within_gap | awk '{ print $1 ($1 == 503 && $5 == "-" ? "-without-Retry-After" : "") }' |
  sort | uniq -c | awk '{ printf "%s x%s ", $2, $1 }')
kinds=$(awk '{ print $1 ($1 == 503 && $5 == "-" ? "-without-Retry-After" : "") }' "$work/run" | sort -u | tr '\n' ' ')
slowest_ms=$(awk '$4 > most { most = $4 } END { printf "%d", most }' "$work/run")
accepted=$(awk '$1 == 303' "$work/run" | wc -l)
refused=$(awk '$1 == 503' "$work/run" | wc -l)

check "the failover: acceptances and 503 with Retry-After only" "303 503 " "$kinds"
check "the failover: no answer waited past connect_timeout, finding out and ${margin_ms} ms" yes \
  "$([ "$slowest_ms" -le $((connect_timeout * 1000 + resolve_ms + margin_ms)) ] && echo yes || echo "one took $slowest_ms ms")"
check "acceptances resumed after the promotion" yes \
  "$(awk -v e="$gap_end" '$1 == 303 && $3 + $4 > e { n++ } END { print n ? "yes" : "no" }' "$work/run")"
resumed_in=$(awk -v p=$((promoted_at - started_at)) '$1 == 303 && $3 + $4 >= p { t = $3 + $4; if (!n++ || t < first) first = t }
  END { printf "%d", n ? first - p : -1 }' "$work/run")

# Every accepted string offered again to both servers, from the same addresses.
awk '$1 == 303 { print $2 }' "$work/run" >"$work/accepted"
"$load" "$a,$b" "$work/accepted" "$accepted" 1 --answers "$work/replayed" >/dev/null || true
twice=$(awk '$1 == 303' "$work/replayed" | wc -l)
replayed=$(awk '{ print $1 }' "$work/replayed" | sort | uniq -c | awk '{ printf "%s x%s ", $2, $1 }')
# The strings answered 503 offered again: the store had not taken them, or had taken them just
# before the primary ended, too late to say so; either way none may be accepted twice.
awk '$1 == 503 { print $2 }' "$work/run" >"$work/refused"
touch "$work/refused.replayed"
[ "$refused" -eq 0 ] || "$load" "$a,$b" "$work/refused" "$refused" 1 --answers "$work/refused.replayed" >/dev/null || true
check "the strings answered 503 are then accepted or refused as used" "" \
  "$(awk '$1 != 303 && $1 != 409 { print $1 }' "$work/refused.replayed" | sort -u | tr '\n' ' ')"
taken_anyway=$(awk '$1 == 409' "$work/refused.replayed" | wc -l)
if [ "$mode" = sync ]; then
  # A request whose commit the kill cut off asks the promoted standby before it answers: a 503
  # is for a string that was not taken.
  check "the strings answered 503 were not taken" 0 "$taken_anyway"
  check "every accepted string is then refused as used" "409 x$accepted " "$replayed"
else
  check "every accepted string is then refused as used, or accepted again" "" \
    "$(awk '$1 != 409 && $1 != 303 { print $1 }' "$work/replayed" | sort -u)"
fi

# The strings that worked twice had been accepted within this many ms before the last acceptance
# ahead of the gap.
lost_within=$(awk -v s="$gap_start" 'FNR == NR { if ($1 == 303) again[$2] = 1; next }
  $2 in again && s - ($3 + $4) > most { most = s - ($3 + $4) } END { printf "%d", most }' "$work/replayed" "$work/run")

echo "failover ($mode standby, $rate logons/s for $seconds s): killed after $((rate * 3 / 2)) acceptances," \
  "promoted $promoted_in ms after the kill, accepting again $resumed_in ms after that;" \
  "no logon accepted for $gap_ms ms; answers then: ${in_gap:-none};" \
  "accepted $accepted, 503 $refused in the run ($taken_anyway of them taken), slowest answer $slowest_ms ms;" \
  "offered again: $replayed;" \
  "strings that worked twice: $twice$([ "$twice" -eq 0 ] || echo ", accepted within the last $lost_within ms before the gap")"
[ -z "${FAILOVER_FIGURES:-}" ] ||
  echo "$mode $rate $promoted_in $resumed_in $gap_ms $(within_gap | wc -l) $refused $taken_anyway $slowest_ms $accepted $twice" >>"$FAILOVER_FIGURES"

if [ "$failures" -ne 0 ]; then
  for log in "$work"/a/error.log "$work"/b/error.log "$work"/standby/server.log; do echo "--- $log"; tail -20 "$log"; done
  exit 1
fi
