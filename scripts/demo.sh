#!/usr/bin/env bash
# Runs the logon agent under Wine with a simulated reader: one Vantok token and the indicator
# switch on USB, served by the stand-in bus and token libraries. Builds what is missing first.
#
#   scripts/demo.sh              with a display ($DISPLAY): the agent in a Wine virtual desktop
#                                with a taskbar; double-click its tray icon to log on.
#                                Without one: headless under Xvfb, one scripted logon.
#   scripts/demo.sh --headless   the scripted logon even when a display is available.
#
# The logon URL goes to the host's browser when there is one; otherwise a small recorder takes
# it and the demo prints it with the token identity decoded from it. Everything runs in a
# throwaway Wine prefix (never ~/.wine) and is removed at the end, with every process started.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
. "$root/scripts/wine-common.sh"

headless=0
case "${1:-}" in
  --headless) headless=1 ;;
  "") [ -n "${DISPLAY:-}" ] || headless=1 ;;
  *) echo "usage: scripts/demo.sh [--headless]" >&2; exit 2 ;;
esac

# The primary build is i686; a kernel without 32-bit support runs the x86_64 build instead.
if wine_can_run32; then preset=win32; loader=$(wine_loader32); else preset=win64; loader=$(wine_loader64); fi
say() { printf 'demo: %s\n' "$*"; }

# --- build what is missing ---------------------------------------------------------------
# DEMO_BUILD_ROOT puts the build trees elsewhere (default: the presets' own build/<preset>).
build_root=${DEMO_BUILD_ROOT:-$root/build}
build() {
  local preset=$1; shift
  [ -f "$build_root/$preset/build.ninja" ] || cmake --preset "$preset" -B "$build_root/$preset" >/dev/null
  cmake --build "$build_root/$preset" --target "$@" >/dev/null
}
say "building the $preset programs and stand-ins (and the native authdecode) where needed"
( cd "$root" && build "$preset" logonagent lampup vtfs32 xobcomm_standin xobapi_standin e2e_recorder uidriver_tool \
  && build native authdecode )
bin=$build_root/$preset/bin
standins=$build_root/$preset/standins
authdecode=$build_root/native/bin/authdecode

# --- a throwaway world -------------------------------------------------------------------
session=$(mktemp -d "${TMPDIR:-/tmp}/entravo-demo.XXXXXX")
xvfb_pid=""
agent_pid=""
cleanup() {
  if [ -n "$agent_pid" ]; then kill "$agent_pid" 2>/dev/null || true; wait "$agent_pid" 2>/dev/null || true; fi
  if [ -d "$session/prefix" ]; then
    WINEPREFIX="$session/prefix" wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX="$session/prefix" wineserver -w >/dev/null 2>&1 || true
  fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$session"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Headless runs get a display of their own, so nothing appears on the user's screen.
if [ "$headless" = 1 ]; then
  exec {fd}<> <(:)
  Xvfb -displayfd "$fd" -screen 0 1280x1024x24 -nolisten tcp >"$session/xvfb.log" 2>&1 &
  xvfb_pid=$!
  display=""
  for _ in $(seq 1 100); do
    read -r -t 0.1 -u "$fd" display && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
  done
  exec {fd}<&-
  [ -n "$display" ] || { echo "demo: Xvfb did not start" >&2; cat "$session/xvfb.log" >&2; exit 1; }
  export DISPLAY=":$display"
fi

win() { printf 'Z:%s' "${1//\//\\}"; }  # the Wine name of a host path
agent_dir=$session/agent
browser_dir=$session/browser
mkdir -p "$agent_dir" "$browser_dir"
cp "$bin/logonagent.exe" "$bin/lampup.exe" "$standins/vtfs32/VTFS32.DLL" \
   "$standins/xobcomm/XobComm.dll" "$standins/xobapi/XOBAPI.dll" "$agent_dir/"
cat >"$agent_dir/reader.txt" <<'EOF'
# One Vantok token and the reader's indicator switch, both on the USB reader.
bus 1 6
  device 01A1B2C3D4E5F6C7
  device 12000000000042A9
EOF
cp "$bin/e2erecorder.exe" "$browser_dir/browser.exe"
export ENTRAVO_SIM_LOG
ENTRAVO_SIM_LOG=$(win "$session/calls.log")

export WINEPREFIX=$session/prefix
mkdir -p "$WINEPREFIX"
say "making a fresh Wine prefix in $WINEPREFIX"
wineserver -p >/dev/null 2>&1
WINELOADER=$(wine_loader64) "$(wine_loader64)" wineboot -i >"$session/wineboot.log" 2>&1 \
  || { echo "demo: wineboot failed" >&2; cat "$session/wineboot.log" >&2; exit 1; }

host_browser=0
if [ "$headless" = 0 ] && command -v xdg-open >/dev/null 2>&1; then host_browser=1; fi
if [ "$host_browser" = 0 ]; then
  for scheme in http https; do
    "$(wine_loader64)" reg add "HKCR\\$scheme\\shell\\open\\command" /ve /f \
      /d "\"$(win "$browser_dir/browser.exe")\" \"%1\"" >/dev/null 2>&1
  done
fi

# Prints the logon URL of a recorded browser line, then the ROM identity it carries.
report_logon() {
  local url=$1
  say "logon URL: $url"
  say "token identity (authdecode): $("$authdecode" "$url" 2>&1)"
}

report_indicator() {
  local switched
  switched=$(grep '^switch ' "$session/calls.log" 2>/dev/null || true)
  if [ -n "$switched" ]; then
    while IFS= read -r line; do say "indicator stand-in: $line"; done <<<"$switched"
  else
    say "indicator stand-in: not switched (yet)"
  fi
}

url_of() { cut -f3- <<<"$1" | sed -E 's/^("[^"]*"|[^ ]*) +//; s/^"(.*)"$/\1/'; }

if [ "$headless" = 1 ]; then
  say "headless on display $DISPLAY: one scripted logon through the UI driver"
  cp "$bin/uidriver.exe" "$session/"
  output=$(WINEDEBUG=-all "$loader" "$session/uidriver.exe" logon "$(win "$agent_dir/logonagent.exe")" \
             "$(win "$browser_dir/browser.log")" 30 2>&1) || { printf '%s\n' "$output" >&2; exit 1; }
  printf '%s\n' "$output" | sed 's/^/driver: /'
  url=$(printf '%s\n' "$output" | sed -n 's/^browser: //p' | tr -d '\r')
  report_logon "$url"
  for _ in $(seq 1 100); do grep -q '^switch .* state 53' "$session/calls.log" 2>/dev/null && break; sleep 0.1; done
  report_indicator
  exit 0
fi

say "starting the agent in a Wine virtual desktop \"Entravo\" on $DISPLAY"
say "double-click the tray icon at the bottom right of that window to log on; close the window or press Ctrl-C to end"
[ "$host_browser" = 1 ] && say "the logon page opens in this machine's browser"
( cd "$agent_dir" && exec "$(wine_loader64)" explorer /desktop=Entravo,1024x768 "$(win "$agent_dir/logonagent.exe")" ) \
  >"$session/explorer.log" 2>&1 &
agent_pid=$!
seen=0
while kill -0 "$agent_pid" 2>/dev/null; do
  if [ -f "$browser_dir/browser.log" ]; then
    count=$(wc -l <"$browser_dir/browser.log")
    while [ "$seen" -lt "$count" ]; do
      seen=$((seen + 1))
      report_logon "$(url_of "$(sed -n "${seen}p" "$browser_dir/browser.log")")"
      sleep 1
      report_indicator
    done
  fi
  sleep 0.5
done
