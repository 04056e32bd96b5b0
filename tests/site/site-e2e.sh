#!/usr/bin/env bash
# The login page's verdicts through a real lighttpd: a genuine logon ends on the welcome page
# with a session cookie; replays, forgeries, damaged links, unknown and revoked tokens are
# refused each with their own status; one string sent 50 times at once is accepted once.
#
#   site-e2e.sh LOGIN_CGI ENTRAVO_SITE MAKE_LOGONS
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 LOGIN_CGI ENTRAVO_SITE MAKE_LOGONS" >&2; exit 2; }
cgi=$1 site=$2 make_logons=$3
server=$(cd "$(dirname "$0")/../.." && pwd)/scripts/site-server.sh
command -v lighttpd >/dev/null || { echo "lighttpd is not installed: skipped"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/site-e2e.XXXXXX")
trap '"$server" stop "$work/server"; rm -rf "$work"' EXIT

. "$(dirname "$0")/../support/check.sh"

alice=0123456789ABCDEF bob=2800000000000042 stranger=FEDCBA9876543210
export ENTRAVO_SITE_DB=$work/site.db
"$site" init >/dev/null
"$site" enroll "$alice" 'Alice <Admin>'
"$site" enroll "$bob" bob
"$site" revoke "$bob"
mapfile -t strings < <("$make_logons" "$alice" 1000 4)
base=$("$server" start "$work/server" "$cgi" "$ENTRAVO_SITE_DB")
login=$base/cgi-bin/login.cgi

status() { # URL [CURL OPTIONS...]: the status, with the headers and body kept in $work/last.*
  local url=$1
  shift
  curl -s -m 20 -D "$work/last.headers" -o "$work/last.body" -w '%{http_code}' "$@" "$url"
}

check "genuine string is accepted with a redirect" 303 "$(status "$login?Authenticate=${strings[0]}" -c "$work/jar")"
check "redirect leads to the page without the string" "Location: /cgi-bin/login.cgi" \
  "$(grep -i '^Location:' "$work/last.headers" | tr -d '\r')"
cookie=$(grep -i '^Set-Cookie:' "$work/last.headers" | tr -d '\r')
check "session cookie is for the whole site, HttpOnly and SameSite=Lax" yes \
  "$(echo "$cookie" | grep -q 'Path=/;.*HttpOnly; SameSite=Lax' && echo yes || echo "$cookie")"
check "welcome page with the cookie" 200 "$(status "$login" -b "$work/jar")"
check "welcome page names the account, escaped" 1 "$(grep -c 'Signed in as Alice &lt;Admin&gt;' "$work/last.body")"
check "welcome page without the cookie" 1 "$(status "$login" >/dev/null; grep -c 'not signed in' "$work/last.body")"

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

# One string, 50 requests at the same moment: exactly one acceptance. The others are refused
# as already used, or as a flood once 20 refusals came from this address.
urls=()
for ((i = 0; i < 50; i++)); do urls+=(-o /dev/null "$login?Authenticate=${strings[3]}"); done
curl -s --no-progress-meter -m 60 -Z --parallel-immediate --parallel-max 50 -w '%{http_code}\n' "${urls[@]}" \
  | sort | uniq -c | awk '{print $2 "x" $1}' | tr '\n' ' ' >"$work/statuses"
statuses=$(cat "$work/statuses")
check "50 simultaneous requests, one acceptance" "303x1" "$(grep -o '303x[0-9]*' <<<"$statuses" || echo none)"
check "50 simultaneous requests, no other kind of answer" "" "$(sed -E 's/(303|409|429)x[0-9]+ //g' <<<"$statuses")"

check "the operator sees every attempt" 59 "$("$site" attempts 1000 | wc -l)"
check "the operator sees the acceptances" 4 "$("$site" attempts 1000 | grep -c ' accepted$')"

[ "$failures" -eq 0 ] || { echo "error log:"; cat "$work/server/error.log"; exit 1; }
