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

# Starts Xvfb on a free display; sets xvfb_pid and display, or fails.
start_xvfb() {
  local fd
  exec {fd}<> <(:)
  Xvfb -displayfd "$fd" -screen 0 1280x1024x24 -nolisten tcp >>"$session/xvfb.log" 2>&1 &
  xvfb_pid=$!
  display=""
  # A busy machine can take many seconds to bring a server up; give it a minute.
  for _ in $(seq 1 60); do
    read -r -t 1 -u "$fd" display && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
  done
  exec {fd}<&-
  if [ -z "$display" ]; then
    kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; xvfb_pid=""
    return 1
  fi
}

if [ -z "${DISPLAY:-}" ]; then
  for attempt in 1 2 3; do
    start_xvfb && break
    echo "wine-session: Xvfb did not start (attempt $attempt)" >&2
  done
  if [ -z "$xvfb_pid" ]; then cat "$session/xvfb.log" >&2; exit 1; fi
  export DISPLAY=":$display"
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
