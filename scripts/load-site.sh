#!/usr/bin/env bash
# Sustained logons through lighttpd on loopback, on an optimised build without sanitizers:
# one enrolled token, a fresh genuine string per request, RATE requests per second for SECONDS.
# site_load prints the rate achieved over the time to the last answer, p50 and p99, and its
# verdict: it fails on any answer other than an acceptance, a rate below the goal or a p99
# above it. The goal: 98 % of the offered rate, up to 200/s (the 2 % leave room for the last
# answer's own latency, since the rate counts to it). Never part of the test run.
#
#   scripts/load-site.sh [RATE [SECONDS]]     defaults: 200 per second for 10 s
set -euo pipefail
cd "$(dirname "$0")/.."
rate=${1:-200}
seconds=${2:-10}
readonly goal_p99_ms=50
goal_rate=$(((rate < 200 ? rate : 200) * 98 / 100))
[ "$rate" -le 2000 ] && [ "$seconds" -le 60 ] || { echo "load-site: at most 2000 per second for 60 s" >&2; exit 2; }

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DLOGONAGENT_SANITIZE=OFF >/dev/null
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
status=0
"$bin/site_load" "$base" "$work/strings" "$rate" "$seconds" "$goal_rate" "$goal_p99_ms" || status=$?
ticks=$(($(server_ticks) - ticks_before))
awk -v t="$ticks" -v hz="$(getconf CLK_TCK)" -v n="$((rate * seconds))" -v cores="$(nproc)" 'BEGIN {
  ms = 1000 * t / hz / n
  printf "server: %.1f ms of processor time per logon (lighttpd and login.cgi), so at most about %.0f logons/s on %d idle cores\n", ms, 1000 * cores / ms, cores }'
exit "$status"
