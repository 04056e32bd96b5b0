#!/usr/bin/env bash
# Fuzzes the site's input handling with clang's libFuzzer under ASan and UBSan: the verifier's
# parser (strings, queries and URLs an operator or a request may bring) and the login page's
# handling of a query and a cookie. Never part of the test run.
#
#   scripts/fuzz-site.sh [RUNS]     inputs per target, 1000000 unless given
# Prints one line per target: inputs run, crashes, seconds. Crash inputs stay in build/fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-1000000}
out=build/fuzz
mkdir -p "$out"
cxx=$(command -v clang++-14 || command -v clang++)

flags=(-std=c++20 -g -O1 -I. -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
       -fconstexpr-steps=100000000 -Wall -Wextra -Werror)
verifier=(logon/Authenticator.cpp logon/AuthenticatorRandom.cpp logon/AuthenticatorText.cpp
          site/verifier/AuthenticatorVerifier.cpp site/verifier/Identity.cpp site/verifier/LogonInput.cpp
          site/verifier/Query.cpp)
"$cxx" "${flags[@]}" "${verifier[@]}" tests/site/fuzz/LogonInputFuzz.cpp -o "$out/logon_input_fuzz"
"$cxx" "${flags[@]}" "${verifier[@]}" site/verifier/Signature.cpp site/report/Markup.cpp site/cgi/Exchange.cpp \
  site/cgi/Respond.cpp site/cgi/LoginPage.cpp site/cgi/Session.cpp site/cgi/ClientOrigin.cpp site/cgi/VerifyApi.cpp \
  site/settings/AddressRanges.cpp site/store/SiteStore.cpp tests/site/fuzz/RespondFuzz.cpp -lnettle \
  -o "$out/respond_fuzz"

# Seeds: real logon strings in the shapes they arrive in.
seeds=$out/seeds
mkdir -p "$seeds"
genuine=FB32A14FEE34FDAD64471BDC71115D5D7FC2D766830A69C3B114B065A97E0201
printf '%s' "$genuine" >"$seeds/bare"
printf '%s' "Authenticate=$genuine" >"$seeds/query"
printf '%s' "http://logon.example.com/cgi-bin/login.cgi?site=7&Authenticate=$genuine#x" >"$seeds/url"
printf '%s\n%s' "Authenticate=$genuine" "a=b; entravo_session=DEADBEEF0102030405060708090A0B0C" >"$seeds/cookie"

status=0
for target in logon_input_fuzz respond_fuzz; do
  corpus=$out/$target.corpus
  mkdir -p "$corpus"
  log=$out/$target.log
  started=$(date +%s)
  # libFuzzer stops at the first crash and leaves its input in $out.
  crashes=0
  (cd "$out" && "./$target" -runs="$runs" -max_len=2048 -print_final_stats=1 "$(basename "$corpus")" seeds) \
    >"$log" 2>&1 || { crashes=1; status=1; }
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  echo "$target: ${executed:-?} inputs, $crashes crashes, $(($(date +%s) - started)) s (log: $log)"
done
exit $status
