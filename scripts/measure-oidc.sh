#!/usr/bin/env bash
# The OpenID Connect provider's cost in the FastCGI form: COUNT whole sign-ins of an application
# (the authorization with a live session and PKCE, the code redeemed at the token endpoint with
# the application's secret, userinfo with the access token) through lighttpd and login.fcgi on
# an optimised build, one after another; prints the web server's and login.fcgi's processor
# time per sign-in, its three requests together. The application's side (curl) is not counted.
# Never part of the test run.
#
#   scripts/measure-oidc.sh [COUNT]     default: 200
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-200}
[ "$count" -ge 1 ] && [ "$count" -le 10000 ] || { echo "measure-oidc: COUNT from 1 to 10000" >&2; exit 2; }
# Registered, never reached: the redirect is read, not followed.
readonly redirect=http://127.0.0.1:9/callback redirect_query=http%3A%2F%2F127.0.0.1%3A9%2Fcallback
readonly verifier=measure-oidc-verifier-of-forty-three-or-more-characters
challenge=$(python3 -c 'import base64, hashlib, sys
print(base64.urlsafe_b64encode(hashlib.sha256(sys.argv[1].encode()).digest()).decode().rstrip("="))' "$verifier")

cmake --preset bench >/dev/null
cmake --build build/bench --target login.fcgi entravo-site site_make_logons >/dev/null
bin=$PWD/build/bench/bin
work=$(mktemp -d "${TMPDIR:-/tmp}/measure-oidc.XXXXXX")
trap 'scripts/site-server.sh stop "$work/server"; rm -rf "$work"' EXIT
site() { "$bin/entravo-site" --db "$work/site.db" "$@"; }
site init >/dev/null
site enroll 0123456789ABCDEF alice
site oidc init >/dev/null
read -r client secret < <(site oidc add measure "$redirect")
base=$(scripts/site-server.sh start "$work/server" "$bin/login.fcgi" "$work/site.db" fcgi)/entravo/login.fcgi
curl -s -o /dev/null -c "$work/jar" "$base?Authenticate=$("$bin/site_make_logons" 0123456789ABCDEF 1 1)"

# lighttpd and the login.fcgi processes it started, in clock ticks.
. scripts/processor-ticks.sh
server_ticks() { ticks "$(cat "$work/server/server.pid")"; }

# One sign-in; prints the account userinfo names, or which step failed (its answer kept in faults).
sign_in() { # N
  local location code answer access name
  location=$(curl -s -o /dev/null -b "$work/jar" -w '%{redirect_url}' "$base/authorize?response_type=code&client_id=$client&redirect_uri=$redirect_query&scope=openid%20profile&state=s$1&nonce=n$1&code_challenge=$challenge&code_challenge_method=S256")
  code=$(sed -n 's/^[^?]*?code=\([^&]*\)&state=s'"$1"'&.*/\1/p' <<<"$location")
  [ -n "$code" ] || { echo "$location" >>"$work/faults"; echo "no-code-from-authorize"; return; }
  answer=$(curl -s -u "$client:$secret" -d grant_type=authorization_code -d "code=$code" \
    --data-urlencode "redirect_uri=$redirect" -d "code_verifier=$verifier" "$base/token")
  access=$(sed -n 's/.*"access_token":"\([^"]*\)".*/\1/p' <<<"$answer")
  [ -n "$access" ] || { echo "$answer" >>"$work/faults"; echo "no-access-token"; return; }
  answer=$(curl -s -H "Authorization: Bearer $access" "$base/userinfo")
  name=$(sed -n 's/.*"preferred_username":"\([^"]*\)".*/\1/p' <<<"$answer")
  [ -n "$name" ] || { echo "$answer" >>"$work/faults"; echo "no-userinfo"; return; }
  echo "$name"
}

before=$(server_ticks)
for ((i = 1; i <= count; i++)); do sign_in "$i"; done | sort | uniq -c | awk '{ $1 = $1; printf "%s  ", $0 }' >"$work/answers"
spent=$(($(server_ticks) - before))
echo "measure-oidc: $count sign-ins, userinfo named: $(cat "$work/answers")"
[ ! -s "$work/faults" ] || head -3 "$work/faults" | sed 's/^/measure-oidc: fault: /'
awk -v t="$spent" -v hz="$(getconf CLK_TCK)" -v n="$count" -v answers="$(cat "$work/answers")" 'BEGIN {
  printf "measure-oidc: %.2f ms of processor time per sign-in (authorize, token, userinfo; lighttpd and login.fcgi)\n",
         1000 * t / hz / n
  exit answers !~ /^[0-9]+ alice  $/ }'
