#!/usr/bin/env bash
# What a PostgreSQL failover costs the login page, measured on an optimised build without
# sanitizers: tests/site/failover-pg.sh run several times (a primary and a streaming standby,
# two lighttpd servers with login.fcgi on one URI naming both, a steady load; the primary killed
# with kill -9 once 1.5 s of the load were accepted, the standby promoted as soon as the servers
# met the database gone). Never part of the test run.
#
#   scripts/measure-failover.sh [sync|async [RUNS [RATE [SECONDS]]]]   defaults: async, 5 runs, 1000 logons/s, 8 s
#
# Per run and as min/median/max: how long after the kill the promotion was done, how long after
# that the first logon was accepted, how long no logon was accepted (the gap), the answers within the gap, the 503s of the run and how many of
# their strings the store had taken nonetheless, the slowest answer, the strings accepted and
# how many of them worked twice (accepted before the failover and again after it), and the
# share of the machine's processor time its host took for others meanwhile (steal). A run whose
# answers break the site's promises fails the measurement.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-async} runs=${2:-5} rate=${3:-1000} seconds=${4:-8}
case $mode in sync | async) ;; *) sed -n '8p' "$0" | sed 's/^#   //' >&2; exit 2 ;; esac
[ "$runs" -ge 1 ] && [ "$rate" -ge 100 ] && [ "$seconds" -ge 4 ] \
  || { echo "measure-failover: at least 1 run, 100 logons/s and 4 s (the kill comes after 1.5 s of logons)" >&2; exit 2; }

cmake --preset bench >/dev/null
cmake --build build/bench --target login.fcgi entravo-site site_make_logons site_load >/dev/null
bin=$PWD/build/bench/bin

figures=$(mktemp "${TMPDIR:-/tmp}/failover-figures.XXXXXX")
trap 'rm -f "$figures"' EXIT

# The machine's processor ticks: all of them, and those the hypervisor took for others.
machine_ticks() {
  awk '$1 == "cpu" { total = 0; for (i = 2; i <= NF; i++) total += $i; print total, $9 }' /proc/stat
}

failed=0
for ((run = 1; run <= runs; run++)); do
  read -r all_before steal_before < <(machine_ticks)
  FAILOVER_RATE=$rate FAILOVER_SECONDS=$seconds FAILOVER_FIGURES=$figures \
    tests/site/failover-pg.sh "$bin/login.fcgi" "$bin/entravo-site" "$bin/site_make_logons" "$bin/site_load" "$mode" \
    >"$figures.out" 2>&1 || { failed=1; grep -v '^ok: ' "$figures.out" | grep -v FastCGI-stderr | tail -20; }
  read -r all_after steal_after < <(machine_ticks)
  grep '^failover' "$figures.out" || true
  # The steal goes on the run's line of figures.
  [ "$(wc -l <"$figures")" -lt "$run" ] ||
    sed -i "${run}s/\$/ $(((steal_after - steal_before) * 100 / (all_after - all_before + 1)))/" "$figures"
done
rm -f "$figures.out"

echo
echo "$mode standby, $rate logons/s offered for $seconds s, $runs runs:"
# Each column sorted on its own: min, median, max.
summary() { # ROW
  local column
  echo -n "$1"
  for column in 3 4 5 6 7 8 9 10 11 12; do
    echo -n " $(awk -v c="$column" '{ print $c }' "$figures" | sort -n | awk -v row="$1" '{ v[NR] = $1 }
      END { print row == "min" ? v[1] : row == "max" ? v[NR] : v[int((NR + 1) / 2)] }')"
  done
  echo
}
{
  echo run promoted-ms resumed-ms gap-ms in-gap 503s taken slowest-ms accepted twice steal-%
  awk '{ print NR, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12 }' "$figures"
  for row in min median max; do summary "$row"; done
} | awk '{ printf "%-7s %11s %10s %7s %7s %6s %6s %10s %9s %6s %7s\n", $1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11 }'
echo "(promoted-ms: from the kill until the standby took writes; resumed-ms: from then to the first acceptance;"
echo " gap-ms: the longest time between two acceptances;"
echo " in-gap: answers that came within it, all 503; taken: strings answered 503 that the store had taken before"
echo " the primary ended; twice: strings accepted before the failover and again after it)"
exit "$failed"
