#!/usr/bin/env bash
# The login page's verdicts through a real lighttpd: a genuine logon ends on the welcome page
# with a session cookie; replays, forgeries, damaged links, unknown and revoked tokens are
# refused each with their own status; one string sent 50 times at once is accepted once.
# login.cgi (MODE cgi) and login.fcgi (MODE fcgi: started by lighttpd; nginx: on its socket as
# the entravo-site service starts it) pass the same script, each configured with the package's
# own snippets (scripts/site-server.sh).
#
#   site-e2e.sh LOGIN_PROGRAM ENTRAVO_SITE MAKE_LOGONS [MODE]
set -euo pipefail
[ $# -eq 3 ] || [ $# -eq 4 ] || { echo "usage: $0 LOGIN_PROGRAM ENTRAVO_SITE MAKE_LOGONS [MODE]" >&2; exit 2; }
program=$1 site=$2 make_logons=$3 mode=${4:-cgi}
server=$(cd "$(dirname "$0")/../.." && pwd)/scripts/site-server.sh
for tool in lighttpd $([ "$mode" != nginx ] || echo nginx spawn-fcgi fcgiwrap); do
  command -v "$tool" >/dev/null || { echo "$tool is not installed: skipped"; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/site-e2e.XXXXXX")
cleanup() {
  for dir in server front behind full; do "$server" stop "$work/$dir"; done
  ! mountpoint -q "$work/disk" || umount "$work/disk"
  rm -rf "$work"
}
trap cleanup EXIT

. "$(dirname "$0")/../support/check.sh"

alice=0123456789ABCDEF bob=2800000000000042 stranger=FEDCBA9876543210
export ENTRAVO_SITE_DB=$work/site.db
"$site" init >/dev/null
"$site" enroll "$alice" 'Alice <Admin>'
"$site" enroll "$bob" bob
"$site" revoke "$bob"
mapfile -t strings < <("$make_logons" "$alice" 1000 4)
base=$("$server" start "$work/server" "$program" "$ENTRAVO_SITE_DB" "$mode")
path=/entravo/$(basename "$program")
login=$base$path

status() { # URL [CURL OPTIONS...]: the status, with the headers and body kept in $work/last.*
  local url=$1
  shift
  curl -s -m 20 -D "$work/last.headers" -o "$work/last.body" -w '%{http_code}' "$@" "$url"
}

check "genuine string is accepted with a redirect" 303 "$(status "$login?Authenticate=${strings[0]}" -c "$work/jar")"
check "redirect leads to the page without the string" "Location: $path" \
  "$(grep -i '^Location:' "$work/last.headers" | tr -d '\r')"
cookie=$(grep -i '^Set-Cookie:' "$work/last.headers" | tr -d '\r')
check "session cookie is for the whole site, HttpOnly and SameSite=Lax" yes \
  "$(echo "$cookie" | grep -q 'Path=/;.*HttpOnly; SameSite=Lax' && echo yes || echo "$cookie")"
check "welcome page with the cookie" 200 "$(status "$login" -b "$work/jar")"
check "welcome page names the account, escaped" 1 "$(grep -c 'Signed in as Alice &lt;Admin&gt;' "$work/last.body")"
check "welcome page without the cookie, which no proxy takes for a pass" "401 1" \
  "$(status "$login") $(grep -c 'not signed in' "$work/last.body")"

# A browser follows the redirect and ends at an address without the authenticator.
final=$(curl -s -m 20 -L -c "$work/jar2" -b "$work/jar2" -o "$work/last.body" -w '%{http_code} %{url_effective}' \
  "$login?Authenticate=${strings[1]}")
check "browser ends on the welcome page" "200 $login" "$final"
check "browser sees the account" 1 "$(grep -c 'Signed in as Alice' "$work/last.body")"

check "replay is refused" 409 "$(status "$login?Authenticate=${strings[0]}")"
check "replay page says the link was already used" yes "$(grep -q 'was already used' "$work/last.body" && echo yes)"
forged=${strings[2]:0:40}$([ "${strings[2]:40:1}" = 0 ] && echo 1 || echo 0)${strings[2]:41}
check "one changed digit is not genuine" 403 "$(status "$login?Authenticate=$forged")"
check "short string is malformed" 400 "$(status "$login?Authenticate=${strings[2]:1}")"
check "two authenticators are malformed" 400 \
  "$(status "$login?Authenticate=${strings[2]}&Authenticate=${strings[2]}")"
check "unknown token is refused" 403 "$(status "$login?Authenticate=$("$make_logons" "$stranger" 7 1)")"
check "revoked token is refused" 403 "$(status "$login?Authenticate=$("$make_logons" "$bob" 7 1)")"
check "only GET is answered" 405 "$(status "$login?Authenticate=${strings[2]}" --data '')"
check "the refusals did not use up a string" 303 "$(status "$login?Authenticate=${strings[2]}")"
mixed=$("$make_logons" "$alice" 77 1)
check "a string in lower case is the same string" 303 "$(status "$login?Authenticate=${mixed,,}" --interface 127.0.0.8)"
check "and so used up in any case" 409 "$(status "$login?Authenticate=$mixed" --interface 127.0.0.8)"

# One string, 50 requests at the same moment: exactly one acceptance. The others are refused
# as already used, or unchecked once this address's failures reach its budget.
burst() { # COUNT AT_ONCE URL [CURL OPTIONS...]: "STATUSxCOUNT ..." of COUNT requests, AT_ONCE at a time
  local count=$1 at_once=$2 url=$3 i
  shift 3
  local urls=()
  for ((i = 0; i < count; i++)); do urls+=(-o /dev/null "$url"); done
  curl -s --no-progress-meter -m 60 -Z --parallel-immediate --parallel-max "$at_once" -w '%{http_code}\n' "$@" \
    "${urls[@]}" | sort | uniq -c | awk '{print $2 "x" $1}' | tr '\n' ' ' | sed 's/ $//'
}
statuses=$(burst 50 50 "$login?Authenticate=${strings[3]}")
check "50 simultaneous requests, one acceptance" "303x1" "$(grep -o '303x[0-9]*' <<<"$statuses" || echo none)"
check "50 simultaneous requests, no other kind of answer" "" "$(sed -E 's/(303|409|429)x[0-9]+ ?//g' <<<"$statuses")"
refused=$(grep -o '429x[0-9]*' <<<"$statuses" | cut -dx -f2 || echo 0)
check "the operator sees every checked attempt" $((61 - refused)) "$("$site" attempts 1000 | wc -l)"
check "the operator sees the acceptances" 5 "$("$site" attempts 1000 | grep -c ' accepted$')"
check "refusals of a spent budget are counted per day" "too-many-failures $refused" \
  "$("$site" attempts --days 1 | awk '$3 == "too-many-failures" { print $3, $4 }')"

# A burst of junk from one fresh address: exactly its budget is checked, however many come at once;
# every other one is refused unchecked. On a slow machine some of a burst of login.cgi processes
# may outwait the store's busy wait: they are told to come back (503), checked or not, which is
# true of an unused string, and never counted as checked.
junk="$login?Authenticate=$(printf '1%.0s' {1..64})"
statuses=$(burst 200 50 "$junk" --interface 127.0.0.5)
check "200 junk requests, 50 at once, 20 checked" "403x20" "$(grep -o '403x[0-9]*' <<<"$statuses" || echo none)"
check "200 junk requests: the rest refused unchecked or told to come back" "" \
  "$(sed -E 's/(403|429|503)x[0-9]+ ?//g' <<<"$statuses")"
check "200 junk requests: the operator counts 20 checked" 20 \
  "$("$site" attempts 1000 | awk '$2 == "127.0.0.5"' | wc -l)"

# Many addresses of one network share its budget; the server log says so once.
for ((host = 1; host <= 60; host++)); do
  curl -s -m 20 -o /dev/null -w '%{http_code}\n' --interface "127.1.0.$host" "$junk"
done | sort | uniq -c | awk '{print $2 "x" $1}' | tr '\n' ' ' | sed 's/ $//' >"$work/statuses"
check "60 addresses of one /24, its budget of 50 checked" "403x50 429x10" "$(cat "$work/statuses")"
check "the network's spent budget is logged once" 1 "$(grep -c 'network 127.1.0.0/24 spent its budget' "$work/server/error.log")"
check "the operator sees who is guessing" "127.1.0.0/24 50 50" \
  "$("$site" attempts --minutes 5 | awk '$1 == "127.1.0.0/24" { print $1, $2, $3 }')"

# Sessions end with their enrolment: a token handed to a new holder never revives old ones.
carol=1111111111111111
"$site" enroll "$carol" carol
check "carol signs in" 303 "$(status "$login?Authenticate=$("$make_logons" "$carol" 11 1)" -c "$work/carol" --interface 127.0.0.9)"
check "carol's cookie works" 1 "$(status "$login" -b "$work/carol" >/dev/null; grep -c 'Signed in as carol' "$work/last.body")"
"$site" revoke "$carol"
check "revoking ends carol's session" 1 "$(status "$login" -b "$work/carol" >/dev/null; grep -c 'not signed in' "$work/last.body")"
check "revoking twice says so" "$carol was already revoked" "$("$site" revoke "$carol")"
"$site" enroll "$carol" mallory
check "enrolling again does not revive it" 1 "$(status "$login" -b "$work/carol" >/dev/null; grep -c 'not signed in' "$work/last.body")"

# Signing out ends the session and clears the cookie.
check "mallory signs in" 303 "$(status "$login?Authenticate=$("$make_logons" "$carol" 12 1)" -c "$work/mallory" --interface 127.0.0.9)"
check "the welcome page offers to sign out" 1 "$(status "$login" -b "$work/mallory" >/dev/null; grep -c '>Sign out</button>' "$work/last.body")"
cp "$work/mallory" "$work/mallory.kept"
check "sign out answers with a redirect" 303 "$(status "$login" --data "" -b "$work/mallory" -c "$work/mallory")"
check "sign out clears the cookie" 1 "$(grep -c 'Set-Cookie: entravo_session=; Path=/; Max-Age=0' "$work/last.headers")"
check "the old cookie no longer signs in" 1 "$(status "$login" -b "$work/mallory.kept" >/dev/null; grep -c 'not signed in' "$work/last.body")"

# Behind a reverse proxy every request comes from the proxy: only a trusted proxy's word on
# whom it forwards for counts, and what a client writes itself proves nothing.
ENTRAVO_SITE_TRUSTED_PROXIES="192.0.2.0/24, 127.0.0.1" "$server" start "$work/behind" "$program" "$ENTRAVO_SITE_DB" "$mode" >/dev/null
front=$("$server" proxy "$work/front" "$work/behind")$path
for ((i = 0; i < 20; i++)); do curl -s -m 20 -o /dev/null --interface 127.5.0.20 "${junk/$login/$front}"; done
check "behind the proxy, a client spends its own budget" 429 "$(status "${junk/$login/$front}" --interface 127.5.0.20)"
check "its own X-Forwarded-For does not help it" 429 \
  "$(status "${junk/$login/$front}" --interface 127.5.0.20 -H 'X-Forwarded-For: 198.51.100.1')"
check "another client behind the same proxy signs in" 303 \
  "$(status "$front?Authenticate=$("$make_logons" "$alice" 13 1)" --interface 127.6.0.21)"
check "the operator sees the clients behind the proxy" "127.6.0.21 accepted" \
  "$("$site" attempts 1 | awk '{ print $2, $4 }')"
# A trusted proxy that ended TLS says so in X-Forwarded-Proto: the cookie is then Secure.
behind=$(cat "$work/behind/port")
status "http://127.0.0.1:$behind$path?Authenticate=$("$make_logons" "$alice" 15 1)" -H 'X-Forwarded-Proto: https' \
  -H 'X-Forwarded-For: 127.6.0.23' >/dev/null
check "a trusted proxy's HTTPS makes the cookie Secure" 1 "$(grep -ci '^Set-Cookie:.*; Secure' "$work/last.headers")"
status "http://127.0.0.1:$behind$path?Authenticate=$("$make_logons" "$alice" 16 1)" -H 'X-Forwarded-Proto: https' \
  --interface 127.6.0.22 >/dev/null
check "anyone else's does not" 0 "$(grep -ci '^Set-Cookie:.*; Secure' "$work/last.headers")"
check "the access log keeps no sign-in string" "0" "$(grep -c 'Authenticate' "$work/server/access.log")"
check "and every request's path" yes "$(grep -q "GET $path " "$work/server/access.log" && echo yes)"

# A folder the web server's user cannot enter is named as such, not as a missing database. The
# command is a copy nobody may run, whatever folder the build is in (a home folder is 0700).
if [ "$(id -u)" -eq 0 ] && command -v runuser >/dev/null; then
  mkdir -m 0755 "$work/open" && mkdir -m 0700 "$work/closed" && chmod 0711 "$work"
  cp "$site" "$work/open/entravo-site" && cp "$ENTRAVO_SITE_DB" "$work/closed/site.db"
  said=$(runuser -u nobody -- "$work/open/entravo-site" --db "$work/closed/site.db" list 2>&1 || true)
  check "a folder that cannot be entered is named" yes "$(grep -q 'cannot enter the folder' <<<"$said" && echo yes || echo "$said")"
fi

# A full disk: logons wait (503, nothing accepted twice), and a prune makes room without needing any.
if [ "$(id -u)" -eq 0 ] && mkdir -p "$work/disk" && mount -t tmpfs -o size=16m tmpfs "$work/disk" 2>/dev/null; then
  full_db=$work/disk/site.db
  "$site" --db "$full_db" init >/dev/null
  "$site" --db "$full_db" enroll "$alice" alice
  full=$("$server" start "$work/full" "$program" "$full_db" "$mode")$path
  dd if=/dev/zero of="$work/disk/filler" bs=64k 2>/dev/null || true
  for ((i = 0; i < 100; i++)); do
    [ "$(status "${junk/$login/$full}" --interface "127.0.3.$((i / 10 + 1))")" = 503 ] && break
  done
  string=$("$make_logons" "$alice" 14 1)
  check "on a full disk a logon waits" 503 "$(status "$full?Authenticate=$string" --interface 127.0.4.1)"
  check "and is told when to come back" 1 "$(grep -c '^Retry-After: 30' "$work/last.headers")"
  check "the log says why" yes "$(grep -q 'the disk is full' "$work/full/error.log" && echo yes)"
  check "prune works on the full disk" 0 "$("$site" --db "$full_db" prune >/dev/null; echo $?)"
  check "then the logon is accepted" 303 "$(status "$full?Authenticate=$string" --interface 127.0.4.1)"
  check "once" 409 "$(status "$full?Authenticate=$string" --interface 127.0.4.1)"
  check "the database is sound" 0 "$("$site" --db "$full_db" check; echo $?)"
else
  echo "skipped: a full disk (needs root to mount a small file system)"
fi

[ "$failures" -eq 0 ] || { echo "error log:"; cat "$work/server/error.log"; exit 1; }

