#!/usr/bin/env bash
# The session check's cost in the FastCGI form: COUNT checks of a live session through
# lighttpd and login.fcgi on an optimised build; prints the web server's and login.fcgi's
# processor time per check and fails above 1 ms (a proxy calls it for every request). Never
# part of the test run.
#
#   scripts/measure-auth.sh [COUNT]     default: 5000
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-5000}
readonly most_ms=1 batch=500
[ "$count" -ge "$batch" ] && [ "$count" -le 100000 ] || { echo "measure-auth: COUNT from $batch to 100000" >&2; exit 2; }

cmake --preset bench >/dev/null
cmake --build build/bench --target login.fcgi entravo-site site_make_logons >/dev/null
bin=$PWD/build/bench/bin
work=$(mktemp -d "${TMPDIR:-/tmp}/measure-auth.XXXXXX")
trap 'scripts/site-server.sh stop "$work/server"; rm -rf "$work"' EXIT
"$bin/entravo-site" --db "$work/site.db" init >/dev/null
"$bin/entravo-site" --db "$work/site.db" enroll 0123456789ABCDEF alice
base=$(scripts/site-server.sh start "$work/server" "$bin/login.fcgi" "$work/site.db" fcgi)/entravo/login.fcgi
curl -s -o /dev/null -c "$work/jar" "$base?Authenticate=$("$bin/site_make_logons" 0123456789ABCDEF 1 1)"

# lighttpd and the login.fcgi processes it started, in clock ticks.
. scripts/processor-ticks.sh
server_ticks() { ticks "$(cat "$work/server/server.pid")"; }
urls=()
for ((i = 0; i < batch; i++)); do urls+=(-o /dev/null "$base/auth"); done
before=$(server_ticks)
for ((done = 0; done < count; done += batch)); do
  curl -s --no-progress-meter -Z --parallel-max 8 -b "$work/jar" -w '%{http_code}\n' "${urls[@]}"
done | sort | uniq -c | awk '{ printf "%s x %s  ", $2, $1 }' >"$work/answers"
spent=$(($(server_ticks) - before))
echo "measure-auth: $count checks: $(cat "$work/answers")"
awk -v t="$spent" -v hz="$(getconf CLK_TCK)" -v n="$count" -v most="$most_ms" -v answers="$(cat "$work/answers")" 'BEGIN {
  ms = 1000 * t / hz / n
  printf "measure-auth: %.3f ms of processor time per check (lighttpd and login.fcgi)\n", ms
  ok = answers ~ /^200 x [0-9]+  $/ && ms < most
  printf "measure-auth: goal %s (every check 200, under %d ms each)\n", ok ? "met" : "missed", most
  exit !ok }'
