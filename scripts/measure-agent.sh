#!/usr/bin/env bash
# Measures the agent against its goals (a measurement, not a test; it fails only when it
# cannot measure):
#   - start-up: process creation to the tray icon being added, next to a minimal tray
#     program (trayprobe.exe); the difference is the agent's own work (goal < 50 ms);
#   - logon: double-click to the browser's process start with a zero-latency stand-in bus (no
#     call log) and the prompt skipped, with lampup.exe beside the agent and without it, next
#     to the shell opening the same URL alone; without lampup.exe, the difference is the
#     agent's logon overhead (goal < 5 ms beyond the bus calls);
#   - the agent's peak working set after a logon (goal < 8 MB);
#   - the stripped size of each .exe of both architectures (goal < 1 MB each).
#
#   scripts/measure-agent.sh [RUNS]      (default 10 runs)
#
# Runs under Xvfb in a throwaway Wine prefix; never touches ~/.wine. MEASURE_BUILD_ROOT puts
# the build trees elsewhere (default: the presets' own build/<preset>).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wine-common.sh"
. "$root/scripts/build-common.sh"
runs=${1:-10}
build_root=${MEASURE_BUILD_ROOT:-$root/build}

echo "== building (release builds of both architectures)"
build_targets win32 logonagent lampup >/dev/null
build_targets win64 logonagent lampup >/dev/null
if wine_can_run32; then run_preset=win32; loader=$(wine_loader32); else run_preset=win64; loader=$(wine_loader64); fi
build_targets "$run_preset" logonagent vtfs32 e2e_recorder uidriver_tool trayprobe >/dev/null

echo "== stripped sizes"
strip_for() { case $1 in win32) echo i686-w64-mingw32-strip ;; win64) echo x86_64-w64-mingw32-strip ;; esac; }
work=$(mktemp -d "${TMPDIR:-/tmp}/entravo-measure.XXXXXX")
xvfb_pid=""
cleanup() {
  wine_prefix_end "$work/prefix"
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

for preset in win32 win64; do
  for program in logonagent lampup; do
    copy="$work/$program-$preset.exe"
    cp "$build_root/$preset/bin/$program.exe" "$copy"
    "$(strip_for "$preset")" "$copy"
    bytes=$(stat -c %s "$copy")
    verdict=$([ "$bytes" -lt 1048576 ] && echo "under 1 MB" || echo "OVER 1 MB")
    printf '%-6s %-15s %8d bytes (%s KB) %s\n' "$preset" "$program.exe" "$bytes" "$((bytes / 1024))" "$verdict"
  done
done

echo "== start-up, logon and working set ($run_preset build under Wine, $runs runs)"
start_xvfb "$work/xvfb.log" || { echo "measure: Xvfb did not start (see $work/xvfb.log)" >&2; exit 1; }

bin=$build_root/$run_preset/bin
mkdir -p "$work/agent" "$work/browser"
cp "$bin/logonagent.exe" "$build_root/$run_preset/standins/vtfs32/VTFS32.DLL" "$work/agent/"
# lampup.exe is started at every logon with USB selected; a recorder costs a process start
# like the real one and does not touch the bus.
cp "$bin/e2erecorder.exe" "$work/agent/lampup.exe"
cp "$bin/e2erecorder.exe" "$work/browser/browser.exe"
cp "$bin/uidriver.exe" "$bin/trayprobe.exe" "$work/"
write_reader "$work/agent/reader.txt"
unset ENTRAVO_SIM_LOG ENTRAVO_SIM_READER

wine_prefix_start "$work/prefix" "$work/wineboot.log" \
  || { echo "measure: wineboot failed" >&2; cat "$work/wineboot.log" >&2; exit 1; }
"$loader" "$work/uidriver.exe" measure "$(wine_path "$work/agent/logonagent.exe")" "$(wine_path "$work/trayprobe.exe")" \
  "$(wine_path "$work/browser/browser.exe")" "$runs"
