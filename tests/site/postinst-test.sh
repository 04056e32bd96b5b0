#!/usr/bin/env bash
# The package's set-up script (postinst configure) with the database's folder made in advance by
# someone else, a mount point for instance: it takes the folder over for the web server's user,
# says so, and makes the database. Run in a mount namespace of its own whose /var/lib is an empty
# file system in memory, so nothing of the machine's own is touched; the service scripts it calls
# are stand-ins.
#
#   postinst-test.sh POSTINST ENTRAVO_SITE
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 POSTINST ENTRAVO_SITE" >&2; exit 2; }
postinst=$(readlink -f "$1") site=$(readlink -f "$2")
[ "$(id -u)" -eq 0 ] || { echo "needs root (a mount namespace): skipped"; exit 77; }
id www-data >/dev/null 2>&1 || { echo "no www-data user: skipped"; exit 77; }
unshare --mount true 2>/dev/null || { echo "cannot make a mount namespace: skipped"; exit 77; }
. "$(dirname "$0")/../support/check.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/postinst.XXXXXX")
trap 'rm -rf "$work"' EXIT
chmod 0755 "$work"
mkdir -m 0755 "$work/bin"
# The web server's user runs the command: a copy it can reach.
cp "$site" "$work/bin/entravo-site"
printf '#!/bin/sh\nexit 1\n' >"$work/bin/invoke-rc.d"
chmod 0755 "$work/bin/entravo-site" "$work/bin/invoke-rc.d"

# FOLDER-MODE FOLDER-OWNER: "STATUS OWNER:GROUP:MODE DATABASE" after postinst configure, its
# output in $work/said.
configure() {
  unshare --mount --propagation private bash -c '
    mount -t tmpfs tmpfs /var/lib
    [ "$1" = none ] || install -d -o "$2" -g "$(id -gn "$2")" -m "$1" /var/lib/entravo-site
    status=0
    PATH=$3:$PATH sh "$4" configure >"$5" 2>&1 || status=$?
    echo "$status $(stat -c %U:%G:%a /var/lib/entravo-site) $([ -f /var/lib/entravo-site/site.db ] && echo made)"
  ' configure "$1" "$2" "$work/bin" "$postinst" "$work/said"
}

check "a new folder is made for the web server's user" "0 www-data:www-data:750 made" "$(configure none root)"
check "a folder made in advance by root is taken over" "0 www-data:www-data:750 made" "$(configure 0700 root)"
check "and the script says so" 1 "$(grep -c '/var/lib/entravo-site.*www-data.*0750' "$work/said")"
check "an open folder of another user is closed and taken over" "0 www-data:www-data:750 made" \
  "$(configure 0777 nobody)"
check "a folder already right is left as it is, quietly" "0 www-data:www-data:750 made" \
  "$(configure 0750 www-data)"
check "and nothing is said of it" 0 "$(grep -c 'www-data' "$work/said" || true)"
[ "$failures" -eq 0 ] || { echo "postinst said:"; cat "$work/said"; exit 1; }
