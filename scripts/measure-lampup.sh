#!/usr/bin/env bash
# Worst-case run time of lampup.exe, the run in which the indicator switch never confirms.
# Goal: 11 pauses of 10 ms per step plus under 5 ms of the program's own work.
# Natively: the portable run against libraries that cost nothing, once without pauses (own
#     work alone) and once with real 10 ms sleeps (time slept reported apart).
# Under Wine, when a 64-bit Windows build is there, beside the stand-in libraries:
#     lampup_timing.exe times the run in-process through the linked libraries and Sleep, with
#     the pauses timed apart (its first run also pays for the stand-ins reading their reader
#     description); then lampup.exe itself is started again and again in one prefix, for the
#     whole wall time of a never-confirming run next to a run that finds no Xob token. Process
#     start-up under Wine is slow and noisy, so those two are context, not a measure of the
#     program's work.
# Usage: scripts/measure-lampup.sh [windows-build-dir (default build/win64)] [runs (default 15)]
set -euo pipefail
cd "$(dirname "$0")/.."
here=$(pwd)

if [ "${1:-}" = "--wine-runs" ]; then
  . scripts/wine-common.sh
  win_build=$2; runs=$3
  work=$(mktemp -d "$LOGONAGENT_WINE_SESSION/measure.XXXXXX")
  trap 'wine_prefix_end; rm -rf "$work"' EXIT
  wine_prefix_start "$work/prefix"

  # Prints the median and the smallest of the run times in milliseconds.
  time_runs() {
    local folder=$1 times=() start end
    for _ in $(seq 1 "$runs"); do
      start=$(date +%s%N)
      (cd "$folder" && "$WINELOADER" lampup.exe)
      end=$(date +%s%N)
      times+=($(( (end - start) / 1000 )))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{ t[NR] = $1 } END { printf "%d %d\n", t[int((NR + 1) / 2)], t[1] }'
  }

  timing="$work/timing"
  mkdir -p "$timing"
  cp "$win_build/bin/lampup_timing.exe" "$win_build/standins/xobcomm/XobComm.dll" \
     "$win_build/standins/xobapi/XOBAPI.dll" "$timing/"
  printf 'bus 1 6\n  device 12000000000042A9 wrong always\n' > "$timing/reader.txt"
  (cd "$timing" && "$WINELOADER" lampup_timing.exe "$runs") | grep -E '^run [123]:|^first run|^own work'

  declare -A median minimum
  for case in none never; do
    folder="$work/$case"
    mkdir -p "$folder"
    cp "$win_build/bin/lampup.exe" "$win_build/standins/xobcomm/XobComm.dll" \
       "$win_build/standins/xobapi/XOBAPI.dll" "$folder/"
    case $case in
      none)  printf 'bus 1 6\n  device 12000000000042A9 wrong always\nxobs 0\n' ;;
      never) printf 'bus 1 6\n  device 12000000000042A9 wrong always\n' ;;
    esac > "$folder/reader.txt"
    (cd "$folder" && "$WINELOADER" lampup.exe) # the first start warms the prefix up
    read -r median[$case] minimum[$case] < <(time_runs "$folder")
  done
  awk -v n="${median[none]}" -v v="${median[never]}" -v nm="${minimum[none]}" -v vm="${minimum[never]}" -v runs="$runs" 'BEGIN {
    printf "wine, lampup.exe started %d times each, wall time: no Xob found: median %.1f ms (min %.1f); switch never confirms: median %.1f ms (min %.1f)\n", runs, n / 1000, nm / 1000, v / 1000, vm / 1000
  }'
  exit 0
fi

win_build=${1:-build/win64}
runs=${2:-15}
cmake --preset bench >/dev/null
cmake --build --preset bench --target lampup_benchmark >/dev/null
echo "== native (own_us: the program's own work per run; slept_ms: time actually slept per run)"
build/bench/bin/lampup_benchmark

if [ -f "$win_build/bin/lampup.exe" ] && [ "$(. scripts/wine-common.sh; pe_machine "$win_build/bin/lampup.exe")" = amd64 ]; then
  echo "== wine ($win_build)"
  scripts/wine-session.sh "$here/scripts/measure-lampup.sh" --wine-runs "$here/$win_build" "$runs"
else
  echo "== wine: skipped (no 64-bit $win_build/bin/lampup.exe; build the win64 preset or name a build)"
fi
