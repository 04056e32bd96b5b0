#!/usr/bin/env bash
# Runs a command (usually ctest) inside one Wine test session:
#  - a template prefix, made once, that every test program copies into a throwaway prefix;
#  - an Xvfb display when none is set.
# Never touches ~/.wine. Stops only what it started, by PID, and removes its folder.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-common.sh"

session=$(mktemp -d "${TMPDIR:-/tmp}/logonagent-wine.XXXXXX")
xvfb_pid=""

cleanup() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
  wine_prefix_end "$session/template"
  rm -rf "$session"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ -z "${DISPLAY:-}" ] && ! start_xvfb "$session/xvfb.log"; then
  echo "wine-session: Xvfb did not start:" >&2; cat "$session/xvfb.log" >&2; exit 1
fi

# The template: booted once, then shut down; every prefix of the session is a copy of it.
if ! wine_prefix_start "$session/template" "$session/wineboot.log"; then
  echo "wine-session: wineboot failed" >&2; cat "$session/wineboot.log" >&2; exit 1
fi
# Without a window manager, Wine's managed windows wait for one on every hide: let Wine
# manage its windows itself.
"$WINELOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wine_prefix_end "$session/template"
unset WINEPREFIX WINELOADER

export LOGONAGENT_WINE_SESSION="$session"
"$@"
exit $?
