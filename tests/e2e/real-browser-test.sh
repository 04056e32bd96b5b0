#!/usr/bin/env bash
# The whole road with a real browser: the agent under Wine with the stand-in reader, its access
# URL on the site's login.cgi under lighttpd, and Wine handing the logon URL to Debian's
# Chromium (headless, through scripts/browse.py). Each final page is checked by its text, its
# address and its cookie, and its screenshot is kept.
#
#   real-browser-test.sh WINDOWS-BIN NATIVE-BIN ARTIFACTS
#     WINDOWS-BIN  the Windows build's bin folder (logonagent.exe, lampup.exe, uidriver.exe)
#     NATIVE-BIN   the host build's bin folder (login.cgi, entravo-site)
#     ARTIFACTS    where the screenshots and page texts are kept
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/wine-common.sh"
if [ -z "${LOGONAGENT_WINE_SESSION:-}" ]; then
  exec "$root/scripts/wine-session.sh" "$0" "$@"
fi
[ $# -eq 3 ] || { sed -n '7,10p' "$0" >&2; exit 2; }
winbin=$(cd "$1" && pwd)
nativebin=$(cd "$2" && pwd)
artifacts=$3
stage_name="real-browser-test: FAILED"
. "$root/scripts/agent-stage.sh"

if [ "$(pe_machine "$winbin/logonagent.exe")" = i386 ] && ! wine_can_run32; then
  echo "real-browser-test: skipped: this machine runs no 32-bit code" >&2
  exit 77
fi
for needed in "$nativebin/login.cgi" "$nativebin/entravo-site"; do
  [ -x "$needed" ] || stage_fail "$needed is missing: build the native preset first"
done

readonly test_account=alice stranger=01B1B2C3D4E5F6D8
stage_begin real-browser
trap stage_stop EXIT
stage_site "$nativebin" "$test_account"
stage_prefix
stage_agent "$winbin"
stage_browser
stage_start_agent "$winbin"

# Checks one kept page: the words it must show, and whether it must carry a session; keeps
# its screenshot and text under the given name.
expect_page() {
  local json=$1 words=$2 signed_in=$3 name=$4 text
  text=$(cat "${json%.json}.txt")
  grep -qF "$words" <<<"$text" || stage_fail "$name: expected \"$words\", the page says: $text"
  "$root/scripts/kept_page.py" session "$json" "$signed_in" \
    || stage_fail "$name: the final address or the cookie is wrong"
  mkdir -p "$artifacts"
  cp "${json%.json}.png" "$artifacts/$name.png"
  cp "${json%.json}.txt" "$artifacts/$name.txt"
  echo "real-browser-test: $name: $(tr '\n' ' ' <"${json%.json}.txt")"
}

# The prompt shown and OK pressed.
stage_driver tray double >/dev/null
stage_driver wait-dialog "$stage_prompt_title" 30 >/dev/null || stage_fail "no logon prompt after the double-click"
stage_driver press "$stage_prompt_title" 1 >/dev/null
first=$(stage_visit 1)
expect_page "$first" "Signed in as $test_account" yes signed-in-after-prompt

# The same URL a second time.
url=$("$root/scripts/kept_page.py" field "$first" url)
python3 "$root/scripts/browse.py" --out "$stage/pages" "$url" >>"$stage/browse.log" 2>&1
expect_page "$(stage_visit 2)" "already used" no same-link-again

# The prompt skipped.
stage_registry 'HKCU\Software\Entravo\logonagent\Options' SkipAccessDialog REG_DWORD 1
stage_driver tray double >/dev/null
expect_page "$(stage_visit 3)" "Signed in as $test_account" yes signed-in-prompt-skipped

# A token the site does not know.
stage_reader "$stranger"
stage_driver tray double >/dev/null
expect_page "$(stage_visit 4)" "This token may not sign in to this site" no token-not-enrolled

stage_exit_agent
echo "real-browser-test: passed; screenshots in $artifacts"
