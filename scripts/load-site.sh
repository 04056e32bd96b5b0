#!/usr/bin/env bash
# Sustained logons through lighttpd on loopback, on an optimised build without sanitizers:
# one enrolled token, a fresh genuine string per request, RATE requests per second for SECONDS.
# Prints the rate achieved, p50 and p99; fails on any answer other than an acceptance, a rate
# below the goal or a p99 above it. Never part of the test run.
#
#   scripts/load-site.sh [RATE [SECONDS]]     defaults: 200 per second for 10 s
set -euo pipefail
cd "$(dirname "$0")/.."
rate=${1:-200}
seconds=${2:-10}
readonly goal_rate=200 goal_p99_ms=50
[ "$rate" -le 2000 ] && [ "$seconds" -le 60 ] || { echo "load-site: at most 2000 per second for 60 s" >&2; exit 2; }

cmake --preset bench >/dev/null
cmake --build build/bench --target login.cgi entravo-site site_make_logons site_load >/dev/null
bin=$PWD/build/bench/bin

work=$(mktemp -d "${TMPDIR:-/tmp}/site-load.XXXXXX")
trap 'scripts/site-server.sh stop "$work/server"; rm -rf "$work"' EXIT
identity=0123456789ABCDEF
"$bin/entravo-site" --db "$work/site.db" init >/dev/null
"$bin/entravo-site" --db "$work/site.db" enroll "$identity" loadtest
"$bin/site_make_logons" "$identity" 1 $((rate * seconds)) >"$work/strings"
base=$(scripts/site-server.sh start "$work/server" "$bin/login.cgi" "$work/site.db")

echo "load-site: $rate logons/s for $seconds s through lighttpd at $base"
# The server's processor time and its CGI children's, in clock ticks (fields 14-17).
server_ticks() { awk '{ print $14 + $15 + $16 + $17 }' "/proc/$(cat "$work/server/server.pid")/stat"; }
ticks_before=$(server_ticks)
"$bin/site_load" "$base" "$work/strings" "$rate" "$seconds" | tee "$work/result"
ticks=$(($(server_ticks) - ticks_before))
awk -v t="$ticks" -v hz="$(getconf CLK_TCK)" -v n="$((rate * seconds))" -v cores="$(nproc)" 'BEGIN {
  ms = 1000 * t / hz / n
  printf "server: %.1f ms of processor time per logon (lighttpd and login.cgi), so at most about %.0f logons/s on %d idle cores\n", ms, 1000 * cores / ms, cores }'
achieved=$(sed -n 's/.* \([0-9.]*\) accepted logons\/s.*/\1/p' "$work/result")
p99=$(sed -n 's/.*p99 \([0-9.]*\) ms.*/\1/p' "$work/result")
errors=$(sed -n 's/.*errors \([0-9]*\)$/\1/p' "$work/result")
if [ "$errors" = 0 ] && awk -v r="$achieved" -v p="$p99" -v gr="$goal_rate" -v gp="$goal_p99_ms" \
     'BEGIN { exit !(r >= gr && p < gp) }'; then
  echo "load-site: goal met (at least $goal_rate logons/s with no error, p99 under $goal_p99_ms ms)"
else
  echo "load-site: goal missed (at least $goal_rate logons/s with no error, p99 under $goal_p99_ms ms)" >&2
  exit 1
fi
