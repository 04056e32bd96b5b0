# Sourced by the Wine scripts: where the loaders are, and what this machine can run.
# Debian's /usr/bin/wine prefers the 32-bit loader, so each architecture is named directly.

wine_loader64() {
  if [ -x /usr/lib/wine/wine64 ]; then echo /usr/lib/wine/wine64
  elif command -v wine64 >/dev/null 2>&1; then command -v wine64
  else command -v wine; fi
}

# Debian puts both loaders in /usr/lib/wine, the 32-bit one only with wine32:i386; its
# /usr/bin/wine answers --version without it.
wine_loader32() {
  if [ -x /usr/lib/wine/wine ]; then echo /usr/lib/wine/wine
  elif [ -x /usr/lib/wine/wine64 ]; then return 1
  else command -v wine; fi
}

# 0 when this kernel and Wine can run 32-bit Windows programs. Some kernels have IA-32
# emulation switched off, and then no 32-bit code runs at all.
wine_can_run32() {
  local loader
  loader=$(wine_loader32) || return 1
  [ -n "$loader" ] && "$loader" --version >/dev/null 2>&1
}

# Why the i686 programs cannot run here, in a few words.
wine_why_not32() {
  if wine_loader32 >/dev/null; then echo "this kernel runs no 32-bit code"
  else echo "the 32-bit Wine (wine32:i386) is not installed"; fi
}

# Starts Xvfb on a free display, its messages appended to the given log; sets xvfb_pid and
# exports DISPLAY, or returns 1 with nothing left running. A busy machine can take many
# seconds to bring a server up, so it gets up to a minute, and three tries.
start_xvfb() {
  local log=$1 fd display attempt
  for attempt in 1 2 3; do
    exec {fd}<> <(:)
    Xvfb -displayfd "$fd" -screen 0 1280x1024x24 -nolisten tcp >>"$log" 2>&1 &
    xvfb_pid=$!
    display=""
    for _ in $(seq 1 60); do
      read -r -t 1 -u "$fd" display && break
      kill -0 "$xvfb_pid" 2>/dev/null || break
    done
    exec {fd}<&-
    if [ -n "$display" ]; then
      export DISPLAY=":$display"
      return 0
    fi
    kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=""
    echo "Xvfb did not start (try $attempt of 3)" >>"$log"
  done
  return 1
}

# Makes a Wine prefix in $1 and starts its persistent server, leaving WINEPREFIX and WINELOADER
# exported: a copy of the test session's template when there is one, otherwise a fresh boot
# (about 10 s) whose messages go to $2. Returns 1 when the boot fails. End it with
# wine_prefix_end.
wine_prefix_start() {
  local prefix=$1 log=${2:-/dev/null}
  mkdir -p "$prefix"
  export WINEPREFIX=$prefix WINELOADER
  WINELOADER=$(wine_loader64)
  if [ -n "${LOGONAGENT_WINE_SESSION:-}" ] && [ -d "$LOGONAGENT_WINE_SESSION/template" ]; then
    cp -a "$LOGONAGENT_WINE_SESSION/template/." "$prefix/"
    wineserver -p >/dev/null 2>&1
    return 0
  fi
  # The persistent server comes first: started after the boot, it exits with the boot's own.
  wineserver -p >/dev/null 2>&1
  "$WINELOADER" wineboot -i >"$log" 2>&1
}

# Stops the server of the prefix $1 (default: $WINEPREFIX) and waits until it has gone.
wine_prefix_end() {
  local prefix=${1:-${WINEPREFIX:-}}
  [ -n "$prefix" ] && [ -d "$prefix" ] || return 0
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
  WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1
  return 0
}

# The Wine name of a host path.
wine_path() { printf 'Z:%s' "${1//\//\\}"; }

# The stand-in reader the scripts run the agent with: one token and the indicator switch on
# USB. write_reader FILE [TOKEN] writes its description, with another token when one is given.
demo_token=01A1B2C3D4E5F6C7 demo_switch=12000000000042A9
write_reader() {
  printf '# One token and the indicator switch on the USB reader.\nbus 1 6\n  device %s\n  device %s\n' \
    "${2:-$demo_token}" "$demo_switch" >"$1"
}

# Prints i386, amd64 or unknown for a PE file.
pe_machine() {
  local off machine
  off=$(od -An -t u4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$off" ] || { echo unknown; return; }
  machine=$(od -An -t x2 -j $((off + 4)) -N 2 "$1" 2>/dev/null | tr -d ' ')
  case "$machine" in
    014c) echo i386 ;;
    8664) echo amd64 ;;
    *) echo unknown ;;
  esac
}

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
