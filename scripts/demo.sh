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

headless=0
case "${1:-}" in
  --headless) headless=1 ;;
  "") [ -n "${DISPLAY:-}" ] || headless=1 ;;
  *) echo "usage: scripts/demo.sh [--headless]" >&2; exit 2 ;;
esac

"$root/scripts/setup.sh" || exit 1
. "$root/scripts/wine-common.sh"
. "$root/scripts/build-common.sh"

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

# --- the road, driven by scripts/demo.py in a throwaway folder of its own -------------------
xvfb_pid=""
finish() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -f "${xvfb_log:-}"
}
trap finish EXIT
trap 'exit 130' INT TERM

# Headless runs get a display of their own, so nothing appears on the user's screen.
if [ "$headless" = 1 ]; then
  xvfb_log=$(mktemp "${TMPDIR:-/tmp}/entravo-demo-xvfb.XXXXXX")
  start_xvfb "$xvfb_log" || fail "Xvfb did not start ($(tail -n 1 "$xvfb_log")); run scripts/setup.sh, or give a display"
  mode=--headless
else
  mode=--window
fi
python3 "$root/scripts/demo.py" "$mode" "$winbin" "$nativebin"
