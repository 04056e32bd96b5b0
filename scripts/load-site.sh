#!/usr/bin/env bash
# Sustained logons through lighttpd on loopback, on an optimised build without sanitizers: one
# enrolled token, a fresh genuine string per request, each request from a loopback address of
# its own. Never part of the test run.
#
#   scripts/load-site.sh [--scrape] [MODE [RATE [SECONDS]]]   defaults: all, each mode's goal rate, 10 s
#
#   --scrape  Prometheus's part too: /metrics read once a second from every server during the
#             run (the slowest scrape in the table), to compare p99 with a run without
#
#   cgi      lighttpd + login.cgi (a process per request) + SQLite
#   fcgi     lighttpd + login.fcgi (long-lived processes) + SQLite
#   fcgi-pg  two lighttpd servers, each with login.fcgi, sharing one PostgreSQL; requests alternate
#   all      the three, one after the other in this run
#
# For each mode: the rate accepted over the time to the last answer, p50 and p99, the answers
# that were not acceptances, processor time per logon of the web servers with their login
# programs and of the database, and how many times cgi's processor time per logon that is
# (when cgi ran in the same run), and the share of the machine's processor time that its host
# took for others meanwhile (steal): on a virtual machine a run with steal is not comparable.
# Fails when a mode misses its goal (any error fails).
# SITE_FCGI_PROCESSES sets login.fcgi's processes per server (default 1: a process's threads
# share its store connection and the syncs of the disk), SITE_FCGI_THREADS the threads of each
# (default 16 with SQLite, which search and commit in turn while others wait for the disk; 8
# with PostgreSQL, whose server has a process for each connection); SITE_PG_COMMIT=off
# lets PostgreSQL answer every commit before it is flushed (synchronous_commit; to measure what
# durability costs).
set -euo pipefail
cd "$(dirname "$0")/.."
scrape=no
[ "${1:-}" != --scrape ] || { scrape=yes; shift; }
mode=${1:-all}
seconds=${3:-10}
case $mode in cgi | fcgi | fcgi-pg | all) ;; *) sed -n '6p' "$0" | sed 's/^#   //' >&2; exit 2 ;; esac
[ "$mode" != all ] || [ -z "${2:-}" ] || { echo "load-site: mode all takes each mode's goal rate" >&2; exit 2; }

# Goals per mode: the rate offered, and the p99 under which it must be kept (ms).
declare -A goal_rate=([cgi]=800 [fcgi]=4000 [fcgi-pg]=2000) goal_p99=([cgi]=50 [fcgi]=20 [fcgi-pg]=50)
readonly most_rate=12000 most_seconds=60

cmake --preset bench >/dev/null
cmake --build build/bench --target login.cgi login.fcgi entravo-site site_make_logons site_load >/dev/null
bin=$PWD/build/bench/bin

work=$(mktemp -d "${TMPDIR:-/tmp}/site-load.XXXXXX")
chmod 0711 "$work" # the database cluster's owner passes through
cleanup() {
  for server in "$work"/server-*; do [ -d "$server" ] && scripts/site-server.sh stop "$server"; done
  scripts/pg-cluster.sh stop "$work/pg" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
identity=0123456789ABCDEF

. scripts/processor-ticks.sh

# RATE SECONDS: a fresh store named on standard output (a SQLite file, or the cluster's URI).
sqlite_store() {
  local db=$work/site-$RANDOM.db
  "$bin/entravo-site" --db "$db" init >/dev/null
  "$bin/entravo-site" --db "$db" enroll "$identity" loadtest
  echo "$db"
}

postgres_store() {
  local uri
  uri=$(scripts/pg-cluster.sh start "$work/pg")
  if [ -n "${SITE_PG_COMMIT:-}" ]; then
    psql -qtA "$uri" -c "ALTER SYSTEM SET synchronous_commit = '$SITE_PG_COMMIT'" -c "SELECT pg_reload_conf()" >/dev/null
  fi
  "$bin/entravo-site" --db "$uri" init >/dev/null
  "$bin/entravo-site" --db "$uri" enroll "$identity" loadtest
  echo "$uri"
}

# PAGES SECONDS: reads each page's /metrics once a second for SECONDS and a little more, one
# line per scrape in $work/scrapes: its seconds, or "failed" for an answer other than 200.
scrape_pages() {
  local pages=$1 seconds=$2 page i
  for ((i = 0; i < seconds + 2; i++)); do
    for page in ${pages//,/ }; do
      curl -sf -m 10 -o /dev/null -w '%{time_total}\n' "$page/metrics" >>"$work/scrapes" || echo failed >>"$work/scrapes"
    done
    sleep 1
  done
}

# MODE RATE SECONDS: one run; appends its line to $work/table.
run() {
  local mode=$1 rate=$2 seconds=$3 store program kind servers=1 pages="" server_pids=() db_pids=() i
  case $mode in
    cgi) store=$(sqlite_store) program=$bin/login.cgi kind=cgi ;;
    fcgi) store=$(sqlite_store) program=$bin/login.fcgi kind=fcgi ;;
    fcgi-pg) store=$(postgres_store) program=$bin/login.fcgi kind=fcgi servers=2
             db_pids=("$(head -1 "$work/pg/data/postmaster.pid")") ;;
  esac
  local processes=${SITE_FCGI_PROCESSES:-1} threads=${SITE_FCGI_THREADS:-$([ "$mode" = fcgi-pg ] && echo 8 || echo 16)}
  for ((i = 0; i < servers; i++)); do
    base=$(SITE_FCGI_PROCESSES=$processes ENTRAVO_SITE_THREADS=$threads scripts/site-server.sh start "$work/server-$mode-$i" "$program" "$store" "$kind")
    pages+=${pages:+,}$base/entravo/$(basename "$program")
    server_pids+=("$(cat "$work/server-$mode-$i/server.pid")")
  done
  "$bin/site_make_logons" "$identity" "$RANDOM" $((rate * seconds)) >"$work/strings"

  echo "load-site: $mode, $rate logons/s for $seconds s through $pages"
  local server_before db_before
  server_before=$(ticks "${server_pids[@]}")
  db_before=$( ((${#db_pids[@]})) && ticks "${db_pids[@]}" || echo 0)
  local met=yes all_before steal_before all_after steal_after scraper=""
  : >"$work/scrapes"
  if [ "$scrape" = yes ]; then
    scrape_pages "$pages" "$seconds" &
    scraper=$!
  fi
  read -r all_before steal_before < <(machine_ticks)
  "$bin/site_load" "$pages" "$work/strings" "$rate" "$seconds" --goal-p99 "${goal_p99[$mode]}" \
    --figures "$work/figures" || met=no
  read -r all_after steal_after < <(machine_ticks)
  [ -z "$scraper" ] || { kill "$scraper" 2>/dev/null || true; wait "$scraper" 2>/dev/null || true; }
  local slowest_scrape
  slowest_scrape=$(awk 'BEGIN { m = -1 } $1 == "failed" { f = 1; next } { if ($1 > m) m = $1 }
    END { if (f) print "failed"; else if (m < 0) print "-"; else printf "%.1f", 1000 * m }' "$work/scrapes")
  local server_ticks=$(($(ticks "${server_pids[@]}") - server_before))
  local db_ticks=$(( $( ((${#db_pids[@]})) && ticks "${db_pids[@]}" || echo 0) - db_before))
  for ((i = 0; i < servers; i++)); do scripts/site-server.sh stop "$work/server-$mode-$i"; done
  [ "$mode" = fcgi-pg ] && scripts/pg-cluster.sh stop "$work/pg"
  # What this mode wrote reaches the disk now, not while the next mode is measured.
  sync

  local achieved p50 p99 errors
  read -r achieved p50 p99 errors <"$work/figures"
  awk -v m="$mode" -v r="$rate" -v a="$achieved" -v p50="$p50" -v p99="$p99" -v e="$errors" -v met="$met" \
      -v st="$server_ticks" -v dt="$db_ticks" -v hz="$(getconf CLK_TCK)" -v n="$((rate * seconds))" \
      -v steal="$(( (steal_after - steal_before) * 100 / (all_after - all_before + 1) ))" -v sc="$slowest_scrape" \
      'BEGIN { printf "%s %d %.0f %.1f %.1f %d %.3f %.3f %s %d %s\n", m, r, a, p50, p99, e, 1000 * st / hz / n, 1000 * dt / hz / n, met, steal, sc }' \
      >>"$work/table"
}

if [ "$mode" = all ]; then
  for m in cgi fcgi fcgi-pg; do run "$m" "${goal_rate[$m]}" "$seconds"; done
else
  rate=${2:-${goal_rate[$mode]}}
  [ "$rate" -le "$most_rate" ] && [ "$seconds" -le "$most_seconds" ] \
    || { echo "load-site: at most $most_rate per second for $most_seconds s" >&2; exit 2; }
  run "$mode" "$rate" "$seconds"
fi

echo
missed=0
cgi_ms=$(awk '$1 == "cgi" { print $7 }' "$work/table")
printf '%-8s %8s %9s %8s %8s %7s %11s %11s %9s %7s %10s\n' mode offered/s accepted/s p50-ms p99-ms errors server-ms db-ms vs-cgi steal-% scrape-ms
while read -r m r a p50 p99 e sms dms met steal sc; do
  ratio=$(awk -v c="${cgi_ms:-0}" -v s="$sms" 'BEGIN { if (c > 0 && s > 0) printf "%.1fx", c / s; else print "-" }')
  printf '%-8s %8s %9s %8s %8s %7s %11s %11s %9s %7s %10s\n' "$m" "$r" "$a" "$p50" "$p99" "$e" "$sms" "$dms" "$ratio" "$steal" "$sc"
  if [ "$met" != yes ]; then
    echo "load-site: $m missed its goal ($r logons/s accepted with no error, p99 under ${goal_p99[$m]} ms)" >&2
    missed=1
  fi
done <"$work/table"
echo "(server-ms, db-ms: processor time per logon of the web servers with their login programs, of the database;"
echo " vs-cgi: cgi's processor time per logon over this mode's, so how many more logons the same processors carry;"
echo " steal-%: the share of this machine's processor time its host took for others during the run;"
echo " scrape-ms: the slowest of the scrapes of /metrics with --scrape)"
exit "$missed"
