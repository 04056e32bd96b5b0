#!/usr/bin/env bash
# What the sign-in record costs the SQLite store: DAYS days of PER-DAY sign-ins through the
# store's own check (200 tokens, each from its home address or one of five office addresses,
# one in ten through the API), then the same with every sign-in from an address of its own (the
# worst case), on an optimised build, the database on a memory file system when there is one
# (the syncs are not what is measured). Prints the file's size and the record's size and bytes
# per sign-in for each. Never part of the test run.
#
#   scripts/measure-sign-ins.sh [DAYS [PER-DAY]]     default: 365 days of 1000
set -euo pipefail
cd "$(dirname "$0")/.."
days=${1:-365}
per_day=${2:-1000}
cmake --preset bench >/dev/null
cmake --build build/bench --target site_sign_in_year >/dev/null
folder=$([ -d /dev/shm ] && [ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")
work=$(mktemp -d "$folder/sign-in-year.XXXXXX")
trap 'rm -rf "$work"' EXIT
for addresses in usual each; do
  build/bench/bin/site_sign_in_year "$work/$addresses.db" "$days" "$per_day" "$addresses"
done
