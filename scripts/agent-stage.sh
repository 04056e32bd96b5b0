# Sourced by the demo and the real-browser test: the agent under Wine with the stand-in reader,
# the site's login page under lighttpd, and the host's Chromium as the browser Wine hands web
# pages to. Everything lives in one throwaway folder, $stage; the caller ends it with
# stage_stop. Needs scripts/wine-common.sh sourced first.

stage_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
readonly stage_prompt_title="Authentication Required"

# Says what failed in one line and ends; the mark lets a caller's error trap stay silent when a
# failure inside a command substitution has been told already.
stage_fail() {
  echo "${stage_name:-stage}: $*" >&2
  [ -n "${stage:-}" ] && [ -d "$stage" ] && : >"$stage/failed"
  exit 1
}

# A throwaway folder for everything; sets $stage and WINEPREFIX inside it.
stage_begin() {
  stage=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  export WINEPREFIX=$stage/prefix
  mkdir -p "$stage/pages"
}

# The site with a throwaway database in which the token is enrolled for the account; sets
# $stage_base, the site's address.
stage_site() {
  local nativebin=$1 account=$2
  local site=("$nativebin/entravo-site" --db "$stage/site.db")
  "${site[@]}" init >/dev/null && "${site[@]}" enroll "$demo_token" "$account" >/dev/null \
    || stage_fail "the site's database could not be made in $stage"
  stage_base=$("$stage_root/scripts/site-server.sh" start "$stage/site" "$nativebin/login.cgi" "$stage/site.db") \
    || stage_fail "the site did not start (lighttpd; see $stage/site/error.log)"
}

# The Wine prefix: a copy of the test session's template when there is one, else a fresh boot.
stage_prefix() {
  wine_prefix_start "$WINEPREFIX" "$stage/wineboot.log" \
    || stage_fail "Wine could not make its prefix (see $stage/wineboot.log); is wine64 installed? run scripts/setup.sh"
}

# The agent's folder: the programs, the stand-in libraries and a reader with the token (or
# another ROM given as $2) and the indicator switch on USB.
stage_agent() {
  local winbin=$1 standins=$1/../standins
  mkdir -p "$stage/agent"
  cp "$winbin/logonagent.exe" "$winbin/lampup.exe" "$standins/vtfs32/VTFS32.DLL" \
     "$standins/xobcomm/XobComm.dll" "$standins/xobapi/XOBAPI.dll" "$stage/agent/" \
    || stage_fail "the Windows programs are not built in $winbin"
  stage_reader
}

# The reader with the demo token, or with the ROM given.
stage_reader() { write_reader "$stage/agent/reader.txt" "$@"; }

stage_registry() {
  "$WINELOADER" reg add "$1" /v "$2" /t "$3" /d "$4" /f >/dev/null 2>&1 || stage_fail "could not set $1\\$2 in the Wine registry"
}

# Wine's web browser is the host's Chromium, through scripts/browse.py with the given options;
# each URL it is handed is also appended to $stage/urls.log. The agent's access URL is the site.
stage_browser() {
  local options
  options=$(printf ' %q' "$@")
  cat >"$stage/browser.sh" <<EOF
#!/bin/bash
python3 $(printf %q "$stage_root/scripts/browse.py")$options --out $(printf %q "$stage/pages") "\$1" >>$(printf %q "$stage/browse.log") 2>&1
echo "\$1" >>$(printf %q "$stage/urls.log")
EOF
  chmod +x "$stage/browser.sh"
  : >"$stage/urls.log"
  stage_registry 'HKCU\Software\Wine\WineBrowser' Browsers REG_SZ "$stage/browser.sh"
  stage_registry 'HKCU\Software\Entravo\logonagent\Options' AccessUrl REG_SZ "$stage_base/cgi-bin/login.cgi?Authenticate="
}

# Waits for the browser's numbered visit to be kept; prints its JSON file's path.
stage_visit() {
  local json=$stage/pages/page-$1.json poll
  for ((poll = 0; poll < 600; poll++)); do # a Chromium start on a busy machine takes seconds
    [ -f "$json" ] && { echo "$json"; return 0; }
    sleep 0.1
  done
  tail -n 5 "$stage/browse.log" >&2 2>/dev/null || true
  stage_fail "the browser kept no page $1 within 60 s (see $stage/browse.log)"
}

# The UI driver, under the loader of the agent's architecture.
stage_driver() { "$stage_loader" "$stage_winbin/uidriver.exe" "$@"; }

# Starts the agent from its folder and waits for its hidden window.
stage_start_agent() {
  stage_winbin=$1
  case "$(pe_machine "$stage/agent/logonagent.exe")" in
    i386) stage_loader=$(wine_loader32) ;;
    *) stage_loader=$(wine_loader64) ;;
  esac
  ( cd "$stage/agent" && exec "$stage_loader" "$stage/agent/logonagent.exe" ) >"$stage/agent.log" 2>&1 &
  stage_agent_pid=$!
  stage_driver wait-agent 60 >/dev/null || stage_fail "the agent did not start (see $stage/agent.log)"
}

# Ends the agent through its menu's Exit, as a user would.
stage_exit_agent() {
  local poll
  stage_driver tray right >/dev/null && stage_driver menu last >/dev/null || stage_fail "the agent's menu did not open"
  for ((poll = 0; poll < 300; poll++)); do
    kill -0 "$stage_agent_pid" 2>/dev/null || return 0
    sleep 0.1
  done
  stage_fail "the agent did not end through its menu's Exit"
}

# Stops everything the stage started: the site, Wine, Chromium windows. Then removes the
# stage, but keeps $stage/pages when $1 is "keep-pages", and all but the Wine prefix and the
# browser profiles when it is "keep-logs" (for a failure whose messages name a log).
stage_stop() {
  [ -n "${stage:-}" ] && [ -d "$stage" ] || return 0
  "$stage_root/scripts/site-server.sh" stop "$stage/site" 2>/dev/null || true
  if [ -f "$stage/pages/window.pid" ]; then
    while read -r pid; do kill -- "-$pid" 2>/dev/null || kill "$pid" 2>/dev/null || true; done <"$stage/pages/window.pid"
  fi
  wine_prefix_end "$WINEPREFIX"
  case "${1:-}" in
    keep-pages) find "$stage" -mindepth 1 -maxdepth 1 ! -name pages -exec rm -rf {} + ;;
    keep-logs) rm -rf "$WINEPREFIX" ;;
    *) rm -rf "$stage"; return 0 ;;
  esac
  rm -rf "$stage/pages"/.profile-* "$stage/pages/window-profile"
}
