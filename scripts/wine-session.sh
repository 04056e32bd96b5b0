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
  if [ -d "$session/template" ]; then WINEPREFIX="$session/template" wineserver -k >/dev/null 2>&1; fi
  rm -rf "$session"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ -z "${DISPLAY:-}" ] && ! start_xvfb "$session/xvfb.log"; then
  echo "wine-session: Xvfb did not start:" >&2; cat "$session/xvfb.log" >&2; exit 1
fi

# The template: booted once with a persistent server started first, then shut down.
mkdir -p "$session/template"
export WINEPREFIX="$session/template"
wineserver -p >/dev/null 2>&1
if ! WINELOADER=$(wine_loader64) "$(wine_loader64)" wineboot -i >"$session/wineboot.log" 2>&1; then
  echo "wine-session: wineboot failed" >&2; cat "$session/wineboot.log" >&2; exit 1
fi
# Without a window manager, Wine's managed windows wait for one on every hide: let Wine
# manage its windows itself.
"$(wine_loader64)" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
unset WINEPREFIX

export LOGONAGENT_WINE_SESSION="$session"
"$@"
exit $?
