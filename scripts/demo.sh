#!/usr/bin/env bash
# The whole road on this machine: the logon agent under Wine with a simulated reader (one
# Vantok token and the indicator switch on USB, served by the stand-in libraries), the site's
# login page under lighttpd with that token enrolled as "demo", and Debian's Chromium as the
# browser Wine hands the logon page to. Installs and builds what is missing first.
#
#   scripts/demo.sh              with a display ($DISPLAY): the agent in a Wine virtual desktop
#                                with a taskbar; double-click its tray icon to log on, and a
#                                Chromium window shows the welcome page. Without a display:
#                                as --headless.
#   scripts/demo.sh --headless   one scripted logon on a display of its own; prints the logon
#                                URL, the token it names, the final page's text and the path of
#                                its screenshot.
#
# Everything runs in one throwaway folder (a Wine prefix, never ~/.wine; the site's database;
# the browser's profile) and every process started is stopped at the end. Only the pages the
# browser kept stay, in that folder's pages/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
say() { printf 'demo: %s\n' "$*"; }
fail() { printf 'demo: %s\n' "$*" >&2; exit 1; }
trap '[ -f "${stage:-/nonexistent}/failed" ] || fail "stopped at line $LINENO ($BASH_COMMAND); the messages above say why"' ERR

headless=0
case "${1:-}" in
  --headless) headless=1 ;;
  "") [ -n "${DISPLAY:-}" ] || headless=1 ;;
  *) echo "usage: scripts/demo.sh [--headless]" >&2; exit 2 ;;
esac

"$root/scripts/setup.sh" || exit 1
. "$root/scripts/wine-common.sh"
. "$root/scripts/build-common.sh"
stage_name=demo
. "$root/scripts/agent-stage.sh"

# The primary build is i686; a kernel without 32-bit support runs the x86_64 build instead.
if wine_can_run32; then preset=win32; else preset=win64; fi

# --- build what is missing ---------------------------------------------------------------
# DEMO_BUILD_ROOT puts the build trees elsewhere (default: the presets' own build/<preset>).
build_root=${DEMO_BUILD_ROOT:-$root/build}
build_log=$(mktemp "${TMPDIR:-/tmp}/entravo-demo-build.XXXXXX")
say "building the $preset programs and stand-ins, and the site, where needed"
if ! { build_targets "$preset" logonagent lampup vtfs32 xobcomm_standin xobapi_standin uidriver_tool \
       && build_targets native login.cgi entravo-site; } >>"$build_log" 2>&1; then
  tail -n 15 "$build_log" >&2
  fail "the build failed (last lines above, all of it in $build_log); scripts/test-all.sh builds and tests everything"
fi
rm -f "$build_log"
winbin=$build_root/$preset/bin
nativebin=$build_root/native/bin

# --- a throwaway world -------------------------------------------------------------------
xvfb_pid=""
finish() {
  if [ "${finish_status:-1}" = 0 ]; then stage_stop keep-pages; else stage_stop keep-logs; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
}
stage_begin entravo-demo
trap 'finish_status=$?; finish' EXIT
trap 'exit 130' INT TERM

# Headless runs get a display of their own, so nothing appears on the user's screen.
if [ "$headless" = 1 ]; then
  start_xvfb "$stage/xvfb.log" || fail "Xvfb did not start ($(tail -n 1 "$stage/xvfb.log")); run scripts/setup.sh, or give a display"
fi

stage_site "$nativebin" demo
say "the site's login page: $stage_base/cgi-bin/login.cgi (token $demo_token enrolled as \"demo\")"
say "making a fresh Wine prefix in $WINEPREFIX"
stage_prefix
stage_agent "$winbin"
export ENTRAVO_SIM_LOG
ENTRAVO_SIM_LOG=$(wine_path "$stage/calls.log")

report_indicator() {
  local line
  for _ in $(seq 1 100); do grep -q '^switch .* state 53' "$stage/calls.log" 2>/dev/null && break; sleep 0.1; done
  grep '^switch ' "$stage/calls.log" 2>/dev/null | while IFS= read -r line; do say "indicator stand-in: $line"; done
}

report_logon() {
  say "logon URL: $1"
  say "the site's verifier: $("$nativebin/entravo-site" verify "$1" 2>&1 || true)"
}

if [ "$headless" = 1 ]; then
  stage_browser
  say "headless on display $DISPLAY: one scripted logon"
  stage_start_agent "$winbin"
  stage_driver tray double >/dev/null
  stage_driver wait-dialog "$stage_prompt_title" 30 >/dev/null || fail "no logon prompt appeared after the double-click"
  say "the logon prompt is shown; pressing OK"
  stage_driver press "$stage_prompt_title" 1 >/dev/null
  page=$(stage_visit 1)
  report_logon "$(head -n 1 "$stage/urls.log")"
  say "final page ($("$root/scripts/kept_page.py" field "$page" final_url)):"
  sed 's/^/demo:   /' "${page%.json}.txt"
  say "screenshot: ${page%.json}.png"
  report_indicator
  stage_exit_agent
  grep -q "^Signed in as demo$" "${page%.json}.txt" || fail "the site did not sign the token in (the page above says why)"
  exit 0
fi

stage_browser --window
say "the agent runs in a Wine virtual desktop \"Entravo\" on $DISPLAY"
say "double-click the tray icon at the bottom right of that window to log on; a Chromium window shows the page"
say "close the desktop window or press Ctrl-C to end"
( cd "$stage/agent" && exec "$(wine_loader64)" explorer /desktop=Entravo,1024x768 "$(wine_path "$stage/agent/logonagent.exe")" ) \
  >"$stage/explorer.log" 2>&1 &
desktop_pid=$!
seen=0
while kill -0 "$desktop_pid" 2>/dev/null; do
  count=$(wc -l <"$stage/urls.log")
  while [ "$seen" -lt "$count" ]; do
    seen=$((seen + 1))
    report_logon "$(sed -n "${seen}p" "$stage/urls.log")"
    report_indicator
  done
  sleep 0.5
done
