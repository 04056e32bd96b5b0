#!/usr/bin/env bash
# The test run's throwaway PostgreSQL cluster (CTest fixture): start makes one in a folder of
# its own and writes its URI to URI-FILE, stop stops it and removes the folder.
#
#   pg-fixture.sh start|stop URI-FILE
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 start|stop URI-FILE" >&2; exit 2; }
cluster=$(cd "$(dirname "$0")/../.." && pwd)/scripts/pg-cluster.sh
case $1 in
  start)
    rm -f "$2"
    ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1 || { echo "PostgreSQL is not installed: skipped"; exit 0; }
    dir=$(mktemp -d "${TMPDIR:-/tmp}/site-pg-test.XXXXXX")
    chmod 0711 "$dir" # the cluster runs as nobody when the tests run as root
    "$cluster" start "$dir/pg" >"$2.tmp"
    echo "$dir" >>"$2.tmp"
    mv "$2.tmp" "$2"
    ;;
  stop)
    [ -f "$2" ] || exit 0
    dir=$(sed -n 2p "$2")
    "$cluster" stop "$dir/pg" || true
    rm -rf "$dir" "$2"
    ;;
  *) echo "usage: $0 start|stop URI-FILE" >&2; exit 2 ;;
esac
